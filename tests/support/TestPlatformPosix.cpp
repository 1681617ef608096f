#include "tests/support/TestPlatform.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <vector>

std::string make_temp_dir(const char *prefix)
{
    std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary directory");
    return name.data();
}

int open_temp_file()
{
    char path[] = "/tmp/qv-stderr-XXXXXX";
    int fd = mkstemp(path);
    if (fd >= 0)
        unlink(path);
    return fd;
}

FILE *open_temp_stream()
{
    return tmpfile();
}

void set_env(const char *name, const char *value)
{
    if (value != nullptr)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

bool let_others_write(const std::string &path)
{
    return chmod(path.c_str(), 0606) == 0;
}

uint32_t system_thread_id()
{
    return static_cast<uint32_t>(gettid());
}

bool wait_until_blocked(uint32_t id)
{
    const std::string path = "/proc/" + std::to_string(id) + "/stat";
    for (int i = 0; i < 10000; i++) {
        std::ifstream in(path);
        std::string stat;
        if (!std::getline(in, stat))
            return false; /* it has ended */
        /* "pid (name) state ...": the state follows the last parenthesis. */
        size_t close = stat.rfind(')');
        char state = close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : '?';
        if (state == 'S' || state == 'D')
            return true;
        usleep(1000);
    }
    return false;
}

const char CHECK_WAIT[] = "SET STATEMENT wsrep_sync_wait = 1 FOR ";
