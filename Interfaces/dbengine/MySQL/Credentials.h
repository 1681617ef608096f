/*
 * Credentials: whether a stored credential (an account's authentication method and
 * string, as mysql.user shows them) admits a given password, computed on the client,
 * without logging in.
 *
 * Each password method stores something the client can compute again from the password
 * and what is stored: mysql_native_password "*" and the upper-case hex of
 * SHA1(SHA1(password)); caching_sha2_password and sha256_password (MySQL 8) the
 * SHA-256-crypt digest of the password with the stored salt and rounds, in the layout
 * "$A$" + rounds/1000 in three hex digits + "$" + a 20-byte salt + 43 characters (and
 * sha256_password also "$5$" + salt + "$" + 43 characters); MariaDB's ed25519 the
 * unpadded base64 of the Ed25519 public key whose secret scalar is the clamped first
 * half of SHA-512(password). A method that takes no password (unix_socket, gssapi,
 * pam, ...) never admits one.
 */
#ifndef INTERFACES_DBENGINE_MYSQL_CREDENTIALS_H
#define INTERFACES_DBENGINE_MYSQL_CREDENTIALS_H

#include <cstddef>

/* What a stored credential says of a password. */
enum {
    QV_CREDENTIAL_MATCHES = 0, /* the password logs in */
    QV_CREDENTIAL_DIFFERS = 1, /* it does not (another password, none, or a method without) */
    QV_CREDENTIAL_UNKNOWN = 2  /* this tool cannot tell (a method or layout it cannot compute) */
};

/* Verifies password against a stored credential: plugin (the authentication method;
 * null or empty means the native one, of servers that leave it empty),
 * authentication_string, and password_column (the Password column, where MariaDB up to
 * 10.3 and MySQL up to 5.6 keep the native hash; null when the server has none), each
 * null taken as empty. Returns QV_CREDENTIAL_*, and writes into reason (capacity bytes;
 * null with 0 when unwanted) why it is unknown or, for a difference that the verdict
 * alone does not explain (no password set, a method without a password), why it
 * differs; "" otherwise. A missing password is logged and answers unknown. */
int qv_credential_verify(const char *plugin, const char *authentication_string,
                         const char *password_column, const char *password, char *reason,
                         size_t capacity);

/* The room the hashes below need, terminator included. */
#define QV_CREDENTIAL_HASH_SIZE 64

/* The stored string of password for mysql_native_password ("*" and 40 upper-case hex
 * digits; "" for an empty password), into out (at least 42 bytes). Returns 0, 1 for a
 * missing argument or too small an out, or the digest's status. */
unsigned qv_credential_native_hash(const char *password, char *out, size_t capacity);

/* The stored string of password for MariaDB's ed25519 (43 characters of base64, no
 * padding), into out (at least 44 bytes). Returns 0, 1 for a missing argument, too
 * small an out or a platform without Ed25519, or the digest's status. */
unsigned qv_credential_ed25519_hash(const char *password, char *out, size_t capacity);

/* The longest password and salt that SHA-256-crypt takes here: MySQL's own limits. */
#define QV_SHA256_CRYPT_MAX_PASSWORD 256
#define QV_SHA256_CRYPT_MAX_SALT 32

/* The 43-character digest of SHA-256-crypt (the algorithm of glibc's "$5$" crypt) of
 * password with the salt_length bytes of salt (taken whole: glibc cuts a salt to 16
 * bytes, MySQL uses 20) and rounds rounds (1000 to 999999999), into out (at least 44
 * bytes). Returns 0, 1 for a missing or too long argument, rounds out of range or too
 * small an out, or the digest's status. */
unsigned qv_credential_sha256_crypt(const char *password, const char *salt, size_t salt_length,
                                    unsigned long rounds, char *out, size_t capacity);

#endif
