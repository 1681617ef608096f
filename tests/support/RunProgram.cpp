#include "tests/support/RunProgram.h"

#include "tests/support/TestFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

extern char **environ;

ProgramResult run_program(const std::vector<std::string> &argv, const std::string &cwd,
                          const std::map<std::string, std::optional<std::string>> &env,
                          int timeout_seconds)
{
    ProgramResult result;
    TempDir output("qv-run");
    std::string out_file = output.path() + "/out", err_file = output.path() + "/err";
    pid_t child = fork();
    if (child == 0) {
        for (const auto &[name, value] : env) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
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
    int status = 0;
    time_t deadline = time(nullptr) + timeout_seconds;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (time(nullptr) > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
        usleep(10000);
    }
    if (WIFEXITED(status))
        result.exit_code = WEXITSTATUS(status);
    result.out = read_file(out_file);
    result.err = read_file(err_file);
    return result;
}
