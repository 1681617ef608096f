/*
 * Fuzzing harness: the system report's reader of /proc/meminfo and /proc/self/status,
 * any file contents and any address-space limit (qv_report_memory_from).
 *
 * Input: eight bytes of limit, then the file, which serves as both meminfo and status.
 *
 * Properties: every line stays whole; the RAM, Page and Virtual lines appear, in that
 * order, each with its two figures, exactly when the file holds a well-formed line
 * ("Key:", blanks, a decimal count that fits in bytes, " kB", up to the line's end or
 * its first zero byte, in at most 1023 bytes) for each of their keys (MemTotal and
 * MemAvailable, SwapTotal and SwapFree, VmSize), whatever other lines hold.
 */
#include <algorithm>
#include <cstring>
#include <string>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "fuzz/FuzzSupport.h"

/* True when the file has a well-formed line for key. */
static bool has_field(const std::string &text, const std::string &key)
{
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        /* a line's text ends at its first zero byte; longer lines than the reader's
         * buffer holds (1023 bytes) are skipped whole */
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.size() > 1023)
            continue;
        line.resize(strnlen(line.c_str(), line.size()));
        if (line.compare(0, key.size() + 1, key + ":") != 0)
            continue;
        size_t at = line.find_first_not_of(" \t", key.size() + 1);
        size_t digits_end = line.find_first_not_of("0123456789", at);
        if (at == std::string::npos || digits_end == at || digits_end == std::string::npos ||
            line.compare(digits_end, std::string::npos, " kB") != 0)
            continue;
        std::string digits = line.substr(at, digits_end - at);
        digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
        /* at most UINT64_MAX / 1024 = 18014398509481983 */
        static const std::string largest = "18014398509481983";
        if (digits.size() < largest.size() ||
            (digits.size() == largest.size() && digits <= largest))
            return true;
    }
    return false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < sizeof(uint64_t))
        return 0;
    uint64_t limit;
    memcpy(&limit, data, sizeof limit);
    std::string path = qv_fuzz_file(data + sizeof limit, size - sizeof limit);
    qv_fuzz_take_lines();
    qv_report_memory_from(path.c_str(), path.c_str(), limit);
    std::vector<std::string> lines = qv_fuzz_take_lines();
    QV_FUZZ_CHECK(qv_fuzz_lines_are_whole(lines));
    std::string text(reinterpret_cast<const char *>(data + sizeof limit), size - sizeof limit);
    static const char *const kinds[] = {"RAM     Total ", "Page    Total ", "Virtual Total "};
    bool expected[] = {has_field(text, "MemTotal") && has_field(text, "MemAvailable"),
                       has_field(text, "SwapTotal") && has_field(text, "SwapFree"),
                       has_field(text, "VmSize")};
    size_t next = 0;
    for (int kind = 0; kind < 3; kind++) {
        if (!expected[kind])
            continue;
        QV_FUZZ_CHECK(next < lines.size());
        QV_FUZZ_CHECK(lines[next].find(kinds[kind]) != std::string::npos);
        QV_FUZZ_CHECK(lines[next].find("  Available ") != std::string::npos);
        next++;
    }
    QV_FUZZ_CHECK(next == lines.size());
    return 0;
}
