/*
 * VersionWin32: the version record of an executable on Windows, its version resource
 * (VS_VERSIONINFO), read with GetFileVersionInfoSizeA, GetFileVersionInfoA and
 * VerQueryValueA behind the calls the report uses on every platform.
 *
 * The fixed record and the translation table of a resource have the layout of
 * QVVersionFixed and QVVersionTranslation. A value is handed out only when it lies
 * wholly within the caller's block, as the report rewrites string values in place.
 */
#include <windows.h>

#include <cstring>

#include "Interfaces/ErrorLogger/VersionNote.h"

uint32_t qv_version_note_size(const char *path)
{
    DWORD handle = 0;
    return GetFileVersionInfoSizeA(path, &handle);
}

unsigned qv_version_note_read(const char *path, uint32_t size, void *block)
{
    return GetFileVersionInfoA(path, 0, size, block) ? 0 : 3;
}

bool qv_version_note_query(const void *block, uint32_t size, const char *query, const void **value,
                           uint32_t *length)
{
    void *found = nullptr;
    UINT found_length = 0;
    if (!VerQueryValueA(block, query, &found, &found_length) || found == nullptr)
        return false;
    const char *start = static_cast<const char *>(block);
    const char *at = static_cast<const char *>(found);
    if (at < start || at - start > static_cast<ptrdiff_t>(size) ||
        found_length > size - static_cast<uint32_t>(at - start))
        return false;
    *value = found;
    *length = found_length;
    if (strncmp(query, "\\StringFileInfo\\", 16) != 0)
        return true; /* a record: its length in bytes */
    /* A string: the system counts its terminator, which must lie in the block. */
    const char *end = static_cast<const char *>(memchr(at, '\0', found_length));
    if (end == nullptr)
        return false;
    *length = static_cast<uint32_t>(end - at);
    return true;
}
