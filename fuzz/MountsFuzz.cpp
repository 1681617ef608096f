/*
 * Fuzzing harness: the system report's reader of the mount table, any file contents
 * (qv_report_drives_from). Sources and mount points named in the table are looked up
 * on this machine, as the report does; nothing is changed there.
 *
 * Properties: every line is a drive line of a fixed drive or a RAM disk and stays whole
 * (mount points may hold escapes and control characters); no mount point is listed
 * twice as a RAM disk (one mount point is one device).
 */
#include <set>
#include <string>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "fuzz/FuzzSupport.h"

static bool ends_with(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string path = qv_fuzz_file(data, size);
    qv_fuzz_take_lines();
    qv_report_drives_from(path.c_str());
    std::vector<std::string> lines = qv_fuzz_take_lines();
    QV_FUZZ_CHECK(qv_fuzz_lines_are_whole(lines));
    std::set<std::string> seen;
    for (const std::string &line : lines) {
        QV_FUZZ_CHECK(line.find(" INFO   : Drive ") != std::string::npos);
        QV_FUZZ_CHECK(ends_with(line, "  Type: Fixed drive") ||
                      ends_with(line, "  Type: RAM disk"));
        if (ends_with(line, "RAM disk"))
            QV_FUZZ_CHECK(seen.insert(line.substr(line.find(": Drive "))).second);
    }
    return 0;
}
