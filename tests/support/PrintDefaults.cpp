/* PrintDefaults: my_print_defaults through a shell, under timeout(1), its standard error
 * (why it refused a file) dropped. */
#include "tests/support/PrintDefaults.h"

#include <sys/wait.h>

#include <cstdio>

#include "Interfaces/dbengine/MySQL/OptionFile.h"

std::string print_defaults(const std::string &path, bool *ran)
{
    std::string command = "timeout 10 my_print_defaults --defaults-file='" + path + "'";
    for (size_t i = 0; qv_option_groups[i] != nullptr; i++)
        command += std::string(" ") + qv_option_groups[i];
    FILE *pipe = popen((command + " 2>/dev/null").c_str(), "r");
    std::string out;
    char buffer[4096];
    for (size_t n; pipe != nullptr && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    int status = pipe != nullptr ? pclose(pipe) : -1; /* 2: refused; 124 to 127: not run */
    *ran = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) <= 2;
    return out;
}

std::string printed_option(const char *name, const char *value)
{
    return std::string("--") + name + (value ? std::string("=") + value : "") + "\n";
}
