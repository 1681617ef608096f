/*
 * ErrorLogger: the log calls, the line layout and the dispatch to sink or console.
 *
 * Invariants: a log call allocates nothing and takes no lock; the installed sink is
 * read as one atomic pointer; the console stream table is set once, on the first line
 * dispatched, and is the same for every level (standard error).
 */
#include "Interfaces/ErrorLogger/ErrorLogger.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "QVLib/Posix/MutexPosix.h"

/* The installed sink, none at start; changed only by qv_log_set_sink. */
static std::atomic<QVLogSink *> g_installed_sink{nullptr};

/* One output stream per level, set to standard error on the first dispatched line. */
static FILE *g_console[8];
static std::once_flag g_console_set;

static const char *const g_level_names[8] = {
    "INFO   ", "WARNING", "ERROR  ", "G-ERROR", "DEBUG  ", "**FATAL**", "G-WARN ", "DUMP   ",
};

const char *qv_log_level_name(int level)
{
    if (static_cast<unsigned>(level) > 7)
        return "Unknown";
    return g_level_names[level];
}

static int bounded_vformat(char *buffer, size_t capacity, const char *format, va_list args)
{
    if (capacity == 0)
        return -1;
    int n = vsnprintf(buffer, capacity, format, args);
    if (n < 0) { /* an encoding error: keep the buffer a valid text */
        buffer[0] = '\0';
        return -1;
    }
    return static_cast<size_t>(n) < capacity ? n : -1;
}

int qv_snprintf(char *buffer, size_t capacity, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = bounded_vformat(buffer, capacity, format, args);
    va_end(args);
    return n;
}

/* The text after the later of the last '/' and the last '\\'; the whole path if none. */
static const char *base_name(const char *path)
{
    const char *slash = strrchr(path, '/');
    const char *backslash = strrchr(path, '\\');
    const char *sep = slash > backslash ? slash : backslash;
    return sep ? sep + 1 : path;
}

static void qv_log_dispatch(int level, char *line)
{
    /* Trim control bytes and bytes 0x80..0xFF (negative as signed chars) off the end;
     * the first byte always stays. */
    size_t len = strlen(line);
    while (len > 1 && static_cast<signed char>(line[len - 1]) < 0x20)
        line[--len] = '\0';

    if (static_cast<unsigned>(level) > 7)
        return;

    std::call_once(g_console_set, [] {
        for (FILE *&stream : g_console)
            stream = stderr;
    });

    QVLogSink *sink = g_installed_sink.load(std::memory_order_acquire);
    if (sink != nullptr && sink->write != nullptr)
        sink->write(sink->context, line);
    else
        fprintf(g_console[level], "%s\n", line);

    if (level == QV_LOG_FATAL && sink != nullptr && sink->on_fatal != nullptr)
        sink->on_fatal();
}

/* Builds the prefix at the start of buffer and, unless format is null (a STACK_TRACE
 * line), the message after it; then dispatches the line. */
static void log_line(const char *file, int line, int level, const char *format, va_list args)
{
    char buffer[QV_LOG_LINE_SIZE];
    int room = QV_LOG_LINE_SIZE;
    char thread_id[20];
    qv_snprintf(thread_id, sizeof thread_id, "%08x", qv_thread_id());

    const char *name = format ? qv_log_level_name(level) : "STACK_TRACE";
    const char *tail = format ? ": " : "";
    if (file != nullptr)
        qv_snprintf(buffer, room, "%s %s at %s:%d%s", thread_id, name, base_name(file), line, tail);
    else
        qv_snprintf(buffer, room, "%s %s%s", thread_id, name, tail);

    /* The message never uses the last three bytes of the buffer. */
    int used = static_cast<int>(strlen(buffer));
    room = room - used - 3;
    if (format != nullptr && room > 0)
        bounded_vformat(buffer + used, room, format, args);
    qv_log_dispatch(level, buffer);
}

void qv_log(int level, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    log_line(nullptr, 0, level, format, args);
    va_end(args);
}

void qv_log_at(const char *file, int line, int level, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    log_line(file, line, level, format, args);
    va_end(args);
}

void qv_log_trace(const char *file, int line)
{
    va_list none{};
    log_line(file, line, QV_LOG_ERROR, nullptr, none);
}
