/*
 * MyDBEngine: the program's only link to the MySQL/MariaDB server.
 *
 * It keeps connection settings, opens one client connection per engine, sends
 * statements one at a time under the engine's re-entrant lock, maps the client
 * library's error numbers to status codes, and creates (or updates) one account at one
 * of five privilege levels with a fixed sequence of GRANT and REVOKE statements that
 * always covers both forms of the account: the name alone (any host) and the name at
 * localhost. MySQL 8.0 and later no longer create accounts or set passwords through
 * GRANT, and a password reuse policy (MariaDB's password_reuse_check) refuses a password
 * set twice: there accounts are made in the set-once form (StatementForms). Every other
 * server gets the GRANT ... IDENTIFIED BY form, unchanged. A read-only server, a
 * running replica and a Galera node that cannot speak for its cluster are refused
 * before anything is written.
 *
 * Every connection takes what the administrator's own ~/.my.cnf gives (root's password,
 * the socket, TLS; OptionFile reads it, the client library is handed values only),
 * allows only the login methods that keep the password safe (ClientPlatform), and
 * bounds every wait on the server: connect 30 s, each read and write 120 s.
 *
 * Status codes: 0 success, 1 bad argument (or a finished lock), 2 out of memory,
 * 26 no connection handle, 27 login refused (error 1045), 28 other server error
 * (1000-1999), 29 client library error (2000-2999), 30 any other error number (or an
 * answer that cannot be read), 31 a read-only server, 32 a replica whose replication
 * runs, 33 a Galera node that cannot speak for its cluster.
 * No password ever reaches a log line. A failed account creation ends with one line
 * "hint: ..." that names the remedy, when the cause is a common one.
 */
#ifndef INTERFACES_DBENGINE_MYSQL_MYDBENGINE_H
#define INTERFACES_DBENGINE_MYSQL_MYDBENGINE_H

#include <cstddef>
#include <cstdint>

/* The engine's parts that its callers use too: the levels, the hints, the option file,
 * what the server is and the statement forms. */
#include "Interfaces/dbengine/MySQL/AccountRules.h"
#include "Interfaces/dbengine/MySQL/Hints.h"
#include "Interfaces/dbengine/MySQL/OptionFile.h"
#include "Interfaces/dbengine/MySQL/ServerFacts.h"
#include "Interfaces/dbengine/MySQL/StatementForms.h"
#include "QVLib/QVmutex.h"
#include "QVLib/QVstring.h"

typedef struct st_mysql MYSQL;

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

/* Time-outs of every connection, in seconds: a server that accepts the connection and
 * never answers, or a statement stuck behind another session's lock, ends in a client
 * error (2013) instead of a wait without end. */
#define QV_DB_CONNECT_TIMEOUT 30
#define QV_DB_READ_TIMEOUT 120
#define QV_DB_WRITE_TIMEOUT 120

/* Reads the rows of a statement's result: row is called once per row, with the column
 * names and the values (null for SQL NULL), which stay valid only during the call. */
struct QVDBRowReader {
    void *context; /* handed back to row, unchanged */
    void (*row)(void *context, unsigned count, const char *const names[],
                const char *const values[]);
};

/* The most columns a result read through qv_mysql_s_select may have. */
#define QV_DB_MAX_COLUMNS 128

/* Sends one reading statement on a ready engine under its lock and hands every row of
 * its result to reader. Returns as qv_mysql_s_query; a failure is logged in the same
 * way (a result of more than QV_DB_MAX_COLUMNS columns is refused with status 30). */
unsigned qv_mysql_s_select(QVDBEngine *engine, const char *statement, const QVDBRowReader *reader);

/* For the engine's own modules (the account making, the check): sends statement on a
 * ready engine under its lock and, with a reader, hands it every row of the result. A
 * failure is logged with the engine's password and secret (a new account's password, or
 * null) masked, and noted for its hint by phase (a reading statement, a GRANT, a CREATE
 * USER, another writing statement) and by the password policy plugins that refused it:
 * after a 1396 or 1819 one SHOW WARNINGS on the same connection reads (and logs) the
 * server's warnings, which name them; without such warnings, a 1396 under an active
 * reuse policy (reuse_policy) is that policy's. Returns as qv_mysql_s_query. */
unsigned qv_DBEngine_send(QVDBEngine *engine, const char *statement, const char *secret,
                          const QVDBRowReader *reader = nullptr, bool reuse_policy = false);

/* For the engine's own modules: opens engine's connection (Connection) with the texts,
 * port and flags of its settings (absent or empty texts as null) and the options of
 * the option files. Returns 0 with engine->connection set, 26 when no handle could be
 * made, or the mapped status of the failed login (logged, and noted for its hint). */
unsigned qv_DBEngine_connect(QVDBEngine *engine);

/* The status of a failed client call with error number (a number of 0 gives 30). */
unsigned qv_DBEngine_failure_status(int number);

/* Maps a client library error number: 0 -> 0, 1045 -> 27, 1000..1999 -> 28,
 * 2000..2999 -> 29, anything else -> 30. */
unsigned qv_mysql_errno_to_status(int number);

/* The engine's statuses for a server refused before anything was written: read-only,
 * a replica whose replication runs, and a Galera node that cannot speak for its cluster
 * (not synced in the primary component, rejecting queries, or set to make the accounts
 * on itself alone: wsrep_OSU_method RSU). */
#define QV_DB_READ_ONLY 31
#define QV_DB_REPLICA 32
#define QV_DB_CLUSTER_NODE 33

/* Logs in to the server at host as user (null: "root" with no password, or the password
 * of the option file) and creates or updates the account newusername, with
 * newuserpassword, at level priv, in both of its forms. Connection and statements are
 * this call's own; statements sent before a failure stay in effect. First, one reading
 * statement detects what the server is (ServerFacts): a replica whose replication runs,
 * a read-only server and a Galera node that cannot speak for its cluster are refused
 * before anything is written (QV_DB_REPLICA, QV_DB_READ_ONLY, QV_DB_CLUSTER_NODE). Logs
 * one INFO line naming the account, the server (a Galera node: which, of how many, and
 * its state) and the form used. Returns 0, 1 for a bad argument (including an empty or
 * unsafe name or password, or a statement that would not fit its buffer), 31 to 33 for
 * a refused server, or the
 * status of the failed step; a failure's lines end with its hint, if one is known
 * (qv_DBEngine_last_hint). */
unsigned qv_DBEngine_add_user_with_host(const char *host, const char *user, const char *password,
                                        uint32_t port, const char *unix_socket,
                                        const char *newusername, const char *newuserpassword,
                                        int priv);

/* As qv_DBEngine_add_user_with_host, with a record of what the server is that the caller
 * owns: when facts->detected is false, the detection statement fills it; when true, no
 * detection is sent and the record is used as it is. A run that makes several accounts
 * on one server thus detects once. Null: the call detects for itself. */
unsigned qv_DBEngine_add_user_with_facts(const char *host, const char *user, const char *password,
                                         uint32_t port, const char *unix_socket,
                                         const char *newusername, const char *newuserpassword,
                                         int priv, QVDBServerFacts *facts);

/* Test seams: time-outs shorter than the defaults above (0 restores a default), and the
 * form forced for every server, so that the MySQL 8 statements can be run against
 * MariaDB. They apply to the connections and account creations that follow. */
void qv_DBEngine_set_timeouts(unsigned connect_seconds, unsigned read_seconds,
                              unsigned write_seconds);
void qv_DBEngine_force_form(int form);

#endif
