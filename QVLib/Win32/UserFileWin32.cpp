/*
 * UserFileWin32: the user's profile folder and the files in it, on Windows.
 *
 * The profile folder is USERPROFILE, or the system's own answer when it is not set. A
 * file is opened for reading with sharing that lets others read it but neither write,
 * rename nor delete it, so that the path, handed on while the file is open, names the
 * very file that was examined. What others may do with it comes from its access control
 * list: an entry that allows reading or writing to anyone but the user, the system and
 * the Administrators (who may read any file anyway) counts, as does having no list at
 * all. Deny entries are not weighed: a file they protect may still be reported. The
 * owner may be the user, the Administrators group, or the token's default owner (which
 * new files of an elevated administrator get on Windows Server and with UAC's defaults).
 */
#include <windows.h>

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/QVlogfile.h"
#include "QVLib/QVuserfile.h"
#include "QVLib/Win32/ReparseWin32.h"
#include "QVLib/Win32/UserFileWin32.h"

const char qv_user_path_separator = '\\';

void qv_user_file_mend(int what, const char *path, char *out, size_t capacity)
{
    if (what == QV_MEND_PRIVATE)
        qv_snprintf(out, capacity, "icacls \"%s\" /inheritance:r /grant:r \"%%USERNAME%%:F\"",
                    path);
    else
        qv_snprintf(out, capacity, "icacls \"%s\" /setowner \"%%USERNAME%%\"", path);
}

bool qv_user_dir_list(const char *path, void (*entry)(void *context, const char *name),
                      void *context, char *error, size_t capacity)
{
    char pattern[MAX_PATH + 3];
    WIN32_FIND_DATAA found;
    HANDLE search = INVALID_HANDLE_VALUE;
    if (qv_snprintf(pattern, sizeof pattern, "%s\\*", path) >= 0)
        search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        qv_log_file_reason(static_cast<int>(GetLastError()), error, capacity);
        return false;
    }
    do
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            entry(context, found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return true;
}

bool qv_user_home_path(const char *name, char *path, size_t capacity)
{
    const char *profile = getenv("USERPROFILE");
    char folder[MAX_PATH];
    if (profile == nullptr || profile[0] == '\0') {
        if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PROFILE, nullptr, 0, folder)))
            return false;
        profile = folder;
    }
    return qv_snprintf(path, capacity, "%s\\%s", profile, name) >= 0;
}

/* The account's name ("DOMAIN\name"), or "an unknown account". */
static void account_name(PSID sid, char *out, size_t capacity)
{
    char name[128], domain[128];
    DWORD name_size = sizeof name, domain_size = sizeof domain;
    SID_NAME_USE use;
    if (LookupAccountSidA(nullptr, sid, name, &name_size, domain, &domain_size, &use))
        qv_snprintf(out, capacity, "%s%s%s", domain, domain[0] ? "\\" : "", name);
    else
        qv_snprintf(out, capacity, "%s", "an unknown account");
}

/* The SID of the user the tool runs as (TokenUser) or of the owner its new objects get
 * (TokenOwner), in buffer; null when it cannot be read. */
static PSID token_sid(TOKEN_INFORMATION_CLASS which, char *buffer, DWORD capacity)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    DWORD size = 0;
    BOOL ok = GetTokenInformation(token, which, buffer, capacity, &size);
    CloseHandle(token);
    if (!ok)
        return nullptr;
    return which == TokenUser ? reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid
                              : reinterpret_cast<TOKEN_OWNER *>(buffer)->Owner;
}

bool qv_user_file_owner_trusted(PSID owner, PSID user, PSID default_owner)
{
    return owner != nullptr &&
           (EqualSid(owner, user) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
            (default_owner != nullptr && EqualSid(owner, default_owner)));
}

/* The user, the system and the Administrators: not "other users". */
static bool is_trusted(PSID sid, PSID user)
{
    return EqualSid(sid, user) || IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

/* Fills what others may do with the file from its access control list. */
static void weigh_access(PACL list, PSID user, QVUserFile *file)
{
    if (list == nullptr) {
        file->readable_by_others = file->writable_by_others = true;
        qv_snprintf(file->permissions, sizeof file->permissions, "%s",
                    "it has no access control list");
        return;
    }
    const DWORD reading = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
    const DWORD writing =
        FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE | GENERIC_ALL | WRITE_DAC | WRITE_OWNER;
    for (DWORD i = 0; i < list->AceCount; i++) {
        ACCESS_ALLOWED_ACE *entry;
        if (!GetAce(list, i, reinterpret_cast<void **>(&entry)) ||
            entry->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
            (entry->Header.AceFlags & INHERIT_ONLY_ACE))
            continue;
        PSID sid = &entry->SidStart;
        bool reads = entry->Mask & reading, writes = entry->Mask & writing;
        if (is_trusted(sid, user) || !(reads || writes))
            continue;
        if (file->permissions[0] == '\0') {
            char name[128];
            account_name(sid, name, sizeof name);
            qv_snprintf(file->permissions, sizeof file->permissions, "its permissions name %s",
                        name);
        }
        file->readable_by_others |= reads;
        file->writable_by_others |= writes;
    }
}

/* Fills the owner, the user and what others may do from the open file's security;
 * what cannot be read is not reported. */
static void examine_security(HANDLE handle, QVUserFile *file)
{
    char buffer[256], owner_buffer[256];
    PSID user = token_sid(TokenUser, buffer, sizeof buffer);
    PSID default_owner = token_sid(TokenOwner, owner_buffer, sizeof owner_buffer);
    PSID owner = nullptr;
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    file->owned_by_user = true;
    if (user == nullptr ||
        GetSecurityInfo(handle, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &list, nullptr, &descriptor) != ERROR_SUCCESS)
        return;
    file->owned_by_user = qv_user_file_owner_trusted(owner, user, default_owner);
    account_name(owner, file->owner, sizeof file->owner);
    account_name(user, file->user, sizeof file->user);
    weigh_access(list, user, file);
    LocalFree(descriptor);
}

/* What the open handle is; for a file on disk also its size and identity. A reparse
 * point is judged by its tag, as the log file's: a OneDrive placeholder or a
 * deduplicated file is a regular file, a link (met only where it was opened without being
 * followed) is not. */
static int kind_of(HANDLE handle, QVUserFile *file)
{
    switch (GetFileType(handle)) {
    case FILE_TYPE_CHAR:
        return QV_USER_FILE_CHARACTER_DEVICE;
    case FILE_TYPE_PIPE:
        return QV_USER_FILE_FIFO;
    case FILE_TYPE_DISK: {
        int kind = qv_disk_file_kind(handle);
        BY_HANDLE_FILE_INFORMATION info;
        if ((kind != QV_DISK_FILE && kind != QV_DISK_DIRECTORY) ||
            !GetFileInformationByHandle(handle, &info))
            return QV_USER_FILE_OTHER;
        file->size =
            (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        file->identity[0] = info.dwVolumeSerialNumber;
        file->identity[1] =
            (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        return kind == QV_DISK_DIRECTORY ? QV_USER_FILE_DIRECTORY : QV_USER_FILE_REGULAR;
    }
    default:
        return QV_USER_FILE_OTHER;
    }
}

void qv_user_file_open(const char *path, QVUserFile *file)
{
    *file = QVUserFile{};
    file->handle = -1;
    /* Backup semantics open a folder too, so that it can be named. */
    HANDLE handle = CreateFileA(path, GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            file->kind = QV_USER_FILE_MISSING;
            return;
        }
        file->kind = QV_USER_FILE_UNREADABLE;
        qv_log_file_reason(static_cast<int>(error), file->error, sizeof file->error);
        return;
    }
    file->kind = kind_of(handle, file);
    examine_security(handle, file);
    int fd = file->kind == QV_USER_FILE_REGULAR
                 ? _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY)
                 : -1;
    if (fd < 0) {
        CloseHandle(handle);
        return;
    }
    file->handle = fd;
}

long qv_user_file_read(QVUserFile *file, unsigned long offset, char *buffer, size_t capacity)
{
    if (file->handle < 0)
        return -1;
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    DWORD n = 0;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file->handle));
    if (!ReadFile(handle, buffer, static_cast<DWORD>(capacity), &n, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return static_cast<long>(n);
}

void qv_user_file_close(QVUserFile *file)
{
    if (file->handle < 0)
        return;
    _close(file->handle);
    file->handle = -1;
}
