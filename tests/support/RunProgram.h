/*
 * RunProgram: runs a program as a user would, in a directory of the test's choosing and
 * with chosen environment changes, and collects its exit status and output.
 */
#ifndef TESTS_SUPPORT_RUNPROGRAM_H
#define TESTS_SUPPORT_RUNPROGRAM_H

#include <map>
#include <optional>
#include <string>
#include <vector>

struct ProgramResult {
    int exit_code = -1; /* -1 when it did not exit normally */
    std::string out;    /* standard output */
    std::string err;    /* standard error */
};

/* Runs argv in directory cwd with the current environment changed by env: a value sets
 * the variable, std::nullopt removes it. Waits at most timeout_seconds, then kills it. */
ProgramResult run_program(const std::vector<std::string> &argv, const std::string &cwd,
                          const std::map<std::string, std::optional<std::string>> &env,
                          int timeout_seconds = 60);

#endif
