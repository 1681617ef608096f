/*
 * StatementForms: fragments and statements, formed with bounded formatting into buffers
 * of QV_STATEMENT_SIZE bytes, and the set-once form's decision per stored form. Every
 * statement comes in a pair: first for the name alone, then for the name at localhost.
 */
#include "Interfaces/dbengine/MySQL/StatementForms.h"

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

int qv_form_password_step(const QVStoredForm *stored, const char *password, bool native_active)
{
    if (!stored->exists ||
        qv_stored_form_verify(stored, password, native_active, nullptr, 0) == QV_CREDENTIAL_MATCHES)
        return QV_SET_NOTHING;
    return qv_stored_form_native(stored) && !native_active ? QV_SET_CACHING_SHA2 : QV_SET_PASSWORD;
}
