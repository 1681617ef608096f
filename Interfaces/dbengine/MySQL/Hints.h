/*
 * Hints: the remedy for a failure of a common cause, named in one line "hint: ..." after
 * the failure's own lines, and on standard error after the failure message.
 *
 * The engine notes the last failure of a client call on this thread: its error number,
 * the phase it came in (the login, a statement that writes, a GRANT, a CREATE USER, a
 * statement that only reads, or the refusal of a read-only server, a replica or a Galera
 * node that cannot speak for its cluster) and the
 * password policy plugins that refused it (named by the server's warnings, or known
 * from the error). The hint is chosen from one table by all three: the same number can
 * mean a wrong password at login and a missing privilege on a statement.
 */
#ifndef INTERFACES_DBENGINE_MYSQL_HINTS_H
#define INTERFACES_DBENGINE_MYSQL_HINTS_H

#include <cstddef>

/* Where a failure came; bits, so that a row of the table can name several. */
enum {
    QV_PHASE_LOGIN = 1,      /* the login (mysql_real_connect) */
    QV_PHASE_WRITE = 2,      /* a statement that changes accounts, other than a GRANT */
    QV_PHASE_GRANT = 4,      /* a GRANT */
    QV_PHASE_READ = 8,       /* a statement that only reads (qv_mysql_s_select) */
    QV_PHASE_READ_ONLY = 16, /* the server is read-only: the run wrote nothing */
    QV_PHASE_REPLICA = 32,   /* the server is a running replica: the run wrote nothing */
    QV_PHASE_CREATE = 64,    /* a CREATE USER, of a form that was not found */
    /* beside QV_PHASE_LOGIN: the login went without an option file that was not used */
    QV_PHASE_FILE_REFUSED = 128,
    /* beside QV_PHASE_LOGIN: the login gave the password of the option file */
    QV_PHASE_FILE_PASSWORD = 256,
    /* a Galera node not synced in the primary component, or rejecting queries: the run
     * wrote nothing, the check read nothing it could trust */
    QV_PHASE_NODE = 512,
    QV_PHASE_READ_ONLY_NODE = 1024, /* a read-only Galera node: the run wrote nothing */
    QV_PHASE_LOCAL_DDL = 2048       /* a Galera node set to RSU: the run wrote nothing */
};

/* The password policy plugins that refused a password; bits. */
enum {
    QV_POLICY_ANY = -1,     /* in a row: whatever refused it */
    QV_POLICY_NONE = 0,     /* no plugin named */
    QV_POLICY_REUSE = 1,    /* MariaDB's password_reuse_check, MySQL's password history */
    QV_POLICY_SIMPLE = 2,   /* MariaDB's simple_password_check */
    QV_POLICY_CRACKLIB = 4, /* MariaDB's cracklib_password_check */
    QV_POLICY_OTHER = 8     /* another plugin the server named */
};

/* One row of the hint table: the failures it answers and its remedy. */
struct QVHintRow {
    int numbers[6];   /* the error numbers it answers (0 ends the list; none: any) */
    int phases;       /* the QV_PHASE_* bits it answers */
    int policy;       /* QV_POLICY_ANY, QV_POLICY_NONE, or the plugin bits it answers */
    const char *when; /* the failures, as the manual page and README name them */
    const char *text; /* the remedy; "%s", where present, stands for the subject */
};

/* The remedies whose words differ by platform (HintTextsPosix, HintTextsWin32): no
 * server answers; the server refused root's password; the server admits root only for
 * the system's root user. */
extern const char qv_hint_no_server[];
extern const char qv_hint_password_refused[];
extern const char qv_hint_root_only[];

/* The hint table, in the order it is searched (the first row that answers a failure
 * gives its hint); *count receives its length. Static data. */
const QVHintRow *qv_hint_table(size_t *count);

/* Forms into out (capacity bytes) the remedy for a failure with error number in phase
 * (a QV_PHASE_* value, a login perhaps with QV_PHASE_FILE_*), refused by the password
 * policy plugins policies (QV_POLICY_* bits); "%s" in a remedy stands for account (what
 * the failure is about: the account being made, the option file used or not used, the
 * login method refused; null: none): the first row that answers, and, when several
 * plugins refused, the rows of the others after it. Returns out, or null when no remedy
 * is known for that failure. */
const char *qv_DBEngine_hint(int number, int phase, int policies, const char *account, char *out,
                             size_t capacity);

/* The policy bit of the password policy plugin called name (QV_POLICY_OTHER for one the
 * table does not know). */
int qv_DBEngine_policy_of(const char *name);

/* Notes the failure of a client call on this thread: its error number, its phase and
 * the password policy plugins that refused it (QV_POLICY_* bits); subject, when given, is
 * what its hint names in place of the account (the option file not used, the login
 * method refused). */
void qv_DBEngine_note_failure(int number, int phase, int policies, const char *subject = nullptr);

/* Forgets the last failure of a client call on this thread and its hint. */
void qv_DBEngine_clear_failure(void);

/* Logs, at level ERROR, "hint: " and the remedy for the last failure of a client call
 * on this thread (the error numbers that do_connect and the statements meet), while
 * making account (or null), and keeps it for qv_DBEngine_last_hint. Logs nothing when
 * no remedy is known. qv_DBEngine_add_user_with_host calls it after a failure's own
 * lines; a caller that uses the engine otherwise calls it likewise. */
void qv_DBEngine_log_hint(const char *account);

/* The hint that qv_DBEngine_log_hint last logged on this thread (for a failed account
 * creation, for example), or "" when the last call succeeded or no hint was known. The
 * text belongs to the engine and stays valid until the next call on this thread. */
const char *qv_DBEngine_last_hint(void);

#endif
