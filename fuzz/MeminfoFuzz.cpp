/*
 * Fuzzing harness: the system report's reader of /proc/meminfo and /proc/self/status,
 * any file contents and any address-space limit (qv_report_memory_from).
 *
 * Input: eight bytes of limit, then the file, which serves as both meminfo and status.
 *
 * Properties: at most the three lines, RAM, Page and Virtual, in that order, each with
 * its two figures; every line stays whole.
 */
#include <cstring>
#include <string>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qv_fuzz_install_sink();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < sizeof(uint64_t))
        return 0;
    uint64_t limit;
    memcpy(&limit, data, sizeof limit);
    std::string path = qv_fuzz_file(0, data + sizeof limit, size - sizeof limit);
    qv_fuzz_take_lines();
    qv_report_memory_from(path.c_str(), path.c_str(), limit);
    std::vector<std::string> lines = qv_fuzz_take_lines();
    QV_FUZZ_CHECK(qv_fuzz_lines_are_whole(lines));
    QV_FUZZ_CHECK(lines.size() <= 3);
    static const char *const kinds[] = {"RAM     Total ", "Page    Total ", "Virtual Total "};
    size_t next = 0;
    for (const std::string &line : lines) {
        size_t at = std::string::npos;
        while (next < 3 && (at = line.find(kinds[next])) == std::string::npos)
            next++;
        QV_FUZZ_CHECK(at != std::string::npos);
        QV_FUZZ_CHECK(line.find("  Available ", at) != std::string::npos);
        next++;
    }
    return 0;
}
