/*
 * UtfPosix: UTF-8 to the locale's character set through iconv.
 *
 * The text goes in two steps, UTF-8 to UTF-32LE and on to the character set of the
 * calling thread's locale (nl_langinfo(CODESET)): UTF-8 on a UTF-8 system, ASCII under
 * the C locale. The program selects the locale with setlocale(LC_CTYPE, "") at its
 * entry. A character that the target cannot represent is written as "?" and the
 * conversion goes on, so such characters become "?" whatever the locale; errno stands
 * for the system error code in the messages.
 *
 * Each step measures first and converts second, into a buffer of exactly the measured
 * size, so that a result that differs from its measure is caught rather than cut. The
 * measuring pass converts into a small scratch buffer and only counts what comes out.
 * UTF-32LE has no byte-order mark and one 4-byte unit per character, so its byte count
 * divided by 4 is the character count.
 */
#include "QVLib/QVutf.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "QVLib/QVmalloc.h"

static const char QV_FILE[] = "UtfPosix";

/* Bytes of one UTF-32LE unit. */
#define QV_UTF32_UNIT 4

/* Where a conversion pass writes: a buffer of capacity bytes, or (buffer null) nowhere,
 * only counting. */
struct ConversionOutput {
    char *buffer;
    size_t capacity;
    size_t produced;
};

/* One iconv call into output; in null flushes the shift state. Returns iconv's result. */
static size_t iconv_into(iconv_t cd, char **in, size_t *in_left, ConversionOutput *output)
{
    char scratch[64];
    char *destination = output->buffer != nullptr ? output->buffer + output->produced : scratch;
    size_t room = output->buffer != nullptr ? output->capacity - output->produced : sizeof scratch;
    size_t before = room;
    size_t result = iconv(cd, in, in_left, &destination, &room);
    output->produced += before - room;
    return result;
}

/* Converts the n bytes at text with cd into output. With replace set, a unit that the
 * target cannot represent (EILSEQ; the source must then be UTF-32LE) is written as "?"
 * and the pass goes on. Returns true when all of text was converted, false with errno
 * set otherwise (a full buffer gives E2BIG). */
static bool convert_pass(iconv_t cd, const char *text, size_t n, ConversionOutput *output,
                         bool replace)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr); /* back to the initial shift state */
    char *in = const_cast<char *>(text);
    size_t in_left = n;
    while (in_left > 0) {
        if (iconv_into(cd, &in, &in_left, output) != static_cast<size_t>(-1))
            continue;
        if (errno == E2BIG && output->buffer == nullptr)
            continue; /* the scratch buffer filled up: counted, go on */
        if (errno == EILSEQ && replace && in_left >= QV_UTF32_UNIT) {
            in += QV_UTF32_UNIT;
            in_left -= QV_UTF32_UNIT;
            char question[QV_UTF32_UNIT] = {'?', 0, 0, 0}; /* U+003F in UTF-32LE */
            char *q = question;
            size_t q_left = sizeof question;
            if (iconv_into(cd, &q, &q_left, output) == static_cast<size_t>(-1))
                return false;
            continue;
        }
        return false;
    }
    while (iconv_into(cd, nullptr, nullptr, output) == static_cast<size_t>(-1)) {
        if (errno != E2BIG || output->buffer != nullptr)
            return false;
    }
    return true;
}

/* UTF-8 to UTF-32LE. On success *units is a new buffer of *count (>= 1) units. Returns
 * 0, 1 (logged) or 2 (out of memory, logged). */
static unsigned utf8_to_utf32(iconv_t cd, const char *utf8, size_t n, char **units, size_t *count)
{
    ConversionOutput measure{nullptr, 0, 0};
    bool measured = convert_pass(cd, utf8, n, &measure, false);
    size_t w = measure.produced / QV_UTF32_UNIT;
    if (!measured || w < 1) {
        qv_utf_log_measure_failed(QV_UTF_TO_WIDE, errno);
        return 1;
    }
    size_t size = w * QV_UTF32_UNIT;
    char *buffer = static_cast<char *>(qv_malloc(size, QV_FILE, __LINE__, 0));
    if (buffer == nullptr)
        return 2;
    ConversionOutput output{buffer, size, 0};
    bool converted = convert_pass(cd, utf8, n, &output, false);
    int error = errno;
    size_t got = converted ? output.produced / QV_UTF32_UNIT : 0;
    if (got != w) {
        qv_utf_log_convert_failed(QV_UTF_TO_WIDE, error, w, got);
        free(buffer);
        return 1;
    }
    *units = buffer;
    *count = w;
    return 0;
}

/* UTF-32LE to the locale's character set. On success *result is a new, zero-terminated
 * text. Returns 0, 1 (logged) or 2 (out of memory, logged). */
static unsigned utf32_to_locale(iconv_t cd, const char *units, size_t count, char **result)
{
    size_t n = count * QV_UTF32_UNIT;
    ConversionOutput measure{nullptr, 0, 0};
    bool measured = convert_pass(cd, units, n, &measure, true);
    size_t m = measure.produced;
    if (!measured || m < 1) {
        qv_utf_log_measure_failed(QV_UTF_TO_SYSTEM, errno);
        return 1;
    }
    char *text = static_cast<char *>(qv_malloc(m + 1, QV_FILE, __LINE__, 0));
    if (text == nullptr)
        return 2;
    ConversionOutput output{text, m, 0};
    bool converted = convert_pass(cd, units, n, &output, true);
    int error = errno;
    size_t got = converted ? output.produced : 0;
    if (got != m) {
        qv_utf_log_convert_failed(QV_UTF_TO_SYSTEM, error, m, got);
        free(text);
        return 1;
    }
    text[m] = '\0';
    *result = text;
    return 0;
}

/* Both steps over the n (>= 1) bytes of utf8. Returns 0 with *result set, or the status
 * of the step that failed, with nothing left allocated. */
static unsigned convert_text(const char *utf8, size_t n, char **result)
{
    /* Sizes are reported as int, and 4 bytes per character must not wrap. */
    if (n > static_cast<size_t>(INT_MAX) / QV_UTF32_UNIT) {
        qv_utf_log_measure_failed(QV_UTF_TO_WIDE, EOVERFLOW);
        return 1;
    }
    iconv_t to_utf32 = iconv_open("UTF-32LE", "UTF-8");
    if (to_utf32 == reinterpret_cast<iconv_t>(-1)) {
        qv_utf_log_measure_failed(QV_UTF_TO_WIDE, errno);
        return 1;
    }
    char *units = nullptr;
    size_t count = 0;
    unsigned status = utf8_to_utf32(to_utf32, utf8, n, &units, &count);
    iconv_close(to_utf32);
    if (status != 0)
        return status;

    iconv_t to_locale = iconv_open(nl_langinfo(CODESET), "UTF-32LE");
    if (to_locale == reinterpret_cast<iconv_t>(-1)) {
        qv_utf_log_measure_failed(QV_UTF_TO_SYSTEM, errno);
        status = 1;
    } else {
        status = utf32_to_locale(to_locale, units, count, result);
        iconv_close(to_locale);
    }
    free(units);
    return status;
}

unsigned qv_utf_convert(const char *utf8, char **out)
{
    return qv_utf_convert_using(convert_text, QV_FILE, __LINE__, utf8, out);
}
