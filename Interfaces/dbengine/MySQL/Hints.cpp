/*
 * Hints: the table of remedies and the last failure of a client call on this thread.
 *
 * Invariants: one table holds every hint (the manual page and README show the same
 * rows); the three remedies that name how the server is reached and where the option
 * file lies take the platform's words (HintTextsPosix, HintTextsWin32); the last failure
 * and its hint are kept per thread, in plain storage (no destructor), so that a failure
 * on one thread never picks another's hint.
 */
#include "Interfaces/dbengine/MySQL/Hints.h"

#include <algorithm>
#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"

/* Room for a hint. */
#define QV_HINT_SIZE 1024

/* Phases of statements sent by a run: everything but the login. */
#define QV_RUN_STATEMENT (QV_PHASE_WRITE | QV_PHASE_GRANT | QV_PHASE_CREATE)
#define QV_ANY_PHASE (QV_PHASE_LOGIN | QV_RUN_STATEMENT | QV_PHASE_READ)

/* A Galera node that cannot speak for its cluster, refused by the tool or answering 1047
 * (to any statement but a few reading ones). */
static const char g_hint_node[] =
    "the server is a Galera node that cannot speak for the cluster: it is not synced in the "
    "primary component, or it rejects queries; run the tool, or its check, on a synced node of "
    "the primary component (wsrep_local_state_comment Synced, wsrep_cluster_status Primary): "
    "the cluster brings the accounts to this node when it is back";

static const QVHintRow g_hints[] = {
    {{2002, 2003},
     QV_ANY_PHASE,
     -1,
     "2002, 2003",
     qv_hint_no_server},
    {{1045},
     QV_PHASE_FILE_REFUSED,
     -1,
     "1045 at login, with an option file not used",
     "the server refused root's password, and %s; mend that file as the WARNING above says, "
     "then run again"},
    {{1045},
     QV_PHASE_FILE_PASSWORD,
     -1,
     "1045 at login, with the option file's password",
     "the server refused the password that %s gives, as the mariadb client reads it (a # "
     "outside quotes begins a comment); try the file with that client, mend it, then run "
     "again"},
    {{1045},
     QV_PHASE_LOGIN,
     -1,
     "1045 at login",
     qv_hint_password_refused},
    {{5010},
     QV_PHASE_LOGIN,
     -1,
     "5010 at login",
     "the server asked root to log in with %s, a method the tool does not allow (it could "
     "send the password in clear text or load a library of the server's choosing); give root "
     "a password with mysql_native_password or ed25519, or make sure the server answering is "
     "the real one"},
    {{1698},
     QV_PHASE_LOGIN,
     -1,
     "1698 at login",
     qv_hint_root_only},
    {{0},
     QV_PHASE_READ_ONLY,
     -1,
     "a read-only server",
     "the server is read-only (read_only is on), probably a replica; run the tool against the "
     "primary, whose changes replicate, or turn read_only off on a server meant to take "
     "writes"},
    {{0},
     QV_PHASE_REPLICA,
     -1,
     "a running replica",
     "the server is a replica whose replication runs; run the tool on the primary: "
     "replication brings the accounts here"},
    {{0},
     QV_PHASE_READ_ONLY_NODE,
     -1,
     "a read-only Galera node",
     "the server is a Galera node with read_only on; every node of a cluster takes writes: run "
     "the tool on another synced node of the primary component, whose writes reach every "
     "node, or turn read_only off on this one"},
    {{0},
     QV_PHASE_NODE,
     -1,
     "a Galera node outside the primary component, not ready or rejecting queries",
     g_hint_node},
    {{1047},
     QV_ANY_PHASE,
     -1,
     "1047",
     g_hint_node},
    {{0},
     QV_PHASE_LOCAL_DDL,
     -1,
     "a Galera node set to RSU or with wsrep_on off",
     "the session's wsrep_OSU_method is RSU, or its wsrep_on is off, under which the accounts "
     "would be made on this node alone; set them back (SET GLOBAL wsrep_OSU_method = 'TOI'; "
     "SET GLOBAL wsrep_on = ON; and in the server's configuration), then run again"},
    {{1819},
     QV_PHASE_CREATE,
     QV_POLICY_REUSE,
     "1819 from password_reuse_check on CREATE USER",
     "the server's password reuse policy (password_reuse_check) still holds the built-in "
     "password of %s from a form that was dropped; clear that form's entries from "
     "mysql.password_reuse_check_history, or wait until password_reuse_check_interval days "
     "have passed where it is not 0, then run again"},
    {{1819, 1396, 3638},
     QV_RUN_STATEMENT,
     QV_POLICY_REUSE,
     "1819, 1396 or 3638 from a reuse policy",
     "the server's password reuse policy (MariaDB's password_reuse_check, MySQL's "
     "password_history) refused to set the built-in password of %s again; relax it while "
     "the suite is installed (accounts made before stay), then run again"},
    {{1819},
     QV_RUN_STATEMENT,
     QV_POLICY_SIMPLE,
     "1819 from simple_password_check",
     "the server's simple_password_check refused the built-in password of %s; relax it while "
     "the suite is installed (SET GLOBAL simple_password_check_letters_same_case = 0, and "
     "likewise simple_password_check_digits and simple_password_check_other_characters; "
     "accounts made before stay), then run again"},
    {{1819},
     QV_RUN_STATEMENT,
     QV_POLICY_CRACKLIB,
     "1819 from cracklib_password_check",
     "the server's cracklib_password_check refused the built-in password of %s; uninstall it "
     "while the suite is installed (UNINSTALL SONAME 'cracklib_password_check'; accounts made "
     "before stay), run again, then install it again"},
    {{1819},
     QV_RUN_STATEMENT,
     QV_POLICY_ANY,
     "1819",
     "the server's password policy refused the built-in password of %s; relax the policy "
     "while the suite is installed (accounts made before stay), then run again"},
    {{1290},
     QV_ANY_PHASE,
     -1,
     "1290",
     "the server runs with --skip-grant-tables or read-only and cannot create accounts; "
     "restart it normally"},
    {{1044, 1142, 1227, 1410, 1045, 1698},
     QV_PHASE_LOGIN | QV_RUN_STATEMENT,
     -1,
     "1044, 1142, 1227, 1410; 1045, 1698 on a statement",
     "root lacks the privileges to grant these; it needs ALL PRIVILEGES WITH GRANT OPTION"},
    {{1044, 1142, 1227, 1410, 1045, 1698},
     QV_PHASE_READ,
     -1,
     "1044, 1142, 1227, 1410, 1045, 1698 on a reading statement",
     "root lacks the privileges to read the grant tables; it needs SELECT on the mysql "
     "database (a run needs ALL PRIVILEGES WITH GRANT OPTION)"},
    {{1205},
     QV_PHASE_READ,
     -1,
     "1205 on a reading statement",
     "the server did not answer in time: on a Galera node, the node did not catch up with its "
     "cluster within repl.causal_read_timeout (a backup's FLUSH TABLES WITH READ LOCK there, or "
     "a node far behind); check again later, or check another synced node"},
    {{2006, 2013},
     QV_ANY_PHASE,
     -1,
     "2006, 2013",
     "the server stopped answering (a lock held by another session, such as a backup's FLUSH "
     "TABLES WITH READ LOCK, or a restart); run again when it answers"},
    {{1064},
     QV_PHASE_GRANT,
     -1,
     "1064 on a GRANT",
     "the server does not accept this statement form; see the supported servers in "
     "VADedeVeZovid(8)"},
};

/* The password policy plugins by name. */
static const struct {
    const char *name;
    int policy;
} g_policies[] = {
    {"password_reuse_check", QV_POLICY_REUSE},
    {"simple_password_check", QV_POLICY_SIMPLE},
    {"cracklib_password_check", QV_POLICY_CRACKLIB},
};

/* The last failure of a client call on this thread: its error number, its phase (0:
 * none) and the policy plugins that refused it. */
struct LastFailure {
    int number;
    int phase;
    int policies;
};
static thread_local LastFailure t_failure;
static thread_local char t_hint[QV_HINT_SIZE];
static thread_local char t_subject[QV_HINT_SIZE]; /* named in place of the account, if set */

const QVHintRow *qv_hint_table(size_t *count)
{
    *count = sizeof g_hints / sizeof g_hints[0];
    return g_hints;
}

int qv_DBEngine_policy_of(const char *name)
{
    for (const auto &known : g_policies)
        if (strcmp(known.name, name) == 0)
            return known.policy;
    return QV_POLICY_OTHER;
}

static bool row_answers(const QVHintRow &row, int number, int phase, int policies)
{
    if ((row.phases & phase) == 0)
        return false;
    if (row.policy != QV_POLICY_ANY &&
        (row.policy == QV_POLICY_NONE ? policies != 0 : (row.policy & policies) == 0))
        return false;
    if (row.numbers[0] == 0)
        return true; /* a row for a phase, whatever the number */
    for (size_t i = 0; i < sizeof row.numbers / sizeof row.numbers[0] && row.numbers[i] != 0; i++)
        if (row.numbers[i] == number)
            return true;
    return false;
}

/* Appends row's remedy to out at *used, after "; also, " when something is there. */
static void append_remedy(const QVHintRow &row, const char *account, char *out, size_t capacity,
                          size_t *used)
{
    if (*used > 0)
        *used += static_cast<size_t>(
            std::max(0, qv_snprintf(out + *used, capacity - *used, "%s", "; also, ")));
    char remedy[QV_HINT_SIZE];
    /* Only the texts that name the account have a conversion. */
    if (strstr(row.text, "%s") != nullptr)
        qv_snprintf(remedy, sizeof remedy, row.text, account ? account : "an account");
    else
        qv_snprintf(remedy, sizeof remedy, "%s", row.text);
    int n = qv_snprintf(out + *used, capacity - *used, "%s", remedy);
    *used = n < 0 ? capacity - 1 : *used + static_cast<size_t>(n);
}

const char *qv_DBEngine_hint(int number, int phase, int policies, const char *account, char *out,
                             size_t capacity)
{
    size_t used = 0;
    int named = 0; /* the plugins whose remedy is given */
    out[0] = '\0';
    for (const QVHintRow &row : g_hints) {
        if (!row_answers(row, number, phase, policies))
            continue;
        /* After the first remedy, only those of other plugins that refused too. */
        if (used > 0 && (row.policy <= 0 || (row.policy & ~named) == 0))
            continue;
        append_remedy(row, account, out, capacity, &used);
        named |= row.policy > 0 ? row.policy : 0;
        if (row.policy <= 0)
            break;
    }
    return used > 0 ? out : nullptr;
}

const char *qv_DBEngine_last_hint(void)
{
    return t_hint;
}

void qv_DBEngine_clear_failure(void)
{
    t_failure = {0, 0, 0};
    t_hint[0] = '\0';
    t_subject[0] = '\0';
}

void qv_DBEngine_log_hint(const char *account)
{
    char hint[QV_HINT_SIZE];
    t_hint[0] = '\0';
    if (t_subject[0] != '\0')
        account = t_subject;
    if (t_failure.phase == 0 || qv_DBEngine_hint(t_failure.number, t_failure.phase,
                                                 t_failure.policies, account, hint,
                                                 sizeof hint) == nullptr)
        return;
    qv_log(QV_LOG_ERROR, "hint: %s", hint);
    memcpy(t_hint, hint, sizeof hint);
}

void qv_DBEngine_note_failure(int number, int phase, int policies, const char *subject)
{
    t_failure = {number, phase, policies};
    qv_snprintf(t_subject, sizeof t_subject, "%s", subject ? subject : "");
}
