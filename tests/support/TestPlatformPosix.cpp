#include "tests/support/TestPlatform.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
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
