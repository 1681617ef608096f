/*
 * Hints: the table of remedies and the last failure of a client call on this thread.
 *
 * Invariant: the last failure and its hint are kept per thread, in plain storage (no
 * destructor), so that a failure on one thread never picks another's hint.
 */
#include "Interfaces/dbengine/MySQL/Hints.h"

#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"

/* Room for a hint. */
#define QV_HINT_SIZE 512

/* The last failure of a client call on this thread: its error number (0 none) and
 * whether the failing statement was a GRANT. */
struct LastFailure {
    int number;
    bool grant;
};
static thread_local LastFailure t_failure;
static thread_local char t_hint[QV_HINT_SIZE];

const char *qv_DBEngine_hint(int number, bool grant, const char *account, char *out,
                             size_t capacity)
{
    const char *remedy = nullptr;
    switch (number) {
    case 2002:
    case 2003:
        remedy = "no database server answers on this machine; start it, or name its socket in "
                 "MYSQL_UNIX_PORT or in ~/.my.cnf";
        break;
    case 1045:
        remedy = "the server refused root's password; put it in the [client] group of ~/.my.cnf "
                 "(mode 600) and run again";
        break;
    case 1698:
        remedy = "the server admits root only for the system's root user; run the tool as root, "
                 "for example with sudo";
        break;
    case 1819:
        qv_snprintf(out, capacity,
                    "the server's password policy refused the built-in password of %s; relax the "
                    "policy while the suite is installed (accounts made before stay), then run "
                    "again",
                    account ? account : "an account");
        return out;
    case 1290:
        remedy = "the server runs with --skip-grant-tables or read-only and cannot create "
                 "accounts; restart it normally";
        break;
    case 1044:
    case 1142:
    case 1227:
    case 1410:
        remedy = "root lacks the privileges to grant these; it needs ALL PRIVILEGES WITH GRANT "
                 "OPTION";
        break;
    case 2006:
    case 2013:
        remedy = "the server stopped answering (a lock held by another session, such as a "
                 "backup's FLUSH TABLES WITH READ LOCK, or a restart); run again when it answers";
        break;
    case 1064:
        if (grant)
            remedy = "the server does not accept this statement form; see the supported servers "
                     "in VADedeVeZovid(8)";
        break;
    }
    if (remedy == nullptr)
        return nullptr;
    qv_snprintf(out, capacity, "%s", remedy);
    return out;
}

const char *qv_DBEngine_last_hint(void)
{
    return t_hint;
}

void qv_DBEngine_clear_failure(void)
{
    t_failure = {0, false};
    t_hint[0] = '\0';
}

void qv_DBEngine_log_hint(const char *account)
{
    char hint[QV_HINT_SIZE];
    t_hint[0] = '\0';
    if (t_failure.number == 0 ||
        qv_DBEngine_hint(t_failure.number, t_failure.grant, account, hint, sizeof hint) == nullptr)
        return;
    qv_log(QV_LOG_ERROR, "hint: %s", hint);
    memcpy(t_hint, hint, sizeof hint);
}

void qv_DBEngine_note_failure(int number, bool grant)
{
    t_failure = {number, grant};
}
