/*
 * Masking: the copy of a text with every password replaced by "***".
 *
 * Invariant: a byte is shown only when no literal after "IDENTIFIED BY '" and no
 * occurrence of a secret covers it; the marks are made on the whole source before the
 * copy is cut, so a cut never uncovers part of a secret.
 */
#include "Interfaces/dbengine/MySQL/Masking.h"

#include <cstdlib>
#include <cstring>

#include "QVLib/QVmalloc.h"

static const char QV_FILE[] = "Interfaces/dbengine/MySQL/Masking";

/* Marks in hidden (one byte per byte of text, zeroed) what must not be shown: with 1
 * every byte of a literal after "IDENTIFIED BY '" (up to its closing quote) and every
 * byte of every occurrence of a non-empty secret, overlaps included; with 2 the quote
 * that ends a marker, after which "***" stands even for an empty literal. */
static void mark_hidden(const char *text, size_t n, const char *const secrets[],
                        size_t secret_count, unsigned char *hidden)
{
    static const char marker[] = "IDENTIFIED BY '";
    const size_t marker_length = sizeof marker - 1;
    for (size_t i = 0; i < n; i++) {
        if (n - i >= marker_length && memcmp(text + i, marker, marker_length) == 0) {
            hidden[i + marker_length - 1] |= 2;
            for (size_t j = i + marker_length; j < n && text[j] != '\''; j++)
                hidden[j] |= 1;
        }
        for (size_t k = 0; k < secret_count; k++) {
            size_t m = secrets[k] ? strlen(secrets[k]) : 0;
            if (m > 0 && m <= n - i && memcmp(text + i, secrets[k], m) == 0)
                for (size_t j = i; j < i + m; j++)
                    hidden[j] |= 1;
        }
    }
}

void qv_mask_passwords(const char *text, const char *const secrets[], size_t secret_count,
                       char *out, size_t capacity)
{
    size_t used = 0;
    auto put = [&](const char *s, size_t n) {
        size_t room = capacity - 1 - used;
        size_t k = n < room ? n : room;
        memcpy(out + used, s, k);
        used += k;
    };
    /* Masking happens where a failure is being logged: no allocation for the texts the
     * engine meets (statements and server messages are far shorter). */
    size_t n = strlen(text);
    unsigned char local[QV_MASKED_SIZE] = {};
    unsigned char *hidden = n <= sizeof local
                                ? local
                                : static_cast<unsigned char *>(qv_malloc(n, QV_FILE, __LINE__, 1));
    if (hidden == nullptr) {
        put("***", 3); /* nothing can be shown safely */
        out[used] = '\0';
        return;
    }
    mark_hidden(text, n, secrets, secret_count, hidden);
    for (size_t i = 0; i < n;) {
        if ((hidden[i] & 1) != 0) {
            put("***", 3); /* one for each hidden run */
            while (i < n && (hidden[i] & 1) != 0)
                i++;
            continue;
        }
        put(text + i, 1);
        bool marker_end = (hidden[i] & 2) != 0;
        i++;
        if (marker_end && (i >= n || (hidden[i] & 1) == 0))
            put("***", 3);
    }
    out[used] = '\0';
    if (hidden != local)
        free(hidden);
}
