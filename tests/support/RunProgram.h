/*
 * RunProgram: runs a program as a user would, in a directory of the test's choosing and
 * with chosen environment changes, and collects its exit status and output.
 * The sanitizers of an instrumented program end it with QV_SANITIZER_EXIT_CODE.
 */
#ifndef TESTS_SUPPORT_RUNPROGRAM_H
#define TESTS_SUPPORT_RUNPROGRAM_H

#include <sys/types.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/SanitizerExit.h"
#include "tests/support/TestFiles.h"

struct ProgramResult {
    int exit_code = -1; /* -1 when it did not exit normally */
    std::string out;    /* standard output */
    std::string err;    /* standard error */
};

using ProgramEnv = std::map<std::string, std::optional<std::string>>;

/* A program started and not yet waited for. */
struct RunningProgram {
    pid_t pid = -1;
    std::unique_ptr<TempDir> output; /* holds its standard output and error */
};

/* Starts argv in directory cwd with the current environment changed by env: a value
 * sets the variable, std::nullopt removes it. The sanitizers' options get
 * exitcode=QV_SANITIZER_EXIT_CODE before what env or the environment give. Standard error
 * goes to err_fd when one is given (the caller reads it; the result's err is then
 * empty). */
RunningProgram start_program(const std::vector<std::string> &argv, const std::string &cwd,
                             const ProgramEnv &env, int err_fd = -1);

/* Waits for the program at most timeout_seconds, then kills it, and collects it. */
ProgramResult finish_program(RunningProgram &program, int timeout_seconds = 60);

/* The environment in which the tests run the tool: the client library's default socket
 * aimed at socket, HOME at home (where the tool looks for ~/.my.cnf), the log file's
 * default name, no graphical session, a UTF-8 locale. */
ProgramEnv tool_environment(const std::string &socket, const std::string &home);

/* start_program, then finish_program. */
ProgramResult run_program(const std::vector<std::string> &argv, const std::string &cwd,
                          const ProgramEnv &env, int timeout_seconds = 60);

#endif
