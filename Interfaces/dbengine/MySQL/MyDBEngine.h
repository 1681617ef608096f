/*
 * MyDBEngine: the program's only link to the MySQL/MariaDB server.
 *
 * It keeps connection settings, opens one client connection per engine, sends
 * statements one at a time under the engine's re-entrant lock, maps the client
 * library's error numbers to status codes, and creates (or updates) one account at one
 * of five privilege levels with a fixed sequence of GRANT and REVOKE statements that
 * always covers both forms of the account: the name alone (any host) and the name at
 * localhost.
 *
 * Status codes: 0 success, 1 bad argument (or a finished lock), 2 out of memory,
 * 26 no connection handle, 27 login refused (error 1045), 28 other server error
 * (1000-1999), 29 client library error (2000-2999), 30 any other error number.
 * No password ever reaches a log line.
 */
#ifndef INTERFACES_DBENGINE_MYSQL_MYDBENGINE_H
#define INTERFACES_DBENGINE_MYSQL_MYDBENGINE_H

#include <cstddef>
#include <cstdint>

#include "QVLib/Posix/MutexPosix.h"
#include "QVLib/QVstring.h"

typedef struct st_mysql MYSQL;

enum {
    QV_PRIV_ALL_GRANT = 0,   /* ALL ON *.* and the grant option */
    QV_PRIV_ALL = 1,         /* ALL ON *.*, no grant option */
    QV_PRIV_DATA = 2,        /* the nine data privileges */
    QV_PRIV_DATA_RELOAD = 3, /* the nine data privileges and RELOAD */
    QV_PRIV_USAGE = 4        /* log in, nothing more */
};

/* Connection settings. An absent or empty text means "not given": it reaches the
 * client library as null, which then applies its own default. */
struct QVDBSettings {
    QVstring host;
    QVstring user;
    QVstring password;
    QVstring spare; /* travels with the record; nothing reads it */
    QVstring unix_socket;
    uint32_t client_flags;
    uint32_t port;
};

struct QVDBEngine {
    MYSQL *connection;     /* open connection, or null */
    QVDBSettings settings; /* the engine's own copy */
    QVmutex query_lock;    /* exists exactly when the engine is fully created */
};

/* Fills settings: host "localhost", the other texts empty, client_flags 0, port 3306.
 * Returns 0, or the failing text's status after which later fields are left as they
 * were. The record's texts are then owned by it (qv_DBEngine_settings_free). */
unsigned qv_DBEngine_settings_init(QVDBSettings *settings);

/* Copies source into destination (the texts with qv_string_init, so an empty text may
 * arrive absent). Returns 0 or the failing text's status. */
unsigned qv_DBEngine_settings_copy(const QVDBSettings *source, QVDBSettings *destination);

/* Releases the texts of settings and marks them absent; null is ignored. */
void qv_DBEngine_settings_free(QVDBSettings *settings);

/* Creates an engine with its own copy of settings and connects it to the database
 * "mysql". Returns 0 with *ppDBEngine holding the engine (released with
 * qv_DBEngine_finish), or a failure status with *ppDBEngine null. */
unsigned qv_DBEngine_init(QVDBEngine **ppDBEngine, const QVDBSettings *settings);

/* Closes the connection, finishes the lock, releases the engine and sets *ppDBEngine
 * to null. A null address or a null engine is ignored. */
void qv_DBEngine_finish(QVDBEngine **ppDBEngine);

/* Sends one statement on a ready engine under its lock; no result set is read.
 * Returns 0, 1 when the lock is gone (nothing sent), or the mapped error status. */
unsigned qv_mysql_s_query(QVDBEngine *engine, const char *statement);

/* Maps a client library error number: 0 -> 0, 1045 -> 27, 1000..1999 -> 28,
 * 2000..2999 -> 29, anything else -> 30. */
unsigned qv_mysql_errno_to_status(int number);

/* Copies text into out (capacity bytes, capacity > 0), replacing the literal after every
 * "IDENTIFIED BY '" (up to the next quote or the end) and every occurrence of the
 * non-empty secrets (null entries are skipped) by "***". The copy is cut to fit; a cut
 * never uncovers a secret, because secrets are replaced where they stand in the source.
 * Every line this module logs that may hold a password goes through it. */
void qv_mask_passwords(const char *text, const char *const secrets[], size_t secret_count,
                       char *out, size_t capacity);

/* Logs in to the server at host as user (null: "root" with no password) and creates or
 * updates the account newusername, with newuserpassword, at level priv, in both of its
 * forms. Connection and statements are this call's own; statements sent before a
 * failure stay in effect. Returns 0, 1 for a bad argument (including an empty or unsafe
 * name or password, or a statement that would not fit its buffer), or the status of the
 * failed step. */
unsigned qv_DBEngine_add_user_with_host(const char *host, const char *user, const char *password,
                                        uint32_t port, const char *unix_socket,
                                        const char *newusername, const char *newuserpassword,
                                        int priv);

#endif
