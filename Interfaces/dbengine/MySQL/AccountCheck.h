/*
 * AccountCheck: what "--check" reads of the server and concludes, reading only: whether
 * the server holds the service accounts as a run leaves them. The application presents
 * the findings (WinGUI/CheckReport); this module never presents anything.
 *
 * It logs in as a run does (the administrator, the option file, the time-outs) and never
 * as a service account, and sends at most four reading statements on that one
 * connection: the forms' rows (the stored forms' reader, StoredForms, with more columns:
 * the server's clock and default password lifetime, whether it has TLS, roles, proxy
 * grants, MySQL 8's dynamic privileges, and MariaDB's Galera node facts), their
 * privileges as information_schema shows them (global, and any on the mysql schema, its
 * tables or columns, theirs and PUBLIC's), SHOW PRIVILEGES (the privileges the server
 * has), and on MariaDB 10.11 and later SHOW GRANTS FOR PUBLIC (PUBLIC's global
 * privileges, which every account holds).
 *
 * On a Galera node a read must see what the cluster holds, not what the node has
 * applied so far: where the server may have Galera (MariaDB 10.1.2 and later, on Unix)
 * each statement waits for that (SET STATEMENT wsrep_sync_wait = 1 FOR ..., a no-op
 * elsewhere); a server built without Galera, which refuses the variable, is read again
 * without it. A node that is not synced in the primary component is not read further:
 * what it holds may not be what the cluster holds.
 *
 * For each service account and each of its two forms (the name alone, host "%", and the
 * name at localhost) it concludes whether the form exists, is locked, has its password
 * expired, or requires TLS of a server that has none; whether it holds exactly the
 * global privileges its level leaves on a new account (levels 0 and 1: all the
 * privileges this server has), with no grant on the mysql schema, no role, no proxy
 * grant and nothing more through PUBLIC; whether one of its methods admits the
 * built-in password, verified on the client; and for each difference its remedy.
 * Rows from the server are untrusted: anything they hold is shown as text, never obeyed,
 * and no exception leaves this module.
 */
#ifndef INTERFACES_DBENGINE_MYSQL_ACCOUNTCHECK_H
#define INTERFACES_DBENGINE_MYSQL_ACCOUNTCHECK_H

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Interfaces/dbengine/MySQL/MyDBEngine.h"

/* A remedy of a difference: a statement to send, or a run of the tool, and what the user
 * should know of it. */
struct QVRemedy {
    std::string remedy;
    const char *note; /* static text */
};

/* The remedy that is a run of the tool. */
#define QV_CHECK_RUN_REMEDY "run VADedeVeZovid"

/* What was read and concluded of one form of one service account. */
struct QVFormCheck {
    const ServiceAccount *account;
    const char *host; /* "%" or "localhost" */
    /* read from the server */
    QVStoredForm stored;
    std::set<std::string> held; /* global privileges, upper case */
    bool grant_option;
    std::vector<std::string> schema_grants; /* on the mysql schema: "SELECT ON mysql.*" */
    std::vector<std::string> roles, default_roles;
    std::vector<std::string> proxies; /* the accounts it may proxy: "'root'@'localhost'" */
    /* concluded by qv_check_conclude */
    bool expired;
    bool tls_unavailable; /* it requires TLS, and the server has none */
    std::vector<std::string> missing, extra;
    int password; /* QV_CREDENTIAL_* */
    std::string reason;
    std::vector<QVRemedy> remedies;
};

/* The whole check: the forms and what the server says of itself. */
struct QVAccountCheck {
    const ServiceAccount *accounts; /* the table the forms come from */
    QVDBServerFacts facts;          /* the server's kind and version, from its login */
    std::string server;             /* its version text */
    std::vector<QVFormCheck> forms;
    std::set<std::string> server_privileges; /* upper case, without GRANT OPTION, PROXY, USAGE */
    std::set<std::string> public_privileges; /* global ones granted to PUBLIC */
    std::vector<std::string> public_grants;  /* PUBLIC's on the mysql schema */
    std::optional<long long> now;            /* the server's clock, Unix time */
    std::optional<long long> default_lifetime; /* days, 0 never */
    std::optional<bool> has_tls;               /* none: the server did not say */
    bool synced;      /* each read waits until the node has applied what its cluster holds */
    bool read_failed; /* a row could not be kept (memory exhausted) */
};

/* Fills check with both forms of every account of accounts (ended by a null name) on a
 * server whose version text is server (null: unknown), none read yet. */
void qv_check_init(QVAccountCheck *check, const ServiceAccount *accounts, const char *server);

/* The statements the check sends for check's server, in order (three, or four with
 * SHOW GRANTS FOR PUBLIC on MariaDB 10.11 and later), each with the reader of its rows;
 * each waits for the cluster where check->synced is set. */
struct QVCheckStatement {
    std::string text;
    void (*read)(QVAccountCheck *check, unsigned count, const char *const names[],
                 const char *const values[]);
};
std::vector<QVCheckStatement> qv_check_statements(const QVAccountCheck *check);

/* Read one row of each statement's result (column names and values, null for SQL NULL)
 * into check. Rows of other accounts, and columns they do not know, are ignored; they
 * never fail, except that memory exhausted marks check->read_failed. */
void qv_check_read_form_row(QVAccountCheck *check, unsigned count, const char *const names[],
                            const char *const values[]);
void qv_check_read_privilege_row(QVAccountCheck *check, unsigned count, const char *const names[],
                                 const char *const values[]);
void qv_check_read_server_privilege_row(QVAccountCheck *check, unsigned count,
                                        const char *const names[], const char *const values[]);
void qv_check_read_public_row(QVAccountCheck *check, unsigned count, const char *const names[],
                              const char *const values[]);

/* Logs in with settings (the caller's), initialises check with accounts and reads the
 * server into it with qv_check_statements. Returns 0, QV_DB_CLUSTER_NODE for a Galera
 * node outside the primary component or not ready, or the status of the step that
 * failed (logged, with the hint's failure noted: qv_DBEngine_log_hint names it). */
unsigned qv_check_read(const QVDBSettings *settings, const ServiceAccount *accounts,
                       QVAccountCheck *check);

/* Concludes each existing form (CheckVerdicts): expiry, TLS, missing and extra
 * privileges against what its level leaves, the password's verdict and reason, and the
 * remedies of its differences. */
void qv_check_conclude(QVAccountCheck *check);

/* Whether a concluded form is as a run leaves it: it exists, is neither locked nor
 * expired, requires no TLS the server lacks, holds exactly its level's privileges and
 * its password does not differ (unknown alone does not fail it). */
bool qv_check_form_ok(const QVFormCheck *form);

/* text in upper case, as the check keeps privilege names. */
std::string qv_check_upper(const char *text);

/* "'name'@'host'": a form as statements and information_schema name it. */
std::string qv_check_account_name(const char *name, const char *host);

/* The check's exit statuses, a monitoring plugin's: every form as it should be, some
 * form differs or is missing, and the server could not be asked. */
enum { QV_CHECK_OK = 0, QV_CHECK_DIFFERS = 1, QV_CHECK_UNKNOWN = 3 };

#endif
