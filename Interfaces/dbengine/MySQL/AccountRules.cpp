/*
 * AccountRules: the level tables. Levels 1 to 4 take away the grant option; 2 to 4 take
 * away FILE, PROCESS, RELOAD and SHUTDOWN (3 then grants RELOAD again); 4 also takes
 * away the data privileges, so that an account that existed before ends at its level.
 */
#include "Interfaces/dbengine/MySQL/AccountRules.h"

const char qv_usage_privs[] = "USAGE";
const char qv_data_privs[] = "ALTER,CREATE,DELETE,DROP,INDEX,INSERT,REFERENCES,SELECT,UPDATE";
const char qv_admin_privs[] = "FILE,PROCESS,RELOAD,SHUTDOWN";

static const QVLevelStep level_all_grant[] = {
    {QV_STEP_GRANT, "ALL", true},
};
static const QVLevelStep level_all[] = {
    {QV_STEP_GRANT, "ALL", false},
    {QV_STEP_REVOKE, "GRANT OPTION", false},
};
static const QVLevelStep level_data[] = {
    {QV_STEP_GRANT, qv_data_privs, false},
    {QV_STEP_REVOKE, "GRANT OPTION", false},
    {QV_STEP_REVOKE, qv_admin_privs, false},
};
static const QVLevelStep level_data_reload[] = {
    {QV_STEP_GRANT, qv_data_privs, false},
    {QV_STEP_REVOKE, "GRANT OPTION", false},
    {QV_STEP_REVOKE, qv_admin_privs, false},
    {QV_STEP_GRANT, "RELOAD", false},
};
static const QVLevelStep level_usage[] = {
    {QV_STEP_GRANT, qv_usage_privs, false},
    {QV_STEP_REVOKE, "GRANT OPTION", false},
    {QV_STEP_REVOKE, qv_admin_privs, false},
    {QV_STEP_REVOKE, qv_data_privs, false},
};

#define QV_STEPS(steps)                                                                            \
    {                                                                                              \
        steps, sizeof steps / sizeof steps[0]                                                      \
    }
static const QVLevelSteps g_levels[] = {
    QV_STEPS(level_all_grant),   QV_STEPS(level_all),   QV_STEPS(level_data),
    QV_STEPS(level_data_reload), QV_STEPS(level_usage),
};

QVLevelSteps qv_level_steps(int priv)
{
    if (priv < QV_PRIV_ALL_GRANT || priv > QV_PRIV_USAGE)
        return {nullptr, 0};
    return g_levels[priv];
}
