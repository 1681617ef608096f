/*
 * CheckReport: "VADedeVeZovid --check", as the application presents it: the engine's
 * check (Interfaces/dbengine/MySQL/AccountCheck) reads and concludes; this module prints
 * its findings, as a table with a summary and the remedies, or with --json as one JSON
 * document for monitoring systems, and answers with a monitoring plugin's exit status:
 * 0 every form as it should be, 1 some form differs or is missing, 3 unknown (the
 * server could not be asked).
 *
 * It writes no log file; diagnostics go to standard error, the report to standard
 * output. No password reaches either.
 */
#ifndef WINGUI_CHECKREPORT_H
#define WINGUI_CHECKREPORT_H

#include <cstdio>

#include "Interfaces/dbengine/MySQL/AccountCheck.h"

/* The JSON document's format; it changes when the document's meaning does. */
#define QV_CHECK_JSON_FORMAT 1

/* Prints the concluded check to out: the table, the summary and one "hint:" line per
 * distinct remedy, or (json) one JSON document of the same, with its format and the
 * server's time. Returns the exit status: QV_CHECK_OK when every form is as it should
 * be, else QV_CHECK_DIFFERS. */
int qv_check_report(const QVAccountCheck *check, FILE *out, bool json);

/* Prints to out what a check that could not be done says, with error (why) and the hint
 * of the failure noted last (qv_DBEngine_last_hint): as text, a line "status unknown:
 * <error>" and the hint's line (the engine's own lines go to standard error), or as a
 * JSON document (json). Returns QV_CHECK_UNKNOWN. */
int qv_check_report_unknown(const char *error, FILE *out, bool json);

/* Checks every form of every service account on the server as the administrator of
 * settings (filled as for a run) and reports to out. Returns the exit status:
 * QV_CHECK_OK, QV_CHECK_DIFFERS, or QV_CHECK_UNKNOWN when the server could not be asked
 * (the engine's lines and the hint went to standard error; with json, out gets a
 * document that says so). The caller owns settings. */
int CheckServiceAccounts(QVDBSettings *settings, FILE *out, bool json);

#endif
