/*
 * AppFrameworkWin32: the message box on Windows: the system's own (MessageBoxW), modal,
 * with the application's title, the text, one OK button and no icon, and the line on
 * standard error that the box has on every platform. Where nobody can see the box (an
 * unattended run in session 0) it is not shown: it would wait for ever.
 */
#include "AppFramework/AppFrameworkWin32.h"

#include <windows.h>

#include <string>

#include "AppFramework/AppFramework.h"

/* text, in the ANSI code page, as UTF-16; a text the code page cannot read is shown as
 * far as it converts. */
static std::wstring wide_text(const char *text)
{
    int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (units < 1)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], units);
    wide.resize(static_cast<size_t>(units) - 1); /* the terminator */
    return wide;
}

bool AfxDesktopIsVisible()
{
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags = {};
    return station != nullptr &&
           GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
           (flags.dwFlags & WSF_VISIBLE);
}

int AfxMessageBox(const char *text, unsigned type, unsigned help_id)
{
    (void)type; /* the tool shows only MB_OK boxes */
    (void)help_id;
    if (text == nullptr)
        text = "";
    AfxMessageLine(text);
    if (!AfxDesktopIsVisible())
        return IDOK; /* the line, the log and the exit status tell it */
    /* No owner window: the box is modal to the tool's one thread, which waits here
     * until it is dismissed. */
    MessageBoxW(nullptr, wide_text(text).c_str(), wide_text(AfxMessageTitle()).c_str(), MB_OK);
    return IDOK;
}
