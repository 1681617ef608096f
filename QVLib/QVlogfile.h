/*
 * QVlogfile: the log file as each platform opens, writes and closes it, beneath the log
 * file sink (Interfaces/ErrorLogger/LogFile): LogFilePosix, LogFileWin32.
 *
 * Opening creates the file if it is missing and empties it only once it is known to be
 * the tool's own: never through a symbolic link, never another file's hard link, only a
 * regular file (or, on POSIX systems, a character device such as /dev/null), and held by
 * no other instance of the tool (an exclusive lock on POSIX systems, deny-write sharing
 * on Windows). Readers are not hindered, and started programs do not inherit it.
 *
 * Writing hands the pieces of one line to the system with as few calls as it allows,
 * and may be called from a signal handler on POSIX systems (async-signal-safe calls
 * only). The file is a text file: on Windows, written in text mode, each "\n" is stored
 * as carriage return and line feed; counts are of the bytes handed in.
 */
#ifndef QVLIB_QVLOGFILE_H
#define QVLIB_QVLOGFILE_H

#include <cstddef>
#include <cstdint>

/* An open log file: a descriptor, or a handle, as an integer. */
typedef intptr_t QVLogFileHandle;
#define QV_NO_LOG_FILE (-1)

/* Why a log file cannot be used: what stands in the way, and the system's error code
 * (errno, or GetLastError's; 0 when the text says it all). */
struct QVLogRefusal {
    const char *what;
    int error;
};

/* One piece of a line. */
struct QVLogPiece {
    const char *data;
    size_t size;
};

/* Opens, checks, locks and only then empties the log file name. Returns the file, or
 * QV_NO_LOG_FILE with *refusal saying what stood in the way. */
QVLogFileHandle qv_log_file_open(const char *name, QVLogRefusal *refusal);

/* Writes the count pieces in order (pieces may be changed). Returns the bytes written:
 * all of them, or fewer when a call failed (*error its error code) or wrote nothing
 * (*error -1). */
size_t qv_log_file_write(QVLogFileHandle file, QVLogPiece *pieces, int count, int *error);

/* Closes the file. */
void qv_log_file_close(QVLogFileHandle file);

/* The system's text for an error code (errno, or GetLastError's on Windows), into text. */
void qv_log_file_reason(int error, char *text, size_t capacity);

/* The current UTC time, seconds since 1970 and milliseconds, read with calls that a
 * signal handler may make. */
void qv_log_file_clock(int64_t *seconds, unsigned *millisecond);

#endif
