/*
 * AppFrameworkWin32: what the Windows framework decides from the session the tool runs
 * in, for the message box (AppFrameworkWin32.cpp).
 */
#ifndef APPFRAMEWORK_APPFRAMEWORKWIN32_H
#define APPFRAMEWORK_APPFRAMEWORKWIN32_H

/* True when a window the process shows can be seen by someone: its window station is
 * the interactive one (WSF_VISIBLE). False for a service, an MSI custom action or a
 * deployment tool running as SYSTEM in session 0, whose box nobody could dismiss, and
 * when the window station cannot be asked. */
bool AfxDesktopIsVisible();

#endif
