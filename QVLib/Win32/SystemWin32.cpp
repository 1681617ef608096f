/*
 * SystemWin32: the Windows side of the system report: the current directory, the path
 * of the running program, its version resource's language names and values, the
 * Windows version and the computer's name, the memory status and the fixed and RAM
 * drives. Each call only asks the system; ReportLines forms the lines.
 */
#include <windows.h>

#include <direct.h>

#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "Interfaces/ErrorLogger/ReportLines.h"

/* The drive types the report lists. */
#define QV_DRIVE_FIXED 3
#define QV_DRIVE_RAM_DISK 6

bool qv_report_current_directory(char *buffer, size_t capacity)
{
    return _getcwd(buffer, static_cast<int>(capacity)) != nullptr;
}

/* A path that fills the whole buffer has been cut: not used. */
bool qv_report_program_path(char *buffer, size_t capacity)
{
    DWORD n = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(capacity));
    return n > 0 && n < capacity;
}

void qv_report_language_name(uint16_t language, char *name, size_t capacity)
{
    if (VerLanguageNameA(language, name, static_cast<DWORD>(capacity)) == 0)
        qv_snprintf(name, capacity, "Unknown language 0x%04x", language);
}

/* The console shows the OEM code page: the value is converted to it in place. */
void qv_report_version_value(char *value)
{
    CharToOemA(value, value);
    qv_report_printable(value);
}

void qv_report_os(void)
{
    OSVERSIONINFOEXA info;
    memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA *>(&info))) {
        memset(&info, 0, sizeof info);
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA *>(&info)))
            return;
    }
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    info.szCSDVersion[sizeof info.szCSDVersion - 1] = '\0';
    QVWindowsVersion version = {info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber,
                                info.dwPlatformId,   info.szCSDVersion,   info.wSuiteMask,
                                info.wProductType,   system.wProcessorArchitecture};
    char line[QV_QUERY_SIZE + sizeof info.szCSDVersion];
    qv_windows_os_line(&version, line, sizeof line);
    qv_report_printable(line);
    qv_log(QV_LOG_INFO, "%s", line);

    char name[QV_HOST_NAME_SIZE];
    DWORD size = sizeof name;
    if (GetComputerNameA(name, &size))
        qv_report_computer_name(name);
}

void qv_report_memory(void)
{
    MEMORYSTATUSEX status;
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status))
        return;
    qv_report_memory_line(QV_MEMORY_RAM, status.ullTotalPhys, status.ullAvailPhys);
    qv_report_memory_line(QV_MEMORY_PAGE, status.ullTotalPageFile, status.ullAvailPageFile);
    qv_report_memory_line(QV_MEMORY_VIRTUAL, status.ullTotalVirtual, status.ullAvailVirtual);
}

typedef BOOL(WINAPI *QVDiskFreeSpaceEx)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                        PULARGE_INTEGER);

/* The line of the drive at root: sized through GetDiskFreeSpaceExA when kernel32 has
 * it, else through GetDiskFreeSpaceA, whose failure reads as 0 bytes. */
static void report_drive(HMODULE kernel32, const char *root, const char *kind)
{
    const char drive[2] = {root[0], '\0'};
    /* The entry is looked up for every drive, as the system may differ by volume. */
    QVDiskFreeSpaceEx free_space_ex = reinterpret_cast<QVDiskFreeSpaceEx>(
        reinterpret_cast<void *>(GetProcAddress(kernel32, "GetDiskFreeSpaceExA")));
    if (free_space_ex != nullptr) {
        ULARGE_INTEGER caller_free, total, total_free;
        bool sized = free_space_ex(root, &caller_free, &total, &total_free) != 0;
        qv_report_drive_line(drive, sized, sized ? total.QuadPart : 0,
                             sized ? total_free.QuadPart : 0, kind);
        return;
    }
    DWORD sectors_per_cluster = 0, bytes_per_sector = 0, free_clusters = 0, clusters = 0;
    if (!GetDiskFreeSpaceA(root, &sectors_per_cluster, &bytes_per_sector, &free_clusters,
                           &clusters))
        sectors_per_cluster = 0;
    qv_report_drive_line(
        drive, true, qv_windows_cluster_bytes(sectors_per_cluster, bytes_per_sector, clusters),
        qv_windows_cluster_bytes(sectors_per_cluster, bytes_per_sector, free_clusters), kind);
}

void qv_report_drives(void)
{
    HMODULE kernel32 = LoadLibraryA("KERNEL32.DLL");
    if (kernel32 == nullptr)
        return;
    DWORD present = GetLogicalDrives();
    /* A: and B: are never reported. */
    for (int index = 2; index < 26; index++) {
        if (!(present & (DWORD{1} << index)))
            continue;
        const char root[4] = {static_cast<char>('A' + index), ':', '\\', '\0'};
        UINT type = GetDriveTypeA(root);
        if (type == QV_DRIVE_FIXED)
            report_drive(kernel32, root, "Fixed drive");
        else if (type == QV_DRIVE_RAM_DISK)
            report_drive(kernel32, root, "RAM disk");
    }
    FreeLibrary(kernel32);
}
