/*
 * AppFramework: the application object's registration, and what the message box does
 * on every platform. The process entry and the message box itself are the platform's
 * (AppMain and AppFrameworkPosix, AppMainWin32 and AppFrameworkWin32).
 */
#include "AppFramework/AppFramework.h"

#include <cstdio>
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

const char *AfxMessageTitle()
{
    CWinApp *app = AfxGetApp();
    return app ? app->m_pszAppName : AfxAppTitle;
}

void AfxMessageLine(const char *text)
{
    /* One line, whatever the text's own line breaks. */
    std::string line = text ? text : "";
    for (char &c : line)
        if (c == '\n' || c == '\r')
            c = ' ';
    fprintf(stderr, "%s: %s\n", AfxMessageTitle(), line.c_str());
    fflush(stderr);
}
