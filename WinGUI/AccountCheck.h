/*
 * AccountCheck: "VADedeVeZovid --check", which tells whether the server holds the
 * suite's service accounts as a run leaves them, and changes nothing.
 *
 * It logs in as a run does (root at localhost, the option file, the time-outs), sends
 * only SELECT statements, and for each service account and each of its two forms (the
 * name alone, host "%", and the name at localhost) finds whether the form exists,
 * whether its global privileges are those its level leaves on a new account, and
 * whether its password is the built-in one: the localhost form by logging in as it over
 * the same socket; the other by comparing its stored authentication with the localhost
 * form's, which tells only for an unsalted method (mysql_native_password): with a
 * salted one the answer is "unknown", never "ok". It writes no log file; its
 * diagnostics go to standard error, its report to standard output.
 */
#ifndef WINGUI_ACCOUNTCHECK_H
#define WINGUI_ACCOUNTCHECK_H

#include <cstdio>

#include "WinGUI/VADedeVeZovidApp.h"

/* What is known of a form's password. */
enum { QV_PASSWORD_OK = 0, QV_PASSWORD_DIFFERS = 1, QV_PASSWORD_UNKNOWN = 2 };

/* Room for a list of privilege names, and for a stored authentication. */
#define QV_CHECK_TEXT_SIZE 512

/* What was found of one form of one service account. */
struct QVFormCheck {
    const ServiceAccount *account;
    const char *host; /* "%" or "localhost" */
    bool exists;
    char missing[QV_CHECK_TEXT_SIZE]; /* privileges its level has and it lacks, ", "-separated */
    char extra[QV_CHECK_TEXT_SIZE];   /* privileges it holds beyond its level */
    char plugin[QV_CHECK_TEXT_SIZE];  /* its stored authentication method and string */
    char authentication[QV_CHECK_TEXT_SIZE];
    int password;     /* QV_PASSWORD_* */
    char reason[128]; /* why the password is unknown, or empty */
};

/* Compares one row of mysql.user (its column names and values) with level: every
 * column named "<Privilege>_priv" is checked against what level leaves on a new
 * account (level 0: every one 'Y'; 1: all but Grant_priv; 2: the nine data privileges;
 * 3: those and Reload_priv; 4: none). Fills the form's missing and extra lists (empty
 * when it matches), its plugin and authentication string, and marks it existing. */
void qv_check_read_user_row(QVFormCheck *form, unsigned count, const char *const names[],
                            const char *const values[]);

/* Decides the password of the form without a host from the localhost form's: the same
 * verdict when both use the same unsalted method with the same stored string, differs
 * when the strings differ and the localhost form's password is the built-in one, and
 * unknown otherwise (a salted method, another method, the localhost form missing). */
void qv_check_compare_any_form(QVFormCheck *any, const QVFormCheck *local);

/* The privilege name of a mysql.user column ("Select_priv" -> "SELECT",
 * "Create_tmp_table_priv" -> "CREATE TEMPORARY TABLES"), into out. */
void qv_check_privilege_name(const char *column, char *out, size_t capacity);

/* Checks every form of every service account on the server as the administrator of
 * settings (filled as for a run), prints one aligned line per form and a summary line
 * to out. Returns the exit code: 0 when all forms exist with the right privileges and
 * no password is known to differ, 1 when any differs or is missing, or when the server
 * could not be asked (the engine's lines and the hint went to the log, that is to
 * standard error). The caller owns settings. */
int CheckServiceAccounts(QVDBSettings *settings, FILE *out);

#endif
