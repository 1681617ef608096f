/*
 * StoredForms: the one reader of what the server stores for a service account's forms,
 * used by a run (the set-once form decides from it whether to make a form and whether
 * to set its password) and by the check (which reads more columns of the same rows).
 *
 * On MariaDB 10.4 and later the forms are read from mysql.global_priv, whose JSON record
 * holds every method of a form that logs in by several (IDENTIFIED VIA a OR b: the
 * mysql.user view shows only the first); elsewhere from mysql.user. Values are taken as
 * the server means them: CHAR columns (User, Host, plugin, Password, default_role)
 * arrive blank-padded under the sql_mode PAD_CHAR_TO_FULL_LENGTH, and their trailing
 * blanks do not count.
 *
 * A stored credential is verified on the client against a password (AccountRules): a
 * form admits the password when any of its methods does.
 */
#ifndef INTERFACES_DBENGINE_MYSQL_STOREDFORMS_H
#define INTERFACES_DBENGINE_MYSQL_STOREDFORMS_H

#include <cstddef>
#include <optional>

#include "Interfaces/dbengine/MySQL/ServerFacts.h"

/* The methods of a form's chain that are kept; a longer chain is marked cut. */
#define QV_STORED_METHODS 4

/* One way a form may log in: its method (plugin) and what it stores. */
struct QVStoredMethod {
    char plugin[64]; /* "": the native method, on servers that leave it empty */
    char authentication[512];
};

/* What the server stores for one form of an account. */
struct QVStoredForm {
    bool exists;
    bool unreadable; /* its record could not be read: no method is known */
    bool cut;        /* a value, or a method of a longer chain, did not fit */
    unsigned method_count;
    QVStoredMethod methods[QV_STORED_METHODS];
    char password_column[64]; /* the Password column of old servers, "" where none */
    bool locked;
    bool expired_explicitly;               /* PASSWORD EXPIRE */
    bool requires_tls;                     /* REQUIRE SSL, X509, or a cipher, issuer or subject */
    std::optional<long long> last_changed; /* the password's last change, Unix time */
    std::optional<long long> lifetime;     /* days; 0 never; none: the server's default */
    char default_role[128];
};

/* Forms into statement (capacity bytes) the statement that reads the forms "%" and
 * "localhost" of the count accounts names, on a server of facts' kind and version:
 * "SELECT g.User, g.Host, g.Priv" from mysql.global_priv (MariaDB 10.4 and later), or
 * "SELECT g.*" from mysql.user, then ", " and columns when columns is neither null nor
 * empty (more columns of the row g, and the server's, for the check): the forms are
 * then joined to one row of their own (LEFT JOIN), so that the statement answers a row
 * with the server's columns, and g's NULL, where no form exists. Names are inserted as
 * they are: the caller's hold no quote or backslash. Returns the qv_snprintf result:
 * negative when it did not fit (it is then cut). */
int qv_stored_forms_statement(const QVDBServerFacts *facts, const char *const names[],
                              size_t count, const char *columns, char *statement,
                              size_t capacity);

/* The value of the column called name (case aside) in a row, or null when the row has no
 * such column or holds SQL NULL there. */
const char *qv_row_column(unsigned count, const char *const names[], const char *const values[],
                          const char *name);

/* A whole decimal number read from the server, or none (null, empty, or not a whole
 * number). */
std::optional<long long> qv_whole_number(const char *text);

/* Whether a text read from a CHAR column equals text, as the server compares them:
 * trailing blanks do not count. null equals nothing. */
bool qv_server_text_equal(const char *value, const char *text);

/* Whether a row of that statement is the form user@host. */
bool qv_stored_form_row_is(unsigned count, const char *const names[], const char *const values[],
                           const char *user, const char *host);

/* Reads a row of that statement into form: from its Priv record where the row has one,
 * else from mysql.user's columns (plugin, authentication_string, Password,
 * account_locked, password_expired, password_lifetime, default_role, ssl_type) and
 * qv_last_changed (the Unix time of the last change, where the caller reads it). The
 * form then exists. Never fails: what cannot be read is marked unreadable or cut. */
void qv_stored_form_read(QVStoredForm *form, unsigned count, const char *const names[],
                         const char *const values[]);

/* Whether the stored form admits password: QV_CREDENTIAL_MATCHES when any of its methods
 * does, QV_CREDENTIAL_UNKNOWN when none does and one cannot be verified (or the record
 * is unreadable or cut), else QV_CREDENTIAL_DIFFERS. A mysql_native_password method does
 * not count where that plugin is not active (native_active false: MySQL 8.4 and later).
 * Writes into reason (capacity bytes) every method that was tried and why it did not
 * admit the password ("ed25519: another password; unix_socket: takes no password"), or
 * "" when one did. */
int qv_stored_form_verify(const QVStoredForm *form, const char *password, bool native_active,
                          char *reason, size_t capacity);

/* Whether the form's first method is mysql_native_password (or the empty method of
 * servers that leave it empty). */
bool qv_stored_form_native(const QVStoredForm *form);

#endif
