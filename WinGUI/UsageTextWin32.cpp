/*
 * UsageTextWin32: the usage text in the words of a Windows system: the server at
 * localhost, port 3306, and the option file in the user's profile folder.
 */
#include "WinGUI/UsageText.h"
#include "WinGUI/VADedeVeZovidApp.h"

const char g_usage_text[] =
    QV_USAGE_HEAD
    "this machine, logging in as root at localhost, port 3306. Run it once when the suite\n"
    "is installed; running it again sets the same passwords and privileges.\n"
    "\n"
    "Root's password can be given in the [client] or [VADedeVeZovid] group of\n"
    "%USERPROFILE%\\.my.cnf (password=...; let only your own account read it). No other\n"
    "option file is read.\n"
    "\n" QV_USAGE_ENVIRONMENT QV_USAGE_TAIL;
