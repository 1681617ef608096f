/*
 * LogFile: the log file sink and the environment lookup that names its file.
 *
 * The log file is truncated at each start, so one file holds the log of one run. The
 * platform opens it (QVlogfile: LogFilePosix, LogFileWin32): a second instance fails
 * with status 3 and leaves the first one's file untouched; readers are not hindered.
 * Every line goes out with one system call when the file takes it whole, so it is in the
 * file as soon as qv_logger_write returns. Lines end in "\n", which a Windows file, written
 * in text mode, stores as carriage return and line feed.
 *
 * The log is never another file: a symbolic link, a name with other hard links, and
 * anything but a regular file (or a character device) are refused. Whenever the file
 * cannot be used, one line says why, and the log goes to standard error.
 *
 * The first write that fails (a full disk, an I/O error, a file grown beyond its limit)
 * is said once, on standard error, naming the file and the reason; from then on the
 * logger writes nothing more to the file and answers status 3, so that the log calls
 * show that line and every later one on standard error. A write that makes no progress
 * is such a failure, never retried. A line that the file took only in part is never
 * left for another line to join: it is ended with the cut mark and its newline when the
 * file is closed, so that every line of the file is either whole or visibly cut.
 *
 * A line written from a signal handler (qv_logger_write_signal_safe) uses only
 * async-signal-safe calls: its local time stamp takes the offset of the last line
 * written, as the time zone functions may not be called there. Where the stop handler
 * runs beside the program rather than interrupting it (Windows), it takes the logger's
 * lock like any writer.
 */
#include "Interfaces/ErrorLogger/ErrorLogger.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "QVLib/QVclock.h"
#include "QVLib/QVlogfile.h"
#include "QVLib/QVmalloc.h"
#include "QVLib/QVmutex.h"
#include "QVLib/QVsignals.h"
#include "QVLib/QVstring.h"
#include "QVLib/QVtime.h"

static const char QV_FILE[] = "Interfaces/ErrorLogger/ErrorLogger";

struct QVLogger {
    QVLogFileHandle file;            /* the open log file, or QV_NO_LOG_FILE */
    QVmutex lock;                    /* serialises the lines written */
    char name_pattern[QV_NAME_SIZE]; /* printf format with at most one %s */
    size_t mark_owed;                /* bytes at the end of the cut mark still to write */
    char name[QV_NAME_SIZE];         /* the file's name as formed, "" until then */
    std::atomic<int> failure;        /* 0 while the file takes the lines; else the error
                                        code of the first failed write (-1: no progress) */
};

/* Ends a line that the file took only in part. */
static const char QV_CUT_MARK[] = " [line cut short]\n";

/* Room for the system's text of an error code. */
#define QV_REASON_SIZE 256

/* The log file's base name; it outlives the logger. */
static char g_base_name[QV_NAME_SIZE];

/* UTC minus local time, in seconds, of the last stamp taken: what a line written from
 * a signal handler uses. */
static std::atomic<int32_t> g_last_offset{0};

unsigned qv_getenv(const char *name, char *destination, const char *default_value)
{
    size_t required = 0;
    destination[0] = '\0';
    const char *value = getenv(name);
    if (value != nullptr) {
        required = strlen(value) + 1;
        if (required <= QV_NAME_SIZE)
            memcpy(destination, value, required);
    }
    if (required > 1 && required <= QV_NAME_SIZE)
        return 0;
    if (required != 0) {
        /* too long, or set to the empty text (which needs one byte) */
        destination[0] = '\0';
        qv_log(QV_LOG_ERROR, "qv_getenv(%s) destination buffer must be at least %d bytes", name,
               static_cast<int>(required));
        return 1;
    }
    if (default_value == nullptr) {
        qv_log(QV_LOG_INFO, "Env var %s not found", name);
        return 24;
    }
    required = strlen(default_value) + 1;
    if (required > QV_NAME_SIZE) {
        qv_log(QV_LOG_ERROR, "qv_getenv(%s) destination buffer must be at least %d bytes", name,
               static_cast<int>(required));
        return 1;
    }
    memcpy(destination, default_value, required);
    return 0;
}

/* The pattern is used as a printf format with the base name as its only argument:
 * anything but at most one "%s" and any number of "%%" would read arguments that are
 * not there. */
bool qv_log_file_pattern_is_safe(const char *pattern)
{
    int strings = 0;
    for (const char *p = pattern; *p != '\0'; p++) {
        if (*p != '%')
            continue;
        p++;
        if (*p == 's')
            strings++;
        else if (*p != '%')
            return false;
    }
    return strings <= 1;
}

unsigned qv_log_file_name(const char *pattern, const char *base_name, char *name)
{
    name[0] = '\0';
    if (!qv_log_file_pattern_is_safe(pattern))
        return 1;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int length = qv_snprintf(name, QV_NAME_SIZE, pattern, base_name);
#pragma GCC diagnostic pop
    if (length < 0) {
        name[0] = '\0'; /* a cut name must never be opened */
        return 1;
    }
    return 0;
}

/* Copies the value of variable into destination (QV_NAME_SIZE bytes), or default_value
 * when it is not set. An empty value, or one that does not fit, is replaced by
 * default_value after one line that says so. */
static void name_part(const char *variable, char *destination, const char *default_value)
{
    const char *value = getenv(variable);
    if (value == nullptr) {
        value = default_value;
    } else if (value[0] == '\0') {
        qv_log(QV_LOG_WARNING, "%s is empty; using %s", variable, default_value);
        value = default_value;
    } else if (strlen(value) >= QV_NAME_SIZE) {
        qv_log(QV_LOG_WARNING, "%s is too long (%zu bytes, at most %d); using %s", variable,
               strlen(value), QV_NAME_SIZE - 1, default_value);
        value = default_value;
    }
    memcpy(destination, value, strlen(value) + 1);
}

unsigned qv_logger_create(QVLogSink *sink)
{
    if (sink == nullptr)
        return 1;
    QVLogger *logger = static_cast<QVLogger *>(qv_malloc(sizeof(QVLogger), QV_FILE, __LINE__, 1));
    if (logger == nullptr)
        return 2;
    sink->context = logger;
    sink->write = qv_logger_write;
    sink->on_fatal = nullptr;
    logger->file = QV_NO_LOG_FILE;
    logger->mark_owed = 0;
    logger->name[0] = '\0';
    logger->failure.store(0);

    unsigned status = qv_mutex_create(&logger->lock);
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return status;
    }
    name_part("QV_BASE_LOGFILE_NAME", g_base_name, "VADedeVeZovid");
    name_part("QV_LOGFILE_NAME_PATTERN", logger->name_pattern, "%s.log");
    if (!qv_log_file_pattern_is_safe(logger->name_pattern)) {
        qv_log(QV_LOG_WARNING,
               "qv_logger_create: bad file name pattern %s; the log goes to standard error",
               logger->name_pattern);
        return 1;
    }
    if (qv_log_file_name(logger->name_pattern, g_base_name, logger->name) != 0) {
        qv_log(QV_LOG_WARNING,
               "qv_logger_create: the log file's name made of QV_LOGFILE_NAME_PATTERN and "
               "QV_BASE_LOGFILE_NAME is longer than %d bytes; the log goes to standard error",
               QV_NAME_SIZE - 1);
        return 1;
    }
    g_last_offset.store(qv_time_local_offset(nullptr));
    QVLogRefusal refusal;
    logger->file = qv_log_file_open(logger->name, &refusal);
    if (logger->file != QV_NO_LOG_FILE)
        return 0;
    char reason[QV_REASON_SIZE] = "";
    if (refusal.error != 0)
        qv_log_file_reason(refusal.error, reason, sizeof reason);
    qv_log(QV_LOG_WARNING, "qv_logger_create: the log file %s %s%s%s; the log goes to standard error",
           logger->name, refusal.what, refusal.error != 0 ? ": " : "", reason);
    return 3;
}

QVLogPlace qv_logger_place(const QVLogSink *sink, const char **name)
{
    const QVLogger *logger = sink != nullptr ? static_cast<QVLogger *>(sink->context) : nullptr;
    *name = logger != nullptr ? logger->name : "";
    if (logger == nullptr || logger->file == QV_NO_LOG_FILE)
        return QV_LOG_NOT_OPENED;
    return logger->failure.load() == 0 ? QV_LOG_IN_FILE : QV_LOG_WRITE_FAILED;
}

/* The part of the cut mark that the logger still owes the file. */
static const char *owed_mark(const QVLogger *logger)
{
    return QV_CUT_MARK + sizeof QV_CUT_MARK - 1 - logger->mark_owed;
}

/* Writes value as width decimal digits with leading zeros at p. */
static void put_digits(char *p, unsigned value, int width)
{
    for (int i = width - 1; i >= 0; i--) {
        p[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

/* The stamp "MM/DD/YYYY hh:mm:ss.mmm: " of local time t, month first, without a format
 * per line (and without calls a signal handler may not make): the record is always
 * within the years 1970 to 2038. */
struct Stamp {
    char text[sizeof "MM/DD/YYYY hh:mm:ss.mmm: "];
};

static Stamp make_stamp(const QVtime &t)
{
    Stamp stamp = {"MM/DD/YYYY hh:mm:ss.mmm: "};
    put_digits(stamp.text, t.month, 2);
    put_digits(stamp.text + 3, t.day, 2);
    put_digits(stamp.text + 6, t.year, 4);
    put_digits(stamp.text + 11, t.hour, 2);
    put_digits(stamp.text + 14, t.minute, 2);
    put_digits(stamp.text + 17, t.second, 2);
    put_digits(stamp.text + 20, t.millisecond, 3);
    return stamp;
}

/* Writes the owed part of the cut mark, the stamp, the line and its newline. Returns
 * 0, or the error code of the failure (-1: no progress) with the mark owed updated: a
 * line that the file took in part is cut and owes the whole mark. The caller holds the
 * lock, or is a signal handler. */
static int write_line(QVLogger *logger, const Stamp &stamp, const char *line)
{
    size_t owed = logger->mark_owed;
    QVLogPiece pieces[] = {
        {owed_mark(logger), owed},
        {stamp.text, sizeof stamp.text - 1},
        {line, strlen(line)},
        {"\n", 1},
    };
    size_t total = owed + pieces[1].size + pieces[2].size + 1;
    int error;
    size_t written = qv_log_file_write(logger->file, pieces, 4, &error);
    if (written < owed)
        logger->mark_owed = owed - written; /* the rest of the mark comes first */
    else if (written == owed || written == total)
        logger->mark_owed = 0; /* the line is lost whole, or written whole */
    else
        logger->mark_owed = sizeof QV_CUT_MARK - 1; /* the line is cut */
    return error;
}

unsigned qv_logger_write(void *context, const char *line)
{
    QVLogger *logger = static_cast<QVLogger *>(context);
    if (logger == nullptr || logger->file == QV_NO_LOG_FILE)
        return 0;
    if (logger->failure.load() != 0)
        return 3; /* the log goes on on standard error */

    /* The stamp is local time, taken before the lock. */
    QVtime now;
    qv_time_now(&now);
    int32_t offset = qv_time_local_offset(&now);
    g_last_offset.store(offset);
    qv_time_sub_secs(&now, &now, offset);
    Stamp stamp = make_stamp(now);

    qv_mutex_lock(&logger->lock);
    int error = logger->failure.load() == 0 ? write_line(logger, stamp, line) : 0;
    bool first_failure = error != 0 && logger->failure.exchange(error) == 0;
    unsigned status = logger->failure.load() == 0 ? 0 : 3;
    qv_mutex_release(&logger->lock);
    /* Said once: the line goes through the log calls, which find this logger failed and
     * show it on standard error, before the line that failed. */
    if (first_failure) {
        char reason[QV_REASON_SIZE] = "the file takes no more bytes";
        if (error > 0)
            qv_log_file_reason(error, reason, sizeof reason);
        qv_log(QV_LOG_ERROR,
               "qv_logger_write: cannot write the log file %s: %s; the log goes on on "
               "standard error",
               logger->name, reason);
    }
    return status;
}

unsigned qv_logger_write_signal_safe(void *context, const char *line)
{
    QVLogger *logger = static_cast<QVLogger *>(context);
    if (logger == nullptr || logger->file == QV_NO_LOG_FILE || logger->failure.load() != 0)
        return 3;
    int64_t seconds;
    unsigned millisecond;
    QVtime local = {};
    qv_log_file_clock(&seconds, &millisecond);
    if (qv_time_from_secs(&local, seconds - g_last_offset.load()) == 0)
        local.millisecond = static_cast<uint16_t>(millisecond);
    bool alongside = qv_stop_runs_alongside();
    if (alongside)
        qv_mutex_lock(&logger->lock);
    int error = write_line(logger, make_stamp(local), line);
    if (alongside)
        qv_mutex_release(&logger->lock);
    return error == 0 ? 0 : 3;
}

unsigned qv_logger_destroy(QVLogSink *sink)
{
    if (sink == nullptr)
        return 1;
    QVLogger *logger = static_cast<QVLogger *>(sink->context);
    if (logger == nullptr)
        return 0;
    qv_mutex_finish(&logger->lock);
    if (logger->file != QV_NO_LOG_FILE) {
        /* A line cut by the last write gets its mark while there is still a file. */
        QVLogPiece rest = {owed_mark(logger), logger->mark_owed};
        int error;
        if (rest.size > 0)
            qv_log_file_write(logger->file, &rest, 1, &error);
        qv_log_file_close(logger->file);
        logger->file = QV_NO_LOG_FILE;
    }
    free(logger);
    sink->context = nullptr;
    return 0;
}
