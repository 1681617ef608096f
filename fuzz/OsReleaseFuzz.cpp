/*
 * Fuzzing harness: the system report's reader of os-release, any file contents
 * (qv_report_os_from).
 *
 * Properties: exactly one "OS: " line, then at most the computer name; every line stays
 * whole whatever the file holds (quotes, escapes, control characters, long lines).
 */
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
    std::string path = qv_fuzz_file(0, data, size);
    qv_fuzz_take_lines();
    qv_report_os_from(path.c_str());
    std::vector<std::string> lines = qv_fuzz_take_lines();
    QV_FUZZ_CHECK(qv_fuzz_lines_are_whole(lines));
    QV_FUZZ_CHECK(lines.size() == 1 || lines.size() == 2);
    QV_FUZZ_CHECK(lines[0].find(" INFO   : OS: ") != std::string::npos);
    return 0;
}
