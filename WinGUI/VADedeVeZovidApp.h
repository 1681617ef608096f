/*
 * VADedeVeZovidApp: the provisioning run, the tool's one piece of work.
 *
 * Holding the administrator's connection settings, it creates the suite's service
 * accounts one after another, each at its own privilege level, and stops at the first
 * that cannot be created; accounts made before stay in place.
 */
#ifndef WINGUI_VADEDEVEZOVIDAPP_H
#define WINGUI_VADEDEVEZOVIDAPP_H

#include "AppFramework/AppFramework.h"
#include "Interfaces/dbengine/MySQL/MyDBEngine.h"

struct ServiceAccount {
    const char *name; /* account name on the server, case significant; null ends */
    const char *password;
    int level; /* QV_PRIV_* */
};

/* The accounts to create, in order, ended by a record whose name is null. */
extern const ServiceAccount g_service_accounts[];

/* Creates one account with the settings' host, user, password, port and socket (an
 * absent or empty text passed as null). Returns TRUE exactly when the engine returns 0. */
BOOL AddServiceAccount(const QVDBSettings *settings, const char *name, const char *password,
                       int level);

/* Fills settings with the administrator's ("localhost", "root", no password, port 3306)
 * and creates every service account. Returns TRUE when all were created. The settings'
 * texts stay owned by the caller's record. */
BOOL ProvisionServiceAccounts(QVDBSettings *settings);

#endif
