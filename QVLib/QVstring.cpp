/*
 * QVstring: dynamic string operations over the QVstring record.
 *
 * Buffer sizes are formed in 32-bit arithmetic as length + 1; a length of 4294967295
 * therefore asks for 0 bytes, which the allocation refuses as a bad size.
 */
#include "QVLib/QVstring.h"

#include <cstdlib>
#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/QVmalloc.h"

static const char QV_FILE[] = "QVLib/QVstring";

unsigned qv_strlcpy(char *dest, const char *source, size_t capacity)
{
    size_t n = strlen(source);
    size_t copied = n < capacity ? n : capacity - 1;
    memcpy(dest, source, copied);
    dest[copied] = '\0';
    return copied == n ? 0 : 1;
}

const char *qv_string_or_null(const QVstring *s)
{
    return (s->text != nullptr && s->text[0] != '\0') ? s->text : nullptr;
}

/* A buffer for length characters and the terminator, or null (logged). */
static char *allocate_text(uint32_t length, int line)
{
    uint32_t size = length + 1; /* wraps to 0 for the largest length: refused */
    return static_cast<char *>(qv_malloc(size, QV_FILE, line, 0));
}

/* The length of text as a string length, or 4294967295 when it does not fit 32 bits
 * (which then fails as a bad size). */
static uint32_t text_length(const char *text)
{
    size_t n = strlen(text);
    return n >= UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(n);
}

unsigned qv_string_init(QVstring *dest, const QVstring *source)
{
    if (dest == nullptr || source == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_string_init: NULL parameter");
        return 1;
    }
    if (source->length == 0) {
        dest->length = 0;
        dest->text = nullptr;
        return 0;
    }
    dest->text = allocate_text(source->length, __LINE__);
    if (dest->text == nullptr)
        return 2;
    dest->length = source->length;
    /* A source whose text was released keeps its length: copy nothing then. */
    if (source->text != nullptr)
        qv_strlcpy(dest->text, source->text, static_cast<size_t>(source->length) + 1);
    else
        dest->text[0] = '\0';
    return 0;
}

unsigned qv_string_init_len(QVstring *s)
{
    if (s == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_string_init_len: NULL parameter");
        return 1;
    }
    s->length = 0;
    s->text = allocate_text(0, __LINE__);
    if (s->text == nullptr)
        return 2;
    s->text[0] = '\0';
    return 0;
}

unsigned qv_string_init_char(QVstring *s, const char *text)
{
    if (s == nullptr || text == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_string_init_char: NULL parameter");
        return 1;
    }
    uint32_t length = text_length(text);
    s->text = allocate_text(length, __LINE__);
    if (s->text == nullptr)
        return 2;
    s->length = length;
    memcpy(s->text, text, length);
    s->text[length] = '\0';
    return 0;
}

unsigned qv_string_reserve(QVstring *s, uint32_t n)
{
    if (s == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_string_reserve: NULL parameter");
        return 1;
    }
    if (s->text != nullptr && s->length >= n)
        return 0;
    char *text = allocate_text(n, __LINE__);
    if (text == nullptr)
        return 2;
    if (s->text != nullptr) {
        qv_strlcpy(text, s->text, static_cast<size_t>(n) + 1);
        free(s->text);
    } else {
        text[0] = '\0';
    }
    s->text = text;
    s->length = n;
    return 0;
}

unsigned qv_string_copy_char(QVstring *s, const char *text)
{
    if (s == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_string_copy_char: NULL parameter");
        return 1;
    }
    if (text == nullptr) {
        qv_string_free(s);
        return 0;
    }
    unsigned status = qv_string_reserve(s, text_length(text));
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return status;
    }
    qv_strlcpy(s->text, text, static_cast<size_t>(s->length) + 1);
    return 0;
}

void qv_string_free(QVstring *s)
{
    if (s == nullptr)
        return;
    free(s->text);
    s->text = nullptr;
}
