/*
 * ErrorLogger: the log calls, the line layout, the dispatch to sink or console, and the
 * installation of a sink with its banner and system report.
 *
 * Invariants: a log call allocates nothing and takes no lock; the installed sink is
 * read as one atomic pointer; the console stream table is set once, on the first line
 * dispatched, and is the same for every level (standard error). A line the sink does
 * not take goes to the console.
 */
#include "Interfaces/ErrorLogger/ErrorLogger.h"

#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "QVLib/QVmutex.h"

/* The installed sink, none at start; changed only by qv_log_set_sink. */
static std::atomic<QVLogSink *> g_installed_sink{nullptr};

/* Set-sink state: a call that starts while another one runs (nested, or on another
 * thread) skips the report, and from then on the report is suppressed for good. */
static std::atomic<int> g_set_sink_nesting{0};
static std::atomic<bool> g_report_suppressed{false};

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
    /* Trim control bytes (line ends, tabs) off the end; the first byte always stays.
     * Bytes 0x80..0xFF are parts of letters in UTF-8 and stay: read as signed chars
     * they would fall below 0x20 too, and "caf\xc3\xa9" would lose its last letter. */
    size_t len = strlen(line);
    while (len > 1 && static_cast<unsigned char>(line[len - 1]) < 0x20)
        line[--len] = '\0';

    if (static_cast<unsigned>(level) > 7)
        return;

    std::call_once(g_console_set, [] {
        for (FILE *&stream : g_console)
            stream = stderr;
    });

    /* A line the sink cannot take is shown on the console rather than lost: the log
     * file's sink refuses every line once a write to its file has failed. */
    QVLogSink *sink = g_installed_sink.load(std::memory_order_acquire);
    if (sink == nullptr || sink->write == nullptr || sink->write(sink->context, line) != 0)
        fprintf(g_console[level], "%s\n", line);

    if (level == QV_LOG_FATAL && sink != nullptr && sink->on_fatal != nullptr)
        sink->on_fatal();
}

/* Appends texts and numbers to a buffer of fixed capacity, cutting what does not fit;
 * the buffer is always terminated. Cheaper than a format per line. */
struct LineBuilder {
    char *buffer;
    size_t capacity;
    size_t used;

    void text(const char *s)
    {
        size_t n = strlen(s);
        size_t room = capacity - 1 - used;
        if (n > room)
            n = room;
        memcpy(buffer + used, s, n);
        used += n;
        buffer[used] = '\0';
    }
    void number(int value)
    {
        char digits[16];
        qv_snprintf(digits, sizeof digits, "%d", value);
        text(digits);
    }
};

/* The calling thread's id as eight hexadecimal digits, formatted once per thread. */
static const char *thread_id_text(void)
{
    thread_local char text[20] = "";
    if (text[0] == '\0')
        qv_snprintf(text, sizeof text, "%08x", qv_thread_id());
    return text;
}

/* Builds the prefix at the start of buffer and, unless format is null (a STACK_TRACE
 * line), the message after it; then dispatches the line. */
static void log_line(const char *file, int line, int level, const char *format, va_list args)
{
    char buffer[QV_LOG_LINE_SIZE];
    LineBuilder prefix{buffer, QV_LOG_LINE_SIZE, 0};
    buffer[0] = '\0';
    prefix.text(thread_id_text());
    prefix.text(" ");
    prefix.text(format ? qv_log_level_name(level) : "STACK_TRACE");
    if (file != nullptr) {
        prefix.text(" at ");
        prefix.text(base_name(file));
        prefix.text(":");
        prefix.number(line);
    }
    if (format != nullptr)
        prefix.text(": ");

    /* The message never uses the last three bytes of the buffer. */
    int room = QV_LOG_LINE_SIZE - static_cast<int>(prefix.used) - 3;
    if (format != nullptr && room > 0)
        bounded_vformat(buffer + prefix.used, room, format, args);
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

/* Appends text to the line at *used, within capacity, without any call a signal
 * handler may not make. */
static void append_safely(char *line, size_t capacity, size_t *used, const char *text)
{
    while (*text != '\0' && *used + 1 < capacity)
        line[(*used)++] = *text++;
    line[*used] = '\0';
}

void qv_log_signal_safe(int level, const char *const texts[], size_t count)
{
    char line[1024];
    size_t used = 0;
    char id[9];
    uint32_t thread = qv_thread_id();
    for (int i = 7; i >= 0; i--, thread >>= 4)
        id[i] = "0123456789abcdef"[thread & 15];
    id[8] = '\0';
    for (const char *text : {static_cast<const char *>(id), " ", qv_log_level_name(level), ": "})
        append_safely(line, sizeof line, &used, text);
    for (size_t i = 0; i < count; i++)
        append_safely(line, sizeof line, &used, texts[i]);

    QVLogSink *sink = g_installed_sink.load(std::memory_order_acquire);
    if (sink != nullptr && sink->write == qv_logger_write)
        qv_logger_write_signal_safe(sink->context, line);
    line[used++] = '\n'; /* append_safely left room for it */
    (void)!write(STDERR_FILENO, line, used);
}

unsigned qv_log_set_sink(QVLogSink *sink)
{
    int depth = ++g_set_sink_nesting;
    g_installed_sink.store(sink, std::memory_order_release);
    qv_log(QV_LOG_INFO, "Log started, %s", "Build number: DEVELOPMENT");
    if (depth > 1)
        g_report_suppressed = true;
    else if (!g_report_suppressed)
        qv_system_report();
    --g_set_sink_nesting;
    return 0;
}
