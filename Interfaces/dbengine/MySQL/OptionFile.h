/*
 * OptionFile: the one option file every connection reads, the administrator's own
 * ~/.my.cnf, which may give root's password and the server's socket.
 *
 * The system-wide option files are never read (their socket would override
 * MYSQL_UNIX_PORT). The file is opened without waiting and handed to the client library
 * only when it is a regular file the tool can read, through a path that opens the very
 * file that was examined; anything else (a FIFO, a device, a directory, a file that
 * cannot be read) is passed over with a WARNING, and the run goes on without it. The log
 * says when the file is read and warns when others may read it or write it, or another
 * user owns it; it never says what the file holds.
 */
#ifndef INTERFACES_DBENGINE_MYSQL_OPTIONFILE_H
#define INTERFACES_DBENGINE_MYSQL_OPTIONFILE_H

#include <cstddef>

#include "QVLib/QVuserfile.h"

/* The option file every connection reads: "$HOME/.my.cnf" (the home directory of the
 * user the tool runs as when HOME is not set). The client library reads its groups
 * [client], [client-server], [client-mariadb] and [VADedeVeZovid]. */
#define QV_DB_OPTION_FILE ".my.cnf"
#define QV_DB_OPTION_GROUP "VADedeVeZovid"

/* Forms the option file's path into path (capacity bytes). Returns false when there is
 * no home directory or the path does not fit; the file need not exist. */
bool qv_DBEngine_option_file(char *path, size_t capacity);

/* Opens the option file for one connection. Returns true when it is a regular file the
 * tool can read: file is then open, file->read_path is what the client library is to
 * read, and the caller closes it (qv_user_file_close) once the connection is made.
 * Returns false, with nothing open and nothing logged, otherwise. */
bool qv_DBEngine_open_option_file(QVUserFile *file);

/* Logs, at level INFO, that the option file is read and from where (never what it
 * holds), and a WARNING for each of: others may read it (saying that it holds a password
 * when it has a password line), others may write it, another user owns it. When it
 * exists but is not read (not a regular file, or unreadable), one WARNING says what it
 * is and why. Logs nothing when there is no option file. */
void qv_DBEngine_report_option_file(void);

/* Whether the text (length bytes, not necessarily terminated) has a line that gives a
 * password: "password", alone or followed by "=", after any blanks. */
bool qv_option_text_has_password(const char *text, size_t length);

#endif
