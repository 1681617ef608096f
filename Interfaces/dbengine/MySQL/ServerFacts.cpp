/*
 * ServerFacts: the server's version text read without trusting it (any text the server
 * sends is parsed within its bounds), the detection statement for its kind, and the
 * reading of that statement's one row.
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

bool qv_server_facts_statement(const QVDBServerFacts *facts, char *statement, size_t capacity)
{
    static const char plugin_active[] =
        "(SELECT COUNT(*) FROM information_schema.PLUGINS WHERE PLUGIN_NAME = '%s' AND "
        "PLUGIN_STATUS = 'ACTIVE')";
    char extra[256] = "";
    if (facts->mariadb) {
        qv_snprintf(extra, sizeof extra, plugin_active, "password_reuse_check");
        return qv_snprintf(statement, capacity,
                           "SELECT @@read_only AS read_only, %s AS reuse_check", extra) >= 0;
    }
    if (facts->version >= QV_MYSQL_8) {
        qv_snprintf(extra, sizeof extra, plugin_active, "mysql_native_password");
        return qv_snprintf(statement, capacity,
                           "SELECT @@read_only AS read_only, @@super_read_only AS "
                           "super_read_only, %s AS native_password",
                           extra) >= 0;
    }
    if (facts->version >= QV_MYSQL_SUPER_READ_ONLY)
        return qv_snprintf(statement, capacity,
                           "SELECT @@read_only AS read_only, @@super_read_only AS "
                           "super_read_only") >= 0;
    return qv_snprintf(statement, capacity, "SELECT @@read_only AS read_only") >= 0;
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
    /* The columns the statement for this kind asks for; "" where it asks for none. */
    bool mysql8 = qv_server_facts_mysql8(facts);
    const char *wanted[] = {
        "read_only",
        !facts->mariadb && facts->version >= QV_MYSQL_SUPER_READ_ONLY ? "super_read_only" : "",
        facts->mariadb ? "reuse_check" : "",
        mysql8 ? "native_password" : "",
    };
    bool flags[4] = {false, false, false, !mysql8}; /* native password: active before 8.0 */
    for (size_t w = 0; w < 4; w++) {
        if (wanted[w][0] == '\0')
            continue;
        unsigned i = 0;
        while (i < count && strcmp(names[i], wanted[w]) != 0)
            i++;
        if (i == count || !read_flag(values[i], &flags[w]))
            return false;
    }
    facts->read_only = flags[0] || flags[1];
    facts->reuse_check = flags[2];
    facts->native_password = flags[3];
    facts->detected = true;
    return true;
}

bool qv_server_facts_set_once(const QVDBServerFacts *facts)
{
    return qv_server_facts_mysql8(facts) || facts->reuse_check;
}
