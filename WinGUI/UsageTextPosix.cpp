/*
 * UsageTextPosix: the usage text in the words of a Linux system: the local socket, sudo,
 * ~/.my.cnf, MYSQL_UNIX_PORT and the manual page.
 */
#include "WinGUI/UsageText.h"
#include "WinGUI/VADedeVeZovidApp.h"

const char g_usage_text[] =
    QV_USAGE_HEAD
    "this machine, logging in as root at localhost through the local socket. Run it once\n"
    "when the suite is installed, as root on Debian and Ubuntu (sudo VADedeVeZovid);\n"
    "running it again sets the same passwords and privileges.\n"
    "\n"
    "Root's password, or another socket, can be given in the [client] or [VADedeVeZovid]\n"
    "group of ~/.my.cnf (password=..., socket=...; keep it mode 600). No other option file\n"
    "is read.\n"
    "\n" QV_USAGE_ENVIRONMENT
    "  MYSQL_UNIX_PORT          the server's socket (read by the client library)\n" QV_USAGE_TAIL
    "\n"
    "See VADedeVeZovid(8).\n";
