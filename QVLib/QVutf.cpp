/*
 * QVutf: what the conversion does whatever the platform: the missing output, the null
 * and empty texts, and a text for the caller even after a failure.
 */
#include "QVLib/QVutf.h"

#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/QVmalloc.h"

/* The code page numbers the messages name: the UTF-8 source and the system's target. */
#define QV_CP_UTF8 65001
#define QV_CP_SYSTEM 0

void qv_utf_log_measure_failed(QVUtfStep step, int error)
{
    if (step == QV_UTF_TO_WIDE)
        qv_log(QV_LOG_ERROR, "Error %d getting size needed to convert from CP %d to UTF-16", error,
               QV_CP_UTF8);
    else
        qv_log(QV_LOG_ERROR, "Error %d getting size needed to convert to CP %d", error,
               QV_CP_SYSTEM);
}

void qv_utf_log_convert_failed(QVUtfStep step, int error, size_t expected, size_t got)
{
    bool wide = step == QV_UTF_TO_WIDE;
    if (got < 1)
        qv_log(QV_LOG_ERROR,
               wide ? "Error %d converting from CP %d to UTF-16"
                    : "Error %d converting UTF-16 to CP %d",
               error, wide ? QV_CP_UTF8 : QV_CP_SYSTEM);
    else
        qv_log(QV_LOG_ERROR,
               wide ? "Expected %d chars converting from CP %d to UTF-16 but got %d"
                    : "Expected %d chars converting UTF-16 to CP %d but got %d",
               static_cast<int>(expected), wide ? QV_CP_UTF8 : QV_CP_SYSTEM, static_cast<int>(got));
}

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

unsigned qv_utf_convert_using(QVUtfConverter convert, const char *file, int line, const char *utf8,
                              char **out)
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
