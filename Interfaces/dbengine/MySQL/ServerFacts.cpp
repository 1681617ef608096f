/*
 * ServerFacts: the server's version text read without trusting it (any text the server
 * sends is parsed within its bounds), the detection statement for its kind, made from
 * one table of columns, and the reading of that statement's one row.
 */
#include "Interfaces/dbengine/MySQL/ServerFacts.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"

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

/* One column of the detection statement: the servers that have it, how it is read, and
 * the fact its value sets (on: a non-zero number). Columns that set one fact are ORed. */
struct DetectionColumn {
    const char *name;
    bool (*asked)(const QVDBServerFacts *facts);
    const char *expression;
    bool QVDBServerFacts::*fact;
};

#define QV_PLUGIN_ACTIVE(name)                                                                     \
    "(SELECT COUNT(*) FROM information_schema.PLUGINS WHERE PLUGIN_NAME = '" name                  \
    "' AND PLUGIN_STATUS = 'ACTIVE')"

static const DetectionColumn g_columns[] = {
    {"read_only", any_server, "@@read_only", &QVDBServerFacts::read_only},
    {"super_read_only", mysql_super_read_only, "@@super_read_only", &QVDBServerFacts::read_only},
    {"reuse_check", mariadb, QV_PLUGIN_ACTIVE("password_reuse_check"),
     &QVDBServerFacts::reuse_check},
    {"native_password", qv_server_facts_mysql8, QV_PLUGIN_ACTIVE("mysql_native_password"),
     &QVDBServerFacts::native_password},
    {"replica", replica_by_status,
     "(SELECT COUNT(*) FROM information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME IN "
     "('SLAVES_RUNNING', 'SLAVE_RUNNING') AND VARIABLE_VALUE NOT IN ('0', 'OFF'))",
     &QVDBServerFacts::replica},
    /* Group Replication's own channels run on every member, the primary's included. */
    {"replica", replica_by_tables,
     "(SELECT COUNT(*) FROM performance_schema.replication_applier_status WHERE SERVICE_STATE "
     "= 'ON' AND CHANNEL_NAME NOT LIKE 'group_replication%')",
     &QVDBServerFacts::replica},
};

bool qv_server_facts_statement(const QVDBServerFacts *facts, char *statement, size_t capacity)
{
    size_t used = 0;
    int written = qv_snprintf(statement, capacity, "SELECT");
    for (const DetectionColumn &column : g_columns) {
        if (written < 0 || !column.asked(facts))
            continue;
        used += static_cast<size_t>(written);
        written = qv_snprintf(statement + used, capacity - used, "%s %s AS %s",
                              used > 6 ? "," : "", column.expression, column.name);
    }
    return written >= 0;
}

/* Reads value as a whole number into *on (non-zero: on); SQL NULL is off. */
static bool read_flag(const char *value, bool *on)
{
    if (value == nullptr) {
        *on = false;
        return true;
    }
    char *end = nullptr;
    errno = 0;
    long long number = strtoll(value, &end, 10);
    if (end == value || *end != '\0' || errno != 0)
        return false;
    *on = number != 0;
    return true;
}

bool qv_server_facts_read_row(QVDBServerFacts *facts, unsigned count, const char *const names[],
                              const char *const values[])
{
    QVDBServerFacts read = *facts;
    /* A fact no column asks for keeps its meaning on that server: mysql_native_password
     * is active before MySQL 8.0; nothing else is on. */
    read.read_only = read.replica = read.reuse_check = false;
    read.native_password = true;
    for (const DetectionColumn &column : g_columns)
        if (column.asked(facts))
            read.*column.fact = false;
    for (const DetectionColumn &column : g_columns) {
        if (!column.asked(facts))
            continue;
        unsigned i = 0;
        while (i < count && strcmp(names[i], column.name) != 0)
            i++;
        bool on = false;
        if (i == count || !read_flag(values[i], &on))
            return false;
        read.*column.fact = read.*column.fact || on;
    }
    read.detected = true;
    *facts = read;
    return true;
}

bool qv_server_facts_set_once(const QVDBServerFacts *facts)
{
    return qv_server_facts_mysql8(facts) || facts->reuse_check;
}
