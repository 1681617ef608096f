/*
 * AccountCheck: the check of the service accounts on the server, reading only.
 *
 * Invariants: one administrator login and exactly three reading statements on it, and
 * no other login; a password is called "ok" only when its stored credential, computed
 * on the client, admits the built-in password; a form is "as it should be" only when it
 * exists, is neither locked nor expired, holds exactly what its level leaves (no grant
 * on the mysql schema, no role) and no credential says its password differs. Rows read
 * from the server are untrusted: anything they hold is shown as text, never obeyed, and
 * no exception leaves this module.
 */
#include "WinGUI/AccountCheck.h"

#include <mysql.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "Interfaces/dbengine/MySQL/AccountRules.h"

static const char QV_FILE[] = "WinGUI/AccountCheck";

static const char *const g_hosts[] = {"%", "localhost"};

/* ---- small helpers ------------------------------------------------------------------ */

static std::string upper(const char *text)
{
    std::string out(text);
    for (char &c : out)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return out;
}

/* The value of the column named name (case aside) in a row, or null when the row has no
 * such column or holds SQL NULL there. */
static const char *column(unsigned count, const char *const names[], const char *const values[],
                          const char *name)
{
    for (unsigned i = 0; i < count; i++)
        if (names[i] != nullptr && strcasecmp(names[i], name) == 0)
            return values[i];
    return nullptr;
}

/* A whole decimal number, or none. */
static std::optional<long long> number(const char *text)
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

/* The items of a comma-separated list (GROUP_CONCAT's), none for null or "". */
static std::vector<std::string> split_list(const char *text)
{
    std::vector<std::string> items;
    for (const char *item = text; item != nullptr && *item != '\0';) {
        size_t length = strcspn(item, ",");
        items.emplace_back(item, length);
        item += length + (item[length] == ',' ? 1 : 0);
    }
    return items;
}

/* "'name'@'host'", as information_schema names a grantee. */
static std::string grantee_of(const char *name, const char *host)
{
    return std::string("'") + name + "'@'" + host + "'";
}

static QVFormCheck *find_form(QVAccountCheck *check, const char *user, const char *host)
{
    if (user == nullptr || host == nullptr)
        return nullptr;
    for (QVFormCheck &form : check->forms)
        if (strcmp(form.account->name, user) == 0 && strcmp(form.host, host) == 0)
            return &form;
    return nullptr;
}

static QVFormCheck *find_grantee(QVAccountCheck *check, const char *grantee)
{
    if (grantee == nullptr)
        return nullptr;
    for (QVFormCheck &form : check->forms)
        if (grantee_of(form.account->name, form.host) == grantee)
            return &form;
    return nullptr;
}

void qv_check_init(QVAccountCheck *check)
{
    *check = QVAccountCheck();
    for (const ServiceAccount *account = g_service_accounts; account->name != nullptr; account++)
        for (const char *host : g_hosts) {
            QVFormCheck form{};
            form.account = account;
            form.host = host;
            form.password = QV_CREDENTIAL_UNKNOWN;
            check->forms.push_back(form);
        }
}

/* ---- the statements ----------------------------------------------------------------- */

/* The service accounts' names, quoted and separated by commas. */
static std::string account_names(void)
{
    std::string names;
    for (const ServiceAccount *account = g_service_accounts; account->name != nullptr; account++)
        names += std::string(names.empty() ? "'" : ", '") + account->name + "'";
    return names;
}

std::string qv_check_forms_statement(const QVDBServerFacts *facts)
{
    bool mariadb = facts->mariadb;
    unsigned long version = facts->version;
    bool global_priv = mariadb && version >= QV_MARIADB_GLOBAL_PRIV;
    std::string columns = global_priv ? "g.User, g.Host, g.Priv" : "g.*";
    /* The default lifetime and the server's clock decide whether a password expired. */
    bool lifetime = !mariadb && version >= QV_MYSQL_PASSWORD_LIFETIME;
    if (global_priv || lifetime)
        columns += ", @@default_password_lifetime AS qv_default_lifetime, UNIX_TIMESTAMP() AS "
                   "qv_now";
    if (lifetime)
        columns += ", UNIX_TIMESTAMP(g.password_last_changed) AS qv_last_changed";
    if (mariadb && version >= QV_MARIADB_ROLES)
        columns += ", (SELECT GROUP_CONCAT(r.Role) FROM mysql.roles_mapping r WHERE r.User = "
                   "g.User AND r.Host = g.Host) AS qv_roles";
    if (qv_server_facts_mysql8(facts))
        columns += ", (SELECT GROUP_CONCAT(CONCAT(e.FROM_USER, '@', e.FROM_HOST)) FROM "
                   "mysql.role_edges e WHERE e.TO_USER = g.User AND e.TO_HOST = g.Host) AS "
                   "qv_roles, (SELECT GROUP_CONCAT(CONCAT(d.DEFAULT_ROLE_USER, '@', "
                   "d.DEFAULT_ROLE_HOST)) FROM mysql.default_roles d WHERE d.USER = g.User AND "
                   "d.HOST = g.Host) AS qv_default_roles, (SELECT GROUP_CONCAT(p.PRIV) FROM "
                   "mysql.global_grants p WHERE p.USER = g.User AND p.HOST = g.Host) AS "
                   "qv_dynamic, (SELECT GROUP_CONCAT(p.PRIV) FROM mysql.global_grants p WHERE "
                   "p.USER = g.User AND p.HOST = g.Host AND p.WITH_GRANT_OPTION = 'Y') AS "
                   "qv_dynamic_grantable";
    return "SELECT " + columns + " FROM " + (global_priv ? "mysql.global_priv" : "mysql.user") +
           " g WHERE g.User IN (" + account_names() + ") AND g.Host IN ('%', 'localhost')";
}

std::string qv_check_privileges_statement(void)
{
    std::string grantees;
    for (const ServiceAccount *account = g_service_accounts; account->name != nullptr; account++)
        for (const char *host : g_hosts)
            grantees += std::string(grantees.empty() ? "'" : ", '") + "''" + account->name +
                        "''@''" + host + "'''";
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

/* ---- reading the rows --------------------------------------------------------------- */

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

/* MariaDB 10.4 and later: the form's record of mysql.global_priv, a JSON object. With
 * several methods (IDENTIFIED VIA a OR b), "auth_or" lists them, an empty object
 * standing for the one at the top. An unreadable record leaves no credential. */
static void read_global_priv(QVFormCheck *form, const char *text)
{
    nlohmann::json priv = nlohmann::json::parse(text, nullptr, false);
    if (priv.is_discarded() || !priv.is_object())
        return;
    QVCredential top = {json_text(priv, "plugin"), json_text(priv, "authentication_string")};
    auto alternatives = priv.find("auth_or");
    if (alternatives != priv.end() && alternatives->is_array()) {
        for (const nlohmann::json &one : *alternatives)
            if (one.is_object())
                form->credentials.push_back(
                    one.empty() ? top
                                : QVCredential{json_text(one, "plugin"),
                                               json_text(one, "authentication_string")});
    } else {
        form->credentials.push_back(top);
    }
    auto locked = priv.find("account_locked");
    form->locked = locked != priv.end() && locked->is_boolean() && locked->get<bool>();
    form->last_changed = json_number(priv, "password_last_changed");
    /* PASSWORD EXPIRE sets the time of the last change to 0. */
    form->expired_explicitly = form->last_changed && *form->last_changed == 0;
    std::optional<long long> lifetime = json_number(priv, "password_lifetime");
    form->lifetime = lifetime && *lifetime >= 0 ? lifetime : std::nullopt; /* -1: default */
    std::string default_role = json_text(priv, "default_role");
    if (!default_role.empty())
        form->default_roles.push_back(default_role);
}

/* mysql.user, as MySQL and MariaDB before 10.4 have it. */
static void read_user_columns(QVFormCheck *form, unsigned count, const char *const names[],
                              const char *const values[])
{
    auto text = [&](const char *name) {
        const char *value = column(count, names, values, name);
        return std::string(value ? value : "");
    };
    form->credentials.push_back({text("plugin"), text("authentication_string")});
    form->password_column = text("Password");
    form->locked = yes(column(count, names, values, "account_locked"));
    form->expired_explicitly = yes(column(count, names, values, "password_expired"));
    form->last_changed = number(column(count, names, values, "qv_last_changed"));
    form->lifetime = number(column(count, names, values, "password_lifetime"));
    std::string default_role = text("default_role"); /* MariaDB 10.1 to 10.3 */
    if (!default_role.empty())
        form->default_roles.push_back(default_role);
}

static void read_form_row(QVAccountCheck *check, unsigned count, const char *const names[],
                          const char *const values[])
{
    QVFormCheck *form = find_form(check, column(count, names, values, "User"),
                                  column(count, names, values, "Host"));
    if (form == nullptr)
        return;
    form->exists = true;
    form->credentials.clear();
    form->default_roles.clear();
    if (std::optional<long long> now = number(column(count, names, values, "qv_now")))
        check->now = now;
    if (std::optional<long long> days = number(column(count, names, values, "qv_default_lifetime")))
        check->default_lifetime = days;
    if (const char *priv = column(count, names, values, "Priv"))
        read_global_priv(form, priv);
    else
        read_user_columns(form, count, names, values);
    form->roles = split_list(column(count, names, values, "qv_roles"));
    for (const std::string &role : split_list(column(count, names, values, "qv_default_roles")))
        form->default_roles.push_back(role);
    for (const std::string &name : split_list(column(count, names, values, "qv_dynamic")))
        form->held.insert(upper(name.c_str()));
    if (!split_list(column(count, names, values, "qv_dynamic_grantable")).empty())
        form->grant_option = true;
}

static void read_privilege_row(QVAccountCheck *check, unsigned count, const char *const names[],
                               const char *const values[])
{
    QVFormCheck *form = find_grantee(check, column(count, names, values, "GRANTEE"));
    const char *privilege = column(count, names, values, "PRIVILEGE_TYPE");
    const char *object = column(count, names, values, "OBJECT");
    if (form == nullptr || privilege == nullptr)
        return;
    if (object != nullptr && *object != '\0') {
        form->other_grants.push_back(std::string(privilege) + " ON " + object);
        return;
    }
    /* The grant option shows on every global row, USAGE's included. */
    if (yes(column(count, names, values, "IS_GRANTABLE")))
        form->grant_option = true;
    std::string name = upper(privilege);
    if (name != "USAGE")
        form->held.insert(name);
}

static void read_server_privilege_row(QVAccountCheck *check, unsigned count,
                                      const char *const names[], const char *const values[])
{
    const char *privilege = column(count, names, values, "Privilege");
    if (privilege == nullptr)
        return;
    std::string name = upper(privilege);
    /* Not privileges that ALL gives: the grant option, proxying, and none at all. */
    if (name != "GRANT OPTION" && name != "PROXY" && name != "USAGE" && !name.empty())
        check->server_privileges.insert(name);
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

/* ---- the verdicts ------------------------------------------------------------------- */

static bool has_expired(const QVFormCheck &form, const QVAccountCheck &check)
{
    if (form.expired_explicitly)
        return true;
    long long days = form.lifetime ? *form.lifetime : check.default_lifetime.value_or(0);
    if (days <= 0 || !form.last_changed || !check.now)
        return false;
    return *check.now - *form.last_changed > days * 86400;
}

/* The privileges differences: global ones against the level, then the grant option,
 * then grants on the mysql schema and roles, all of which a run never gives. */
static void judge_privileges(QVFormCheck *form, const std::vector<const char *> &server)
{
    std::set<std::string> expected;
    qv_level_leaves(
        form->account->level, server.data(), server.size(),
        [](void *context, const char *name) {
            static_cast<std::set<std::string> *>(context)->insert(upper(name));
        },
        &expected);
    form->missing.clear();
    form->extra.clear();
    std::set_difference(expected.begin(), expected.end(), form->held.begin(), form->held.end(),
                        std::back_inserter(form->missing));
    std::set_difference(form->held.begin(), form->held.end(), expected.begin(), expected.end(),
                        std::back_inserter(form->extra));
    bool grant_option = qv_level_grant_option(form->account->level);
    if (grant_option != form->grant_option)
        (grant_option ? form->missing : form->extra).push_back("GRANT OPTION");
    form->extra.insert(form->extra.end(), form->other_grants.begin(), form->other_grants.end());
    for (const std::string &role : form->roles) {
        bool is_default = std::find(form->default_roles.begin(), form->default_roles.end(), role) !=
                          form->default_roles.end();
        form->extra.push_back("role " + role + (is_default ? " (default)" : ""));
    }
    for (const std::string &role : form->default_roles)
        if (std::find(form->roles.begin(), form->roles.end(), role) == form->roles.end())
            form->extra.push_back("default role " + role);
}

/* The password's verdict over the form's credentials: ok when any admits it, unknown
 * when none does and one cannot tell, else differs. */
static void judge_password(QVFormCheck *form)
{
    form->password = QV_CREDENTIAL_DIFFERS;
    form->reason.clear();
    if (form->credentials.empty()) {
        form->password = QV_CREDENTIAL_UNKNOWN;
        form->reason = "its stored credential could not be read";
        return;
    }
    for (const QVCredential &credential : form->credentials) {
        char reason[256];
        int verdict = qv_credential_verify(
            credential.plugin.c_str(), credential.authentication.c_str(),
            form->password_column.c_str(), form->account->password, reason, sizeof reason);
        if (verdict == QV_CREDENTIAL_MATCHES) {
            form->password = verdict;
            form->reason.clear();
            return;
        }
        if (verdict == QV_CREDENTIAL_UNKNOWN && form->password != QV_CREDENTIAL_UNKNOWN) {
            form->password = verdict;
            form->reason = reason;
        } else if (form->password == QV_CREDENTIAL_DIFFERS && form->reason.empty()) {
            form->reason = reason;
        }
    }
}

void qv_check_conclude(QVAccountCheck *check)
{
    std::vector<const char *> server;
    for (const std::string &name : check->server_privileges)
        server.push_back(name.c_str());
    for (QVFormCheck &form : check->forms) {
        if (!form.exists)
            continue;
        form.expired = has_expired(form, *check);
        judge_privileges(&form, server);
        judge_password(&form);
    }
}

/* Whether a concluded form is as a run leaves it. */
static bool qv_check_form_ok(const QVFormCheck *form)
{
    return form->exists && !form->locked && !form->expired && form->missing.empty() &&
           form->extra.empty() && form->password != QV_CREDENTIAL_DIFFERS;
}

/* ---- the report --------------------------------------------------------------------- */

struct Counts {
    int good, missing, other_privileges, other_password, locked, expired, unknown;
};

static Counts count_forms(const QVAccountCheck *check)
{
    Counts c{};
    for (const QVFormCheck &f : check->forms) {
        c.good += qv_check_form_ok(&f);
        c.missing += !f.exists;
        if (!f.exists)
            continue;
        c.other_privileges += !f.missing.empty() || !f.extra.empty();
        c.other_password += f.password == QV_CREDENTIAL_DIFFERS;
        c.unknown += f.password == QV_CREDENTIAL_UNKNOWN;
        c.locked += f.locked;
        c.expired += f.expired;
    }
    return c;
}

static const char *password_word(int password)
{
    return password == QV_CREDENTIAL_MATCHES   ? "ok"
           : password == QV_CREDENTIAL_DIFFERS ? "differs"
                                               : "unknown";
}

/* A statement that mends a lock or an expiry, and what the user should know of it. */
struct Mend {
    std::string statement;
    const char *note;
};

/* The statements that mend a form's lock and expiry, none when it has neither. */
static std::vector<Mend> mending(const QVFormCheck &f)
{
    std::string form = grantee_of(f.account->name, f.host);
    std::vector<Mend> mend;
    if (f.exists && f.locked)
        mend.push_back(
            {"ALTER USER " + form + " ACCOUNT UNLOCK", "a run does not unlock accounts"});
    if (f.exists && f.expired)
        mend.push_back({"ALTER USER " + form + " IDENTIFIED BY '<its built-in password>'",
                        "a run sets it again on MariaDB without a password reuse policy"});
    return mend;
}

/* Items joined with ", ", those on one object ("SELECT ON mysql.*", "INSERT ON
 * mysql.*") written once: "SELECT, INSERT ON mysql.*". */
static std::string join_grouped(const std::vector<std::string> &items)
{
    std::string out, object; /* object: " ON ..." of the group being written */
    for (const std::string &item : items) {
        size_t on = item.find(" ON ");
        std::string item_object = on == std::string::npos ? "" : item.substr(on);
        if (!out.empty())
            out += (item_object.empty() || item_object != object ? object : "") + ", ";
        out += item.substr(0, on);
        object = item_object;
    }
    return out + object;
}

static std::string privileges_cell(const QVFormCheck &f)
{
    if (!f.exists)
        return "-";
    std::string cell;
    if (!f.missing.empty())
        cell = "missing " + join_grouped(f.missing);
    if (!f.extra.empty())
        cell += (cell.empty() ? "extra " : "; extra ") + join_grouped(f.extra);
    return cell.empty() ? "ok" : cell;
}

static std::string form_cell(const QVFormCheck &f)
{
    if (!f.exists)
        return "missing";
    if (f.locked || f.expired)
        return std::string(f.locked ? "locked" : "") + (f.locked && f.expired ? ", " : "") +
               (f.expired ? "password expired" : "");
    return "present";
}

static std::string password_cell(const QVFormCheck &f)
{
    if (!f.exists)
        return "-";
    std::string cell = password_word(f.password);
    return f.reason.empty() ? cell : cell + " (" + f.reason + ")";
}

/* text with each control character (a server's name may hold a line feed) shown as "?",
 * so that every form stays on one line of the table. */
static std::string printable(std::string text)
{
    for (char &c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return text;
}

static void print_text(const QVAccountCheck *check, const Counts &c, FILE *out)
{
    std::vector<std::vector<std::string>> rows = {
        {"ACCOUNT", "HOST", "FORM", "PRIVILEGES", "PASSWORD"}};
    for (const QVFormCheck &f : check->forms)
        rows.push_back({f.account->name, f.host, form_cell(f), printable(privileges_cell(f)),
                        printable(password_cell(f))});
    size_t width[5] = {0, 0, 0, 0, 0};
    for (const auto &row : rows)
        for (size_t i = 0; i < 5; i++)
            width[i] = std::max(width[i], row[i].size());
    for (const auto &row : rows) {
        std::string line;
        for (size_t i = 0; i < 4; i++)
            line += row[i] + std::string(width[i] - row[i].size() + 2, ' ');
        fprintf(out, "%s%s\n", line.c_str(), row[4].c_str());
    }
    fprintf(out,
            "%d of %zu account forms as they should be; %d missing, %d with other privileges, "
            "%d with another password, %d locked, %d with the password expired; %d password%s "
            "unknown\n",
            c.good, check->forms.size(), c.missing, c.other_privileges, c.other_password, c.locked,
            c.expired, c.unknown, c.unknown == 1 ? "" : "s");
    for (const QVFormCheck &f : check->forms)
        for (const Mend &mend : mending(f))
            fprintf(out, "hint: %s (%s)\n", mend.statement.c_str(), mend.note);
}

static nlohmann::ordered_json form_json(const QVFormCheck &f)
{
    nlohmann::ordered_json form = {{"account", f.account->name},
                                   {"host", f.host},
                                   {"present", f.exists},
                                   {"locked", f.exists && f.locked},
                                   {"password_expired", f.exists && f.expired},
                                   {"privileges", nullptr},
                                   {"password", nullptr}};
    if (f.exists) {
        form["privileges"] = {{"ok", f.missing.empty() && f.extra.empty()},
                              {"missing", f.missing},
                              {"extra", f.extra}};
        form["password"] = {{"verdict", password_word(f.password)}, {"reason", f.reason}};
    }
    form["as_it_should_be"] = qv_check_form_ok(&f);
    form["mend"] = nlohmann::ordered_json::array();
    for (const Mend &mend : mending(f))
        form["mend"].push_back(mend.statement);
    return form;
}

/* Prints document to out, indented; texts from the server are not trusted to be UTF-8:
 * what is not is replaced. */
static void print_document(const nlohmann::ordered_json &document, FILE *out)
{
    std::string text = document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    fprintf(out, "%s\n", text.c_str());
}

static void print_json(const QVAccountCheck *check, const Counts &c, int code, FILE *out)
{
    nlohmann::ordered_json document;
    document["server"] = check->server;
    document["forms"] = nlohmann::ordered_json::array();
    for (const QVFormCheck &f : check->forms)
        document["forms"].push_back(form_json(f));
    document["summary"] = {{"forms", check->forms.size()},
                           {"as_they_should_be", c.good},
                           {"missing", c.missing},
                           {"with_other_privileges", c.other_privileges},
                           {"with_another_password", c.other_password},
                           {"locked", c.locked},
                           {"password_expired", c.expired},
                           {"passwords_unknown", c.unknown}};
    document["exit_status"] = code;
    print_document(document, out);
}

int qv_check_report(const QVAccountCheck *check, FILE *out, bool json)
{
    Counts c = count_forms(check);
    int code = static_cast<size_t>(c.good) == check->forms.size() ? 0 : 1;
    if (json)
        print_json(check, c, code, out);
    else
        print_text(check, c, out);
    fflush(out);
    return code;
}

/* ---- the check ---------------------------------------------------------------------- */

/* One statement of the check and the reader of its rows. */
struct CheckStatement {
    std::string text;
    void (*read)(QVAccountCheck *, unsigned, const char *const[], const char *const[]);
};

static void read_row(void *context, unsigned count, const char *const names[],
                     const char *const values[])
{
    auto *step = static_cast<std::pair<QVAccountCheck *, const CheckStatement *> *>(context);
    step->second->read(step->first, count, names, values);
}

/* Logs in as the administrator and reads the forms, their privileges and the server's
 * privileges into check. Returns 0, or the status of the step that failed (logged). */
static unsigned read_check(const QVDBSettings *settings, QVAccountCheck *check)
{
    QVDBEngine *engine = nullptr;
    unsigned status = qv_DBEngine_init(&engine, settings);
    if (status != 0) {
        qv_log(QV_LOG_ERROR, "Cannot connect to %s",
               settings->host.text ? settings->host.text : "(default host)");
        return status;
    }
    const char *server = mysql_get_server_info(engine->connection);
    check->server = server ? server : "";
    QVDBServerFacts facts{};
    qv_server_facts_from_info(server, &facts);
    const CheckStatement statements[] = {
        {qv_check_forms_statement(&facts), qv_check_read_form_row},
        {qv_check_privileges_statement(), qv_check_read_privilege_row},
        {QV_CHECK_SERVER_PRIVILEGES_STATEMENT, qv_check_read_server_privilege_row},
    };
    for (const CheckStatement &statement : statements) {
        std::pair<QVAccountCheck *, const CheckStatement *> step = {check, &statement};
        QVDBRowReader reader = {&step, read_row};
        status = qv_mysql_s_select(engine, statement.text.c_str(), &reader);
        if (status == 0 && check->read_failed)
            status = 2; /* logged where the row was read */
        if (status != 0) {
            qv_log_trace(QV_FILE, __LINE__);
            break;
        }
    }
    qv_DBEngine_finish(&engine);
    return status;
}

/* For --json when the server could not be asked: a document that says so. */
static void print_json_failure(FILE *out)
{
    const char *hint = qv_DBEngine_last_hint();
    nlohmann::ordered_json document = {
        {"error", "the server could not be asked"},
        {"hint", hint[0] != '\0' ? nlohmann::ordered_json(hint) : nlohmann::ordered_json()},
        {"exit_status", 1}};
    print_document(document, out);
    fflush(out);
}

int CheckServiceAccounts(QVDBSettings *settings, FILE *out, bool json)
{
    qv_DBEngine_clear_failure();
    qv_DBEngine_report_option_file();
    try {
        QVAccountCheck check;
        qv_check_init(&check);
        if (read_check(settings, &check) == 0) {
            qv_check_conclude(&check);
            return qv_check_report(&check, out, json);
        }
    } catch (const std::exception &e) {
        qv_log(QV_LOG_ERROR, "CheckServiceAccounts: %s", e.what());
    }
    qv_DBEngine_log_hint(nullptr);
    if (json)
        print_json_failure(out);
    return 1;
}
