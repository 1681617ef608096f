/*
 * AccountMaking: qv_DBEngine_add_user_with_host and its parts: the checks of its
 * arguments, the detection of what the server is, the choice of the form accounts are
 * made in, the set-once form's account statements, and the level's sequence.
 *
 * Invariants: nothing is written before the server was detected and found writable;
 * every statement that may be sent was formed whole before the connection was made
 * (a cut statement could create an account with a wrong name or password); the account's
 * password reaches no log line (the engine masks it in every failure it logs).
 */
#include "Interfaces/dbengine/MySQL/MyDBEngine.h"

#include <mysql.h>

#include <atomic>
#include <cstring>
#include <initializer_list>

#include "Interfaces/ErrorLogger/ErrorLogger.h"

static const char QV_FILE[] = "Interfaces/dbengine/MySQL/AccountMaking";

/* Test seam: the form forced for every server (QV_FORM_BY_SERVER: none). */
static std::atomic<int> g_forced_form{QV_FORM_BY_SERVER};

void qv_DBEngine_force_form(int form)
{
    g_forced_form = form;
}

/* ---- what the server is ------------------------------------------------------------- */

/* The answer to the detection statement: exactly one readable row. */
struct Detection {
    QVDBServerFacts *facts;
    unsigned rows;
    bool readable;
};

static void read_detection(void *context, unsigned count, const char *const names[],
                           const char *const values[])
{
    Detection *d = static_cast<Detection *>(context);
    d->rows++;
    d->readable = d->rows == 1 && qv_server_facts_read_row(d->facts, count, names, values);
}

/* Reads the server's kind and version from the connection, and the rest with the one
 * detection statement. Returns its status, or 30 when its answer cannot be read. */
static unsigned detect_server(QVDBEngine *engine, QVDBServerFacts *facts)
{
    *facts = QVDBServerFacts{};
    qv_server_facts_from_info(mysql_get_server_info(engine->connection), facts);
    char statement[QV_DETECTION_SIZE];
    qv_server_facts_statement(facts, statement, sizeof statement); /* it fits */
    Detection detection = {facts, 0, false};
    QVDBRowReader reader = {&detection, read_detection};
    unsigned status = qv_DBEngine_send(engine, statement, nullptr, &reader);
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return status;
    }
    if (!detection.readable) {
        facts->detected = false;
        qv_log(QV_LOG_ERROR, "detect_server: not one row of numbers (%u rows) in answer to %s",
               detection.rows, statement);
        return 30;
    }
    return 0;
}

/* The form accounts are made in on the server of facts (or the form a test forced). */
static int account_form(const QVDBServerFacts *facts)
{
    int forced = g_forced_form.load(std::memory_order_relaxed);
    if (forced != QV_FORM_BY_SERVER)
        return forced;
    return qv_server_facts_set_once(facts) ? QV_FORM_CREATE_ALTER : QV_FORM_GRANT_IDENTIFIED;
}

/* ---- accounts ---------------------------------------------------------------------- */

/* Whether every statement that may make account name at level priv fits its buffer, in
 * either form: the form is known only once connected, and a cut statement could create
 * an account with a wrong name or password. */
static bool statements_fit(const char *name, const char *password, int priv)
{
    char statement[QV_STATEMENT_SIZE];
    QVDBServerFacts mariadb{};
    mariadb.mariadb = true;
    mariadb.version = QV_MARIADB_GLOBAL_PRIV;
    bool fit = true;
    for (const QVDBServerFacts &facts : {QVDBServerFacts{}, mariadb})
        fit = fit && qv_stored_forms_statement(&facts, &name, 1, nullptr, statement,
                                               sizeof statement) >= 0;
    for (int form : {QV_FORM_GRANT_IDENTIFIED, QV_FORM_CREATE_ALTER}) {
        QVFragments f;
        fit = fit && qv_form_fragments(f, form, name, password);
        for (size_t i = 0; fit && i < qv_form_level_count(priv); i++)
            fit = qv_form_level_statement(priv, i, f, statement) >= 0;
        for (bool local : {false, true})
            fit = fit && qv_form_create_user(f, local, password, statement) >= 0 &&
                  qv_form_alter_user(f, local, true, password, statement) >= 0;
    }
    return fit;
}

/* Checks the arguments in order; logs the first that fails and returns false. A name
 * or password with a quote or backslash would break out of its quoted literal, and an
 * empty name would grant to the server's anonymous accounts. Every statement must fit
 * (statements_fit). */
static bool arguments_valid(const char *host, const char *newusername, const char *newuserpassword,
                            int priv)
{
    const char *problem = nullptr;
    if (host == nullptr)
        problem = "qv_DBEngine_add_user_with_host: !host";
    else if (newusername == nullptr)
        problem = "qv_DBEngine_add_user_with_host: !newusername";
    else if (newuserpassword == nullptr)
        problem = "qv_DBEngine_add_user_with_host: !newuserpassword";
    else if (priv < QV_PRIV_ALL_GRANT || priv > QV_PRIV_USAGE)
        problem = "qv_DBEngine_add_user_with_host: invalid priv";
    else if (newusername[0] == '\0')
        problem = "qv_DBEngine_add_user_with_host: empty newusername";
    else if (strpbrk(newusername, "'\\") != nullptr)
        problem = "qv_DBEngine_add_user_with_host: unsafe newusername";
    else if (strpbrk(newuserpassword, "'\\") != nullptr)
        problem = "qv_DBEngine_add_user_with_host: unsafe newuserpassword";
    if (problem == nullptr && !statements_fit(newusername, newuserpassword, priv))
        problem = "qv_DBEngine_add_user_with_host: statement too long";
    if (problem == nullptr)
        return true;
    qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", problem);
    return false;
}

/* Fills the call's own settings; returns the failing text's status. */
static unsigned make_call_settings(QVDBSettings *s, const char *host, const char *user,
                                   const char *password, uint32_t port, const char *unix_socket)
{
    unsigned status = qv_string_init_char(&s->host, host);
    if (status == 0) {
        if (user != nullptr) {
            status = qv_string_init_char(&s->user, user);
            if (status == 0)
                status = password ? qv_string_init_char(&s->password, password)
                                  : qv_string_init_len(&s->password);
        } else {
            /* No administrator named: root with an empty password, whatever was given. */
            status = qv_string_init_char(&s->user, "root");
            if (status == 0)
                status = qv_string_init_len(&s->password);
        }
    }
    if (status == 0)
        status = qv_string_init_len(&s->spare);
    if (status == 0)
        status = unix_socket ? qv_string_init_char(&s->unix_socket, unix_socket)
                             : qv_string_init_len(&s->unix_socket);
    s->client_flags = 0;
    s->port = port;
    return status;
}

/* The two forms of one account, as the set-once form reads them. */
struct StoredPair {
    const char *name;
    QVStoredForm forms[2]; /* "%", "localhost" */
};

static void read_stored_form(void *context, unsigned count, const char *const names[],
                             const char *const values[])
{
    StoredPair *pair = static_cast<StoredPair *>(context);
    for (int local = 0; local < 2; local++)
        if (qv_stored_form_row_is(count, names, values, pair->name,
                                  local ? "localhost" : "%"))
            qv_stored_form_read(&pair->forms[local], count, names, values);
}

/* The set-once form's account statements: reads what both forms hold (every method of
 * each), makes each form that was not found with the password, and sets the password
 * only on a form none of whose methods admits it (or one that cannot be verified, or
 * one on a plugin the server no longer runs). The level's GRANTs that follow carry no
 * password: each password is set at most once per form, and not at all where a form
 * admits it already. */
static unsigned send_set_once(QVDBEngine *engine, const QVDBServerFacts *facts,
                              const QVFragments fragments, const char *name, const char *password)
{
    char statement[QV_STATEMENT_SIZE];
    StoredPair stored = {name, {}};
    QVDBRowReader reader = {&stored, read_stored_form};
    qv_stored_forms_statement(facts, &name, 1, nullptr, statement, sizeof statement); /* fits */
    unsigned status = qv_DBEngine_send(engine, statement, password, &reader);
    for (int local = 0; local < 2 && status == 0; local++) {
        if (stored.forms[local].exists)
            continue;
        qv_form_create_user(fragments, local, password, statement);
        status = qv_DBEngine_send(engine, statement, password, nullptr, facts->reuse_check);
    }
    for (int local = 0; local < 2 && status == 0; local++) {
        int set = qv_form_password_step(&stored.forms[local], password, facts->native_password);
        if (set == QV_SET_NOTHING)
            continue;
        qv_form_alter_user(fragments, local, set == QV_SET_CACHING_SHA2, password, statement);
        status = qv_DBEngine_send(engine, statement, password, nullptr, facts->reuse_check);
    }
    if (status != 0)
        qv_log_trace(QV_FILE, __LINE__);
    return status;
}

/* The INFO line that names the account, the server (and the Galera node) and the form
 * used. */
static void log_form(QVDBEngine *engine, const QVDBServerFacts *facts, const char *name, int form)
{
    const char *server = mysql_get_server_info(engine->connection);
    const char *how = "accounts made with GRANT ... IDENTIFIED BY";
    if (form == QV_FORM_CREATE_ALTER)
        how = facts->reuse_check
                  ? "password_reuse_check active, accounts made with CREATE USER IF NOT EXISTS, "
                    "each password set at most once and only where it differs, then GRANT"
                  : "MySQL 8.0 or later, accounts made with CREATE USER IF NOT EXISTS, each "
                    "password set at most once and only where it differs, then GRANT";
    char node[QV_NODE_SIZE];
    qv_server_facts_node(facts, node, sizeof node);
    qv_log(QV_LOG_INFO, "qv_DBEngine_add_user_with_host: %s on server %s%s%s%s: %s", name,
           server ? server : "(unknown)", node[0] ? " (" : "", node, node[0] ? ")" : "", how);
}

/* The servers that take no accounts from a run. */
static bool is_replica(const QVDBServerFacts *f)
{
    return f->replica;
}

static bool node_rejects(const QVDBServerFacts *f)
{
    return f->galera && f->node_rejects;
}

static bool read_only_node(const QVDBServerFacts *f)
{
    return f->galera && f->read_only;
}

static bool is_read_only(const QVDBServerFacts *f)
{
    return f->read_only;
}

static bool node_local_ddl(const QVDBServerFacts *f)
{
    return f->galera && f->node_local_ddl;
}

/* A member of a cluster whose session does not replicate (wsrep_on off): the server
 * reports the cluster, but the session is no Galera node's. */
static bool node_without_wsrep(const QVDBServerFacts *f)
{
    return !f->galera && f->cluster_size > 0;
}

/* A server that takes no accounts from a run, refused before anything is written: what
 * tells it, the status, the phase its hint answers, and why. The first that holds
 * refuses. */
struct Refusal {
    bool (*holds)(const QVDBServerFacts *facts);
    unsigned status;
    int phase;
    const char *why;
};

static const Refusal g_refusals[] = {
    /* Accounts written on a replica would differ from its primary's (errant transactions
     * that break a later failover); the primary's replicate to it. */
    {is_replica, QV_DB_REPLICA, QV_PHASE_REPLICA, "the server is a replica: its replication runs"},
    /* A Galera node outside the primary component (or not yet ready) answers 1047 to the
     * first statement that writes; what is written on one that takes none from clients
     * meets the same. */
    {qv_server_facts_node_outside, QV_DB_CLUSTER_NODE, QV_PHASE_NODE,
     "the server is a Galera node that is not synced in the primary component"},
    {node_rejects, QV_DB_CLUSTER_NODE, QV_PHASE_NODE,
     "the server is a Galera node that rejects queries (wsrep_reject_queries)"},
    {read_only_node, QV_DB_READ_ONLY, QV_PHASE_READ_ONLY_NODE,
     "the server is a read-only Galera node (read_only is on)"},
    {is_read_only, QV_DB_READ_ONLY, QV_PHASE_READ_ONLY,
     "the server is read-only (read_only is on)"},
    /* Under RSU the statements stay on this node: the others' accounts would differ. */
    {node_local_ddl, QV_DB_CLUSTER_NODE, QV_PHASE_LOCAL_DDL,
     "the session's wsrep_OSU_method is not TOI: its statements would stay on this node"},
    {node_without_wsrep, QV_DB_CLUSTER_NODE, QV_PHASE_LOCAL_DDL,
     "the server is a Galera node whose session has wsrep_on off: its statements would stay "
     "on this node"},
};

/* Makes the account on a connected engine: detects what the server is unless facts
 * holds it already, refuses a server that takes no accounts (g_refusals) before any
 * statement that writes, and sends the level's sequence in the server's form: in the
 * set-once form after its account statements, with GRANTs that carry no password.
 * Returns 0, the refusal's status, or the status of the statement that failed. */
static unsigned make_account(QVDBEngine *engine, QVDBServerFacts *facts, const char *name,
                             const char *password, int priv)
{
    unsigned status = facts->detected ? 0 : detect_server(engine, facts);
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return status;
    }
    for (const Refusal &refusal : g_refusals)
        if (refusal.holds(facts)) {
            char node[QV_NODE_SIZE];
            qv_server_facts_node(facts, node, sizeof node);
            qv_log(QV_LOG_ERROR,
                   "qv_DBEngine_add_user_with_host: %s%s%s%s; %s was not made, nothing was written",
                   refusal.why, node[0] ? " (" : "", node, node[0] ? ")" : "", name);
            qv_DBEngine_note_failure(0, refusal.phase, 0);
            return refusal.status;
        }
    int form = account_form(facts);
    log_form(engine, facts, name, form);
    QVFragments fragments;
    qv_form_fragments(fragments, form, name, password); /* they fit: checked */
    if (form == QV_FORM_CREATE_ALTER)
        status = send_set_once(engine, facts, fragments, name, password);
    char statement[QV_STATEMENT_SIZE];
    for (size_t i = 0; status == 0 && i < qv_form_level_count(priv); i++) {
        qv_form_level_statement(priv, i, fragments, statement);
        status = qv_DBEngine_send(engine, statement, password);
    }
    if (status != 0)
        qv_log_trace(QV_FILE, __LINE__);
    return status;
}

unsigned qv_DBEngine_add_user_with_facts(const char *host, const char *user, const char *password,
                                         uint32_t port, const char *unix_socket,
                                         const char *newusername, const char *newuserpassword,
                                         int priv, QVDBServerFacts *facts)
{
    qv_DBEngine_clear_failure();
    if (!arguments_valid(host, newusername, newuserpassword, priv))
        return 1;

    QVDBServerFacts own{};   /* a call without a record detects for itself */
    QVDBSettings settings{}; /* all texts absent */
    QVDBEngine *engine = nullptr;
    unsigned status = make_call_settings(&settings, host, user, password, port, unix_socket);
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
    } else {
        status = qv_DBEngine_init(&engine, &settings);
        if (status != 0)
            qv_log(QV_LOG_ERROR, "Cannot connect to %s", host);
        else
            status = make_account(engine, facts ? facts : &own, newusername, newuserpassword, priv);
    }
    qv_DBEngine_finish(&engine);
    qv_DBEngine_settings_free(&settings);

    /* The remedy comes last, after every line of the failure it answers. */
    if (status != 0)
        qv_DBEngine_log_hint(newusername);
    return status;
}

unsigned qv_DBEngine_add_user_with_host(const char *host, const char *user, const char *password,
                                        uint32_t port, const char *unix_socket,
                                        const char *newusername, const char *newuserpassword,
                                        int priv)
{
    return qv_DBEngine_add_user_with_facts(host, user, password, port, unix_socket, newusername,
                                           newuserpassword, priv, nullptr);
}
