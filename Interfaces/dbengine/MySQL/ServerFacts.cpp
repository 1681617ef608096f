/*
 * ServerFacts: the server's version text read without trusting it (any text the server
 * sends is parsed within its bounds), the detection statement for its kind, made from
 * one table of columns, the reading of that statement's one row, and what a Galera
 * node's facts say of it.
 */
#include "Interfaces/dbengine/MySQL/ServerFacts.h"

#include <cstring>
#include <optional>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "Interfaces/ErrorLogger/ReportLines.h"
#include "Interfaces/dbengine/MySQL/StoredForms.h"

/* The prefix some MariaDB servers put before their own version, so that old MySQL
 * replicas accept them. */
static const char g_replication_prefix[] = "5.5.5-";

/* Reads up to three dot-separated numbers of at most two digits after the first (and
 * four for the major), stopping at the first character that does not fit. */
static unsigned long parse_version(const char *text)
{
    unsigned long parts[3] = {0, 0, 0};
    const unsigned max_digits[3] = {4, 2, 2};
    size_t i = 0;
    for (size_t part = 0; part < 3; part++) {
        unsigned digits = 0;
        while (text[i] >= '0' && text[i] <= '9' && digits < max_digits[part]) {
            parts[part] = parts[part] * 10 + static_cast<unsigned long>(text[i] - '0');
            digits++;
            i++;
        }
        if (digits == 0)
            return part == 0 ? 0 : parts[0] * 10000 + parts[1] * 100 + parts[2];
        if (part < 2 && text[i] != '.')
            break;
        if (part < 2)
            i++;
    }
    return parts[0] * 10000 + parts[1] * 100 + parts[2];
}

void qv_server_facts_from_info(const char *info, QVDBServerFacts *facts)
{
    if (info == nullptr)
        return;
    facts->mariadb = strstr(info, "MariaDB") != nullptr;
    size_t prefix = sizeof g_replication_prefix - 1;
    if (facts->mariadb && strncmp(info, g_replication_prefix, prefix) == 0)
        info += prefix;
    facts->version = parse_version(info);
}

bool qv_server_facts_mysql8(const QVDBServerFacts *facts)
{
    return !facts->mariadb && facts->version >= QV_MYSQL_8;
}

/* ---- the detection statement ------------------------------------------------------- */

static bool any_server(const QVDBServerFacts *)
{
    return true;
}

static bool mariadb(const QVDBServerFacts *facts)
{
    return facts->mariadb;
}

static bool mysql_super_read_only(const QVDBServerFacts *facts)
{
    return !facts->mariadb && facts->version >= QV_MYSQL_SUPER_READ_ONLY;
}

/* Replication as a global status: MariaDB (Slaves_running counts the running
 * connections' applier threads, Slave_running the default connection's), and MySQL
 * before its replication tables. */
static bool replica_by_status(const QVDBServerFacts *facts)
{
    return facts->mariadb || facts->version < QV_MYSQL_REPLICATION_TABLES;
}

static bool replica_by_tables(const QVDBServerFacts *facts)
{
    return !replica_by_status(facts);
}

/* Galera's facts: a node's own, through information_schema (NULL where the server has
 * no wsrep variables). */
static void read_node_index(QVDBServerFacts *facts, const char *value)
{
    /* 2^64 - 1 outside a component: not a whole number that fits, hence -1 */
    long long index = qv_whole_number(value).value_or(-1);
    facts->node_number = index >= 0 && index < 65536 ? static_cast<unsigned long>(index) + 1 : 0;
}

static void read_cluster_size(QVDBServerFacts *facts, const char *value)
{
    long long size = qv_whole_number(value).value_or(0);
    facts->cluster_size = size > 0 && size < 65536 ? static_cast<unsigned long>(size) : 0;
}

static void read_node_state(QVDBServerFacts *facts, const char *value)
{
    qv_snprintf(facts->node_state, sizeof facts->node_state, "%s", value ? value : "");
    qv_report_printable(facts->node_state);
}

/* One column of the detection statement: the servers that have it, how it is read, and
 * the fact it sets: a flag (on: a non-zero number; columns that set one flag are ORed),
 * or, through read, a value taken as far as it can be read. checked: the check reads it
 * too (a Galera node's facts, and whether a password of mysql_native_password still
 * logs in). */
struct DetectionColumn {
    const char *name;
    bool (*asked)(const QVDBServerFacts *facts);
    const char *expression;
    bool QVDBServerFacts::*fact;
    void (*read)(QVDBServerFacts *facts, const char *value);
    bool checked;
};

#define QV_PLUGIN_ACTIVE(name)                                                                     \
    "(SELECT COUNT(*) FROM information_schema.PLUGINS WHERE PLUGIN_NAME = '" name                  \
    "' AND PLUGIN_STATUS = 'ACTIVE')"
#define QV_WSREP(table, name)                                                                      \
    "(SELECT VARIABLE_VALUE FROM information_schema." table " WHERE VARIABLE_NAME = '" name "')"

static const DetectionColumn g_columns[] = {
    {"read_only", any_server, "@@read_only", &QVDBServerFacts::read_only, nullptr, false},
    {"super_read_only", mysql_super_read_only, "@@super_read_only", &QVDBServerFacts::read_only,
     nullptr, false},
    {"reuse_check", mariadb, QV_PLUGIN_ACTIVE("password_reuse_check"),
     &QVDBServerFacts::reuse_check, nullptr, false},
    {"native_password", qv_server_facts_mysql8, QV_PLUGIN_ACTIVE("mysql_native_password"),
     &QVDBServerFacts::native_password, nullptr, true},
    {"replica", replica_by_status,
     "(SELECT COUNT(*) FROM information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME IN "
     "('SLAVES_RUNNING', 'SLAVE_RUNNING') AND VARIABLE_VALUE NOT IN ('0', 'OFF'))",
     &QVDBServerFacts::replica, nullptr, false},
    /* Group Replication's own channels run on every member, the primary's included. */
    {"replica", replica_by_tables,
     "(SELECT COUNT(*) FROM performance_schema.replication_applier_status WHERE SERVICE_STATE "
     "= 'ON' AND CHANNEL_NAME NOT LIKE 'group_replication%')",
     &QVDBServerFacts::replica, nullptr, false},
    /* The session's own values: a session with wsrep_on off, or with RSU, writes on this
     * node alone. */
    {"galera", mariadb, QV_WSREP("SESSION_VARIABLES", "WSREP_ON") " = 'ON'",
     &QVDBServerFacts::galera, nullptr, true},
    {"node_ready", mariadb, QV_WSREP("GLOBAL_STATUS", "WSREP_READY") " = 'ON'",
     &QVDBServerFacts::node_ready, nullptr, true},
    {"node_primary", mariadb, QV_WSREP("GLOBAL_STATUS", "WSREP_CLUSTER_STATUS") " = 'Primary'",
     &QVDBServerFacts::node_primary, nullptr, true},
    {"node_rejects", mariadb, QV_WSREP("GLOBAL_VARIABLES", "WSREP_REJECT_QUERIES") " <> 'NONE'",
     &QVDBServerFacts::node_rejects, nullptr, true},
    {"node_local_ddl", mariadb, QV_WSREP("SESSION_VARIABLES", "WSREP_OSU_METHOD") " <> 'TOI'",
     &QVDBServerFacts::node_local_ddl, nullptr, true},
    {"node_index", mariadb, QV_WSREP("GLOBAL_STATUS", "WSREP_LOCAL_INDEX"), nullptr,
     read_node_index, true},
    {"cluster_size", mariadb, QV_WSREP("GLOBAL_STATUS", "WSREP_CLUSTER_SIZE"), nullptr,
     read_cluster_size, true},
    {"node_state", mariadb, QV_WSREP("GLOBAL_STATUS", "WSREP_LOCAL_STATE_COMMENT"), nullptr,
     read_node_state, true},
};

/* Whether column is one to ask of facts' server, of the checked columns alone or of all. */
static bool wanted(const DetectionColumn &column, const QVDBServerFacts *facts, bool checked_only)
{
    return column.asked(facts) && (column.checked || !checked_only);
}

/* Forms into out (capacity bytes) lead and then "<expression> AS <name>" of each column
 * wanted, ", "-separated (the first also after a lead of the checked columns alone, which continues a list).
 * Returns false when they do not fit. */
static bool write_columns(const QVDBServerFacts *facts, bool checked_only, const char *lead,
                          char *out, size_t capacity)
{
    size_t used = 0;
    int written = qv_snprintf(out, capacity, "%s", lead);
    bool first = !checked_only;
    for (const DetectionColumn &column : g_columns) {
        if (written < 0 || !wanted(column, facts, checked_only))
            continue;
        used += static_cast<size_t>(written);
        written = qv_snprintf(out + used, capacity - used, "%s %s AS %s", first ? "" : ",",
                              column.expression, column.name);
        first = false;
    }
    return written >= 0;
}

bool qv_server_facts_statement(const QVDBServerFacts *facts, char *statement, size_t capacity)
{
    return write_columns(facts, false, "SELECT", statement, capacity);
}

bool qv_server_facts_checked_columns(const QVDBServerFacts *facts, char *columns, size_t capacity)
{
    return write_columns(facts, true, "", columns, capacity);
}

/* Reads value as a whole number into *on (non-zero: on); SQL NULL is off. */
static bool read_flag(const char *value, bool *on)
{
    std::optional<long long> number = qv_whole_number(value);
    *on = number.value_or(0) != 0;
    return value == nullptr || number.has_value();
}

/* Takes the row's columns wanted (checked_only: those the check reads) into a copy of
 * facts, and that into facts when every one was there and every flag readable. */
static bool read_columns(QVDBServerFacts *facts, bool checked_only, unsigned count,
                         const char *const names[], const char *const values[])
{
    QVDBServerFacts read = *facts;
    if (!checked_only) {
        /* A fact no column asks for keeps its meaning on that server: mysql_native_password
         * is active before MySQL 8.0; nothing else is on. */
        read.read_only = read.replica = read.reuse_check = false;
        read.native_password = true;
    }
    for (const DetectionColumn &column : g_columns) {
        if (!wanted(column, facts, checked_only))
            continue;
        if (column.fact != nullptr)
            read.*column.fact = false;
        else
            column.read(&read, nullptr);
    }
    for (const DetectionColumn &column : g_columns) {
        if (!wanted(column, facts, checked_only))
            continue;
        unsigned i = 0;
        while (i < count && strcmp(names[i], column.name) != 0)
            i++;
        if (i == count)
            return false;
        bool on = false;
        if (column.fact == nullptr)
            column.read(&read, values[i]);
        else if (!read_flag(values[i], &on))
            return false;
        else
            read.*column.fact = read.*column.fact || on;
    }
    *facts = read;
    return true;
}

bool qv_server_facts_read_row(QVDBServerFacts *facts, unsigned count, const char *const names[],
                              const char *const values[])
{
    if (!read_columns(facts, false, count, names, values))
        return false;
    facts->detected = true;
    return true;
}

bool qv_server_facts_read_checked(QVDBServerFacts *facts, unsigned count,
                                  const char *const names[], const char *const values[])
{
    return read_columns(facts, true, count, names, values);
}

bool qv_server_facts_node_outside(const QVDBServerFacts *facts)
{
    return facts->galera && (!facts->node_ready || !facts->node_primary);
}

void qv_server_facts_node(const QVDBServerFacts *facts, char *out, size_t capacity)
{
    if (!facts->galera) {
        qv_snprintf(out, capacity, "%s", "");
        return;
    }
    char place[48] = "";
    if (facts->node_number > 0 && facts->cluster_size > 0)
        qv_snprintf(place, sizeof place, " %lu of %lu", facts->node_number, facts->cluster_size);
    qv_snprintf(out, capacity, "Galera node%s, %s%s", place,
                facts->node_state[0] != '\0' ? facts->node_state : "its state unknown",
                facts->node_primary ? "" : ", not in the primary component");
}

bool qv_server_facts_set_once(const QVDBServerFacts *facts)
{
    return qv_server_facts_mysql8(facts) || facts->reuse_check;
}
