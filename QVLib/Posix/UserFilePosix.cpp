/*
 * UserFilePosix: the user's home folder and the status of a file in it, on Linux.
 *
 * The home folder is HOME, or the password database's entry for the real user id when
 * HOME is not set (a service manager's environment).
 */
#include "QVLib/QVuserfile.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "Interfaces/ErrorLogger/ErrorLogger.h"

/* Room for a password database entry's texts. */
#define QV_PASSWD_BUFFER 4096

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

void qv_user_file_status(const char *path, QVUserFileStatus *status)
{
    struct stat st;
    *status = QVUserFileStatus{};
    if (stat(path, &st) != 0)
        return;
    status->exists = true;
    status->mode = static_cast<unsigned>(st.st_mode & 0777);
    status->readable_by_others = (st.st_mode & 077) != 0;
}
