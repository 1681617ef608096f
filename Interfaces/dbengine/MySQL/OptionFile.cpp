/*
 * OptionFile: where the administrator's option file is, the file opened for a
 * connection, and the report of it in the log. The platform finds the home folder and
 * opens and examines the file (QVuserfile).
 *
 * Invariant: a file is handed on only when the platform opened it as a regular file;
 * the report reads it only to find whether it has a password line, and at most
 * QV_OPTION_SCAN_LIMIT bytes of it.
 */
#include "Interfaces/dbengine/MySQL/OptionFile.h"

#include <cctype>
#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"

/* Room for the option file's path; how much of it is searched for a password line. */
#define QV_PATH_SIZE 4096
#define QV_OPTION_SCAN_LIMIT (1024 * 1024)

static const char QV_WHO[] = "qv_DBEngine_report_option_file";

bool qv_DBEngine_option_file(char *path, size_t capacity)
{
    return qv_user_home_path(QV_DB_OPTION_FILE, path, capacity);
}

bool qv_DBEngine_open_option_file(QVUserFile *file)
{
    char path[QV_PATH_SIZE];
    if (!qv_DBEngine_option_file(path, sizeof path)) {
        *file = QVUserFile{};
        file->handle = -1;
        return false;
    }
    qv_user_file_open(path, file);
    return file->kind == QV_USER_FILE_REGULAR;
}

/* Feeds text, one piece after another, through the search for a password line. */
struct PasswordScan {
    size_t matched = 0;     /* characters of "password" matched on this line so far */
    bool in_key = true;     /* nothing but blanks and the key so far on this line */
    bool after_key = false; /* the whole key matched: blanks, then "=" or the line's end */
    bool found = false;

    void feed(char c)
    {
        static const char key[] = "password";
        if (c == '\n') {
            found = found || after_key;
            *this = PasswordScan{0, true, false, found};
        } else if (!in_key) {
            return;
        } else if (after_key) {
            /* blanks (and a carriage return) may follow the key; "=" ends the search */
            found = found || c == '=';
            if (c != ' ' && c != '\t' && c != '\r')
                in_key = after_key = false;
        } else if (matched == 0 && (c == ' ' || c == '\t')) {
            return;
        } else if (tolower(static_cast<unsigned char>(c)) == key[matched]) {
            after_key = ++matched == sizeof key - 1;
        } else {
            in_key = false;
        }
    }
};

bool qv_option_text_has_password(const char *text, size_t length)
{
    PasswordScan scan;
    for (size_t i = 0; i < length; i++)
        scan.feed(text[i]);
    scan.feed('\n');
    return scan.found;
}

/* Whether the open file has a password line in its first QV_OPTION_SCAN_LIMIT bytes. */
static bool file_has_password(QVUserFile *file)
{
    PasswordScan scan;
    char buffer[4096];
    unsigned long offset = 0;
    long n;
    while (offset < QV_OPTION_SCAN_LIMIT && !scan.found &&
           (n = qv_user_file_read(file, offset, buffer, sizeof buffer)) > 0) {
        for (long i = 0; i < n; i++)
            scan.feed(buffer[i]);
        offset += static_cast<unsigned long>(n);
    }
    scan.feed('\n');
    return scan.found;
}

/* What a file that is not read is, in words. */
static const char *kind_words(int kind)
{
    switch (kind) {
    case QV_USER_FILE_DIRECTORY:
        return "a directory";
    case QV_USER_FILE_FIFO:
        return "a FIFO (named pipe)";
    case QV_USER_FILE_CHARACTER_DEVICE:
        return "a character device";
    case QV_USER_FILE_BLOCK_DEVICE:
        return "a block device";
    case QV_USER_FILE_SOCKET:
        return "a socket";
    default:
        return "something other than a file";
    }
}

/* The warnings on a file that is read: who else may read or write it, who owns it. */
static void warn_of_access(const char *path, QVUserFile *file)
{
    if (file->readable_by_others)
        qv_log(QV_LOG_WARNING, "%s: %s can be read by other users (%s)%s%s", QV_WHO, path,
               file->permissions,
               file_has_password(file) ? "; it holds root's password: " : "; ",
               qv_user_file_keep_private);
    if (file->writable_by_others)
        qv_log(QV_LOG_WARNING,
               "%s: %s can be written by other users (%s): they could aim the tool at "
               "another server or socket; %s",
               QV_WHO, path, file->permissions, qv_user_file_keep_private);
    if (!file->owned_by_user)
        qv_log(QV_LOG_WARNING,
               "%s: %s belongs to %s, not to %s, the user the tool runs as: its owner decides "
               "what the tool reads; %s",
               QV_WHO, path, file->owner, file->user, qv_user_file_make_own);
}

void qv_DBEngine_report_option_file(void)
{
    char path[QV_PATH_SIZE];
    QVUserFile file;
    if (!qv_DBEngine_option_file(path, sizeof path))
        return;
    qv_user_file_open(path, &file);
    if (file.kind == QV_USER_FILE_MISSING)
        return;
    if (file.kind == QV_USER_FILE_UNREADABLE) {
        qv_log(QV_LOG_WARNING,
               "%s: %s cannot be read (%s); it is not read, the run goes on without it", QV_WHO,
               path, file.error);
        return;
    }
    if (file.kind != QV_USER_FILE_REGULAR) {
        qv_log(QV_LOG_WARNING,
               "%s: %s is %s, not a regular file; it is not read, the run goes on without it",
               QV_WHO, path, kind_words(file.kind));
        return;
    }
    qv_log(QV_LOG_INFO, "%s: client options are read from %s", QV_WHO, path);
    warn_of_access(path, &file);
    qv_user_file_close(&file);
}
