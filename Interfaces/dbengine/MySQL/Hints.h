/*
 * Hints: the remedy for a failure of a common cause, named in one line "hint: ..." after
 * the failure's own lines, and on standard error after the failure message.
 *
 * The engine notes the last failure of a client call on this thread (its error number
 * and whether it came on a GRANT); the hint is chosen from one table by that failure.
 */
#ifndef INTERFACES_DBENGINE_MYSQL_HINTS_H
#define INTERFACES_DBENGINE_MYSQL_HINTS_H

#include <cstddef>

/* Forms into out (capacity bytes) the remedy for a failure with error number, met on a
 * GRANT statement when grant is true, while making account (null when no account was
 * being made). Returns out, or null when no remedy is known for that failure. */
const char *qv_DBEngine_hint(int number, bool grant, const char *account, char *out,
                             size_t capacity);

/* Notes the failure of a client call on this thread: its error number, and whether the
 * failing statement was a GRANT. */
void qv_DBEngine_note_failure(int number, bool grant);

/* Forgets the last failure of a client call on this thread and its hint. */
void qv_DBEngine_clear_failure(void);

/* Logs, at level ERROR, "hint: " and the remedy for the last failure of a client call
 * on this thread (the error numbers that do_connect and the statements meet), while
 * making account (or null), and keeps it for qv_DBEngine_last_hint. Logs nothing when
 * no remedy is known. qv_DBEngine_add_user_with_host calls it after a failure's own
 * lines; a caller that uses the engine otherwise calls it likewise. */
void qv_DBEngine_log_hint(const char *account);

/* The hint that qv_DBEngine_log_hint last logged on this thread (for a failed account
 * creation, for example), or "" when the last call succeeded or no hint was known. The
 * text belongs to the engine and stays valid until the next call on this thread. */
const char *qv_DBEngine_last_hint(void);

#endif
