/*
 * StatementForms: fragments and statements, formed with bounded formatting into buffers
 * of QV_STATEMENT_SIZE bytes, and the set-once form's decision per stored form. Every
 * statement comes in a pair: first for the name alone, then for the name at localhost.
 */
#include "Interfaces/dbengine/MySQL/StatementForms.h"

#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "Interfaces/dbengine/MySQL/AccountRules.h"

bool qv_form_fragments(QVFragments f, int form, const char *name, const char *password)
{
    bool identified_grants = form != QV_FORM_CREATE_ALTER;
    int results[] = {
        identified_grants ? qv_snprintf(f[QV_TO_ANY], QV_STATEMENT_SIZE,
                                        "TO '%s' IDENTIFIED BY '%s'", name, password)
                          : qv_snprintf(f[QV_TO_ANY], QV_STATEMENT_SIZE, "TO '%s'", name),
        identified_grants
            ? qv_snprintf(f[QV_TO_LOCAL], QV_STATEMENT_SIZE,
                          "TO '%s'@'localhost' IDENTIFIED BY '%s'", name, password)
            : qv_snprintf(f[QV_TO_LOCAL], QV_STATEMENT_SIZE, "TO '%s'@'localhost'", name),
        qv_snprintf(f[QV_FROM_ANY], QV_STATEMENT_SIZE, "FROM '%s'", name),
        qv_snprintf(f[QV_FROM_LOCAL], QV_STATEMENT_SIZE, "FROM '%s'@'localhost'", name),
        qv_snprintf(f[QV_ACCOUNT_ANY], QV_STATEMENT_SIZE, "'%s'", name),
        qv_snprintf(f[QV_ACCOUNT_LOCAL], QV_STATEMENT_SIZE, "'%s'@'localhost'", name),
    };
    for (int result : results)
        if (result < 0)
            return false;
    return true;
}

size_t qv_form_level_count(int priv)
{
    return 2 * qv_level_steps(priv).count;
}

int qv_form_level_statement(int priv, size_t index, const QVFragments f, char *statement)
{
    bool local = index % 2 == 1;
    const QVLevelStep &step = qv_level_steps(priv).steps[index / 2];
    if (step.verb == QV_STEP_REVOKE)
        return qv_snprintf(statement, QV_STATEMENT_SIZE, "REVOKE %s ON *.* %s", step.privileges,
                           f[local ? QV_FROM_LOCAL : QV_FROM_ANY]);
    return qv_snprintf(statement, QV_STATEMENT_SIZE, "GRANT %s ON *.* %s%s", step.privileges,
                       f[local ? QV_TO_LOCAL : QV_TO_ANY],
                       step.grant_option ? " WITH GRANT OPTION" : "");
}

int qv_form_create_user(const QVFragments f, bool local, const char *password, char *statement)
{
    return qv_snprintf(statement, QV_STATEMENT_SIZE,
                       "CREATE USER IF NOT EXISTS %s IDENTIFIED BY '%s'",
                       f[local ? QV_ACCOUNT_LOCAL : QV_ACCOUNT_ANY], password);
}

int qv_form_alter_user(const QVFragments f, bool local, bool caching_sha2, const char *password,
                       char *statement)
{
    return qv_snprintf(statement, QV_STATEMENT_SIZE, "ALTER USER %s IDENTIFIED %sBY '%s'",
                       f[local ? QV_ACCOUNT_LOCAL : QV_ACCOUNT_ANY],
                       caching_sha2 ? "WITH caching_sha2_password " : "", password);
}

int qv_form_read_forms(const char *name, bool password_column, char *statement)
{
    return qv_snprintf(statement, QV_STATEMENT_SIZE,
                       "SELECT Host, plugin, authentication_string%s FROM mysql.user WHERE "
                       "User = '%s' AND Host IN ('%%', 'localhost')",
                       password_column ? ", Password" : "", name);
}

/* Copies value (null as "") into field; notes a cut. */
static void keep(char *field, size_t capacity, const char *value, bool *cut)
{
    if (qv_snprintf(field, capacity, "%s", value ? value : "") < 0)
        *cut = true;
}

void qv_form_read_stored(QVStoredForm forms[2], unsigned count, const char *const names[],
                         const char *const values[])
{
    QVStoredForm read{};
    int which = -1;
    for (unsigned i = 0; i < count; i++) {
        if (strcmp(names[i], "Host") == 0 && values[i] != nullptr)
            which = strcmp(values[i], "%") == 0 ? 0 : strcmp(values[i], "localhost") == 0 ? 1 : -1;
        else if (strcmp(names[i], "plugin") == 0)
            keep(read.plugin, sizeof read.plugin, values[i], &read.cut);
        else if (strcmp(names[i], "authentication_string") == 0)
            keep(read.authentication_string, sizeof read.authentication_string, values[i],
                 &read.cut);
        else if (strcmp(names[i], "Password") == 0)
            keep(read.password_column, sizeof read.password_column, values[i], &read.cut);
    }
    if (which < 0)
        return;
    read.exists = true;
    forms[which] = read;
}

int qv_form_password_step(const QVStoredForm *stored, const char *password, bool native_active)
{
    if (!stored->exists)
        return QV_SET_NOTHING;
    /* Servers before MariaDB 10.4 leave the method of a native password empty. */
    bool native = stored->plugin[0] == '\0' || strcmp(stored->plugin, "mysql_native_password") == 0;
    if (native && !native_active)
        return QV_SET_CACHING_SHA2;
    if (stored->cut)
        return QV_SET_PASSWORD;
    int verdict = qv_credential_verify(stored->plugin, stored->authentication_string,
                                       stored->password_column, password, nullptr, 0);
    return verdict == QV_CREDENTIAL_MATCHES ? QV_SET_NOTHING : QV_SET_PASSWORD;
}
