/*
 * VADedeVeZovid: the tool's entry point. It provisions the service accounts with the
 * administrator's settings, logging to standard error, and exits 0 on success and 1 on
 * failure.
 */
#include "WinGUI/VADedeVeZovidApp.h"

#include "Interfaces/ErrorLogger/ErrorLogger.h"

int main()
{
    QVDBSettings settings{};
    qv_log(QV_LOG_INFO, "%s", "VADedeVeZovid Application Started");
    BOOL provisioned = ProvisionServiceAccounts(&settings);
    qv_DBEngine_settings_free(&settings);
    return provisioned ? 0 : 1;
}
