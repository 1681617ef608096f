/*
 * ReportLines: the system report's order and lines, whatever the platform, and the
 * calls each platform's side of the report supplies.
 *
 * The report is a fixed sequence of INFO lines: the current directory, the version
 * record of the running executable, the operating system and the computer's name,
 * memory, and the fixed drives and RAM disks. This module forms the lines from what the
 * platform's queries found, so that a platform file (SystemReport on Linux, SystemWin32
 * on Windows) only asks its system. The lines that only Windows gives (the naming of its
 * versions, the sizes of a volume from its clusters) are pure functions here, so that
 * they are tested on every platform.
 */
#ifndef INTERFACES_ERRORLOGGER_REPORTLINES_H
#define INTERFACES_ERRORLOGGER_REPORTLINES_H

#include <cstddef>
#include <cstdint>

/* Every memory figure is shown 640 KiB above what the platform reports. */
#define QV_MEMORY_BIAS 655360u

/* The current directory's buffer, the version record's query path, the computer name's
 * buffer. */
#define QV_CWD_SIZE 258
#define QV_QUERY_SIZE 500
#define QV_HOST_NAME_SIZE 1024

/* Replaces control characters in text by '?', in place, so that no text from outside
 * the process can break a log line in two. */
void qv_report_printable(char *text);

/* a + b and a * b, saturated at the largest count that reads as a positive signed
 * 64-bit number (qv_format_byte_size reads its argument signed). */
uint64_t qv_report_add_saturated(uint64_t a, uint64_t b);
uint64_t qv_report_multiply_saturated(uint64_t a, uint64_t b);

/* The three memory lines: physical memory, the paging file (swap), the address space. */
enum QVMemoryKind { QV_MEMORY_RAM, QV_MEMORY_PAGE, QV_MEMORY_VIRTUAL };

/* Logs the memory line of kind ("RAM     Total %7s  Available %7s", "Page    ...",
 * "Virtual ...") with total and available shown QV_MEMORY_BIAS bytes above the
 * platform's figures; the line is left out when memory runs out. */
void qv_report_memory_line(QVMemoryKind kind, uint64_t total, uint64_t available);

/* Logs "Computer name: %s" with name, made printable in place first. */
void qv_report_computer_name(char *name);

/* Logs "Drive %s Total %7s  Free %7s  Type: %s": with sized, the two byte counts
 * formatted; without, "0" for both (a volume that could not be sized). */
void qv_report_drive_line(const char *drive, bool sized, uint64_t total, uint64_t free_bytes,
                          const char *kind);

/* ---- the Windows lines ------------------------------------------------------------ */

/* What GetVersionExA and GetSystemInfo tell of Windows. */
struct QVWindowsVersion {
    uint32_t major, minor, build, platform_id;
    const char *service_pack;        /* szCSDVersion, never null */
    uint16_t suite_mask;             /* 0 with the basic record */
    uint8_t product_type;            /* 1 workstation; 0 with the basic record */
    uint16_t processor_architecture; /* 9 x64 */
};

/* Forms into line (capacity bytes) the report's line on the Windows version: "OS: "
 * with the version's name and details, or, for a version the naming table does not
 * know, "OS Version Major %u Minor %u Build# %u PlatformId %u %s". */
void qv_windows_os_line(const QVWindowsVersion *version, char *line, size_t capacity);

/* The bytes of clusters clusters of a volume, from GetDiskFreeSpaceA's figures. */
uint64_t qv_windows_cluster_bytes(uint32_t sectors_per_cluster, uint32_t bytes_per_sector,
                                  uint32_t clusters);

/* ---- what each platform's side supplies ------------------------------------------ */

/* The current directory into buffer (capacity bytes); false when it cannot be read or
 * does not fit. */
bool qv_report_current_directory(char *buffer, size_t capacity);

/* The running executable's full path into buffer (capacity bytes); false when it
 * cannot be read or may have been cut. */
bool qv_report_program_path(char *buffer, size_t capacity);

/* The display name of a version record's language into name (capacity bytes). */
void qv_report_language_name(uint16_t language, char *name, size_t capacity);

/* Makes a string value of the version record fit for the log, in place (the record is
 * the report's own copy): the platform's conversion for its console, if any, then
 * qv_report_printable. */
void qv_report_version_value(char *value);

#endif
