#include "tests/support/RunProgram.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

extern char **environ;

/* The environment of the program: the current one changed by env, with exitcode= put
 * first in each sanitizer's options, so that given options still win. */
static std::vector<std::string> program_environment(const ProgramEnv &env)
{
    std::map<std::string, std::optional<std::string>> merged;
    for (char **e = environ; *e != nullptr; e++) {
        const char *equals = strchr(*e, '=');
        if (equals != nullptr)
            merged[std::string(*e, static_cast<size_t>(equals - *e))] = std::string(equals + 1);
    }
    for (const auto &[name, value] : env)
        merged[name] = value;
    for (const char *name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        std::optional<std::string> &given = merged[name];
        given = std::string(QV_SANITIZER_EXIT_OPTION) + (given ? ":" + *given : "");
    }
    std::vector<std::string> lines;
    for (const auto &[name, value] : merged)
        if (value)
            lines.push_back(name + "=" + *value);
    return lines;
}

/* A null-terminated array of pointers into texts, for execve. */
static std::vector<char *> pointers(const std::vector<std::string> &texts)
{
    std::vector<char *> result;
    for (const std::string &t : texts)
        result.push_back(const_cast<char *>(t.c_str()));
    result.push_back(nullptr);
    return result;
}

RunningProgram start_program(const std::vector<std::string> &argv, const std::string &cwd,
                             const ProgramEnv &env, int err_fd)
{
    RunningProgram program;
    program.output = std::make_unique<TempDir>("qv-run");
    const std::string out_file = program.output->path() + "/out";
    const std::string err_file = program.output->path() + "/err";
    /* Everything the child needs is made here: the tests run relay threads, and after
     * fork a child of a threaded process may call only async-signal-safe functions (an
     * allocation can wait for ever on a lock that another thread held). */
    const std::vector<std::string> environment = program_environment(env);
    std::vector<char *> envp = pointers(environment), args = pointers(argv);
    program.pid = fork();
    if (program.pid == 0) {
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = err_fd >= 0 ? err_fd : open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execve(args[0], args.data(), envp.data());
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

ProgramEnv tool_environment(const std::string &socket, const std::string &home)
{
    return {
        {"MYSQL_UNIX_PORT", socket},
        {"HOME", home},
        {"DISPLAY", std::nullopt},
        {"WAYLAND_DISPLAY", std::nullopt},
        {"QV_BASE_LOGFILE_NAME", std::nullopt},
        {"QV_LOGFILE_NAME_PATTERN", std::nullopt},
        {"LANG", "C.UTF-8"},
        {"LC_ALL", std::nullopt},
    };
}

ProgramResult run_program(const std::vector<std::string> &argv, const std::string &cwd,
                          const ProgramEnv &env, int timeout_seconds)
{
    RunningProgram program = start_program(argv, cwd, env);
    return finish_program(program, timeout_seconds);
}
