/*
 * FuzzSupport: what the libFuzzer harnesses share: a log sink that keeps the lines of
 * the current input for the harness to check, inputs cut into texts, inputs handed to
 * readers that take a path, and the check that stops the run on a broken property.
 *
 * The sink is installed at start-up (its banner and system report are dropped), so that
 * nothing a harness logs reaches standard error, where libFuzzer writes its own report.
 */
#ifndef FUZZ_FUZZSUPPORT_H
#define FUZZ_FUZZSUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/* Stops the run with the failed property and its position: libFuzzer keeps the input
 * that broke it as a crash reproducer. */
#define QV_FUZZ_CHECK(condition)                                                                   \
    do {                                                                                           \
        if (!(condition))                                                                          \
            qv_fuzz_fail(__FILE__, __LINE__, #condition);                                          \
    } while (0)

[[noreturn]] void qv_fuzz_fail(const char *file, int line, const char *condition);

/* What a harness prepares once per process (a locale, catalogue builds), after the
 * collecting sink is installed: it defines this, or leaves the empty default. */
void qv_fuzz_setup(void);

/* The lines logged since the last qv_fuzz_take_lines, which empties the list. */
std::vector<std::string> qv_fuzz_take_lines(void);

/* True when no line holds a control character: each log line is one line of the file. */
bool qv_fuzz_lines_are_whole(const std::vector<std::string> &lines);

/* The first count texts of the size bytes at data, cut at zero bytes; what follows the
 * last of them is ignored, and texts missing at the end are empty. */
std::vector<std::string> qv_fuzz_split(const uint8_t *data, size_t size, size_t count);

/* Puts the size bytes at data into the process's anonymous in-memory file (replacing
 * what it held) and returns a path that opens it: readers that take a path read the
 * input there without touching the disk. */
std::string qv_fuzz_file(const uint8_t *data, size_t size);

#endif
