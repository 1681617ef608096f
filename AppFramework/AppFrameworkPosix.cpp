/*
 * AppFrameworkPosix: the message box on POSIX systems: a line on standard error and, in
 * a graphical session, a dialog of zenity or xmessage that the call waits for.
 */
#include "AppFramework/AppFramework.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

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
    const char *title = AfxMessageTitle();
    if (text == nullptr)
        text = "";
    AfxMessageLine(text);

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
