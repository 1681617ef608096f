/*
 * Fuzzing harness: the conversion of a text to the locale's character set
 * (qv_utf_convert), any bytes, under a UTF-8 locale and under the C locale (ASCII).
 *
 * Input: the text, up to its first zero byte; each input is converted under both
 * locales (the thread's locale, which is what the conversion reads).
 *
 * Properties: both locales agree on whether the text converts (its first step, UTF-8 to
 * UTF-32, is the same); a failure leaves the empty text; under UTF-8 a converted text is
 * the input unchanged; under ASCII it is the input with every non-ASCII character
 * (lead byte and continuation bytes) made one "?".
 */
#include <clocale>
#include <cstdlib>
#include <string>

#include "QVLib/QVutf.h"
#include "fuzz/FuzzSupport.h"

static locale_t g_utf8;
static locale_t g_ascii;

/* Converts text under locale; returns the status and the text made. */
static unsigned convert(locale_t locale, const std::string &text, std::string *made)
{
    locale_t previous = uselocale(locale);
    char *out = reinterpret_cast<char *>(1);
    unsigned status = qv_utf_convert(text.c_str(), &out);
    uselocale(previous);
    if (out == nullptr)
        qv_fuzz_fail(__FILE__, __LINE__, "a text is always handed back");
    made->assign(out);
    free(out);
    return status;
}

/* text with each non-ASCII character made "?"; valid for a text that converted. */
static std::string ascii_form(const std::string &text)
{
    std::string form;
    for (unsigned char c : text) {
        if (c < 0x80)
            form += static_cast<char>(c);
        else if (c >= 0xC0)
            form += '?';
    }
    return form;
}

void qv_fuzz_setup(void)
{
    g_utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    g_ascii = newlocale(LC_CTYPE_MASK, "C", nullptr);
    if (g_utf8 == nullptr || g_ascii == nullptr)
        qv_fuzz_fail(__FILE__, __LINE__, "the C.UTF-8 and C locales exist");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text = qv_fuzz_split(data, size, 1)[0];
    std::string as_utf8, as_ascii;
    unsigned utf8_status = convert(g_utf8, text, &as_utf8);
    unsigned ascii_status = convert(g_ascii, text, &as_ascii);
    QV_FUZZ_CHECK(utf8_status == ascii_status);
    QV_FUZZ_CHECK(utf8_status == 0 || utf8_status == 1);
    if (utf8_status != 0) {
        QV_FUZZ_CHECK(as_utf8.empty() && as_ascii.empty());
    } else {
        QV_FUZZ_CHECK(as_utf8 == text);
        QV_FUZZ_CHECK(as_ascii == ascii_form(text));
    }
    qv_fuzz_take_lines();
    return 0;
}
