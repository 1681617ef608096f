/*
 * HintTextsPosix: the remedies in the words of a Linux system: the server is reached
 * through its socket, the option file is ~/.my.cnf, root may be the system's root user.
 */
#include "Interfaces/dbengine/MySQL/Hints.h"

const char qv_hint_no_server[] = "no database server answers on this machine; start it, or name "
                                 "its socket in MYSQL_UNIX_PORT or in ~/.my.cnf";
const char qv_hint_password_refused[] = "the server refused root's password; put it in the "
                                        "[client] group of ~/.my.cnf (mode 600) and run again";
const char qv_hint_root_only[] = "the server admits root only for the system's root user; run "
                                 "the tool as root, for example with sudo";
