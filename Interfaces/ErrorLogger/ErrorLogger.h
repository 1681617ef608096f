/*
 * ErrorLogger: the log calls every module reports through.
 *
 * A log call turns a level, an optional source position and a printf-style message into
 * one line, "<thread id> <level name>[ at <file>:<line>]: <message>", and hands it to the
 * installed sink or, while none is installed, to standard error followed by a newline.
 * The log calls never fail, never allocate (the line is built in a 128 KiB buffer on the
 * caller's stack) and take no lock: serialising lines is the sink's task.
 *
 * By convention a function that finds a failure logs one ERROR line, and every function
 * that passes a failure status on adds one STACK_TRACE line with qv_log_trace, so that a
 * failure reads as its cause followed by the path it travelled.
 */
#ifndef INTERFACES_ERRORLOGGER_ERRORLOGGER_H
#define INTERFACES_ERRORLOGGER_ERRORLOGGER_H

#include <cstddef>

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
 * installs it; the log only keeps a pointer to it. */
struct QVLogSink {
    void *context;                                      /* handed back to write, unchanged */
    unsigned (*write)(void *context, const char *line); /* 0 written, 3 write failure */
    void (*on_fatal)(void);                             /* called after each FATAL line, if set */
};

#define QV_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

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

#endif
