/*
 * UserFilePosix: the user's home folder and the files in it, on Linux.
 *
 * The home folder is HOME, or the password database's entry for the real user id when
 * HOME is not set (a service manager's environment). A file is opened with O_NONBLOCK
 * (a FIFO without a writer does not hold the open) and O_NOCTTY, examined with fstat on
 * the descriptor itself, and kept open only when it is a regular file, which is then read
 * through that descriptor, whatever has become of the path. Files of root count as the
 * user's own: root can change any file anyway.
 */
#include "QVLib/QVuserfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"

/* Room for a password database entry's texts. */
#define QV_PASSWD_BUFFER 4096

const char qv_user_path_separator = '/';

bool qv_user_home_path(const char *name, char *path, size_t capacity)
{
    const char *home = getenv("HOME");
    struct passwd entry, *found = nullptr;
    char buffer[QV_PASSWD_BUFFER];
    if (home == nullptr || home[0] == '\0') {
        if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr)
            return false;
        home = found->pw_dir;
    }
    return home != nullptr && home[0] != '\0' &&
           qv_snprintf(path, capacity, "%s/%s", home, name) >= 0;
}

/* "uid N (name)", or "uid N" when the password database does not know it. */
static void describe_user(uid_t uid, char *out, size_t capacity)
{
    struct passwd entry, *found = nullptr;
    char buffer[QV_PASSWD_BUFFER];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        qv_snprintf(out, capacity, "uid %u (%s)", static_cast<unsigned>(uid), found->pw_name);
    else
        qv_snprintf(out, capacity, "uid %u", static_cast<unsigned>(uid));
}

void qv_user_file_mend(int what, const char *path, char *out, size_t capacity)
{
    struct passwd entry, *found = nullptr;
    char buffer[QV_PASSWD_BUFFER];
    int used;
    if (what == QV_MEND_PRIVATE)
        used = qv_snprintf(out, capacity, "%s", "chmod 600 '");
    else if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        used = qv_snprintf(out, capacity, "chown %s '", found->pw_name);
    else
        used = qv_snprintf(out, capacity, "chown %u '", static_cast<unsigned>(geteuid()));
    /* Each quote of the path's own as '\'': a name that others chose (a file in an
     * included folder) stays one word of the command that root pastes. */
    for (const char *c = path; used >= 0 && *c != '\0'; c++) {
        int n = *c == '\'' ? qv_snprintf(out + used, capacity - used, "%s", "'\\''")
                           : qv_snprintf(out + used, capacity - used, "%c", *c);
        used = n < 0 ? -1 : used + n;
    }
    if (used < 0 || qv_snprintf(out + used, capacity - used, "%s", "'") < 0)
        qv_snprintf(out, capacity, "%s", ""); /* a cut command is no remedy */
}

bool qv_user_dir_list(const char *path, void (*entry)(void *context, const char *name),
                      void *context, char *error, size_t capacity)
{
    DIR *dir = opendir(path);
    if (dir == nullptr) {
        qv_snprintf(error, capacity, "%s", strerror(errno));
        return false;
    }
    while (const struct dirent *e = readdir(dir))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            entry(context, e->d_name);
    closedir(dir);
    return true;
}

static int kind_of(mode_t mode)
{
    if (S_ISREG(mode))
        return QV_USER_FILE_REGULAR;
    if (S_ISDIR(mode))
        return QV_USER_FILE_DIRECTORY;
    if (S_ISFIFO(mode))
        return QV_USER_FILE_FIFO;
    if (S_ISCHR(mode))
        return QV_USER_FILE_CHARACTER_DEVICE;
    if (S_ISBLK(mode))
        return QV_USER_FILE_BLOCK_DEVICE;
    if (S_ISSOCK(mode))
        return QV_USER_FILE_SOCKET;
    return QV_USER_FILE_OTHER;
}

void qv_user_file_open(const char *path, QVUserFile *file)
{
    *file = QVUserFile{};
    file->handle = -1;
    struct stat st;
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        /* A socket cannot be opened; anything else that exists is unreadable. */
        if (stat(path, &st) != 0) {
            file->kind = QV_USER_FILE_MISSING;
            return;
        }
        file->kind = S_ISSOCK(st.st_mode) ? QV_USER_FILE_SOCKET : QV_USER_FILE_UNREADABLE;
        qv_snprintf(file->error, sizeof file->error, "%s", strerror(error));
    } else if (fstat(fd, &st) != 0) {
        file->kind = QV_USER_FILE_UNREADABLE;
        qv_snprintf(file->error, sizeof file->error, "%s", strerror(errno));
        close(fd);
        return;
    } else {
        file->kind = kind_of(st.st_mode);
    }
    qv_snprintf(file->permissions, sizeof file->permissions, "mode %03o",
                static_cast<unsigned>(st.st_mode & 0777));
    file->readable_by_others = (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
    file->writable_by_others = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    file->owned_by_user = st.st_uid == geteuid() || st.st_uid == 0;
    file->size = static_cast<unsigned long long>(st.st_size);
    file->identity[0] = static_cast<unsigned long long>(st.st_dev);
    file->identity[1] = static_cast<unsigned long long>(st.st_ino);
    describe_user(st.st_uid, file->owner, sizeof file->owner);
    describe_user(geteuid(), file->user, sizeof file->user);
    if (fd < 0)
        return;
    if (file->kind != QV_USER_FILE_REGULAR) {
        close(fd);
        return;
    }
    /* The reads that follow must not fail for want of data: a regular file never does. */
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file->handle = fd;
}

long qv_user_file_read(QVUserFile *file, unsigned long offset, char *buffer, size_t capacity)
{
    if (file->handle < 0)
        return -1;
    ssize_t n;
    do
        n = pread(file->handle, buffer, capacity, static_cast<off_t>(offset));
    while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

void qv_user_file_close(QVUserFile *file)
{
    if (file->handle < 0)
        return;
    close(file->handle);
    file->handle = -1;
}
