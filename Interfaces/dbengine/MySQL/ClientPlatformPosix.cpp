/*
 * ClientPlatformPosix: the client on Linux. The connection is always the Unix socket
 * (localhost), so PAM's login methods, which send the password in clear text, are
 * allowed: only root, the server's own user, or whoever root named the socket for can
 * listen there. The library's plugins come from its own folder, which belongs to root.
 */
#include "Interfaces/dbengine/MySQL/ClientPlatform.h"

const char qv_login_methods[] = "mysql_native_password,caching_sha2_password,sha256_password,"
                                "client_ed25519,parsec,dialog,mysql_clear_password";

bool qv_client_plugin_dir(char *, size_t)
{
    return false;
}

const char qv_option_names_used[] = "password, socket, ssl, ssl-ca, ssl-capath, ssl-cert, "
                                    "ssl-cipher, ssl-crl, ssl-crlpath, ssl-key, "
                                    "ssl-verify-server-cert, tls-version";

const char *const qv_option_dir_endings[] = {".cnf", nullptr};

const bool qv_option_mark_skipped = false;

const char qv_option_mark_rule[] = "not used, as the mariadb client refuses it too";

const bool qv_server_may_be_galera = true;
