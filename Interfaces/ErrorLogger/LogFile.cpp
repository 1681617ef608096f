/*
 * LogFile: the log file sink and the environment lookup that names its file.
 *
 * The log file is truncated at each start, so one file holds the log of one run. It is
 * opened without following a symbolic link and without blocking, refused unless it is a
 * regular file or a character device, and locked (flock, exclusive): a second instance
 * fails with status 3 and leaves the first one's file untouched; readers are not
 * hindered. Every line goes out with one system call when the file takes it whole, so it
 * is in the file as soon as qv_logger_write returns.
 *
 * A line that cannot be written is lost alone, and reported with status 3. A write that
 * makes no progress is such a failure, never retried. A line that the file took only in
 * part (a full disk) is never left for the next line to join: the next write first ends
 * it with the cut mark and its newline, so that every line of the file is either whole
 * or visibly cut.
 */
#include "Interfaces/ErrorLogger/ErrorLogger.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "QVLib/QVmutex.h"
#include "QVLib/QVclock.h"
#include "QVLib/QVmalloc.h"
#include "QVLib/QVstring.h"
#include "QVLib/QVtime.h"

static const char QV_FILE[] = "Interfaces/ErrorLogger/ErrorLogger";

struct QVLogger {
    int file;                        /* the open log file, -1 when none */
    QVmutex lock;                    /* serialises the lines written */
    char name_pattern[QV_NAME_SIZE]; /* printf format with at most one %s */
    size_t mark_owed;                /* bytes at the end of QV_CUT_MARK still to write */
};

/* Ends a line that the file took only in part. */
static const char QV_CUT_MARK[] = " [line cut short]\n";

/* The log file's base name; it outlives the logger. */
static char g_base_name[QV_NAME_SIZE];

/* The writer of the log file's lines: writev, unless a test put its own in place. */
static std::atomic<QVLogWriter> g_writer{nullptr};

void qv_logger_set_writer(QVLogWriter writer)
{
    g_writer.store(writer);
}

static ssize_t write_pieces(int fd, const struct iovec *pieces, int count)
{
    QVLogWriter writer = g_writer.load();
    return writer != nullptr ? writer(fd, pieces, count) : writev(fd, pieces, count);
}

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

/* Opens, checks, locks and only then truncates the log file. Returns the descriptor, or
 * -1 for any failure. */
static int open_log_file(const char *name)
{
    int fd = open(name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode)) ||
        flock(fd, LOCK_EX | LOCK_NB) != 0 || (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
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
    logger->file = -1;
    logger->mark_owed = 0;

    unsigned status = qv_mutex_create(&logger->lock);
    if (status == 0)
        status = qv_getenv("QV_BASE_LOGFILE_NAME", g_base_name, "VADedeVeZovid");
    if (status == 0)
        status = qv_getenv("QV_LOGFILE_NAME_PATTERN", logger->name_pattern, "%s.log");
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return status;
    }
    if (!qv_log_file_pattern_is_safe(logger->name_pattern)) {
        qv_log(QV_LOG_ERROR, "qv_logger_create: bad file name pattern %s", logger->name_pattern);
        return 1;
    }
    /* A name that does not fit is refused without a message, as designed. */
    char name[QV_NAME_SIZE];
    if (qv_log_file_name(logger->name_pattern, g_base_name, name) != 0)
        return 1;
    logger->file = open_log_file(name);
    return logger->file >= 0 ? 0 : 3;
}

/* Writes the pieces in order with as few calls as the kernel allows. Returns the number
 * of bytes written: all of them, or fewer when a call failed or wrote nothing. */
static size_t write_all(int fd, struct iovec *pieces, int count)
{
    size_t written = 0;
    while (count > 0) {
        ssize_t n = write_pieces(fd, pieces, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += static_cast<size_t>(n);
        while (count > 0 && static_cast<size_t>(n) >= pieces->iov_len) {
            n -= static_cast<ssize_t>(pieces->iov_len);
            pieces++;
            count--;
        }
        if (count > 0) {
            pieces->iov_base = static_cast<char *>(pieces->iov_base) + n;
            pieces->iov_len -= static_cast<size_t>(n);
        }
    }
    return written;
}

/* The part of the cut mark that the logger still owes the file. */
static char *owed_mark(const QVLogger *logger)
{
    return const_cast<char *>(QV_CUT_MARK + sizeof QV_CUT_MARK - 1 - logger->mark_owed);
}

/* Writes value as width decimal digits with leading zeros at p. */
static void put_digits(char *p, unsigned value, int width)
{
    for (int i = width - 1; i >= 0; i--) {
        p[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

unsigned qv_logger_write(void *context, const char *line)
{
    QVLogger *logger = static_cast<QVLogger *>(context);
    if (logger == nullptr || logger->file < 0)
        return 0;

    /* The stamp is local time, taken before the lock. */
    QVtime now;
    qv_time_now(&now);
    qv_time_sub_secs(&now, &now, qv_time_local_offset(&now));
    /* "%02d/%02d/%04d %02d:%02d:%02d.%03d: ", month first, without a format per line:
     * the record is always within the years 1970 to 2038. */
    char stamp[] = "MM/DD/YYYY hh:mm:ss.mmm: ";
    put_digits(stamp, now.month, 2);
    put_digits(stamp + 3, now.day, 2);
    put_digits(stamp + 6, now.year, 4);
    put_digits(stamp + 11, now.hour, 2);
    put_digits(stamp + 14, now.minute, 2);
    put_digits(stamp + 17, now.second, 2);
    put_digits(stamp + 20, now.millisecond, 3);
    const size_t mark_size = sizeof QV_CUT_MARK - 1;

    qv_mutex_lock(&logger->lock);
    size_t owed = logger->mark_owed;
    struct iovec pieces[] = {
        {owed_mark(logger), owed},
        {stamp, sizeof stamp - 1},
        {const_cast<char *>(line), strlen(line)},
        {const_cast<char *>("\n"), 1},
    };
    size_t total = owed + pieces[1].iov_len + pieces[2].iov_len + 1;
    size_t written = write_all(logger->file, pieces, 4);
    if (written < owed)
        logger->mark_owed = owed - written; /* the rest of the mark comes first next time */
    else if (written == owed || written == total)
        logger->mark_owed = 0; /* the line is lost whole, or written whole */
    else
        logger->mark_owed = mark_size; /* the line is cut */
    qv_mutex_release(&logger->lock);
    return written == total ? 0 : 3;
}

unsigned qv_logger_destroy(QVLogSink *sink)
{
    if (sink == nullptr)
        return 1;
    QVLogger *logger = static_cast<QVLogger *>(sink->context);
    if (logger == nullptr)
        return 0;
    qv_mutex_finish(&logger->lock);
    if (logger->file >= 0) {
        /* A line cut by the last write gets its mark while there is still a file. */
        struct iovec rest = {owed_mark(logger), logger->mark_owed};
        if (rest.iov_len > 0)
            write_all(logger->file, &rest, 1);
        close(logger->file);
        logger->file = -1;
    }
    free(logger);
    sink->context = nullptr;
    return 0;
}
