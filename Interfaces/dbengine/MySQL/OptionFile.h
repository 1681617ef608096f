/*
 * OptionFile: the one option file every connection reads, the administrator's own
 * ~/.my.cnf, which may give root's password and the server's socket.
 *
 * The system-wide option files are never read (their socket would override
 * MYSQL_UNIX_PORT). The log says when the file is read and warns when others may read
 * it, never what it holds.
 */
#ifndef INTERFACES_DBENGINE_MYSQL_OPTIONFILE_H
#define INTERFACES_DBENGINE_MYSQL_OPTIONFILE_H

#include <cstddef>

/* The option file every connection reads: "$HOME/.my.cnf" (the home directory of the
 * user the tool runs as when HOME is not set), groups [client] and [VADedeVeZovid]. */
#define QV_DB_OPTION_FILE ".my.cnf"
#define QV_DB_OPTION_GROUP "VADedeVeZovid"

/* Forms the option file's path into path (capacity bytes). Returns false when there is
 * no home directory or the path does not fit; the file need not exist. */
bool qv_DBEngine_option_file(char *path, size_t capacity);

/* Logs, at level INFO, that the option file is read and from where (never what it
 * holds), and a WARNING when group or others may read it (it holds root's password).
 * Logs nothing when the file does not exist. */
void qv_DBEngine_report_option_file(void);

#endif
