/*
 * ErrorLogger: the log calls every module reports through.
 *
 * A log call turns a level, an optional source position and a printf-style message into
 * one line, "<thread id> <level name>[ at <file>:<line>]: <message>", and hands it to the
 * installed sink or, while none is installed, to standard error followed by a newline.
 * A line the sink cannot take goes to standard error instead. The log calls never fail,
 * never allocate (the line is built in a 128 KiB buffer on the caller's stack) and take
 * no lock: serialising lines is the sink's task.
 *
 * By convention a function that finds a failure logs one ERROR line, and every function
 * that passes a failure status on adds one STACK_TRACE line with qv_log_trace, so that a
 * failure reads as its cause followed by the path it travelled.
 */
#ifndef INTERFACES_ERRORLOGGER_ERRORLOGGER_H
#define INTERFACES_ERRORLOGGER_ERRORLOGGER_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct iovec;

enum {
    QV_LOG_INFO = 0,
    QV_LOG_WARNING = 1,
    QV_LOG_ERROR = 2,
    QV_LOG_G_ERROR = 3,
    QV_LOG_DEBUG = 4,
    QV_LOG_FATAL = 5,
    QV_LOG_G_WARN = 6,
    QV_LOG_DUMP = 7
};

/* Size of the buffer in which each log call builds its line. */
#define QV_LOG_LINE_SIZE 131072

/* A sink through which log lines leave the process. The record belongs to whoever
 * installs it; the log only keeps a pointer to it. A line that write does not take
 * (status other than 0) is shown on standard error instead: nothing that can be shown
 * is lost. */
struct QVLogSink {
    void *context;                                      /* handed back to write, unchanged */
    unsigned (*write)(void *context, const char *line); /* 0 written, 3 write failure */
    void (*on_fatal)(void);                             /* called after each FATAL line, if set */
};

/* The format checks of the formatter the log calls use: MinGW's own (which knows %zu
 * and %lld) where its stdio.h names it, else the C library's. */
#ifdef __MINGW_PRINTF_FORMAT
#define QV_PRINTF(fmt, args) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, args)))
#else
#define QV_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

/* Logs one line at level without a source position. Levels outside 0..7 are dropped. */
void qv_log(int level, const char *format, ...) QV_PRINTF(2, 3);

/* Logs one line naming the source position: the base name of file (text after its last
 * '/' or '\\') and line. With file null the line reads as that of qv_log. */
void qv_log_at(const char *file, int line, int level, const char *format, ...) QV_PRINTF(4, 5);

/* Logs a STACK_TRACE line (level ERROR, no message) for the given source position. */
void qv_log_trace(const char *file, int line);

/* Returns the stored name of level ("INFO   ", ..., "**FATAL**"), or "Unknown". */
const char *qv_log_level_name(int level);

/* Formats into buffer, which holds capacity bytes, the terminator included; the result
 * is always terminated when capacity > 0. Returns the number of characters written, or
 * -1 when the text did not fit and the buffer holds its first capacity - 1 characters. */
int qv_snprintf(char *buffer, size_t capacity, const char *format, ...) QV_PRINTF(3, 4);

/* ---- the log file sink ------------------------------------------------------------ */

/* Size of the buffers that hold a file name, a name pattern or an environment value,
 * terminator included. */
#define QV_NAME_SIZE 260

/* Copies the environment variable name into destination (QV_NAME_SIZE bytes), or
 * default_value when it is not set. Returns 0; 1 when the value or default does not
 * fit, or the variable is set to the empty text (logged with the size it needs); 24
 * when it is not set and there is no default. */
unsigned qv_getenv(const char *name, char *destination, const char *default_value);

/* True when pattern may serve as the printf format of the log file's name: its only
 * conversions are at most one "%s" and any number of "%%"; anything else would read
 * arguments that are not there. */
bool qv_log_file_pattern_is_safe(const char *pattern);

/* Forms the log file's name into name (QV_NAME_SIZE bytes): pattern with base_name in
 * place of its "%s". Logs nothing; the caller says what went wrong. Returns 0 with the
 * name formed; 1, with name empty, when pattern is not safe (see above) or the name does
 * not fit. */
unsigned qv_log_file_name(const char *pattern, const char *base_name, char *name);

/* Creates the log file logger into sink (context, write, on_fatal) and opens the log
 * file named by QV_BASE_LOGFILE_NAME and QV_LOGFILE_NAME_PATTERN. A variable that is
 * empty or longer than QV_NAME_SIZE - 1 bytes is replaced by its default after one
 * WARNING line. Returns 0; 1 without sink, for a bad name pattern or a file name too
 * long; 2 out of memory; 3 when the file cannot be used (it cannot be created, is a
 * symbolic or hard link, is not a regular file or character device, or another
 * process holds it). Each failure but a missing sink logs one line saying why and that
 * the log goes to standard error. After a failure past the allocation the logger stays
 * attached for qv_logger_destroy. */
unsigned qv_logger_create(QVLogSink *sink);

/* The sink's write: appends the line with a local time stamp. Returns 0 once the file
 * holds the line, or 3: the first failed write is said on standard error (naming the
 * file and the reason), and from then on nothing more goes to the file and every call
 * answers 3, so that the log calls show the lines on standard error. A line that the
 * file took only in part is ended with " [line cut short]" when the file is closed.
 * Without a file (creation failed, or destroyed) it writes nothing and returns 0. */
unsigned qv_logger_write(void *context, const char *line);

/* As qv_logger_write, for a signal handler: only async-signal-safe calls, no lock; the
 * stamp uses the local offset of the last line written. Returns 0 once the file holds
 * the line, else 3 (nothing said). */
unsigned qv_logger_write_signal_safe(void *context, const char *line);

/* Where the lines of the logger in sink go. */
enum QVLogPlace {
    QV_LOG_IN_FILE,      /* to its file */
    QV_LOG_NOT_OPENED,   /* to standard error: the file could not be used (or no logger) */
    QV_LOG_WRITE_FAILED, /* to standard error since a write to the file failed */
};

/* Says where the lines of sink's logger go; *name receives the file's name, owned by
 * the logger ("" when none was formed). */
QVLogPlace qv_logger_place(const QVLogSink *sink, const char **name);

/* Test seam for the log file's writes on POSIX systems (LogFilePosix): writer stands in
 * for writev(2), with its arguments and results; null restores writev. Safe while other
 * threads write. */
typedef ssize_t (*QVLogWriter)(int fd, const struct iovec *pieces, int count);
void qv_logger_set_writer(QVLogWriter writer);

/* Logs one line at level from a signal handler, with async-signal-safe calls only: the
 * message is the count texts one after another, without a format, cut at about 1000
 * bytes. The line goes to the log file when the installed sink is the log file's and
 * its file takes it, and to standard error in any case. */
void qv_log_signal_safe(int level, const char *const texts[], size_t count);

/* Installs sink (or, with null, removes the installed one), then logs the banner and,
 * unless suppressed, the system report through it. Returns 0. */
unsigned qv_log_set_sink(QVLogSink *sink);

/* Closes the log file and releases the logger of sink; it must not be installed.
 * Returns 1 without sink, else 0. */
unsigned qv_logger_destroy(QVLogSink *sink);

/* ---- the system report ---------------------------------------------------------------- */

/* Logs the report on the machine and the program at level INFO: current directory,
 * version record of the executable, operating system and computer name, memory, fixed
 * drives and RAM disks. A section whose query fails is left out. */
void qv_system_report(void);

/* Logs the version section of the executable at path, if it carries a version note. */
void qv_report_file_version(const char *path);

/* Logs "OS: %s" and "Computer name: %s". */
void qv_report_os(void);

/* Logs the RAM, page (swap) and virtual address space lines. */
void qv_report_memory(void);

/* Logs one line per mounted block device or RAM disk, at its first mount point. */
void qv_report_drives(void);

/* The three readers above with the file they read given, so that tests can hand in
 * files of their own: an os-release file; /proc/meminfo, /proc/self/status and the
 * address-space limit in bytes; a mount table in the format of /proc/self/mountinfo. */
void qv_report_os_from(const char *os_release_path);
void qv_report_memory_from(const char *meminfo_path, const char *status_path,
                           uint64_t address_space_limit);
void qv_report_drives_from(const char *mountinfo_path);

/* Renders bytes, read as a signed 64-bit count, scaled by 1024 while above 1000, with
 * precision digits after the point and a unit (" bytes", " KB", " MB", " GB", " TB").
 * Returns a text owned by the caller (free()), or null when out of memory. */
char *qv_format_byte_size(uint64_t bytes, int precision);

#endif
