/*
 * AppMain: the process entry of a framework application. It constructs nothing: the one
 * application object was constructed during static initialisation and registered
 * itself. Kept apart from the framework so that test programs can link the framework
 * with a main of their own.
 */
#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "AppFramework/AppFramework.h"

/* The process entry: nothing is constructed here; the application object was, during
 * static initialisation. */
int main(int argc, char **argv)
{
    /* Only the character type: numbers keep the "C" formatting. */
    setlocale(LC_CTYPE, "");
    CWinApp *app = AfxGetApp();
    if (app == nullptr) {
        fprintf(stderr, "%s: no application object\n", AfxAppTitle);
        return 1;
    }
    app->m_argc = argc;
    app->m_argv = argv;
    app->InitInstance();
    exit(app->ExitCode());
}
