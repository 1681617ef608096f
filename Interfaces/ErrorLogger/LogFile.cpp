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
 * The log is never another file: a symbolic link, a name with other hard links, and
 * anything but a regular file or a character device are refused. Whenever the file
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
 * written, as the time zone functions may not be called there.
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
    char name[QV_NAME_SIZE];         /* the file's name as formed, "" until then */
    std::atomic<int> failure;        /* 0 while the file takes the lines; else the errno
                                        of the first failed write (-1: no progress) */
};

/* Ends a line that the file took only in part. */
static const char QV_CUT_MARK[] = " [line cut short]\n";

/* The log file's base name; it outlives the logger. */
static char g_base_name[QV_NAME_SIZE];

/* UTC minus local time, in seconds, of the last stamp taken: what a line written from
 * a signal handler uses. */
static std::atomic<int32_t> g_last_offset{0};

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

/* Why a log file cannot be used: what stands in the way, and the system's reason (0
 * when the text says it all). */
struct Refusal {
    const char *what;
    int error;
};

/* Why open(2) failed on the log file's name. */
static Refusal open_refusal(int error)
{
    switch (error) {
    case ELOOP: /* O_NOFOLLOW met a symbolic link */
        return {"is a symbolic link", 0};
    case ENXIO: /* a FIFO without a reader, or a socket */
    case EISDIR:
        return {"is not a regular file", 0};
    case ENAMETOOLONG:
        return {"has a name too long for the file system", 0};
    default:
        return {"cannot be created", error};
    }
}

/* Opens, checks, locks and only then truncates the log file. Returns the descriptor, or
 * -1 with *refusal saying what stood in the way. */
static int open_log_file(const char *name, Refusal *refusal)
{
    int fd = open(name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        *refusal = open_refusal(errno);
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0)
        *refusal = {"cannot be examined", errno};
    else if (!(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode)))
        *refusal = {"is not a regular file", 0};
    else if (S_ISREG(st.st_mode) && st.st_nlink > 1) /* emptying it would empty another */
        *refusal = {"is a hard link to another file", 0};
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        *refusal = errno == EWOULDBLOCK ? Refusal{"is held by another instance of the tool", 0}
                                        : Refusal{"cannot be locked", errno};
    else if (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0)
        *refusal = {"cannot be emptied", errno};
    else
        return fd;
    close(fd);
    return -1;
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
    Refusal refusal;
    logger->file = open_log_file(logger->name, &refusal);
    if (logger->file >= 0)
        return 0;
    qv_log(QV_LOG_WARNING, "qv_logger_create: the log file %s %s%s%s; the log goes to standard error",
           logger->name, refusal.what, refusal.error != 0 ? ": " : "",
           refusal.error != 0 ? strerror(refusal.error) : "");
    return 3;
}

QVLogPlace qv_logger_place(const QVLogSink *sink, const char **name)
{
    const QVLogger *logger = sink != nullptr ? static_cast<QVLogger *>(sink->context) : nullptr;
    *name = logger != nullptr ? logger->name : "";
    if (logger == nullptr || logger->file < 0)
        return QV_LOG_NOT_OPENED;
    return logger->failure.load() == 0 ? QV_LOG_IN_FILE : QV_LOG_WRITE_FAILED;
}

/* Writes the pieces in order with as few calls as the kernel allows. Returns the number
 * of bytes written: all of them, or fewer when a call failed (*error is its errno) or
 * wrote nothing (*error is -1). Calls only async-signal-safe functions. */
static size_t write_all(int fd, struct iovec *pieces, int count, int *error)
{
    size_t written = 0;
    *error = 0;
    while (count > 0) {
        ssize_t n = write_pieces(fd, pieces, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = n < 0 ? errno : -1;
            break;
        }
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
 * 0, or the errno of the failure (-1: no progress) with the mark owed updated: a line
 * that the file took in part is cut and owes the whole mark. The caller holds the lock,
 * or is a signal handler. */
static int write_line(QVLogger *logger, const Stamp &stamp, const char *line)
{
    size_t owed = logger->mark_owed;
    struct iovec pieces[] = {
        {owed_mark(logger), owed},
        {const_cast<char *>(stamp.text), sizeof stamp.text - 1},
        {const_cast<char *>(line), strlen(line)},
        {const_cast<char *>("\n"), 1},
    };
    size_t total = owed + pieces[1].iov_len + pieces[2].iov_len + 1;
    int error;
    size_t written = write_all(logger->file, pieces, 4, &error);
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
    if (logger == nullptr || logger->file < 0)
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
    if (first_failure)
        qv_log(QV_LOG_ERROR,
               "qv_logger_write: cannot write the log file %s: %s; the log goes on on "
               "standard error",
               logger->name, error > 0 ? strerror(error) : "the file takes no more bytes");
    return status;
}

unsigned qv_logger_write_signal_safe(void *context, const char *line)
{
    QVLogger *logger = static_cast<QVLogger *>(context);
    if (logger == nullptr || logger->file < 0 || logger->failure.load() != 0)
        return 3;
    struct timespec now;
    QVtime local = {};
    if (clock_gettime(CLOCK_REALTIME, &now) == 0 &&
        qv_time_from_secs(&local, now.tv_sec - g_last_offset.load()) == 0)
        local.millisecond = static_cast<uint16_t>(now.tv_nsec / 1000000);
    return write_line(logger, make_stamp(local), line) == 0 ? 0 : 3;
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
        int error;
        if (rest.iov_len > 0)
            write_all(logger->file, &rest, 1, &error);
        close(logger->file);
        logger->file = -1;
    }
    free(logger);
    sink->context = nullptr;
    return 0;
}
