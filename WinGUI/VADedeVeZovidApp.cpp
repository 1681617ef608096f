/*
 * VADedeVeZovidApp: the service account table, the provisioning run and the
 * application's start-up and shut-down.
 */
#include "WinGUI/VADedeVeZovidApp.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/GuiMessages.h"
#include "QVLib/QVsignals.h"
#include "WinGUI/CheckReport.h"

static const char QV_FILE[] = "WinGUI/VADedeVeZovidApp";

const ServiceAccount g_service_accounts[] = {
    {"QuorvaneInternal", "Rm5#Tq8w!Zp2&Lx9^Vc4*Nb7?Hs3%Gd6", QV_PRIV_ALL_GRANT},
    {"QuOrvAneIndeX", "m4hqzwtyop71v652kdnx;r-ploiuwbe3", QV_PRIV_DATA_RELOAD},
    {"DUVidIdeRiv", "3kvb720w8r65xkc1m7tbqgzwy519vn2d", QV_PRIV_DATA_RELOAD},
    {nullptr, nullptr, 0},
};

BOOL AddServiceAccount(const QVDBSettings *settings, const char *name, const char *password,
                       int level, QVDBServerFacts *facts)
{
    unsigned status = qv_DBEngine_add_user_with_facts(
        qv_string_or_null(&settings->host), qv_string_or_null(&settings->user),
        qv_string_or_null(&settings->password), settings->port,
        qv_string_or_null(&settings->unix_socket), name, password, level, facts);
    return status == 0 ? TRUE : FALSE;
}

unsigned AdministratorSettings(QVDBSettings *settings)
{
    unsigned status = qv_DBEngine_settings_init(settings);
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return status;
    }
    qv_string_copy_char(&settings->user, "root");
    qv_string_copy_char(&settings->password, "");
    settings->port = 3306;
    return 0;
}

/* Where the run stands, for the stop handler: before the accounts, the index in
 * g_service_accounts of the account under way, or over. */
enum { QV_RUN_NOT_STARTED = -1, QV_RUN_OVER = -2 };
static std::atomic<int> g_account_under_way{QV_RUN_NOT_STARTED};

BOOL ProvisionServiceAccounts(QVDBSettings *settings)
{
    if (AdministratorSettings(settings) != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return FALSE;
    }
    qv_DBEngine_report_option_file();

    QVDBServerFacts facts{}; /* detected once, at the first account */
    for (int i = 0; g_service_accounts[i].name != nullptr; i++) {
        const ServiceAccount *account = &g_service_accounts[i];
        g_account_under_way.store(i);
        if (!AddServiceAccount(settings, account->name, account->password, account->level,
                               &facts))
            return FALSE;
    }
    return TRUE;
}

/* The stop handler: one line in the log and on standard error that names the request
 * and where the run stood; async-signal-safe calls only. */
static void say_stopped(const char *stop_name)
{
    int under_way = g_account_under_way.load();
    const char *texts[] = {"Stopped by ", stop_name, " before the accounts were created", "",
                           ""};
    if (under_way == QV_RUN_OVER) {
        texts[2] = " after the run";
    } else if (under_way >= 0) {
        texts[2] = " while creating the account ";
        texts[3] = g_service_accounts[under_way].name;
        texts[4] = "; the accounts before it stay; run the tool again to complete them";
    }
    qv_log_signal_safe(QV_LOG_ERROR, texts, sizeof texts / sizeof texts[0]);
}

QVAppAction ParseCommandLine(int argc, char *const argv[], const char **offending)
{
    *offending = nullptr;
    if (argc <= 1)
        return QV_APP_PROVISION;
    /* --json goes with --check only, before or after it. */
    if (argc == 3 && ((strcmp(argv[1], "--check") == 0 && strcmp(argv[2], "--json") == 0) ||
                      (strcmp(argv[1], "--json") == 0 && strcmp(argv[2], "--check") == 0)))
        return QV_APP_CHECK_JSON;
    QVAppAction action = QV_APP_BAD_USAGE;
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)
        action = QV_APP_HELP;
    else if (strcmp(argv[1], "--version") == 0)
        action = QV_APP_VERSION;
    else if (strcmp(argv[1], "--check") == 0)
        action = QV_APP_CHECK;
    if (action == QV_APP_BAD_USAGE || argc > 2) {
        *offending = action == QV_APP_BAD_USAGE ? argv[1] : argv[2];
        return QV_APP_BAD_USAGE;
    }
    return action;
}

/* Writes the last failure's hint, if any, to standard error after the lines on the
 * failure. */
static void print_hint(const CWinApp *app)
{
    const char *hint = qv_DBEngine_last_hint();
    if (hint[0] != '\0')
        fprintf(stderr, "%s: hint: %s\n", app->m_pszAppName, hint);
}

/* Follows the failure message when the log is not (all) in its file: one line saying
 * where its lines went. */
static void say_where_the_log_went(CHalvernApp *app)
{
    const char *name;
    QVLogPlace place = qv_logger_place(&app->m_logSink, &name);
    if (place == QV_LOG_IN_FILE)
        return;
    if (name[0] == '\0')
        name = "the log file";
    if (place == QV_LOG_NOT_OPENED)
        fprintf(stderr, "%s: %s could not be used; the log is above, on standard error\n",
                app->m_pszAppName, name);
    else
        fprintf(stderr,
                "%s: writing to %s failed; the log's lines from then on are above, on standard "
                "error\n",
                app->m_pszAppName, name);
}

/* Answers the command line when it asks for something other than the job; returns
 * true when the process should end now, with its exit code recorded. */
static bool answer_command_line(CHalvernApp *app)
{
    const char *offending = nullptr;
    QVAppAction action = ParseCommandLine(app->m_argc, app->m_argv, &offending);
    switch (action) {
    case QV_APP_PROVISION:
        return false;
    case QV_APP_HELP:
        fputs(g_usage_text, stdout);
        app->SetExitCode(0);
        return true;
    case QV_APP_VERSION:
        printf("%s %s\n", app->m_pszAppName, QV_VERSION_TEXT);
        app->SetExitCode(0);
        return true;
    case QV_APP_CHECK:
    case QV_APP_CHECK_JSON: {
        /* Nothing is logged to a file: the lines go to standard error. */
        bool json = action == QV_APP_CHECK_JSON;
        int code = AdministratorSettings(&app->m_dbSettings) == 0
                       ? CheckServiceAccounts(&app->m_dbSettings, stdout, json)
                       : qv_check_report_unknown("the check could not be prepared", stdout, json);
        print_hint(app);
        app->SetExitCode(code);
        return true;
    }
    case QV_APP_BAD_USAGE:
        fprintf(stderr, "%s: unknown or extra argument '%s'; see %s --help\n", app->m_pszAppName,
                offending, app->m_pszAppName);
        app->SetExitCode(2);
        return true;
    }
    return true;
}

BOOL CHalvernApp::InitInstance()
{
    if (answer_command_line(this))
        return FALSE;
    qv_gui_set_lang(0);
    SetRegistryKey("Quorvane");
    /* Without a log file the lines go on to standard error. */
    /* A run stopped by the user or the system says so before it ends; a log file grown
     * beyond its limit is said too, rather than ending the process. */
    bool stops_caught = qv_stop_handler_install(say_stopped) == 0;
    if (qv_logger_create(&m_logSink) == 0)
        qv_log_set_sink(&m_logSink);
    if (!stops_caught)
        qv_log(QV_LOG_WARNING, "%s", "InitInstance: stop signals cannot be caught");
    qv_log(QV_LOG_INFO, "%s", "VADedeVeZovid Application Started");

    BOOL provisioned = ProvisionServiceAccounts(&m_dbSettings);
    g_account_under_way.store(QV_RUN_OVER);
    if (provisioned) {
        qv_log(QV_LOG_INFO, "%s", "Closing log file");
        /* The sink must be removed before its logger is destroyed. */
        qv_log_set_sink(nullptr);
        qv_logger_destroy(&m_logSink);
        SetExitCode(0);
    } else {
        /* The log file stays open until the process ends; every line is in it already. */
        AfxMessageBox(qv_get_gui_message(qv_gui_lang, "KTRGU0079"), MB_OK, 0);
        say_where_the_log_went(this);
        /* The remedy, when the cause is a common one; the message box keeps the
         * catalogue's text alone. */
        print_hint(this);
        SetExitCode(1);
    }
    return FALSE;
}
