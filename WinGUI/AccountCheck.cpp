/*
 * AccountCheck: the check of the service accounts on the server, reading only.
 *
 * Invariants: the only statements sent are SELECTs on mysql.user; the administrator's
 * connection is closed before the service accounts' logins are tried; a password is
 * called "ok" only when a login with it succeeded, or when the stored authentication
 * proves it equal to one that did.
 */
#include "WinGUI/AccountCheck.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "Interfaces/ErrorLogger/ErrorLogger.h"

static const char QV_FILE[] = "WinGUI/AccountCheck";

static const char *const g_hosts[] = {"%", "localhost"};

/* The nine data privileges of the levels 2 and 3, as mysql.user columns. */
static const char *const g_data_columns[] = {
    "Select_priv", "Insert_priv",     "Update_priv", "Delete_priv", "Create_priv",
    "Drop_priv",   "References_priv", "Index_priv",  "Alter_priv",
};

/* Whether level leaves a new account holding the privilege of column. */
static bool level_holds(int level, const char *column)
{
    bool data = false;
    for (const char *d : g_data_columns)
        data = data || strcmp(d, column) == 0;
    switch (level) {
    case QV_PRIV_ALL_GRANT:
        return true;
    case QV_PRIV_ALL:
        return strcmp(column, "Grant_priv") != 0;
    case QV_PRIV_DATA:
        return data;
    case QV_PRIV_DATA_RELOAD:
        return data || strcmp(column, "Reload_priv") == 0;
    default:
        return false;
    }
}

void qv_check_privilege_name(const char *column, char *out, size_t capacity)
{
    static const char *const odd[][2] = {
        {"Create_tmp_table_priv", "CREATE TEMPORARY TABLES"},
        {"Show_db_priv", "SHOW DATABASES"},
        {"Repl_slave_priv", "REPLICATION SLAVE"},
        {"Repl_client_priv", "REPLICATION CLIENT"},
        {"Grant_priv", "GRANT OPTION"},
    };
    for (const auto &entry : odd)
        if (strcmp(column, entry[0]) == 0) {
            qv_snprintf(out, capacity, "%s", entry[1]);
            return;
        }
    size_t length = strlen(column);
    if (length >= 5 && strcmp(column + length - 5, "_priv") == 0)
        length -= 5;
    size_t i = 0;
    for (; i < length && i + 1 < capacity; i++)
        out[i] = column[i] == '_'
                     ? ' '
                     : static_cast<char>(toupper(static_cast<unsigned char>(column[i])));
    if (capacity > 0)
        out[i] = '\0';
}

/* Appends name to the ", "-separated list (capacity bytes), cutting what does not fit. */
static void append_name(char *list, size_t capacity, const char *name)
{
    size_t used = strlen(list);
    qv_snprintf(list + used, capacity - used, "%s%s", used > 0 ? ", " : "", name);
}

static bool ends_with(const char *text, const char *end)
{
    size_t n = strlen(text), m = strlen(end);
    return n >= m && strcmp(text + n - m, end) == 0;
}

void qv_check_read_user_row(QVFormCheck *form, unsigned count, const char *const names[],
                            const char *const values[])
{
    form->exists = true;
    form->missing[0] = form->extra[0] = '\0';
    form->plugin[0] = form->authentication[0] = '\0';
    for (unsigned i = 0; i < count; i++) {
        const char *value = values[i] ? values[i] : "";
        if (strcmp(names[i], "plugin") == 0) {
            qv_snprintf(form->plugin, sizeof form->plugin, "%s", value);
        } else if (strcmp(names[i], "authentication_string") == 0) {
            qv_snprintf(form->authentication, sizeof form->authentication, "%s", value);
        } else if (ends_with(names[i], "_priv")) {
            bool held = strcmp(value, "Y") == 0;
            bool wanted = level_holds(form->account->level, names[i]);
            if (held == wanted)
                continue;
            char name[64];
            qv_check_privilege_name(names[i], name, sizeof name);
            append_name(wanted ? form->missing : form->extra, QV_CHECK_TEXT_SIZE, name);
        }
    }
    /* Servers before MariaDB 10.4 leave the method of a native password empty. */
    if (form->plugin[0] == '\0')
        qv_snprintf(form->plugin, sizeof form->plugin, "%s", "mysql_native_password");
}

void qv_check_compare_any_form(QVFormCheck *any, const QVFormCheck *local)
{
    if (!any->exists)
        return;
    any->password = QV_PASSWORD_UNKNOWN;
    if (!local->exists) {
        qv_snprintf(any->reason, sizeof any->reason, "%s", "no localhost form to compare with");
        return;
    }
    /* An unsalted method stores the same string for the same password. */
    bool unsalted = strcmp(any->plugin, "mysql_native_password") == 0 ||
                    strcmp(any->plugin, "mysql_old_password") == 0;
    if (strcmp(any->plugin, local->plugin) != 0) {
        qv_snprintf(any->reason, sizeof any->reason, "%s, the localhost form %s", any->plugin,
                    local->plugin);
    } else if (!unsalted) {
        qv_snprintf(any->reason, sizeof any->reason, "%s is salted", any->plugin);
    } else if (strcmp(any->authentication, local->authentication) == 0) {
        any->password = local->password;
        qv_snprintf(any->reason, sizeof any->reason, "%s", local->reason);
    } else if (local->password == QV_PASSWORD_OK) {
        any->password = QV_PASSWORD_DIFFERS;
        any->reason[0] = '\0';
    } else {
        qv_snprintf(any->reason, sizeof any->reason, "%s",
                    "not the localhost form's, which is not the built-in one either");
    }
}

static void read_row(void *context, unsigned count, const char *const names[],
                     const char *const values[])
{
    qv_check_read_user_row(static_cast<QVFormCheck *>(context), count, names, values);
}

/* Reads the row of form from mysql.user; returns the statement's status. */
static unsigned read_form(QVDBEngine *engine, QVFormCheck *form)
{
    char statement[1024];
    qv_snprintf(statement, sizeof statement,
                "SELECT * FROM mysql.user WHERE User='%s' AND Host='%s'", form->account->name,
                form->host);
    QVDBRowReader reader = {form, read_row};
    unsigned status = qv_mysql_s_select(engine, statement, &reader);
    if (status != 0)
        qv_log_trace(QV_FILE, __LINE__);
    return status;
}

/* Tries the built-in password on the localhost form, over the administrator's socket. */
static void try_local_password(const QVDBSettings *settings, QVFormCheck *local)
{
    if (!local->exists)
        return;
    int number = qv_DBEngine_try_login(qv_string_or_null(&settings->host), local->account->name,
                                       local->account->password, settings->port,
                                       qv_string_or_null(&settings->unix_socket));
    local->reason[0] = '\0';
    if (number == 0) {
        local->password = QV_PASSWORD_OK;
    } else if (number == 1045) {
        local->password = QV_PASSWORD_DIFFERS;
    } else {
        local->password = QV_PASSWORD_UNKNOWN;
        qv_snprintf(local->reason, sizeof local->reason, "the login failed with error %d", number);
    }
}

static const char *password_word(int password)
{
    return password == QV_PASSWORD_OK        ? "ok"
           : password == QV_PASSWORD_DIFFERS ? "differs"
                                             : "unknown";
}

/* Prints the table of forms and the summary; returns the exit code. */
static int print_report(const QVFormCheck *forms, size_t count, FILE *out)
{
    std::vector<std::vector<std::string>> rows = {
        {"ACCOUNT", "HOST", "FORM", "PRIVILEGES", "PASSWORD"}};
    int good = 0, missing = 0, other_privileges = 0, other_password = 0, unknown = 0;
    for (size_t i = 0; i < count; i++) {
        const QVFormCheck &f = forms[i];
        std::string privileges = "-", password = "-";
        if (!f.exists) {
            missing++;
        } else {
            privileges.clear();
            if (f.missing[0] != '\0')
                privileges = std::string("missing ") + f.missing;
            if (f.extra[0] != '\0')
                privileges += (privileges.empty() ? "extra " : "; extra ") + std::string(f.extra);
            if (privileges.empty())
                privileges = "ok";
            else
                other_privileges++;
            password = password_word(f.password);
            if (f.reason[0] != '\0')
                password += std::string(" (") + f.reason + ")";
            other_password += f.password == QV_PASSWORD_DIFFERS;
            unknown += f.password == QV_PASSWORD_UNKNOWN;
            good += privileges == "ok" && f.password != QV_PASSWORD_DIFFERS;
        }
        rows.push_back(
            {f.account->name, f.host, f.exists ? "present" : "missing", privileges, password});
    }
    size_t width[5] = {0, 0, 0, 0, 0};
    for (const auto &row : rows)
        for (size_t c = 0; c < 5; c++)
            width[c] = std::max(width[c], row[c].size());
    for (const auto &row : rows) {
        std::string line;
        for (size_t c = 0; c < 4; c++)
            line += row[c] + std::string(width[c] - row[c].size() + 2, ' ');
        fprintf(out, "%s%s\n", line.c_str(), row[4].c_str());
    }
    fprintf(out,
            "%d of %zu account forms as they should be; %d missing, %d with other privileges, "
            "%d with another password; %d password%s unknown\n",
            good, count, missing, other_privileges, other_password, unknown,
            unknown == 1 ? "" : "s");
    fflush(out);
    return static_cast<size_t>(good) == count ? 0 : 1;
}

int CheckServiceAccounts(QVDBSettings *settings, FILE *out)
{
    qv_DBEngine_clear_failure();
    qv_DBEngine_report_option_file();
    QVDBEngine *engine = nullptr;
    if (qv_DBEngine_init(&engine, settings) != 0) {
        qv_log(QV_LOG_ERROR, "Cannot connect to %s",
               settings->host.text ? settings->host.text : "(default host)");
        qv_DBEngine_log_hint(nullptr);
        return 1;
    }
    std::vector<QVFormCheck> forms;
    for (const ServiceAccount *account = g_service_accounts; account->name != nullptr; account++)
        for (const char *host : g_hosts) {
            QVFormCheck form{};
            form.account = account;
            form.host = host;
            form.password = QV_PASSWORD_UNKNOWN;
            if (read_form(engine, &form) != 0) {
                qv_log_trace(QV_FILE, __LINE__);
                qv_DBEngine_finish(&engine);
                qv_DBEngine_log_hint(nullptr);
                return 1;
            }
            forms.push_back(form);
        }
    qv_DBEngine_finish(&engine);

    /* The forms come in pairs: the name alone, then the name at localhost. */
    for (size_t i = 0; i + 1 < forms.size(); i += 2) {
        try_local_password(settings, &forms[i + 1]);
        qv_check_compare_any_form(&forms[i], &forms[i + 1]);
    }
    return print_report(forms.data(), forms.size(), out);
}
