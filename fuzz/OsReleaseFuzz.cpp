/*
 * Fuzzing harness: the system report's reader of os-release, any file contents
 * (qv_report_os_from).
 *
 * Properties: exactly one "OS: " line, then at most the computer name; every line stays
 * whole whatever the file holds (quotes, escapes, control characters, long lines); when
 * the file's last PRETTY_NAME line that fits the reader's buffer holds a plain value (no
 * quotes, escapes or control characters, up to the line's end or its first zero byte),
 * the OS line shows that value, whatever the lines before it hold.
 */
#include <cstring>
#include <string>
#include <vector>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "fuzz/FuzzSupport.h"

/* The value of the last PRETTY_NAME line of the file when it is plain, else "". A line's
 * text ends at its first zero byte. */
static std::string plain_pretty_name(const uint8_t *data, size_t size)
{
    static const std::string key = "PRETTY_NAME=";
    std::string text(reinterpret_cast<const char *>(data), size);
    std::string value;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        /* a line longer than the reader's buffer (1023 bytes) is skipped whole */
        if (end - start <= 1023 && text.compare(start, key.size(), key) == 0) {
            value = text.substr(start + key.size(), end - start - key.size());
            value.resize(strnlen(value.c_str(), value.size())); /* the text ends there */
        }
        start = end + 1;
    }
    if (value.size() > 900)
        return "";
    for (unsigned char c : value)
        if (c < 0x20 || c == 0x7F || c == '"' || c == '\'' || c == '\\')
            return "";
    return value;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string path = qv_fuzz_file(data, size);
    qv_fuzz_take_lines();
    qv_report_os_from(path.c_str());
    std::vector<std::string> lines = qv_fuzz_take_lines();
    QV_FUZZ_CHECK(qv_fuzz_lines_are_whole(lines));
    QV_FUZZ_CHECK(lines.size() == 1 || lines.size() == 2);
    QV_FUZZ_CHECK(lines[0].find(" INFO   : OS: ") != std::string::npos);
    std::string pretty = plain_pretty_name(data, size);
    if (!pretty.empty())
        QV_FUZZ_CHECK(lines[0].find(" INFO   : OS: " + pretty + ", ") != std::string::npos);
    return 0;
}
