/*
 * LogFileWin32: the log file on Windows.
 *
 * It is opened for writing with deny-write sharing (others may read it, none may write
 * it, and a second instance cannot open it), without following a reparse point, created
 * if missing and not inherited by started programs. It is refused when it is a symbolic
 * link or a mount point (the reparse point itself was opened), when it is not a file on
 * a disk (or a character device such as NUL) or has other hard links; only then is a
 * file on a disk emptied. A reparse point that holds the file's own data (a OneDrive
 * placeholder in a synced Desktop or Documents folder, a file on a deduplicated volume)
 * is a regular file: ReparseWin32 tells them apart by the tag.
 *
 * Written in text mode: each "\n" handed in is stored as carriage return and line feed,
 * through a small buffer, so that a line takes one WriteFile call when it fits.
 */
#include <windows.h>

#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/QVlogfile.h"
#include "QVLib/Win32/ReparseWin32.h"

/* Why CreateFileA failed on the log file's name. */
static QVLogRefusal open_refusal(const char *name, DWORD error)
{
    switch (error) {
    case ERROR_SHARING_VIOLATION:
        return {"is held by another instance of the tool or by another program", 0};
    case ERROR_FILENAME_EXCED_RANGE:
        return {"has a name too long for the file system", 0};
    case ERROR_ACCESS_DENIED: {
        DWORD attributes = GetFileAttributesA(name);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return {"is not a regular file", 0};
        return {"cannot be created", static_cast<int>(error)};
    }
    default:
        return {"cannot be created", static_cast<int>(error)};
    }
}

/* What stands in the way of using the open file, or null when nothing does. A file on
 * a disk is emptied on the way. */
static QVLogRefusal check_and_empty(HANDLE file)
{
    DWORD type = GetFileType(file);
    if (type == FILE_TYPE_CHAR)
        return {nullptr, 0}; /* a device such as NUL: nothing to empty */
    if (type != FILE_TYPE_DISK)
        return {"is not a regular file", 0};
    switch (qv_disk_file_kind(file)) {
    case QV_DISK_LINK:
        return {"is a symbolic link or a mount point", 0};
    case QV_DISK_DIRECTORY:
        return {"is not a regular file", 0};
    case QV_DISK_UNKNOWN:
        return {"cannot be examined", static_cast<int>(GetLastError())};
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return {"cannot be examined", static_cast<int>(GetLastError())};
    if (info.nNumberOfLinks > 1) /* emptying it would empty another */
        return {"is a hard link to another file", 0};
    if (!SetEndOfFile(file)) /* the position is at the start */
        return {"cannot be emptied", static_cast<int>(GetLastError())};
    return {nullptr, 0};
}

QVLogFileHandle qv_log_file_open(const char *name, QVLogRefusal *refusal)
{
    HANDLE file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *refusal = open_refusal(name, GetLastError());
        return QV_NO_LOG_FILE;
    }
    *refusal = check_and_empty(file);
    if (refusal->what == nullptr)
        return reinterpret_cast<QVLogFileHandle>(file);
    CloseHandle(file);
    return QV_NO_LOG_FILE;
}

/* A buffer of converted bytes and how many bytes handed in they stand for. */
struct TextBuffer {
    char bytes[4096];
    size_t used;
    size_t source; /* bytes handed in whose conversion is in the buffer */
};

/* The bytes handed in that the first n converted bytes of buffer hold whole: a line
 * feed counts once its carriage return and it are both there. */
static size_t source_in(const TextBuffer &buffer, size_t n)
{
    size_t source = 0;
    for (size_t i = 0; i < n; i++, source++)
        if (buffer.bytes[i] == '\r' && i + 1 < buffer.used && buffer.bytes[i + 1] == '\n') {
            if (i + 1 == n)
                break;
            i++;
        }
    return source;
}

/* Writes out the buffer. Returns true when all of it was written; otherwise adds to
 * *written what was, and sets *error. */
static bool flush(HANDLE file, TextBuffer *buffer, size_t *written, int *error)
{
    DWORD n = 0;
    BOOL ok = WriteFile(file, buffer->bytes, static_cast<DWORD>(buffer->used), &n, nullptr);
    if (ok && n == buffer->used) {
        *written += buffer->source;
        buffer->used = buffer->source = 0;
        return true;
    }
    *error = ok ? -1 : static_cast<int>(GetLastError());
    *written += source_in(*buffer, n);
    return false;
}

size_t qv_log_file_write(QVLogFileHandle handle, QVLogPiece *pieces, int count, int *error)
{
    HANDLE file = reinterpret_cast<HANDLE>(handle);
    TextBuffer buffer;
    buffer.used = buffer.source = 0;
    size_t written = 0;
    *error = 0;
    for (int i = 0; i < count; i++)
        for (size_t at = 0; at < pieces[i].size; at++) {
            if (buffer.used + 2 > sizeof buffer.bytes && !flush(file, &buffer, &written, error))
                return written;
            if (pieces[i].data[at] == '\n')
                buffer.bytes[buffer.used++] = '\r';
            buffer.bytes[buffer.used++] = pieces[i].data[at];
            buffer.source++;
        }
    if (buffer.used > 0)
        flush(file, &buffer, &written, error);
    return written;
}

void qv_log_file_close(QVLogFileHandle file)
{
    CloseHandle(reinterpret_cast<HANDLE>(file));
}

void qv_log_file_reason(int error, char *text, size_t capacity)
{
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(error), 0, text, static_cast<DWORD>(capacity),
                             nullptr);
    /* The system's texts end in a line end and often a full stop. */
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.' ||
                     text[n - 1] == ' '))
        text[--n] = '\0';
    if (n == 0)
        qv_snprintf(text, capacity, "system error %d", error);
}

void qv_log_file_clock(int64_t *seconds, unsigned *millisecond)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    int64_t ticks = static_cast<int64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    *seconds = ticks / 10000000 - 11644473600;
    *millisecond = static_cast<unsigned>(ticks / 10000 % 1000);
}
