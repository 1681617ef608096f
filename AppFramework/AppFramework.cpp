/*
 * AppFramework: the application object's registration, the process entry, and the
 * message box.
 */
#include "AppFramework/AppFramework.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static CWinApp *g_app = nullptr;

CWinApp::CWinApp(const char *app_name)
    : m_pszAppName(app_name ? app_name : AfxAppTitle), m_pszRegistryKey(nullptr), m_argc(0),
      m_argv(nullptr), exit_code_(0)
{
    g_app = this;
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

void CWinApp::SetRegistryKey(const char *key)
{
    m_pszRegistryKey = key;
}

void CWinApp::SetExitCode(int code)
{
    exit_code_ = code;
}

int CWinApp::ExitCode() const
{
    return exit_code_;
}

CWinApp *AfxGetApp()
{
    return g_app;
}

/* The full path of program in PATH, or an empty text. */
static std::string find_in_path(const char *program)
{
    const char *path = getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

/* Runs argv[0] with argv, without a shell, and waits for it to end. */
static void run_and_wait(const std::string &program, const char *const argv[])
{
    pid_t child = fork();
    if (child < 0)
        return;
    if (child == 0) {
        execv(program.c_str(), const_cast<char *const *>(argv));
        _exit(127);
    }
    int status;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

int AfxMessageBox(const char *text, unsigned type, unsigned help_id)
{
    (void)type; /* the tool shows only MB_OK boxes */
    (void)help_id;
    CWinApp *app = AfxGetApp();
    const char *title = app ? app->m_pszAppName : AfxAppTitle;
    if (text == nullptr)
        text = "";

    /* One line on standard error, whatever the text's own line breaks. */
    std::string line = text;
    for (char &c : line)
        if (c == '\n' || c == '\r')
            c = ' ';
    fprintf(stderr, "%s: %s\n", title, line.c_str());
    fflush(stderr);

    const char *display = getenv("DISPLAY");
    const char *wayland = getenv("WAYLAND_DISPLAY");
    if ((display == nullptr || *display == '\0') && (wayland == nullptr || *wayland == '\0'))
        return IDOK;

    std::string zenity = find_in_path("zenity");
    if (!zenity.empty()) {
        std::string title_option = std::string("--title=") + title;
        std::string text_option = std::string("--text=") + text;
        /* A message box without an icon: an empty --icon-name leaves the dialog's image
         * empty, where --info alone would show the information icon. */
        const char *argv[] = {"zenity",
                              "--info",
                              "--no-markup",
                              "--icon-name=",
                              title_option.c_str(),
                              text_option.c_str(),
                              nullptr};
        run_and_wait(zenity, argv);
        return IDOK;
    }
    std::string xmessage = find_in_path("xmessage");
    if (!xmessage.empty()) {
        const char *argv[] = {"xmessage", "-title",  title, "-buttons",
                              "OK",       "-center", text,  nullptr};
        run_and_wait(xmessage, argv);
    }
    return IDOK;
}
