/*
 * StatementForms: fragments and statements, formed with bounded formatting into buffers
 * of QV_STATEMENT_SIZE bytes. Every statement comes in a pair: first for the name alone,
 * then for the name at localhost.
 */
#include "Interfaces/dbengine/MySQL/StatementForms.h"

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "Interfaces/dbengine/MySQL/AccountRules.h"

/* The account statements of the CREATE USER form, each sent as a pair. Every level's
 * sequence is preceded by these on MySQL 8.0 and later, so that an existing account's
 * password is reset as on the other servers. */
static const char *const g_account_formats[] = {
    "CREATE USER IF NOT EXISTS %s",
    "ALTER USER %s",
};
static const size_t g_account_pairs = sizeof g_account_formats / sizeof g_account_formats[0];

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
        qv_snprintf(f[QV_IDENTIFIED_ANY], QV_STATEMENT_SIZE, "'%s' IDENTIFIED BY '%s'", name,
                    password),
        qv_snprintf(f[QV_IDENTIFIED_LOCAL], QV_STATEMENT_SIZE,
                    "'%s'@'localhost' IDENTIFIED BY '%s'", name, password),
    };
    for (int result : results)
        if (result < 0)
            return false;
    return true;
}

static size_t account_statement_count(int form)
{
    return form == QV_FORM_CREATE_ALTER ? 2 * g_account_pairs : 0;
}

size_t qv_form_statement_count(int priv, int form)
{
    return account_statement_count(form) + 2 * qv_level_steps(priv).count;
}

/* Forms the statement of one level step for one form of the account. */
static int format_step(const QVLevelStep &step, const QVFragments f, bool local, char *statement)
{
    if (step.verb == QV_STEP_REVOKE)
        return qv_snprintf(statement, QV_STATEMENT_SIZE, "REVOKE %s ON *.* %s", step.privileges,
                           f[local ? QV_FROM_LOCAL : QV_FROM_ANY]);
    return qv_snprintf(statement, QV_STATEMENT_SIZE, "GRANT %s ON *.* %s%s", step.privileges,
                       f[local ? QV_TO_LOCAL : QV_TO_ANY],
                       step.grant_option ? " WITH GRANT OPTION" : "");
}

int qv_form_statement(int priv, int form, size_t index, const QVFragments f, char *statement)
{
    bool local = index % 2 == 1;
    size_t accounts = account_statement_count(form);
    if (index < accounts)
        return qv_snprintf(statement, QV_STATEMENT_SIZE, g_account_formats[index / 2],
                           f[local ? QV_IDENTIFIED_LOCAL : QV_IDENTIFIED_ANY]);
    return format_step(qv_level_steps(priv).steps[(index - accounts) / 2], f, local, statement);
}
