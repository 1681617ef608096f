/*
 * AppFramework: the small application framework the tool runs in, standing in for the
 * part of MFC it uses: BOOL, the application base class CWinApp, the process entry that
 * calls the one application object's InitInstance, and AfxMessageBox.
 *
 * Exactly one application object exists: a global object defined in the executable's
 * own sources (a linker drops unreferenced objects of a static library), which
 * registers itself when it is constructed. The process entry sets the locale's
 * character type, hands the application its command line, calls InitInstance and ends
 * the process with the exit code the application recorded.
 */
#ifndef APPFRAMEWORK_APPFRAMEWORK_H
#define APPFRAMEWORK_APPFRAMEWORK_H

typedef int BOOL;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/* As windows.h has them, where both are included. */
#ifndef MB_OK
#define MB_OK 0x00000000u /* one OK button, no icon */
#endif
#ifndef IDOK
#define IDOK 1
#endif

class CWinApp
{
  public:
    /* Registers this object as the application; with no name, the application title
     * that the executable defines (AfxAppTitle) is used. */
    explicit CWinApp(const char *app_name = nullptr);
    virtual ~CWinApp();

    /* The whole job of a tool without a main window; the answer FALSE ends the process
     * without a message loop. */
    virtual BOOL InitInstance();

    /* Records the registry key; the tool reads and writes no settings. */
    void SetRegistryKey(const char *key);

    /* The process's exit code, 0 unless the application records another. */
    void SetExitCode(int code);
    int ExitCode() const;

    const char *m_pszAppName;     /* the application title: the message box caption */
    const char *m_pszRegistryKey; /* null until SetRegistryKey */
    int m_argc;                   /* the command line, as main received it; the */
    char **m_argv;                /* process entry sets it before InitInstance */

  private:
    int exit_code_;
};

/* The application object, or null before it is constructed. */
CWinApp *AfxGetApp();

/* The application title, defined once by the executable. */
extern const char AfxAppTitle[];

/* Shows text (in the system's character set, as the message catalogue gives it) to the
 * user and waits until it is dismissed: always one line "<title>: <text>" on standard
 * error, and a modal box with the title, the text and one OK button, without an icon.
 * On Windows the box is the system's (MessageBoxW), shown only where someone can see it
 * (not in session 0: AfxDesktopIsVisible). On POSIX systems it is shown in a graphical
 * session (DISPLAY or WAYLAND_DISPLAY set) through zenity or else xmessage, started
 * without a shell. Where no box is shown nothing waits. Returns IDOK. */
int AfxMessageBox(const char *text, unsigned type = MB_OK, unsigned help_id = 0);

/* The message box's title: the application's name, or the title before there is an
 * application. */
const char *AfxMessageTitle();

/* Writes "<title>: <text>" to standard error as one line (line breaks become blanks). */
void AfxMessageLine(const char *text);

#endif
