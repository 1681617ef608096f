/*
 * AccountCheck: "VADedeVeZovid --check", which tells whether the server holds the
 * suite's service accounts as a run leaves them, and changes nothing.
 *
 * It logs in as a run does (root at localhost, the option file, the time-outs) and never
 * as a service account. It sends three reading statements for the whole check: the
 * accounts' rows (method, stored credential, locking and expiry, roles, and on MySQL 8
 * the dynamic privileges), their privileges as information_schema shows them (global,
 * and any on the mysql schema, its tables or columns), and SHOW PRIVILEGES, the
 * privileges the server has. For each service account and each of its two forms (the
 * name alone, host "%", and the name at localhost) it finds whether the form exists, is
 * locked or has its password expired, whether it holds exactly the global privileges
 * that its level leaves on a new account (levels 0 and 1: all the privileges this
 * server has), with no grant on the mysql schema and no role, and whether its stored
 * credential admits the built-in password, verified on the client. REQUIRE SSL and
 * resource limits are left as a run leaves them: no difference.
 *
 * It writes no log file; its diagnostics go to standard error, its report to standard
 * output: a table and a summary, or with --json one JSON document of the same findings.
 * No password reaches either.
 */
#ifndef WINGUI_ACCOUNTCHECK_H
#define WINGUI_ACCOUNTCHECK_H

#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "WinGUI/VADedeVeZovidApp.h"

/* One way a form may authenticate: its method and stored string. */
struct QVCredential {
    std::string plugin;
    std::string authentication;
};

/* What was read and found of one form of one service account. */
struct QVFormCheck {
    const ServiceAccount *account;
    const char *host; /* "%" or "localhost" */
    /* read from the server */
    bool exists;
    bool locked;
    bool expired_explicitly;               /* PASSWORD EXPIRE */
    std::optional<long long> last_changed; /* the password's last change, Unix time */
    std::optional<long long> lifetime;     /* days; 0 never; none: the server's default */
    std::vector<QVCredential> credentials; /* any of them admits a login */
    std::string password_column;           /* the Password column of old servers */
    std::set<std::string> held;            /* global privileges, upper case */
    bool grant_option;
    std::vector<std::string> other_grants; /* on the mysql schema, and roles */
    std::vector<std::string> roles, default_roles;
    /* concluded by qv_check_conclude */
    bool expired;
    std::vector<std::string> missing, extra;
    int password; /* QV_CREDENTIAL_* */
    std::string reason;
};

/* The whole check: the six forms and what the server says of itself. */
struct QVAccountCheck {
    std::string server; /* the server's version text */
    std::vector<QVFormCheck> forms;
    std::set<std::string> server_privileges;   /* upper case, without GRANT OPTION, PROXY, USAGE */
    std::optional<long long> now;              /* the server's clock, Unix time */
    std::optional<long long> default_lifetime; /* days, 0 never */
    bool read_failed;                          /* a row could not be kept (memory exhausted) */
};

/* Fills check with the forms of every service account, none read yet. */
void qv_check_init(QVAccountCheck *check);

/* The statement that reads the forms' rows on a server of facts' kind and version
 * (qv_server_facts_from_info): mysql.global_priv on MariaDB 10.4 and later, mysql.user
 * elsewhere; with the clock and the default password lifetime where the server has one;
 * with the roles (MariaDB 10.0.5 and later, MySQL 8) and MySQL 8's dynamic privileges. */
std::string qv_check_forms_statement(const QVDBServerFacts *facts);

/* The statement that reads the forms' privileges from information_schema: global ones,
 * and those on the mysql schema (any database pattern that matches it), its tables and
 * its columns. */
std::string qv_check_privileges_statement(void);

/* The statement that reads the privileges the server has. */
#define QV_CHECK_SERVER_PRIVILEGES_STATEMENT "SHOW PRIVILEGES"

/* Read one row of each statement's result (column names and values, null for SQL NULL)
 * into check. Rows of other accounts, and columns they do not know, are ignored; they
 * never fail, except that memory exhausted marks check->read_failed. */
void qv_check_read_form_row(QVAccountCheck *check, unsigned count, const char *const names[],
                            const char *const values[]);
void qv_check_read_privilege_row(QVAccountCheck *check, unsigned count, const char *const names[],
                                 const char *const values[]);
void qv_check_read_server_privilege_row(QVAccountCheck *check, unsigned count,
                                        const char *const names[], const char *const values[]);

/* Concludes each existing form: expired, missing and extra privileges against what its
 * level leaves, the password's verdict and reason. */
void qv_check_conclude(QVAccountCheck *check);

/* Prints the concluded check to out: the table, the summary and the hints that mend
 * locked and expired forms, or (json) one JSON document of the same. Returns the exit
 * code: 0 when every form is as it should be, else 1. */
int qv_check_report(const QVAccountCheck *check, FILE *out, bool json);

/* Checks every form of every service account on the server as the administrator of
 * settings (filled as for a run) and reports to out (qv_check_report). Returns the exit
 * code: 0 as it should be, 1 when any form differs or is missing, or when the server
 * could not be asked (the engine's lines and the hint went to standard error; with
 * json, out gets a document that says so). The caller owns settings. */
int CheckServiceAccounts(QVDBSettings *settings, FILE *out, bool json);

#endif
