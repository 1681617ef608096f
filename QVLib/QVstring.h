/*
 * QVstring: the dynamic string of the foundation library.
 *
 * length is the room of the buffer, not counting its terminator: text, when present,
 * owns length + 1 bytes. The init operations set length to the length of what they
 * store, qv_string_reserve raises it, nothing lowers it; so after a shorter text is
 * copied in, the text ends before length. Emptiness is decided by the text (null, or a
 * zero first byte), never by length.
 *
 * Every operation returns 0 on success, 1 for a missing argument (logged), 2 when the
 * heap is exhausted or a size wraps around (logged by the allocation). The init
 * operations treat the record as not initialised: they overwrite both fields without
 * releasing an earlier text.
 */
#ifndef QVLIB_QVSTRING_H
#define QVLIB_QVSTRING_H

#include <cstddef>
#include <cstdint>

struct QVstring {
    uint32_t length; /* room of text, terminator not counted */
    char *text;      /* owned, zero-terminated, length + 1 bytes; or null */
};

/* Copies source into dest: a source of length 0 gives length 0 and no text; otherwise
 * dest gets a buffer of the source's length + 1 bytes holding the source text (empty
 * when the source has no text). On failure dest has no text and length is untouched. */
unsigned qv_string_init(QVstring *dest, const QVstring *source);

/* Makes s an empty string that owns a one-byte buffer; length 0. */
unsigned qv_string_init_len(QVstring *s);

/* Makes s a copy of the zero-terminated text; length is the text's length. */
unsigned qv_string_init_char(QVstring *s, const char *text);

/* Makes room for n characters, keeping the text (cut to n characters). Nothing to do
 * when s has a text and length >= n. On failure s is unchanged. */
unsigned qv_string_reserve(QVstring *s, uint32_t n);

/* Copies text into s, growing it when needed; a null text releases s's text (length
 * unchanged). */
unsigned qv_string_copy_char(QVstring *s, const char *text);

/* Releases the text, leaving s without one (length unchanged); null s is ignored. */
void qv_string_free(QVstring *s);

/* The text to hand to an outside library: null when s has no text or an empty one. */
const char *qv_string_or_null(const QVstring *s);

/* Copies at most capacity - 1 characters of source into dest and terminates it; returns
 * 0 when all of source fit, 1 when it was cut. capacity must be at least 1. */
unsigned qv_strlcpy(char *dest, const char *source, size_t capacity);

#endif
