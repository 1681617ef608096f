/*
 * AppMainWin32: the process entry of the Windows build, a program of the GUI subsystem:
 * an installer that starts it opens no console window. It constructs nothing: the one
 * application object was constructed during static initialisation and registered
 * itself.
 *
 * A run with arguments asks for an answer (--help, --version, --check, or the refusal of
 * an unknown argument): what it prints goes to the standard streams the starting program
 * gave it (a file or a pipe), else to the console of the program that started it, when
 * that has one (a command prompt). A plain run, the provisioning itself, never takes a
 * console: a command prompt does not wait for a desktop program, and a Ctrl+C typed at
 * the prompt it returned to would reach the tool's stop handler and end the provisioning
 * half done. Started without a console (from the Explorer, or by an installer), the tool
 * prints nothing anyone sees: its exit code, its log file and its message box are what
 * it leaves.
 *
 * Before anything else, libraries loaded later (the client library's plugins, the
 * system's own) are looked for only in the executable's folder and the system folder,
 * never in the current folder, where anyone who can write there could plant one.
 */
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "AppFramework/AppFramework.h"

/* True when the standard stream which was handed to the process as a file, a pipe, or
 * a device that is not a console (NUL). A GUI program's handles are not worth more: they
 * may be stale console handles until it attaches to a console. */
static bool has_stream(DWORD which)
{
    HANDLE handle = GetStdHandle(which);
    DWORD mode;
    switch (GetFileType(handle)) {
    case FILE_TYPE_DISK:
    case FILE_TYPE_PIPE:
        return true;
    case FILE_TYPE_CHAR:
        return !GetConsoleMode(handle, &mode);
    default:
        return false;
    }
}

/* For a run with arguments (count, the program's name included), gives standard output
 * and standard error that were not handed over the console of the parent process, if it
 * has one. */
static void attach_parent_console(size_t count)
{
    if (count < 2)
        return; /* the provisioning: no console */
    bool out = has_stream(STD_OUTPUT_HANDLE);
    bool err = has_stream(STD_ERROR_HANDLE);
    if ((out && err) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (!out)
        freopen("CONOUT$", "w", stdout);
    if (!err && freopen("CONOUT$", "w", stderr) != nullptr)
        setvbuf(stderr, nullptr, _IONBF, 0);
}

/* The command line split as the system splits it, each argument in the ANSI code page
 * (the options are ASCII); false when it cannot be read. */
static bool split_command_line(std::vector<std::string> *arguments)
{
    int count = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
        return false;
    for (int i = 0; i < count; i++) {
        int size = WideCharToMultiByte(CP_ACP, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string argument(size > 0 ? static_cast<size_t>(size) : 1, '\0');
        if (size > 0)
            WideCharToMultiByte(CP_ACP, 0, wide[i], -1, &argument[0], size, nullptr, nullptr);
        argument.resize(argument.size() - 1); /* the terminator */
        arguments->push_back(argument);
    }
    LocalFree(wide);
    return true;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    CWinApp *app = AfxGetApp();
    if (app == nullptr) {
        fprintf(stderr, "%s: no application object\n", AfxAppTitle);
        return 1;
    }
    /* The arguments outlive InitInstance: they are the process's. */
    static std::vector<std::string> arguments;
    static std::vector<char *> argv;
    if (!split_command_line(&arguments)) {
        fprintf(stderr, "%s: the command line cannot be read\n", AfxAppTitle);
        return 1;
    }
    attach_parent_console(arguments.size());
    for (std::string &argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    app->m_argc = static_cast<int>(arguments.size());
    app->m_argv = argv.data();
    app->InitInstance();
    exit(app->ExitCode());
}
