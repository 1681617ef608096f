/*
 * QVutf: conversion of the catalogue's UTF-8 texts to the system's character set (the
 * ANSI code page on Windows, the locale's character set on POSIX systems), done by the
 * platform side (UtfPosix, UtfWin32).
 *
 * A character that the target cannot represent is not an error: it becomes a
 * replacement character. Messages name the source as code page 65001 and the target as
 * code page 0.
 */
#ifndef QVLIB_QVUTF_H
#define QVLIB_QVUTF_H

#include <cstddef>

/* Converts the zero-terminated UTF-8 text utf8 into a newly allocated, zero-terminated
 * text in the system's character set and stores it in *out; the caller owns it and
 * releases it with free().
 * Returns 0 on success: *out is the converted text, or a one-byte empty text when utf8
 * is empty, or null when utf8 is null.
 * Returns 1 when out is null (nothing stored) or the text cannot be converted (invalid
 * UTF-8, or a character set the platform does not know), 2 when memory runs out. After
 * a failure *out is a one-byte empty text, so that the caller still has a text to show;
 * only when even that byte cannot be allocated after a few attempts is *out null (status
 * 2). Every failure is logged. */
unsigned qv_utf_convert(const char *utf8, char **out);

/* ---- the platform side ------------------------------------------------------------ */

/* Converts the n (>= 1) bytes at utf8 into a new, zero-terminated text in *result.
 * Returns 0, or 1 (logged) or 2 (out of memory, logged) with nothing allocated. */
typedef unsigned (*QVUtfConverter)(const char *utf8, size_t n, char **result);

/* The two steps of a conversion: UTF-8 to the system's wide form (named UTF-16 in the
 * messages), and the wide form to the system's character set. */
enum QVUtfStep { QV_UTF_TO_WIDE, QV_UTF_TO_SYSTEM };

/* Logs that step could not measure its result (error: the system's error code). */
void qv_utf_log_measure_failed(QVUtfStep step, int error);

/* Logs that step's conversion gave got units where its measure said expected: with
 * error (the system's error code) when nothing came out. */
void qv_utf_log_convert_failed(QVUtfStep step, int error, size_t expected, size_t got);

/* qv_utf_convert with the platform's converter: checks out, answers the null and empty
 * texts, and hands back a one-byte empty text after a failure. Its own reports name the
 * source position file:line, the platform module's call. */
unsigned qv_utf_convert_using(QVUtfConverter convert, const char *file, int line, const char *utf8,
                              char **out);

#endif
