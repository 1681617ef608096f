/*
 * AccountRules: the level tables. Levels 1 to 4 take away the grant option; 2 to 4 take
 * away FILE, PROCESS, RELOAD and SHUTDOWN (3 then grants RELOAD again); 4 also takes
 * away the data privileges, so that an account that existed before ends at its level.
 */
#include "Interfaces/dbengine/MySQL/AccountRules.h"

#include <strings.h>

#include <cstring>

/* The privilege lists the levels name, as the statements write them. */
static const char qv_usage_privs[] = "USAGE";
static const char qv_data_privs[] =
    "ALTER,CREATE,DELETE,DROP,INDEX,INSERT,REFERENCES,SELECT,UPDATE";
static const char qv_admin_privs[] = "FILE,PROCESS,RELOAD,SHUTDOWN";

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

/* ---- what a run leaves -------------------------------------------------------------- */

/* Measures the item of a comma-separated list that starts at item; returns where the
 * next one starts (at the terminator after the last). */
static const char *list_item(const char *item, size_t *length)
{
    *length = strcspn(item, ",");
    return item + *length + (item[*length] == ',' ? 1 : 0);
}

/* Whether the comma-separated list names privilege, case aside. */
static bool list_names(const char *list, const char *privilege)
{
    size_t n = strlen(privilege), length;
    for (const char *item = list, *next; *item != '\0'; item = next) {
        next = list_item(item, &length);
        if (length == n && strncasecmp(item, privilege, n) == 0)
            return true;
    }
    return false;
}

/* Whether step grants or revokes privilege: ALL names every privilege, GRANT OPTION
 * none (it is the grant option, not a privilege). */
static bool step_names(const QVLevelStep *step, const char *privilege)
{
    if (strcmp(step->privileges, "GRANT OPTION") == 0)
        return false;
    return strcmp(step->privileges, "ALL") == 0 || list_names(step->privileges, privilege);
}

bool qv_level_holds(int priv, const char *privilege)
{
    if (privilege == nullptr || strcasecmp(privilege, "USAGE") == 0 ||
        strcasecmp(privilege, "GRANT OPTION") == 0)
        return false;
    QVLevelSteps level = qv_level_steps(priv);
    bool held = false;
    for (size_t i = 0; i < level.count; i++)
        if (step_names(&level.steps[i], privilege))
            held = level.steps[i].verb == QV_STEP_GRANT;
    return held;
}

bool qv_level_grant_option(int priv)
{
    QVLevelSteps level = qv_level_steps(priv);
    bool held = false;
    for (size_t i = 0; i < level.count; i++) {
        const QVLevelStep &step = level.steps[i];
        if (step.verb == QV_STEP_GRANT && step.grant_option)
            held = true;
        else if (step.verb == QV_STEP_REVOKE && strcmp(step.privileges, "GRANT OPTION") == 0)
            held = false;
    }
    return held;
}

bool qv_level_takes_away(int priv, const char *privilege)
{
    if (privilege == nullptr)
        return false;
    bool grant_option = strcasecmp(privilege, "GRANT OPTION") == 0;
    QVLevelSteps level = qv_level_steps(priv);
    for (size_t i = 0; i < level.count; i++) {
        const QVLevelStep &step = level.steps[i];
        if (step.verb != QV_STEP_REVOKE)
            continue;
        bool revokes_grant_option = strcmp(step.privileges, "GRANT OPTION") == 0;
        if (grant_option ? revokes_grant_option : step_names(&step, privilege))
            return true;
    }
    return false;
}

void qv_level_leaves(int priv, const char *const server[], size_t count,
                     void (*visit)(void *context, const char *name), void *context)
{
    for (size_t i = 0; i < count; i++)
        if (qv_level_holds(priv, server[i]))
            visit(context, server[i]);
    /* The names of the steps' lists, in case the server did not name one of them. */
    QVLevelSteps level = qv_level_steps(priv);
    char name[64];
    size_t length;
    for (size_t i = 0; i < level.count; i++)
        for (const char *item = level.steps[i].privileges, *next; *item != '\0'; item = next) {
            next = list_item(item, &length);
            if (length >= sizeof name)
                continue;
            memcpy(name, item, length);
            name[length] = '\0';
            if (strcmp(name, "ALL") != 0 && qv_level_holds(priv, name))
                visit(context, name);
        }
}
