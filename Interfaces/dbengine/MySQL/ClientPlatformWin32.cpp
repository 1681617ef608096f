/*
 * ClientPlatformWin32: the client on Windows. The connection is TCP to localhost, port
 * 3306, or a named pipe, where any local user can listen while the database service is
 * stopped: no login method that sends the password in clear text is allowed, and the
 * library's plugins come from the executable's own folder alone (a plugin named by a
 * server is never looked for in the current folder). The option file may choose the
 * named pipe (protocol, pipe); editors save it with a UTF-8 byte-order mark, which is
 * skipped.
 */
#include <windows.h>

#include <cstring>

#include "Interfaces/ErrorLogger/ReportLines.h"
#include "Interfaces/dbengine/MySQL/ClientPlatform.h"

const char qv_login_methods[] =
    "mysql_native_password,caching_sha2_password,sha256_password,client_ed25519,parsec";

bool qv_client_plugin_dir(char *dir, size_t capacity)
{
    if (!qv_report_program_path(dir, capacity))
        return false;
    char *slash = strrchr(dir, '\\');
    if (slash != nullptr)
        *slash = '\0';
    return slash != nullptr;
}

const char qv_option_names_used[] = "password, socket, pipe, protocol, ssl, ssl-ca, ssl-capath, "
                                    "ssl-cert, ssl-cipher, ssl-crl, ssl-crlpath, ssl-key, "
                                    "ssl-verify-server-cert, tls-version";

const char *const qv_option_dir_endings[] = {".cnf", ".ini", nullptr};

const bool qv_option_mark_skipped = true;

const char qv_option_mark_rule[] = "skipped, and the file read";

const bool qv_server_may_be_galera = false;
