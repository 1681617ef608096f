/*
 * QVuserfile: a file of the user's own (in the home folder), found and opened through
 * the platform: where the home folder is, the file opened for reading without
 * blocking, with what it is, how large, who owns it and who else may read or write it,
 * and the names in a folder.
 *
 * What is examined is the open file itself, and it is read through the same handle, so
 * that the file cannot be swapped between the check and the read. Each platform
 * implements it in a file of its own (QVLib/Posix/UserFilePosix.cpp on Linux,
 * QVLib/Win32/UserFileWin32.cpp on Windows).
 */
#ifndef QVLIB_QVUSERFILE_H
#define QVLIB_QVUSERFILE_H

#include <cstddef>

/* Forms into path (capacity bytes) the path of the file name in the home folder of the
 * user the tool runs as: HOME when it is set and not empty, else the account's own home.
 * Returns false when there is no home folder or the path does not fit; the file need
 * not exist. */
bool qv_user_home_path(const char *name, char *path, size_t capacity);

/* What a path turned out to be. */
enum {
    QV_USER_FILE_MISSING = 0, /* nothing there */
    QV_USER_FILE_REGULAR,     /* a regular file, open for reading */
    QV_USER_FILE_DIRECTORY,   /* the rest are not kept open */
    QV_USER_FILE_FIFO,
    QV_USER_FILE_CHARACTER_DEVICE,
    QV_USER_FILE_BLOCK_DEVICE,
    QV_USER_FILE_SOCKET,
    QV_USER_FILE_OTHER,
    QV_USER_FILE_UNREADABLE /* it exists, but cannot be opened for reading */
};

struct QVUserFile {
    int kind;                /* QV_USER_FILE_* */
    char error[128];         /* why it could not be opened (QV_USER_FILE_UNREADABLE) */
    char permissions[96];    /* its permissions in words, for messages ("mode 644") */
    bool readable_by_others; /* a group or other users may read it */
    bool writable_by_others; /* a group or other users may write it */
    /* its owner is the user the tool runs as, or an owner that user trusts as much:
     * root on Linux; on Windows the Administrators group or the token's default owner,
     * which new files of an elevated administrator get */
    bool owned_by_user;
    char owner[64]; /* its owner and the user the tool runs as, for messages */
    char user[64];
    unsigned long long size;        /* in bytes */
    unsigned long long identity[2]; /* tells it from every other file: device and inode,
                                     * or volume and file index */
    int handle;                     /* the platform's handle, -1 when not open */
};

/* The remedies that messages name (QV_MEND_*): keeping a file to its user alone, and
 * making it the user's. */
enum { QV_MEND_PRIVATE, QV_MEND_OWNER };

/* Forms into out (capacity bytes) the command that mends the file at path as what says:
 * "chmod 600 'path'" on Linux (the path one word of the shell, whatever it holds), an
 * icacls command on Windows. */
void qv_user_file_mend(int what, const char *path, char *out, size_t capacity);

/* The character that joins a folder and a name in a path. */
extern const char qv_user_path_separator;

/* Calls entry with the name of each entry of the folder at path (not "." and ".."), in
 * no particular order. Returns false, with errno's words in error (capacity bytes), when
 * the folder cannot be listed. */
bool qv_user_dir_list(const char *path, void (*entry)(void *context, const char *name),
                      void *context, char *error, size_t capacity);

/* Opens the file at path for reading without waiting (a FIFO without a writer, a
 * device) and examines what was opened, following a symbolic link. Fills file; it is
 * left open only when it is a regular file (kind QV_USER_FILE_REGULAR), and must then be
 * closed with qv_user_file_close. */
void qv_user_file_open(const char *path, QVUserFile *file);

/* Reads up to capacity bytes of an open file from offset into buffer. Returns the count
 * read, 0 at its end, -1 on an error. */
long qv_user_file_read(QVUserFile *file, unsigned long offset, char *buffer, size_t capacity);

/* Closes an open file; a file that is not open is left as it is. */
void qv_user_file_close(QVUserFile *file);

#endif
