/*
 * ReparseWin32: what an open file on a disk is, with its reparse point read by its tag,
 * for the log file (LogFileWin32) and the user's option file (UserFileWin32) alike.
 *
 * A reparse point whose tag the system calls a name surrogate stands for another file:
 * a symbolic link, a mount point (a directory junction), a WSL link. It is a link, and
 * the tool refuses it where it refuses links. Every other reparse point holds the file's
 * own data in another form: a OneDrive or other cloud-file placeholder, a file on a
 * deduplicated Windows Server volume, a compressed (WOF) system file. It is the file
 * itself, a regular file or a folder as its attributes say.
 */
#ifndef QVLIB_WIN32_REPARSEWIN32_H
#define QVLIB_WIN32_REPARSEWIN32_H

#include <windows.h>

/* What an open file on a disk is. */
enum {
    QV_DISK_FILE = 0,  /* a regular file, a placeholder among them */
    QV_DISK_DIRECTORY, /* a folder */
    QV_DISK_LINK,      /* it stands for another file (opened without following it) */
    QV_DISK_UNKNOWN    /* its attributes cannot be read; GetLastError says why */
};

/* The kind (QV_DISK_*) of the file open as handle, from its attributes and reparse tag
 * (GetFileInformationByHandleEx, FileAttributeTagInfo). */
int qv_disk_file_kind(HANDLE handle);

/* Reads the attributes and reparse tag of the file open as handle; false, with
 * GetLastError set, when it cannot. */
typedef bool (*QVReparseTagReader)(HANDLE handle, FILE_ATTRIBUTE_TAG_INFO *info);

/* Makes qv_disk_file_kind read through reader; null restores the system's call. For
 * tests: Wine keeps no reparse points. */
void qv_set_reparse_tag_reader(QVReparseTagReader reader);

#endif
