/*
 * UtfWin32: UTF-8 to the system's ANSI code page, through UTF-16.
 *
 * Each step asks the system for the size first and converts second, into a buffer of
 * exactly that size, so that a result that differs from its measure is caught rather
 * than cut. A character that the ANSI code page lacks becomes the system's default
 * character ('?'); an invalid UTF-8 sequence becomes U+FFFD on the way, and so that
 * default character as well. The system error code is GetLastError's, read at once.
 */
#include <windows.h>

#include <climits>
#include <cstdlib>

#include "QVLib/QVmalloc.h"
#include "QVLib/QVutf.h"

static const char QV_FILE[] = "UtfWin32";

/* UTF-8 to UTF-16. On success *units is a new buffer of *count (>= 1) units. Returns 0,
 * 1 (logged) or 2 (out of memory, logged). */
static unsigned utf8_to_utf16(const char *utf8, int n, wchar_t **units, int *count)
{
    int w = MultiByteToWideChar(CP_UTF8, 0, utf8, n, nullptr, 0);
    if (w < 1) {
        qv_utf_log_measure_failed(QV_UTF_TO_WIDE, static_cast<int>(GetLastError()));
        return 1;
    }
    size_t size = static_cast<size_t>(w) * sizeof(wchar_t);
    wchar_t *buffer = static_cast<wchar_t *>(qv_malloc(size, QV_FILE, __LINE__, 0));
    if (buffer == nullptr)
        return 2;
    int got = MultiByteToWideChar(CP_UTF8, 0, utf8, n, buffer, w);
    if (got != w) {
        qv_utf_log_convert_failed(QV_UTF_TO_WIDE, static_cast<int>(GetLastError()),
                                  static_cast<size_t>(w), got < 1 ? 0 : static_cast<size_t>(got));
        free(buffer);
        return 1;
    }
    *units = buffer;
    *count = w;
    return 0;
}

/* UTF-16 to the ANSI code page. On success *result is a new, zero-terminated text.
 * Returns 0, 1 (logged) or 2 (out of memory, logged). */
static unsigned utf16_to_ansi(const wchar_t *units, int count, char **result)
{
    int m = WideCharToMultiByte(CP_ACP, 0, units, count, nullptr, 0, nullptr, nullptr);
    if (m < 1) {
        qv_utf_log_measure_failed(QV_UTF_TO_SYSTEM, static_cast<int>(GetLastError()));
        return 1;
    }
    char *text = static_cast<char *>(qv_malloc(static_cast<size_t>(m) + 1, QV_FILE, __LINE__, 0));
    if (text == nullptr)
        return 2;
    int got = WideCharToMultiByte(CP_ACP, 0, units, count, text, m, nullptr, nullptr);
    if (got != m) {
        qv_utf_log_convert_failed(QV_UTF_TO_SYSTEM, static_cast<int>(GetLastError()),
                                  static_cast<size_t>(m), got < 1 ? 0 : static_cast<size_t>(got));
        free(text);
        return 1;
    }
    text[m] = '\0';
    *result = text;
    return 0;
}

/* Both steps over the n (>= 1) bytes of utf8; nothing is left allocated on failure. */
static unsigned convert_text(const char *utf8, size_t n, char **result)
{
    /* The system's calls count in int. */
    if (n > static_cast<size_t>(INT_MAX)) {
        qv_utf_log_measure_failed(QV_UTF_TO_WIDE, static_cast<int>(ERROR_ARITHMETIC_OVERFLOW));
        return 1;
    }
    wchar_t *units = nullptr;
    int count = 0;
    unsigned status = utf8_to_utf16(utf8, static_cast<int>(n), &units, &count);
    if (status != 0)
        return status;
    status = utf16_to_ansi(units, count, result);
    free(units);
    return status;
}

unsigned qv_utf_convert(const char *utf8, char **out)
{
    return qv_utf_convert_using(convert_text, QV_FILE, __LINE__, utf8, out);
}
