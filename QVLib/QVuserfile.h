/*
 * QVuserfile: a file of the user's own (in the home folder), found and examined through
 * the platform: where the home folder is, and what the file at a path is and who may
 * read or write it. Each platform implements it in a file of its own (QVLib/Posix/
 * UserFilePosix.cpp on Linux).
 */
#ifndef QVLIB_QVUSERFILE_H
#define QVLIB_QVUSERFILE_H

#include <cstddef>

/* Forms into path (capacity bytes) the path of the file name in the home folder of the
 * user the tool runs as: HOME when it is set and not empty, else the account's own home.
 * Returns false when there is no home folder or the path does not fit; the file need
 * not exist. */
bool qv_user_home_path(const char *name, char *path, size_t capacity);

/* What the file at path is, without opening it. */
struct QVUserFileStatus {
    bool exists;             /* false: nothing at path (or it cannot be examined) */
    unsigned mode;           /* its permission bits (0777 on Posix) */
    bool readable_by_others; /* a group or other users may read it */
};

/* Fills status for the file at path; status->exists false when there is none. */
void qv_user_file_status(const char *path, QVUserFileStatus *status);

#endif
