#include "tests/support/RunProgram.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

/* Puts exitcode= first in each sanitizer's options, so that given options still win. */
static void set_sanitizer_exit_codes(void)
{
    const std::string exit_code = QV_SANITIZER_EXIT_OPTION;
    for (const char *name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        const char *given = getenv(name);
        setenv(name, (exit_code + (given ? std::string(":") + given : "")).c_str(), 1);
    }
}

RunningProgram start_program(const std::vector<std::string> &argv, const std::string &cwd,
                             const ProgramEnv &env)
{
    RunningProgram program;
    program.output = std::make_unique<TempDir>("qv-run");
    std::string out_file = program.output->path() + "/out";
    std::string err_file = program.output->path() + "/err";
    program.pid = fork();
    if (program.pid == 0) {
        for (const auto &[name, value] : env) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        set_sanitizer_exit_codes();
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char *> args;
        for (const std::string &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return program;
}

ProgramResult finish_program(RunningProgram &program, int timeout_seconds)
{
    ProgramResult result;
    int status = 0;
    time_t deadline = time(nullptr) + timeout_seconds;
    while (waitpid(program.pid, &status, WNOHANG) == 0) {
        if (time(nullptr) > deadline) {
            kill(program.pid, SIGKILL);
            waitpid(program.pid, &status, 0);
            break;
        }
        usleep(10000);
    }
    if (WIFEXITED(status))
        result.exit_code = WEXITSTATUS(status);
    result.out = read_file(program.output->path() + "/out");
    result.err = read_file(program.output->path() + "/err");
    return result;
}

ProgramResult run_program(const std::vector<std::string> &argv, const std::string &cwd,
                          const ProgramEnv &env, int timeout_seconds)
{
    RunningProgram program = start_program(argv, cwd, env);
    return finish_program(program, timeout_seconds);
}
