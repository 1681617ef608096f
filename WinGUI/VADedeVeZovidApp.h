/*
 * VADedeVeZovidApp: the application object and the provisioning run, the tool's one
 * piece of work.
 *
 * Holding the administrator's connection settings, the run creates the suite's service
 * accounts one after another, each at its own privilege level, and stops at the first
 * that cannot be created; accounts made before stay in place. What the server is (read
 * only, its password policies) is detected once, at the first account. The application opens
 * the log, runs it once, and either closes the log or tells the user of the failure.
 */
#ifndef WINGUI_VADEDEVEZOVIDAPP_H
#define WINGUI_VADEDEVEZOVIDAPP_H

#include "AppFramework/AppFramework.h"
#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "Interfaces/dbengine/MySQL/MyDBEngine.h"

/* The accounts to create, in order, ended by a record whose name is null. */
extern const ServiceAccount g_service_accounts[];

/* Creates one account with the settings' host, user, password, port and socket (an
 * absent or empty text passed as null), with the run's record of what the server is
 * (facts; null: the call detects for itself). Returns TRUE exactly when the engine
 * returns 0. */
BOOL AddServiceAccount(const QVDBSettings *settings, const char *name, const char *password,
                       int level, QVDBServerFacts *facts = nullptr);

/* Fills settings with the administrator's: host "localhost", user "root", no password
 * (so that the option file's applies), port 3306, no socket. Returns 0 or the status of
 * the text that could not be made (logged, with a trace line). */
unsigned AdministratorSettings(QVDBSettings *settings);

/* Fills settings with the administrator's (AdministratorSettings) and creates every
 * service account. Returns TRUE when all were created. The settings'
 * texts stay owned by the caller's record. */
BOOL ProvisionServiceAccounts(QVDBSettings *settings);

/* What the command line asks for. The tool reads nothing from it for its job: it
 * answers --help and --version, checks the accounts with --check (--check --json for
 * its JSON form, in either order), and refuses anything else. */
enum QVAppAction {
    QV_APP_PROVISION = 0, /* no argument: create the accounts */
    QV_APP_HELP,
    QV_APP_VERSION,
    QV_APP_CHECK,
    QV_APP_CHECK_JSON,
    QV_APP_BAD_USAGE
};

/* Reads the command line (argv[0] is the program). Returns the action; for
 * QV_APP_BAD_USAGE, *offending points at the argument that was refused. */
QVAppAction ParseCommandLine(int argc, char *const argv[], const char **offending);

/* The usage text that --help prints. */
extern const char g_usage_text[];

/* The tool's application object. It has no window: InitInstance does the whole job
 * and answers FALSE, and the exit code tells whether provisioning succeeded (0) or
 * failed (1). */
class CHalvernApp : public CWinApp
{
  public:
    CHalvernApp() = default;

    /* Answers --help and --version, or refuses a bad command line (exit code 2),
     * touching neither the server nor the log; with --check (and --json), checks the accounts
     * without changing anything or writing the log (exit code 0 as they should be, 1 when
     * one differs, 3 when the server could not be asked). Otherwise selects language
     * 0, opens the log file, provisions the service accounts, then closes the log, or shows the
     * "KTRGU0079" message followed on standard error by the failure's hint, and leaves
     * the log open until the process ends. Returns FALSE. */
    BOOL InitInstance() override;

    QVLogSink m_logSink{};       /* filled by qv_logger_create */
    QVDBSettings m_dbSettings{}; /* the administrator's settings used by the run */
};

#endif
