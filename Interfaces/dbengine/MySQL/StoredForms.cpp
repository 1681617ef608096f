/*
 * StoredForms: the statement that reads a service account's forms, the reading of its
 * rows (MariaDB's JSON records of mysql.global_priv, or mysql.user's columns) and the
 * verdict of a stored form on a password.
 *
 * Invariants: rows are untrusted: every value is copied within its buffer (a value that
 * does not fit marks the form cut, never verified as admitting a password); no exception
 * leaves this file (a record that cannot be kept marks the form unreadable).
 */
#include "Interfaces/dbengine/MySQL/StoredForms.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "Interfaces/dbengine/MySQL/AccountRules.h"

int qv_stored_forms_statement(const QVDBServerFacts *facts, const char *const names[],
                              size_t count, const char *columns, char *statement,
                              size_t capacity)
{
    bool global_priv = facts->mariadb && facts->version >= QV_MARIADB_GLOBAL_PRIV;
    bool joined = columns != nullptr && columns[0] != '\0';
    int used =
        qv_snprintf(statement, capacity, "SELECT %s%s%s FROM %s%s g %s g.User IN (",
                    global_priv ? "g.User, g.Host, g.Priv" : "g.*", joined ? ", " : "",
                    joined ? columns : "", joined ? "(SELECT 1) qv_server LEFT JOIN " : "",
                    global_priv ? "mysql.global_priv" : "mysql.user", joined ? "ON" : "WHERE");
    for (size_t i = 0; used >= 0 && i < count; i++) {
        int more = qv_snprintf(statement + used, capacity - static_cast<size_t>(used), "%s'%s'",
                               i > 0 ? ", " : "", names[i]);
        used = more < 0 ? more : used + more;
    }
    if (used < 0)
        return used;
    int more = qv_snprintf(statement + used, capacity - static_cast<size_t>(used),
                           ") AND g.Host IN ('%%', 'localhost')");
    return more < 0 ? more : used + more;
}

const char *qv_row_column(unsigned count, const char *const names[], const char *const values[],
                          const char *name)
{
    for (unsigned i = 0; i < count; i++)
        if (names[i] != nullptr && strcasecmp(names[i], name) == 0)
            return values[i];
    return nullptr;
}

bool qv_server_text_equal(const char *value, const char *text)
{
    if (value == nullptr || text == nullptr)
        return false;
    size_t n = strlen(text);
    return strncmp(value, text, n) == 0 && value[n + strspn(value + n, " ")] == '\0';
}

bool qv_stored_form_row_is(unsigned count, const char *const names[], const char *const values[],
                           const char *user, const char *host)
{
    return qv_server_text_equal(qv_row_column(count, names, values, "User"), user) &&
           qv_server_text_equal(qv_row_column(count, names, values, "Host"), host);
}

/* ---- reading a row ------------------------------------------------------------------ */

/* Copies value (null as "") into field, without the trailing blanks of a CHAR column
 * when trim is set; marks the form cut when it does not fit. */
static void keep(QVStoredForm *form, char *field, size_t capacity, const char *value, bool trim)
{
    value = value ? value : "";
    size_t n = strlen(value);
    while (trim && n > 0 && value[n - 1] == ' ')
        n--;
    if (n >= capacity) {
        form->cut = true;
        n = capacity - 1;
    }
    memcpy(field, value, n);
    field[n] = '\0';
}

static void add_method(QVStoredForm *form, const char *plugin, const char *authentication,
                       bool trim)
{
    if (form->method_count == QV_STORED_METHODS) {
        form->cut = true;
        return;
    }
    QVStoredMethod *method = &form->methods[form->method_count++];
    keep(form, method->plugin, sizeof method->plugin, plugin, trim);
    keep(form, method->authentication, sizeof method->authentication, authentication, false);
}

std::optional<long long> qv_whole_number(const char *text)
{
    if (text == nullptr || *text == '\0')
        return std::nullopt;
    char *end = nullptr;
    errno = 0;
    long long value = strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0')
        return std::nullopt;
    return value;
}

static bool yes(const char *text)
{
    return text != nullptr && (strcasecmp(text, "Y") == 0 || strcasecmp(text, "YES") == 0);
}

static std::string json_text(const nlohmann::json &object, const char *key)
{
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

static std::optional<long long> json_number(const nlohmann::json &object, const char *key)
{
    auto it = object.find(key);
    if (it == object.end() || !it->is_number_integer())
        return std::nullopt;
    return it->get<long long>();
}

/* MariaDB 10.4 and later: the form's record, a JSON object. With several methods
 * (IDENTIFIED VIA a OR b), "auth_or" lists them, an empty object standing for the one
 * at the top. */
static void read_global_priv(QVStoredForm *form, const char *text)
{
    nlohmann::json priv = nlohmann::json::parse(text, nullptr, false);
    if (priv.is_discarded() || !priv.is_object()) {
        form->unreadable = true;
        return;
    }
    const std::string plugin = json_text(priv, "plugin"),
                      authentication = json_text(priv, "authentication_string");
    auto alternatives = priv.find("auth_or");
    if (alternatives != priv.end() && alternatives->is_array()) {
        for (const nlohmann::json &one : *alternatives)
            if (one.is_object() && one.empty())
                add_method(form, plugin.c_str(), authentication.c_str(), false);
            else if (one.is_object())
                add_method(form, json_text(one, "plugin").c_str(),
                           json_text(one, "authentication_string").c_str(), false);
    } else {
        add_method(form, plugin.c_str(), authentication.c_str(), false);
    }
    auto locked = priv.find("account_locked");
    form->locked = locked != priv.end() && locked->is_boolean() && locked->get<bool>();
    form->last_changed = json_number(priv, "password_last_changed");
    /* PASSWORD EXPIRE sets the time of the last change to 0. */
    form->expired_explicitly = form->last_changed && *form->last_changed == 0;
    std::optional<long long> lifetime = json_number(priv, "password_lifetime");
    form->lifetime = lifetime && *lifetime >= 0 ? lifetime : std::nullopt; /* -1: default */
    form->requires_tls = json_number(priv, "ssl_type").value_or(0) != 0;
    keep(form, form->default_role, sizeof form->default_role,
         json_text(priv, "default_role").c_str(), false);
}

/* mysql.user, as MySQL and MariaDB before 10.4 have it. */
static void read_user_columns(QVStoredForm *form, unsigned count, const char *const names[],
                              const char *const values[])
{
    auto value = [&](const char *name) { return qv_row_column(count, names, values, name); };
    add_method(form, value("plugin"), value("authentication_string"), true);
    keep(form, form->password_column, sizeof form->password_column, value("Password"), true);
    form->locked = yes(value("account_locked"));
    form->expired_explicitly = yes(value("password_expired"));
    form->last_changed = qv_whole_number(value("qv_last_changed"));
    form->lifetime = qv_whole_number(value("password_lifetime"));
    const char *ssl_type = value("ssl_type");
    form->requires_tls = ssl_type != nullptr && ssl_type[0] != '\0';
    keep(form, form->default_role, sizeof form->default_role, value("default_role"), true);
}

void qv_stored_form_read(QVStoredForm *form, unsigned count, const char *const names[],
                         const char *const values[])
{
    *form = QVStoredForm{};
    form->exists = true;
    try {
        if (const char *priv = qv_row_column(count, names, values, "Priv"))
            read_global_priv(form, priv);
        else
            read_user_columns(form, count, names, values);
    } catch (const std::exception &) { /* memory exhausted: no method is known */
        form->unreadable = true;
        form->method_count = 0;
    }
}

/* ---- the verdict -------------------------------------------------------------------- */

static bool native_method(const char *plugin)
{
    return plugin[0] == '\0' || strcmp(plugin, "mysql_native_password") == 0;
}

bool qv_stored_form_native(const QVStoredForm *form)
{
    return form->method_count > 0 && native_method(form->methods[0].plugin);
}

int qv_stored_form_verify(const QVStoredForm *form, const char *password, bool native_active,
                          char *reason, size_t capacity)
{
    int verdict = QV_CREDENTIAL_DIFFERS;
    size_t used = 0;
    if (reason != nullptr && capacity > 0)
        reason[0] = '\0';
    auto say = [&](const char *method, const char *why) {
        int n = qv_snprintf(reason + used, capacity - used, "%s%s: %s", used ? "; " : "",
                            method[0] ? method : "mysql_native_password", why);
        used = n < 0 ? capacity - 1 : used + static_cast<size_t>(n);
    };
    for (unsigned i = 0; i < form->method_count; i++) {
        const QVStoredMethod &m = form->methods[i];
        char why[128];
        int one = qv_credential_verify(m.plugin, m.authentication, form->password_column,
                                       password, why, sizeof why);
        if (one == QV_CREDENTIAL_MATCHES && native_method(m.plugin) && !native_active) {
            one = QV_CREDENTIAL_DIFFERS;
            qv_snprintf(why, sizeof why, "%s", "the server no longer runs this method");
        }
        if (one == QV_CREDENTIAL_MATCHES) {
            if (reason != nullptr && capacity > 0)
                reason[0] = '\0';
            return one;
        }
        if (one == QV_CREDENTIAL_UNKNOWN)
            verdict = one;
        if (reason != nullptr && capacity > 0)
            say(m.plugin, why);
    }
    if (form->unreadable || form->cut || form->method_count == 0) {
        verdict = QV_CREDENTIAL_UNKNOWN;
        if (reason != nullptr && capacity > 0)
            qv_snprintf(reason + used, capacity - used, "%s%s", used ? "; " : "",
                        used ? "and more than this tool could read"
                             : "its stored credential could not be read");
    }
    return verdict;
}
