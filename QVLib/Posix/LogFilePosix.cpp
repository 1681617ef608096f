/*
 * LogFilePosix: the log file on POSIX systems.
 *
 * It is opened without following a symbolic link and without blocking, refused unless
 * it is a regular file or a character device (or when a regular file has other hard
 * links), and locked (flock, exclusive, not waiting): a second instance finds it held.
 * Only then is a regular file emptied (a device such as /dev/full is not). Children do
 * not inherit it. The pieces of a line go out with writev, which a test may replace.
 */
#include "QVLib/QVlogfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "Interfaces/ErrorLogger/ErrorLogger.h"

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

/* Why open(2) failed on the log file's name. */
static QVLogRefusal open_refusal(int error)
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

QVLogFileHandle qv_log_file_open(const char *name, QVLogRefusal *refusal)
{
    int fd = open(name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        *refusal = open_refusal(errno);
        return QV_NO_LOG_FILE;
    }
    struct stat st;
    if (fstat(fd, &st) != 0)
        *refusal = {"cannot be examined", errno};
    else if (!(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode)))
        *refusal = {"is not a regular file", 0};
    else if (S_ISREG(st.st_mode) && st.st_nlink > 1) /* emptying it would empty another */
        *refusal = {"is a hard link to another file", 0};
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        *refusal = errno == EWOULDBLOCK ? QVLogRefusal{"is held by another instance of the tool", 0}
                                        : QVLogRefusal{"cannot be locked", errno};
    else if (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0)
        *refusal = {"cannot be emptied", errno};
    else
        return fd;
    close(fd);
    return QV_NO_LOG_FILE;
}

/* Calls only async-signal-safe functions. */
size_t qv_log_file_write(QVLogFileHandle file, QVLogPiece *pieces, int count, int *error)
{
    struct iovec vector[8];
    if (count > 8)
        count = 8; /* a line has four pieces */
    for (int i = 0; i < count; i++)
        vector[i] = {const_cast<char *>(pieces[i].data), pieces[i].size};
    struct iovec *next = vector;
    size_t written = 0;
    *error = 0;
    while (count > 0) {
        ssize_t n = write_pieces(static_cast<int>(file), next, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = n < 0 ? errno : -1;
            break;
        }
        written += static_cast<size_t>(n);
        while (count > 0 && static_cast<size_t>(n) >= next->iov_len) {
            n -= static_cast<ssize_t>(next->iov_len);
            next++;
            count--;
        }
        if (count > 0) {
            next->iov_base = static_cast<char *>(next->iov_base) + n;
            next->iov_len -= static_cast<size_t>(n);
        }
    }
    return written;
}

void qv_log_file_close(QVLogFileHandle file)
{
    close(static_cast<int>(file));
}

void qv_log_file_reason(int error, char *text, size_t capacity)
{
    qv_snprintf(text, capacity, "%s", strerror(error));
}

void qv_log_file_clock(int64_t *seconds, unsigned *millisecond)
{
    struct timespec now = {0, 0};
    clock_gettime(CLOCK_REALTIME, &now);
    *seconds = now.tv_sec;
    *millisecond = static_cast<unsigned>(now.tv_nsec / 1000000);
}
