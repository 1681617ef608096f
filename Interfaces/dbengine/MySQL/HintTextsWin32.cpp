/*
 * HintTextsWin32: the remedies in the words of a Windows system: the server is a
 * service reached at localhost, port 3306; the option file is %USERPROFILE%\.my.cnf;
 * socket authentication, which admits the system's root user alone, is not Windows'.
 */
#include "Interfaces/dbengine/MySQL/Hints.h"

const char qv_hint_no_server[] =
    "no database server answers on this machine (localhost, port 3306); start the MySQL or "
    "MariaDB service, or let it listen on port 3306";
const char qv_hint_password_refused[] =
    "the server refused root's password; put it in the [client] group of "
    "%USERPROFILE%\\.my.cnf (readable by you alone) and run again";
const char qv_hint_root_only[] =
    "the server admits root only by socket authentication, which a Windows client cannot use; "
    "give root a password and put it in the [client] group of %USERPROFILE%\\.my.cnf";
