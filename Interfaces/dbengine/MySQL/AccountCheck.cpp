/*
 * AccountCheck: the check's records, its statements for each kind of server, the
 * readers of their rows and the reading over one administrator connection. The verdicts
 * are CheckVerdicts'.
 *
 * Invariants: one administrator login and at most four reading statements on it (five
 * on a server built without Galera that refused the wait for a cluster), and no other
 * login; a row is taken for a form only when its user and host are the form's as
 * the server compares them (trailing blanks of CHAR columns aside); no exception leaves
 * this module (a row that cannot be kept marks the check read_failed).
 */
#include "Interfaces/dbengine/MySQL/AccountCheck.h"

#include <mysql.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "Interfaces/dbengine/MySQL/ClientPlatform.h"

static const char QV_FILE[] = "Interfaces/dbengine/MySQL/AccountCheck";

static const char *const g_hosts[] = {"%", "localhost"};

/* PUBLIC, as information_schema names it as a grantee. */
static const char g_public_grantee[] = "'PUBLIC'@''";

std::string qv_check_upper(const char *text)
{
    std::string out(text);
    for (char &c : out)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return out;
}

/* The items of a comma-separated list (GROUP_CONCAT's), each without the trailing blanks
 * of a CHAR column; none for null or "". */
static std::vector<std::string> split_list(const char *text)
{
    std::vector<std::string> items;
    for (const char *item = text; item != nullptr && *item != '\0';) {
        size_t length = strcspn(item, ",");
        size_t kept = length;
        while (kept > 0 && item[kept - 1] == ' ')
            kept--;
        items.emplace_back(item, kept);
        item += length + (item[length] == ',' ? 1 : 0);
    }
    return items;
}

std::string qv_check_account_name(const char *name, const char *host)
{
    return std::string("'") + name + "'@'" + host + "'";
}

static bool has_public(const QVDBServerFacts *facts)
{
    return facts->mariadb && facts->version >= QV_MARIADB_PUBLIC;
}

void qv_check_init(QVAccountCheck *check, const ServiceAccount *accounts, const char *server)
{
    *check = QVAccountCheck();
    check->accounts = accounts;
    check->server = server ? server : "";
    qv_server_facts_from_info(server, &check->facts);
    check->facts.native_password = true; /* until the server says otherwise */
    check->synced = qv_server_may_be_galera && check->facts.mariadb &&
                    check->facts.version >= QV_MARIADB_SET_STATEMENT;
    for (const ServiceAccount *account = accounts; account->name != nullptr; account++)
        for (const char *host : g_hosts) {
            QVFormCheck form{};
            form.account = account;
            form.host = host;
            form.password = QV_CREDENTIAL_UNKNOWN;
            check->forms.push_back(form);
        }
}

/* ---- the statements ----------------------------------------------------------------- */

/* The columns the check reads besides the stored forms': the clock and default lifetime
 * that decide an expiry, whether the server has TLS, the roles, the proxy grants, MySQL
 * 8's dynamic privileges and whether mysql_native_password still runs there, and a Galera
 * node's facts. CHAR values joined into one text lose their padding. */
static std::string form_columns(const QVDBServerFacts *facts)
{
    char node[QV_DETECTION_SIZE];
    qv_server_facts_checked_columns(facts, node, sizeof node); /* it fits */
    bool mariadb = facts->mariadb;
    unsigned long version = facts->version;
    std::string columns = "UNIX_TIMESTAMP() AS qv_now";
    bool lifetime = !mariadb && version >= QV_MYSQL_PASSWORD_LIFETIME;
    if (lifetime || (mariadb && version >= QV_MARIADB_GLOBAL_PRIV))
        columns += ", @@default_password_lifetime AS qv_default_lifetime";
    if (lifetime)
        columns += ", UNIX_TIMESTAMP(g.password_last_changed) AS qv_last_changed";
    columns += !mariadb && version >= QV_MYSQL_TLS_STATUS
                   ? ", (SELECT VALUE FROM performance_schema.tls_channel_status WHERE CHANNEL = "
                     "'mysql_main' AND PROPERTY = 'Enabled') AS qv_tls"
                   : ", @@have_ssl AS qv_tls";
    if (version >= QV_PROXIES_PRIV)
        columns += ", (SELECT GROUP_CONCAT(CONCAT('''', RTRIM(x.Proxied_user), '''@''', "
                   "RTRIM(x.Proxied_host), '''')) FROM mysql.proxies_priv x WHERE x.User = "
                   "g.User AND x.Host = g.Host) AS qv_proxies";
    if (mariadb && version >= QV_MARIADB_ROLES)
        columns += ", (SELECT GROUP_CONCAT(r.Role) FROM mysql.roles_mapping r WHERE r.User = "
                   "g.User AND r.Host = g.Host) AS qv_roles";
    if (qv_server_facts_mysql8(facts))
        columns += ", (SELECT GROUP_CONCAT(CONCAT(RTRIM(e.FROM_USER), '@', RTRIM(e.FROM_HOST))) "
                   "FROM mysql.role_edges e WHERE e.TO_USER = g.User AND e.TO_HOST = g.Host) AS "
                   "qv_roles, (SELECT GROUP_CONCAT(CONCAT(RTRIM(d.DEFAULT_ROLE_USER), '@', "
                   "RTRIM(d.DEFAULT_ROLE_HOST))) FROM mysql.default_roles d WHERE d.USER = "
                   "g.User AND d.HOST = g.Host) AS qv_default_roles, (SELECT GROUP_CONCAT(p.PRIV) "
                   "FROM mysql.global_grants p WHERE p.USER = g.User AND p.HOST = g.Host) AS "
                   "qv_dynamic, (SELECT GROUP_CONCAT(p.PRIV) FROM mysql.global_grants p WHERE "
                   "p.USER = g.User AND p.HOST = g.Host AND p.WITH_GRANT_OPTION = 'Y') AS "
                   "qv_dynamic_grantable";
    return columns + node;
}

static std::string forms_statement(const QVAccountCheck *check)
{
    std::vector<const char *> names;
    for (const ServiceAccount *account = check->accounts; account->name != nullptr; account++)
        names.push_back(account->name);
    const std::string columns = form_columns(&check->facts);
    std::string statement(columns.size() + 1024, '\0');
    int length = qv_stored_forms_statement(&check->facts, names.data(), names.size(),
                                           columns.c_str(), &statement[0], statement.size());
    statement.resize(length < 0 ? 0 : static_cast<size_t>(length));
    return statement;
}

/* The privileges of the forms (and, where the server has it, PUBLIC's) from
 * information_schema: global ones, and those on the mysql schema (any database pattern
 * that matches it), its tables and its columns. */
static std::string privileges_statement(const QVAccountCheck *check)
{
    std::string grantees;
    for (const QVFormCheck &form : check->forms)
        grantees += std::string(grantees.empty() ? "'" : ", '") + "''" + form.account->name +
                    "''@''" + form.host + "'''";
    if (has_public(&check->facts))
        grantees += ", '''PUBLIC''@'''''";
    const std::string in = "GRANTEE IN (" + grantees + ")";
    return "SELECT GRANTEE, PRIVILEGE_TYPE, '' AS OBJECT, IS_GRANTABLE FROM "
           "information_schema.USER_PRIVILEGES WHERE " +
           in +
           " UNION ALL SELECT GRANTEE, PRIVILEGE_TYPE, CONCAT(TABLE_SCHEMA, '.*'), IS_GRANTABLE "
           "FROM information_schema.SCHEMA_PRIVILEGES WHERE " +
           in +
           " AND 'mysql' LIKE TABLE_SCHEMA UNION ALL SELECT GRANTEE, PRIVILEGE_TYPE, "
           "CONCAT('mysql.', TABLE_NAME), IS_GRANTABLE FROM information_schema.TABLE_PRIVILEGES "
           "WHERE " +
           in +
           " AND TABLE_SCHEMA = 'mysql' UNION ALL SELECT GRANTEE, CONCAT(PRIVILEGE_TYPE, ' (', "
           "COLUMN_NAME, ')'), CONCAT('mysql.', TABLE_NAME), IS_GRANTABLE FROM "
           "information_schema.COLUMN_PRIVILEGES WHERE " +
           in + " AND TABLE_SCHEMA = 'mysql'";
}

std::vector<QVCheckStatement> qv_check_statements(const QVAccountCheck *check)
{
    std::vector<QVCheckStatement> statements = {
        {forms_statement(check), qv_check_read_form_row},
        {privileges_statement(check), qv_check_read_privilege_row},
        {"SHOW PRIVILEGES", qv_check_read_server_privilege_row},
    };
    if (has_public(&check->facts))
        statements.push_back({"SHOW GRANTS FOR PUBLIC", qv_check_read_public_row});
    /* Without an extra statement: the wait is the statement's own. */
    if (check->synced)
        for (QVCheckStatement &statement : statements)
            statement.text = "SET STATEMENT wsrep_sync_wait = 1 FOR " + statement.text;
    return statements;
}

/* ---- reading the rows --------------------------------------------------------------- */

/* The server's answer on TLS: have_ssl's YES or DISABLED/NO, MySQL's channel Yes or No;
 * anything else says nothing. */
static std::optional<bool> tls_answer(const char *text)
{
    if (text != nullptr && strcasecmp(text, "YES") == 0)
        return true;
    if (text != nullptr && (strcasecmp(text, "NO") == 0 || strcasecmp(text, "DISABLED") == 0))
        return false;
    return std::nullopt;
}

static void read_form_row(QVAccountCheck *check, unsigned count, const char *const names[],
                          const char *const values[])
{
    auto value = [&](const char *name) { return qv_row_column(count, names, values, name); };
    if (std::optional<long long> now = qv_whole_number(value("qv_now")))
        check->now = now;
    if (std::optional<long long> days = qv_whole_number(value("qv_default_lifetime")))
        check->default_lifetime = days;
    if (std::optional<bool> tls = tls_answer(value("qv_tls")))
        check->has_tls = tls;
    qv_server_facts_read_checked(&check->facts, count, names, values);
    for (QVFormCheck &form : check->forms) {
        if (!qv_stored_form_row_is(count, names, values, form.account->name, form.host))
            continue;
        qv_stored_form_read(&form.stored, count, names, values);
        form.roles = split_list(value("qv_roles"));
        form.default_roles = split_list(value("qv_default_roles"));
        if (form.stored.default_role[0] != '\0')
            form.default_roles.push_back(form.stored.default_role);
        form.proxies = split_list(value("qv_proxies"));
        for (const std::string &name : split_list(value("qv_dynamic")))
            form.held.insert(qv_check_upper(name.c_str()));
        if (!split_list(value("qv_dynamic_grantable")).empty())
            form.grant_option = true;
    }
}

static void read_privilege_row(QVAccountCheck *check, unsigned count, const char *const names[],
                               const char *const values[])
{
    const char *grantee = qv_row_column(count, names, values, "GRANTEE");
    const char *privilege = qv_row_column(count, names, values, "PRIVILEGE_TYPE");
    const char *object = qv_row_column(count, names, values, "OBJECT");
    if (grantee == nullptr || privilege == nullptr)
        return;
    bool global = object == nullptr || *object == '\0';
    std::string name = qv_check_upper(privilege);
    if (has_public(&check->facts) && strcmp(grantee, g_public_grantee) == 0) {
        if (!global)
            check->public_grants.push_back(std::string(privilege) + " ON " + object);
        else if (name != "USAGE")
            check->public_privileges.insert(name);
        return;
    }
    for (QVFormCheck &form : check->forms) {
        if (qv_check_account_name(form.account->name, form.host) != grantee)
            continue;
        if (!global) {
            form.schema_grants.push_back(std::string(privilege) + " ON " + object);
            continue;
        }
        /* The grant option shows on every global row, USAGE's included. */
        const char *grantable = qv_row_column(count, names, values, "IS_GRANTABLE");
        if (grantable != nullptr && strcasecmp(grantable, "YES") == 0)
            form.grant_option = true;
        if (name != "USAGE")
            form.held.insert(name);
    }
}

static void read_server_privilege_row(QVAccountCheck *check, unsigned count,
                                      const char *const names[], const char *const values[])
{
    const char *privilege = qv_row_column(count, names, values, "Privilege");
    if (privilege == nullptr)
        return;
    std::string name = qv_check_upper(privilege);
    /* Not privileges that ALL gives: the grant option, proxying, and none at all. */
    if (name != "GRANT OPTION" && name != "PROXY" && name != "USAGE" && !name.empty())
        check->server_privileges.insert(name);
}

/* A line of SHOW GRANTS FOR PUBLIC: "GRANT PROCESS, SET USER ON *.* TO PUBLIC"; its lines
 * on databases and tables come through information_schema. */
static void read_public_row(QVAccountCheck *check, unsigned count, const char *const names[],
                            const char *const values[])
{
    (void)names;
    static const char head[] = "GRANT ", global[] = " ON *.* TO PUBLIC";
    const char *line = count > 0 ? values[0] : nullptr;
    if (line == nullptr || strncmp(line, head, sizeof head - 1) != 0)
        return;
    const char *end = strstr(line, global);
    if (end == nullptr)
        return;
    std::string list(line + sizeof head - 1, end);
    for (size_t at = 0, next; at < list.size(); at = next + 2) {
        next = std::min(list.find(", ", at), list.size());
        std::string name = qv_check_upper(list.substr(at, next - at).c_str());
        if (name == "ALL PRIVILEGES")
            check->public_privileges.insert(check->server_privileges.begin(),
                                            check->server_privileges.end());
        else if (name != "USAGE")
            check->public_privileges.insert(name);
    }
}

/* Runs a reader, keeping any exception (memory exhausted) inside this module. */
template <typename Reader>
static void guarded(Reader reader, QVAccountCheck *check, unsigned count, const char *const names[],
                    const char *const values[])
{
    try {
        reader(check, count, names, values);
    } catch (const std::exception &e) {
        if (!check->read_failed)
            qv_log(QV_LOG_ERROR, "qv_check_read: a row could not be kept: %s", e.what());
        check->read_failed = true;
    }
}

void qv_check_read_form_row(QVAccountCheck *check, unsigned count, const char *const names[],
                            const char *const values[])
{
    guarded(read_form_row, check, count, names, values);
}

void qv_check_read_privilege_row(QVAccountCheck *check, unsigned count, const char *const names[],
                                 const char *const values[])
{
    guarded(read_privilege_row, check, count, names, values);
}

void qv_check_read_server_privilege_row(QVAccountCheck *check, unsigned count,
                                        const char *const names[], const char *const values[])
{
    guarded(read_server_privilege_row, check, count, names, values);
}

void qv_check_read_public_row(QVAccountCheck *check, unsigned count, const char *const names[],
                              const char *const values[])
{
    guarded(read_public_row, check, count, names, values);
}

/* ---- the reading -------------------------------------------------------------------- */

/* MariaDB's error for a variable it does not have. */
#define QV_ER_UNKNOWN_SYSTEM_VARIABLE 1193

struct Step {
    QVAccountCheck *check;
    const QVCheckStatement *statement;
};

static void read_row(void *context, unsigned count, const char *const names[],
                     const char *const values[])
{
    Step *step = static_cast<Step *>(context);
    step->statement->read(step->check, count, names, values);
}

/* Sends statement and reads its rows into check. Returns its status (2: a row could not
 * be kept). */
static unsigned read_statement(QVDBEngine *engine, QVAccountCheck *check,
                               const QVCheckStatement &statement)
{
    Step step = {check, &statement};
    QVDBRowReader reader = {&step, read_row};
    unsigned status = qv_mysql_s_select(engine, statement.text.c_str(), &reader);
    if (status == 0 && check->read_failed)
        status = 2; /* logged where the row was read */
    return status;
}

/* Reads the server into check over engine: each statement in turn; the first again
 * without waiting for a cluster where the server has no Galera; no further than the
 * first where it names a Galera node that cannot speak for its cluster. */
static unsigned read_server(QVDBEngine *engine, QVAccountCheck *check)
{
    std::vector<QVCheckStatement> statements = qv_check_statements(check);
    for (size_t i = 0; i < statements.size(); i++) {
        unsigned status = read_statement(engine, check, statements[i]);
        if (status != 0 && i == 0 && check->synced &&
            mysql_errno(engine->connection) == QV_ER_UNKNOWN_SYSTEM_VARIABLE) {
            qv_log(QV_LOG_INFO, "%s",
                   "qv_check_read: the server has no wsrep_sync_wait (it was built without "
                   "Galera): read without it");
            qv_DBEngine_clear_failure();
            check->synced = false;
            statements = qv_check_statements(check);
            status = read_statement(engine, check, statements[i]);
        }
        if (status != 0) {
            qv_log_trace(QV_FILE, __LINE__);
            return status;
        }
        if (i == 0 && qv_server_facts_node_outside(&check->facts)) {
            char node[QV_NODE_SIZE];
            qv_server_facts_node(&check->facts, node, sizeof node);
            qv_log(QV_LOG_ERROR,
                   "qv_check_read: the server is a Galera node that is not synced in the "
                   "primary component (%s): what it holds may not be what the cluster holds",
                   node);
            qv_DBEngine_note_failure(0, QV_PHASE_NODE, QV_POLICY_NONE);
            return QV_DB_CLUSTER_NODE;
        }
    }
    return 0;
}

unsigned qv_check_read(const QVDBSettings *settings, const ServiceAccount *accounts,
                       QVAccountCheck *check)
{
    QVDBEngine *engine = nullptr;
    unsigned status = qv_DBEngine_init(&engine, settings);
    if (status != 0) {
        qv_log(QV_LOG_ERROR, "Cannot connect to %s",
               settings->host.text ? settings->host.text : "(default host)");
        return status;
    }
    try {
        qv_check_init(check, accounts, mysql_get_server_info(engine->connection));
        status = read_server(engine, check);
    } catch (const std::exception &e) {
        qv_log(QV_LOG_ERROR, "qv_check_read: %s", e.what());
        status = 2;
    }
    if (status != 0)
        qv_log_trace(QV_FILE, __LINE__);
    qv_DBEngine_finish(&engine);
    return status;
}
