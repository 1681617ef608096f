/*
 * Masking: passwords out of the lines the engine logs.
 *
 * A statement or a server message that may hold a password is copied through
 * qv_mask_passwords before it is logged: every literal after "IDENTIFIED BY '" and every
 * occurrence of a known secret becomes "***". The copy never shows a secret, even when
 * it is cut to fit its buffer.
 */
#ifndef INTERFACES_DBENGINE_MYSQL_MASKING_H
#define INTERFACES_DBENGINE_MYSQL_MASKING_H

#include <cstddef>

/* Room for a logged statement or message once passwords are masked ("***" may be
 * longer than what it hides). */
#define QV_MASKED_SIZE 4096

/* Copies text into out (capacity bytes, capacity > 0), replacing the literal after every
 * "IDENTIFIED BY '" (up to the next quote or the end) and every occurrence of the
 * non-empty secrets (null entries are skipped) by "***". The copy is cut to fit; a cut
 * never uncovers a secret, because secrets are replaced where they stand in the source.
 * Every line the engine logs that may hold a password goes through it. */
void qv_mask_passwords(const char *text, const char *const secrets[], size_t secret_count,
                       char *out, size_t capacity);

#endif
