/*
 * UserFileWin32: what the Windows side of QVuserfile decides that tests look at apart
 * from the files Wine can make (Wine derives owners and access lists from mode bits).
 */
#ifndef QVLIB_WIN32_USERFILEWIN32_H
#define QVLIB_WIN32_USERFILEWIN32_H

#include <windows.h>

/* Whether a file's owner counts as the user's own: the user, the Administrators group,
 * or default_owner, the owner the user's new files get (null when unknown). */
bool qv_user_file_owner_trusted(PSID owner, PSID user, PSID default_owner);

#endif
