/*
 * AccountRules: what a run leaves on the server, known in one place: the five privilege
 * levels of the service accounts, as data (the privilege lists they name and, for each
 * level, its GRANT and REVOKE steps in order), what each level leaves a new account
 * holding, and whether a stored credential admits an account's password.
 *
 * A run forms its statements from these steps (StatementForms), each step sent for both
 * forms of an account (the name alone, then the name at localhost); what a level leaves
 * an account holding follows from the same steps, and the check reads it from here. All
 * on *.*: nothing below the global level is touched.
 *
 * Credentials (implemented in Credentials.cpp) are verified on the client, without
 * logging in. Each password method stores something the client can compute again from
 * the password and what is stored: mysql_native_password "*" and the upper-case hex of
 * SHA1(SHA1(password)); caching_sha2_password and sha256_password (MySQL 8) the
 * SHA-256-crypt digest of the password with the stored salt and rounds, in the layout
 * "$A$" + rounds/1000 in three hex digits + "$" + a 20-byte salt + 43 characters (and
 * sha256_password also "$5$" + salt + "$" + 43 characters); MariaDB's ed25519 the
 * unpadded base64 of the Ed25519 public key whose secret scalar is the clamped first
 * half of SHA-512(password). A method that takes no password (unix_socket, gssapi,
 * pam, ...) never admits one.
 */
#ifndef INTERFACES_DBENGINE_MYSQL_ACCOUNTRULES_H
#define INTERFACES_DBENGINE_MYSQL_ACCOUNTRULES_H

#include <cstddef>

enum {
    QV_PRIV_ALL_GRANT = 0,   /* ALL ON *.* and the grant option */
    QV_PRIV_ALL = 1,         /* ALL ON *.*, no grant option */
    QV_PRIV_DATA = 2,        /* the nine data privileges */
    QV_PRIV_DATA_RELOAD = 3, /* the nine data privileges and RELOAD */
    QV_PRIV_USAGE = 4        /* log in, nothing more */
};

/* A service account: its name, its password and its level. */
struct ServiceAccount {
    const char *name; /* account name on the server, case significant; null ends a table */
    const char *password;
    int level; /* QV_PRIV_* */
};

enum { QV_STEP_GRANT = 0, QV_STEP_REVOKE = 1 };

/* One step of a level: a GRANT or a REVOKE of privileges on *.*. */
struct QVLevelStep {
    int verb;               /* QV_STEP_GRANT or QV_STEP_REVOKE */
    const char *privileges; /* "ALL", "GRANT OPTION", "RELOAD", or one of the lists above */
    bool grant_option;      /* a GRANT ... WITH GRANT OPTION */
};

/* The steps of one level, in the order they are sent. */
struct QVLevelSteps {
    const QVLevelStep *steps;
    size_t count;
};

/* The steps of level priv (QV_PRIV_*); none (count 0) for any other value. The data is
 * static and never changes. */
QVLevelSteps qv_level_steps(int priv);

/* ---- what a run leaves -------------------------------------------------------------- */

/* Whether level priv leaves a new account holding the global privilege named privilege
 * (case aside, as the server names it: "SELECT", "SET USER"), following the level's
 * steps in order: a GRANT of ALL, or of a list that names it, gives it; a REVOKE that
 * names it takes it away. ALL stands for every privilege the server has, so levels 0
 * and 1 hold whatever the server names, a newer server's privileges included. USAGE and
 * GRANT OPTION are no privileges here. */
bool qv_level_holds(int priv, const char *privilege);

/* Whether level priv leaves a new account with the grant option. */
bool qv_level_grant_option(int priv);

/* Whether a run at level priv takes privilege (as the server names it, or "GRANT
 * OPTION") away from an account that held it: a REVOKE step names it. */
bool qv_level_takes_away(int priv, const char *privilege);

/* Calls visit(context, name) for each global privilege that level priv leaves a new
 * account holding on a server whose privileges are the count names of server (ALL
 * stands for these), and for each that a step names in its list; a name may come more
 * than once. name is valid only during the call. */
void qv_level_leaves(int priv, const char *const server[], size_t count,
                     void (*visit)(void *context, const char *name), void *context);

/* ---- credentials -------------------------------------------------------------------- */

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
 * null with 0 when unwanted) why the method does not admit the password ("another
 * password", "no password is set", "takes no password", "cannot be verified by this
 * tool", ...), "" when it does. A missing password is logged and answers unknown. */
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
