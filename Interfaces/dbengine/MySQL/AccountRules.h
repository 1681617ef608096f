/*
 * AccountRules: the five privilege levels of the service accounts, as data: the
 * privilege lists they name and, for each level, its GRANT and REVOKE steps in order.
 *
 * A run forms its statements from these steps (StatementForms), each step sent for both
 * forms of an account (the name alone, then the name at localhost); what a level leaves
 * an account holding follows from the same steps. All on *.*: nothing below the global
 * level is touched.
 */
#ifndef INTERFACES_DBENGINE_MYSQL_ACCOUNTRULES_H
#define INTERFACES_DBENGINE_MYSQL_ACCOUNTRULES_H

#include <cstddef>

enum {
    QV_PRIV_ALL_GRANT = 0,   /* ALL ON *.* and the grant option */
    QV_PRIV_ALL = 1,         /* ALL ON *.*, no grant option */
    QV_PRIV_DATA = 2,        /* the nine data privileges */
    QV_PRIV_DATA_RELOAD = 3, /* the nine data privileges and RELOAD */
    QV_PRIV_USAGE = 4        /* log in, nothing more */
};

/* The privilege lists the levels name, as the statements write them. */
extern const char qv_usage_privs[]; /* "USAGE" */
extern const char qv_data_privs[];  /* the nine data privileges */
extern const char qv_admin_privs[]; /* "FILE,PROCESS,RELOAD,SHUTDOWN" */

enum { QV_STEP_GRANT = 0, QV_STEP_REVOKE = 1 };

/* One step of a level: a GRANT or a REVOKE of privileges on *.*. */
struct QVLevelStep {
    int verb;               /* QV_STEP_GRANT or QV_STEP_REVOKE */
    const char *privileges; /* "ALL", "GRANT OPTION", "RELOAD", or one of the lists above */
    bool grant_option;      /* a GRANT ... WITH GRANT OPTION */
};

/* The steps of one level, in the order they are sent. */
struct QVLevelSteps {
    const QVLevelStep *steps;
    size_t count;
};

/* The steps of level priv (QV_PRIV_*); none (count 0) for any other value. The data is
 * static and never changes. */
QVLevelSteps qv_level_steps(int priv);

#endif
