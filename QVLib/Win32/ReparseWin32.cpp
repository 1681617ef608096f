/*
 * ReparseWin32: an open file's kind, its reparse point judged by the tag: links (name
 * surrogates) apart, a reparse point is the file itself.
 */
#include "QVLib/Win32/ReparseWin32.h"

#include <atomic>

static bool system_tag_reader(HANDLE handle, FILE_ATTRIBUTE_TAG_INFO *info)
{
    return GetFileInformationByHandleEx(handle, FileAttributeTagInfo, info, sizeof *info) != 0;
}

static std::atomic<QVReparseTagReader> g_tag_reader{system_tag_reader};

void qv_set_reparse_tag_reader(QVReparseTagReader reader)
{
    g_tag_reader.store(reader != nullptr ? reader : system_tag_reader);
}

int qv_disk_file_kind(HANDLE handle)
{
    FILE_ATTRIBUTE_TAG_INFO info = {};
    if (!g_tag_reader.load()(handle, &info))
        return QV_DISK_UNKNOWN;
    /* The tag means something only on a reparse point. */
    if ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        IsReparseTagNameSurrogate(info.ReparseTag))
        return QV_DISK_LINK;
    return (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? QV_DISK_DIRECTORY : QV_DISK_FILE;
}
