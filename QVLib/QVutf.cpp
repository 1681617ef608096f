/*
 * QVutf: what the conversion does whatever the platform: the missing output, the null
 * and empty texts, and a text for the caller even after a failure.
 */
#include "QVLib/QVutf.h"

#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/QVmalloc.h"

/* How often the one-byte empty result is attempted before the caller gets none. */
#define QV_EMPTY_TEXT_ATTEMPTS 3

/* A new one-byte empty text, attempted a few times; null when memory stays exhausted.
 * Each failed attempt is logged at file:line and sets *status to 2. */
static char *new_empty_text(const char *file, int line, unsigned *status)
{
    for (int attempt = 0; attempt < QV_EMPTY_TEXT_ATTEMPTS; attempt++) {
        char *text = static_cast<char *>(qv_malloc(1, file, line, 0));
        if (text != nullptr) {
            text[0] = '\0';
            return text;
        }
        *status = 2;
    }
    return nullptr;
}

unsigned qv_utf_convert_using(QVUtfConverter convert, const char *file, int line,
                              const char *utf8, char **out)
{
    if (out == nullptr) {
        qv_log_at(file, line, QV_LOG_ERROR, "%s", "qv_utf_convert: NULL output pointer");
        return 1;
    }
    *out = nullptr;
    if (utf8 == nullptr)
        return 0;
    size_t n = strlen(utf8);
    unsigned status = 0;
    if (n > 0) {
        status = convert(utf8, n, out);
        if (status == 0)
            return 0;
    }
    *out = new_empty_text(file, line, &status);
    return status;
}
