/*
 * UtfPosix: conversion of the catalogue's UTF-8 texts to the locale's character set.
 *
 * The text goes through iconv in two steps, UTF-8 to UTF-32LE and on to the character
 * set of the calling thread's locale (nl_langinfo(CODESET)): UTF-8 on a UTF-8 system,
 * ASCII under the C locale. The program selects the locale with setlocale(LC_CTYPE, "")
 * at its entry. A character that the target cannot represent is written as "?" and the
 * conversion goes on, so such characters become "?" whatever the locale. Messages name
 * the source as code page 65001 and the target as code page 0; errno stands for the
 * system error code.
 */
#ifndef QVLIB_POSIX_UTFPOSIX_H
#define QVLIB_POSIX_UTFPOSIX_H

/* Converts the zero-terminated UTF-8 text utf8 into a newly allocated, zero-terminated
 * text in the locale's character set and stores it in *out; the caller owns it and
 * releases it with free().
 * Returns 0 on success: *out is the converted text, or a one-byte empty text when utf8
 * is empty, or null when utf8 is null.
 * Returns 1 when out is null (nothing stored) or the text cannot be converted (invalid
 * UTF-8, or a character set iconv does not know), 2 when memory runs out. After a
 * failure *out is a one-byte empty text, so that the caller still has a text to show;
 * only when even that byte cannot be allocated after a few attempts is *out null (status
 * 2). Every failure is logged. */
unsigned qv_utf_convert(const char *utf8, char **out);

#endif
