/*
 * ClientPlatform: how the client connects on this platform, one file per platform
 * (ClientPlatformPosix, ClientPlatformWin32): the login methods it allows, where the
 * client library's plugins come from, the option file's rules that differ (which
 * options are used, which files a folder's !includedir reads, a byte-order mark), and
 * whether the server it reaches may be a Galera node.
 */
#ifndef INTERFACES_DBENGINE_MYSQL_CLIENTPLATFORM_H
#define INTERFACES_DBENGINE_MYSQL_CLIENTPLATFORM_H

#include <cstddef>

/* The login methods (client authentication plugins) a connection may use, comma-
 * separated, as MARIADB_OPT_RESTRICTED_AUTH takes them: those that never send the
 * password in clear text, and on Linux also PAM's (dialog, mysql_clear_password), whose
 * clear text goes through the Unix socket alone. */
extern const char qv_login_methods[];

/* Forms into dir (capacity bytes) the folder the client library is to load its plugins
 * from: on Windows the executable's own. Returns false to leave the library's own
 * (Linux: a folder of the system's). */
bool qv_client_plugin_dir(char *dir, size_t capacity);

/* The options the tool takes from the option file, ", "-separated. */
extern const char qv_option_names_used[];

/* The endings of the files that !includedir reads (".cnf"; on Windows ".ini" too),
 * null-ended. */
extern const char *const qv_option_dir_endings[];

/* Whether a UTF-8 byte-order mark at a file's start is skipped (Windows, whose editors
 * write one); elsewhere the file is not used, as the mariadb client refuses it. */
extern const bool qv_option_mark_skipped;

/* Whether the MariaDB server on this machine may have Galera's wsrep variables
 * (wsrep_sync_wait among them): MariaDB builds them on Unix only. */
extern const bool qv_server_may_be_galera;

/* What the tool does with a byte-order mark, for the table of the option file's rules. */
extern const char qv_option_mark_rule[];

#endif
