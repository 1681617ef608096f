#include "tests/support/TestPlatform.h"

#include <windows.h>

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>

#include <cstdlib>
#include <stdexcept>

/* The folder for temporary files, with its trailing separator. */
static std::string temp_folder()
{
    char folder[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof folder, folder);
    if (n == 0 || n >= sizeof folder)
        throw std::runtime_error("no folder for temporary files");
    return folder;
}

std::string make_temp_dir(const char *prefix)
{
    const std::string folder = temp_folder();
    for (unsigned attempt = 0; attempt < 1000; attempt++) {
        std::string path = folder + prefix + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(GetTickCount() + attempt);
        if (CreateDirectoryA(path.c_str(), nullptr))
            return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    throw std::runtime_error("cannot make a temporary directory");
}

int open_temp_file()
{
    char path[MAX_PATH + 1];
    if (GetTempFileNameA(temp_folder().c_str(), "qv", 0, path) == 0)
        return -1;
    /* Text mode, which a descriptor duplicated from it keeps: "\r\n" written, "\n" read. */
    return _open(path, _O_RDWR | _O_TEXT | _O_TEMPORARY);
}

FILE *open_temp_stream()
{
    int fd = open_temp_file();
    FILE *stream = fd < 0 ? nullptr : _fdopen(fd, "w+");
    if (stream == nullptr && fd >= 0)
        _close(fd);
    return stream;
}

void set_env(const char *name, const char *value)
{
    /* An empty value removes the variable. */
    _putenv_s(name, value != nullptr ? value : "");
}

uint32_t system_thread_id()
{
    return static_cast<uint32_t>(GetCurrentThreadId());
}

bool let_others_write(const std::string &path)
{
    EXPLICIT_ACCESS_A everyone = {};
    BuildExplicitAccessWithNameA(&everyone, const_cast<char *>("Everyone"), GENERIC_WRITE,
                                 GRANT_ACCESS, NO_INHERITANCE);
    PSECURITY_DESCRIPTOR descriptor;
    PACL list, extended = nullptr;
    bool done = GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, &list, nullptr, &descriptor) == 0;
    done = done && SetEntriesInAclA(1, &everyone, list, &extended) == 0 &&
           SetNamedSecurityInfoA(const_cast<char *>(path.c_str()), SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION, nullptr, nullptr, extended,
                                 nullptr) == 0;
    LocalFree(extended);
    LocalFree(descriptor);
    return done;
}

bool wait_until_blocked(uint32_t id)
{
    (void)id;
    for (int i = 0; i < 1000; i++)
        SwitchToThread();
    return true;
}

const char CHECK_WAIT[] = "";
