/*
 * Fuzzing harness: the log file's name, formed from the environment values
 * QV_LOGFILE_NAME_PATTERN and QV_BASE_LOGFILE_NAME.
 *
 * Input: one byte whose bits 0 and 1 say whether the pattern and the base name are set,
 * then the pattern and the base name, cut at zero bytes. The values travel through the
 * real environment and qv_getenv, then qv_log_file_name forms the name; no file is
 * opened (a fuzzed name could be any file of the machine).
 *
 * Properties: a value is taken exactly when it is set and fits (else the default); the
 * name is formed exactly when the pattern's only conversions are one "%s" and any "%%"
 * and the result fits, and it is then the pattern with "%%" made "%" and "%s" the base
 * name; a refused name is left empty and never read past its buffer.
 */
#include <cstdlib>
#include <cstring>
#include <string>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "fuzz/FuzzSupport.h"

/* The value qv_getenv should give: 0 with value, or 1 when set but empty or too long. */
static unsigned expected_value(bool set, const std::string &given, const char *fallback,
                               std::string *value)
{
    *value = set ? given : fallback;
    return value->empty() || value->size() >= QV_NAME_SIZE ? 1 : 0;
}

/* The name the pattern forms, independently of the module; false for a refused pattern. */
static bool expected_name(const std::string &pattern, const std::string &base, std::string *name)
{
    int strings = 0;
    name->clear();
    for (size_t i = 0; i < pattern.size(); i++) {
        if (pattern[i] != '%') {
            *name += pattern[i];
        } else if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            *name += '%';
            i++;
        } else if (i + 1 < pattern.size() && pattern[i + 1] == 's' && strings++ == 0) {
            *name += base;
            i++;
        } else {
            return false;
        }
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    bool pattern_set = (data[0] & 1) != 0;
    bool base_set = (data[0] & 2) != 0;
    std::vector<std::string> values = qv_fuzz_split(data + 1, size - 1, 2);
    const char *names[2] = {"QV_LOGFILE_NAME_PATTERN", "QV_BASE_LOGFILE_NAME"};
    bool set[2] = {pattern_set, base_set};
    /* putenv keeps the harness's own text; setenv would keep a copy of every value ever
     * set, for the whole run. */
    static std::string assignments[2];
    for (int i = 0; i < 2; i++) {
        unsetenv(names[i]);
        assignments[i] = std::string(names[i]) + "=" + values[i];
        if (set[i])
            putenv(&assignments[i][0]);
    }

    char pattern[QV_NAME_SIZE], base[QV_NAME_SIZE], name[QV_NAME_SIZE];
    std::string want_pattern, want_base;
    unsigned pattern_status = qv_getenv(names[0], pattern, "%s.log");
    unsigned base_status = qv_getenv(names[1], base, "VADedeVeZovid");
    QV_FUZZ_CHECK(pattern_status ==
                  expected_value(pattern_set, values[0], "%s.log", &want_pattern));
    QV_FUZZ_CHECK(base_status == expected_value(base_set, values[1], "VADedeVeZovid", &want_base));
    QV_FUZZ_CHECK(pattern_status != 0 || want_pattern == pattern);
    QV_FUZZ_CHECK(base_status != 0 || want_base == base);
    qv_fuzz_take_lines();
    if (pattern_status != 0 || base_status != 0)
        return 0;

    memset(name, 0x5A, sizeof name);
    unsigned status = qv_log_file_name(pattern, base, name);
    std::string want;
    bool safe = expected_name(pattern, base, &want);
    bool formed = safe && want.size() < QV_NAME_SIZE;
    QV_FUZZ_CHECK(qv_log_file_pattern_is_safe(pattern) == safe);
    QV_FUZZ_CHECK(memchr(name, '\0', sizeof name) != nullptr);
    if (formed) {
        QV_FUZZ_CHECK(status == 0);
        QV_FUZZ_CHECK(want == name);
    } else {
        QV_FUZZ_CHECK(status == 1);
        QV_FUZZ_CHECK(name[0] == '\0');
    }
    QV_FUZZ_CHECK(qv_fuzz_take_lines().empty()); /* forming the name logs nothing */
    return 0;
}
