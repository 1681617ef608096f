/*
 * UsageText: the parts of the usage text (--help) that every platform shares; each
 * platform's file (UsageTextPosix, UsageTextWin32) puts them together with its own
 * words on how the tool reaches the server and where the option file is.
 */
#ifndef WINGUI_USAGETEXT_H
#define WINGUI_USAGETEXT_H

#define QV_USAGE_HEAD                                                                              \
    "Usage: VADedeVeZovid [--check [--json] | --help | --version]\n"                               \
    "\n"                                                                                           \
    "Creates the database accounts of the Quorvane video-surveillance suite\n"                     \
    "(QuorvaneInternal, QuOrvAneIndeX, DUVidIdeRiv) on the MySQL or MariaDB server of\n"

#define QV_USAGE_ENVIRONMENT                                                                       \
    "Environment:\n"                                                                               \
    "  QV_BASE_LOGFILE_NAME     the log file's base name (default VADedeVeZovid)\n"                \
    "  QV_LOGFILE_NAME_PATTERN  the log file's name, %s standing for the base name\n"              \
    "                           (default %s.log)\n"

#define QV_USAGE_TAIL                                                                              \
    "\n"                                                                                           \
    "Exit status:\n"                                                                               \
    "  0  every account was created\n"                                                             \
    "  1  an account could not be created; the log says why, and a line \"hint:\" on\n"            \
    "     standard error says what to do\n"                                                        \
    "  2  bad usage\n"                                                                             \
    "  128 + n  the run was stopped by signal n (130: Ctrl+C); the log's last line\n"              \
    "     names it and the account under way; the accounts made before stay, and\n"                \
    "     running again completes the others\n"                                                    \
    "\n"                                                                                           \
    "Options:\n"                                                                                   \
    "  --check    say whether the server holds the accounts as a run leaves them:\n"               \
    "             one line per account and host (present, locked, password\n"                      \
    "             expired, or requiring TLS the server lacks; privileges missing\n"                \
    "             and extra, those of PUBLIC and proxy grants included; the password\n"           \
    "             verified here against its stored hash), a summary and the remedy\n"             \
    "             of each difference. Logs in as root only, never as the accounts;\n"             \
    "             sends at most four reading statements, changes nothing and writes\n"             \
    "             no log. Exit status, as a monitoring plugin's: 0 when all are as\n"              \
    "             they should be, 1 when any is missing or differs, 3 when the\n"                  \
    "             server could not be asked\n"                                                     \
    "  --json     with --check: the same findings as one JSON document (its format\n"              \
    "             version, the server's time, every difference with its remedy)\n"                 \
    "  --help     show this text and exit\n"                                                       \
    "  --version  show the version and exit\n"

#endif
