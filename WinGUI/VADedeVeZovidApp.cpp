/*
 * VADedeVeZovidApp: the service account table, the provisioning run and the
 * application's start-up and shut-down.
 */
#include "WinGUI/VADedeVeZovidApp.h"

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/GuiMessages.h"

static const char QV_FILE[] = "WinGUI/VADedeVeZovidApp";

const ServiceAccount g_service_accounts[] = {
    {"QuorvaneInternal", "Rm5#Tq8w!Zp2&Lx9^Vc4*Nb7?Hs3%Gd6", QV_PRIV_ALL_GRANT},
    {"QuOrvAneIndeX", "m4hqzwtyop71v652kdnx;r-ploiuwbe3", QV_PRIV_DATA_RELOAD},
    {"DUVidIdeRiv", "3kvb720w8r65xkc1m7tbqgzwy519vn2d", QV_PRIV_DATA_RELOAD},
    {nullptr, nullptr, 0},
};

BOOL AddServiceAccount(const QVDBSettings *settings, const char *name, const char *password,
                       int level)
{
    unsigned status = qv_DBEngine_add_user_with_host(
        qv_string_or_null(&settings->host), qv_string_or_null(&settings->user),
        qv_string_or_null(&settings->password), settings->port,
        qv_string_or_null(&settings->unix_socket), name, password, level);
    return status == 0 ? TRUE : FALSE;
}

BOOL ProvisionServiceAccounts(QVDBSettings *settings)
{
    if (qv_DBEngine_settings_init(settings) != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return FALSE;
    }
    qv_string_copy_char(&settings->user, "root");
    qv_string_copy_char(&settings->password, "");
    settings->port = 3306;

    for (const ServiceAccount *account = g_service_accounts; account->name != nullptr; account++)
        if (!AddServiceAccount(settings, account->name, account->password, account->level))
            return FALSE;
    return TRUE;
}

BOOL CHalvernApp::InitInstance()
{
    qv_gui_set_lang(0);
    SetRegistryKey("Quorvane");
    /* Without a log file the lines go on to standard error. */
    if (qv_logger_create(&m_logSink) == 0)
        qv_log_set_sink(&m_logSink);
    qv_log(QV_LOG_INFO, "%s", "VADedeVeZovid Application Started");

    if (ProvisionServiceAccounts(&m_dbSettings)) {
        qv_log(QV_LOG_INFO, "%s", "Closing log file");
        /* The sink must be removed before its logger is destroyed. */
        qv_log_set_sink(nullptr);
        qv_logger_destroy(&m_logSink);
        SetExitCode(0);
    } else {
        /* The log file stays open until the process ends; every line is in it already. */
        AfxMessageBox(qv_get_gui_message(qv_gui_lang, "KTRGU0079"), MB_OK, 0);
        SetExitCode(1);
    }
    return FALSE;
}
