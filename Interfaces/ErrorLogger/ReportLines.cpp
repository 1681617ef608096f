/*
 * ReportLines: the system report's order, its byte-size formatter, its version section
 * and the lines that each platform's queries fill.
 *
 * Invariants: the report keeps no state and never fails loudly; a section whose query
 * fails is left out and nothing is said about it (an exhausted heap is still reported by
 * the allocation, as everywhere, and the line that needed the memory is left out).
 */
#include "Interfaces/ErrorLogger/ReportLines.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "Interfaces/ErrorLogger/VersionNote.h"
#include "QVLib/QVmalloc.h"
#include "QVLib/QVstring.h"

static const char QV_FILE[] = "Interfaces/ErrorLogger/ErrorLogger";

/* Digits after the point that qv_format_byte_size can give exactly; see there. */
#define QV_BYTE_SIZE_DIGITS 64

/* ---- helpers ------------------------------------------------------------------------ */

void qv_report_printable(char *text)
{
    for (unsigned char *p = reinterpret_cast<unsigned char *>(text); *p != '\0'; p++)
        if (*p < 0x20 || *p == 0x7F)
            *p = '?';
}

uint64_t qv_report_add_saturated(uint64_t a, uint64_t b)
{
    const uint64_t largest = static_cast<uint64_t>(INT64_MAX);
    if (a > largest || b > largest - a)
        return largest;
    return a + b;
}

uint64_t qv_report_multiply_saturated(uint64_t a, uint64_t b)
{
    uint64_t product;
    if (__builtin_mul_overflow(a, b, &product) || product > static_cast<uint64_t>(INT64_MAX))
        return static_cast<uint64_t>(INT64_MAX);
    return product;
}

/* ---- the byte-size formatter ----------------------------------------------------------- */

/* The value is an integer scaled by 1024^k (k <= 6), so it has at most 60 binary digits
 * after the point and "%.64f" prints it exactly; rounding is then done on those decimal
 * digits, halves away from zero. Precision is taken within 0..QV_BYTE_SIZE_DIGITS. */
char *qv_format_byte_size(uint64_t bytes, int precision)
{
    static const char *const units[5] = {" bytes", " KB", " MB", " GB", " TB"};
    if (precision < 0)
        precision = 0;
    if (precision > QV_BYTE_SIZE_DIGITS)
        precision = QV_BYTE_SIZE_DIGITS;

    double value = static_cast<double>(static_cast<int64_t>(bytes));
    unsigned divisions = 0;
    while (value > 1000) {
        value *= 1.0 / 1024;
        divisions++;
    }
    const char *unit = divisions < 5 ? units[divisions] : "";

    char exact[96]; /* sign, up to 19 digits, point, 64 digits */
    qv_snprintf(exact, sizeof exact, "%.64f", value);
    bool negative = exact[0] == '-';
    char *number = exact + (negative ? 1 : 0);
    char *point = strchr(number, '.');
    size_t keep = static_cast<size_t>(point - number) +
                  (precision > 0 ? 1 + static_cast<size_t>(precision) : 0);
    bool carry = precision < QV_BYTE_SIZE_DIGITS && point[1 + precision] >= '5';
    for (size_t i = keep; carry && i-- > 0;) {
        if (number[i] == '.')
            continue;
        if (number[i] == '9') {
            number[i] = '0';
        } else {
            number[i]++;
            carry = false;
        }
    }
    number[keep] = '\0';

    size_t size = (negative ? 1 : 0) + (carry ? 1 : 0) + keep + strlen(unit) + 1;
    char *text = static_cast<char *>(qv_malloc(size, QV_FILE, __LINE__, 0));
    if (text == nullptr)
        return nullptr;
    qv_snprintf(text, size, "%s%s%s%s", negative ? "-" : "", carry ? "1" : "", number, unit);
    return text;
}

/* Logs format with the two byte counts formatted at precision 0; the line is left out
 * when either cannot be formatted. */
static void log_two_sizes(const char *format, uint64_t first, uint64_t second)
{
    char *a = qv_format_byte_size(first, 0);
    char *b = qv_format_byte_size(second, 0);
    if (a != nullptr && b != nullptr)
        qv_log(QV_LOG_INFO, format, a, b);
    free(a);
    free(b);
}

/* ---- the version section ------------------------------------------------------------- */

static const char *const g_version_keys[] = {
    "FileDescription", "FileVersion",    "OriginalFilename",
    "ProductName",     "ProductVersion", "SpecialBuild",
};

static const struct {
    uint32_t bit;
    const char *line;
} g_flag_lines[] = {
    {QV_VERSION_FLAG_DEBUG, "  Debug build"},
    {QV_VERSION_FLAG_PRERELEASE, "  Prerelease build"},
    {QV_VERSION_FLAG_PATCHED, "  Patched build"},
    {QV_VERSION_FLAG_PRIVATEBUILD, "  Private build "},
    {QV_VERSION_FLAG_SPECIALBUILD, "  Special build "},
};

static void report_version_flags(const unsigned char *block, uint32_t size)
{
    const void *value;
    uint32_t length;
    if (!qv_version_note_query(block, size, "\\", &value, &length) ||
        length < sizeof(QVVersionFixed))
        return;
    QVVersionFixed fixed;
    memcpy(&fixed, value, sizeof fixed);
    uint32_t flags = fixed.file_flags & fixed.file_flags_mask;
    for (const auto &row : g_flag_lines)
        if (flags & row.bit)
            qv_log(QV_LOG_INFO, "%s", row.line);
}

/* The language line and the string values of one translation. block is the report's
 * own copy, so values are made printable in place. */
static void report_translation(unsigned char *block, uint32_t size, QVVersionTranslation t)
{
    char name[QV_NAME_SIZE];
    qv_report_language_name(t.language, name, sizeof name);
    qv_log(QV_LOG_INFO, "  Language: %s", name);
    for (const char *key : g_version_keys) {
        char query[QV_QUERY_SIZE];
        qv_snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", t.language, t.code_page,
                    key);
        const void *value;
        uint32_t length;
        if (!qv_version_note_query(block, size, query, &value, &length) || length == 0)
            continue;
        char *text =
            reinterpret_cast<char *>(block + (static_cast<const unsigned char *>(value) - block));
        qv_report_version_value(text);
        qv_log(QV_LOG_INFO, "    %s = %s", key, text);
    }
}

void qv_report_file_version(const char *path)
{
    uint32_t size = qv_version_note_size(path);
    if (size == 0)
        return;
    unsigned char *block = static_cast<unsigned char *>(qv_malloc(size, QV_FILE, __LINE__, 0));
    if (block == nullptr)
        return;
    char shown[PATH_MAX];
    qv_strlcpy(shown, path, sizeof shown);
    qv_report_printable(shown);
    qv_log(QV_LOG_INFO, "File %s info:", shown);
    if (qv_version_note_read(path, size, block) == 0) {
        report_version_flags(block, size);
        const void *table;
        uint32_t table_length;
        if (qv_version_note_query(block, size, "\\VarFileInfo\\Translation", &table,
                                  &table_length)) {
            /* The table lies in block; an entry is copied out before values are
             * rewritten in place, which never touches the table anyway. */
            size_t table_at =
                static_cast<size_t>(static_cast<const unsigned char *>(table) - block);
            for (uint32_t at = 0; table_length - at >= sizeof(QVVersionTranslation);
                 at += sizeof(QVVersionTranslation)) {
                QVVersionTranslation t;
                memcpy(&t, block + table_at + at, sizeof t);
                report_translation(block, size, t);
            }
        }
    }
    free(block);
}

/* ---- memory and drives ------------------------------------------------------------ */

void qv_report_memory_line(QVMemoryKind kind, uint64_t total, uint64_t available)
{
    static const char *const formats[] = {
        "RAM     Total %7s  Available %7s",
        "Page    Total %7s  Available %7s",
        "Virtual Total %7s  Available %7s",
    };
    log_two_sizes(formats[kind], qv_report_add_saturated(total, QV_MEMORY_BIAS),
                  qv_report_add_saturated(available, QV_MEMORY_BIAS));
}

void qv_report_computer_name(char *name)
{
    qv_report_printable(name);
    qv_log(QV_LOG_INFO, "Computer name: %s", name);
}

void qv_report_drive_line(const char *drive, bool sized, uint64_t total, uint64_t free_bytes,
                          const char *kind)
{
    if (!sized) {
        qv_log(QV_LOG_INFO, "Drive %s Total %7s  Free %7s  Type: %s", drive, "0", "0", kind);
        return;
    }
    char *total_text = qv_format_byte_size(total, 0);
    char *free_text = qv_format_byte_size(free_bytes, 0);
    if (total_text != nullptr && free_text != nullptr)
        qv_log(QV_LOG_INFO, "Drive %s Total %7s  Free %7s  Type: %s", drive, total_text, free_text,
               kind);
    free(total_text);
    free(free_text);
}

/* ---- the Windows lines --------------------------------------------------------------- */

#define QV_PRODUCT_WORKSTATION 1
#define QV_PROCESSOR_X64 9
#define QV_SUITE_DATACENTER 0x0080u
#define QV_SUITE_ENTERPRISE 0x0002u
#define QV_SUITE_PERSONAL 0x0200u
#define QV_SUITE_WH_SERVER 0x2000u

/* The second character of the service-pack text, or none when it is shorter. */
static char service_pack_letter(const char *service_pack)
{
    return service_pack[0] != '\0' ? service_pack[1] : '\0';
}

/* The naming table: the name of the version with its trailing blank, into name; empty
 * when no row names it. */
static void windows_name(const QVWindowsVersion *v, char *name, size_t capacity)
{
    const char *text = "";
    const char *edition = "";
    char letter[3] = "";
    bool workstation = v->product_type == QV_PRODUCT_WORKSTATION;
    if (v->major == 6 && v->minor == 0) {
        text = workstation ? "Microsoft Windows Vista " : "Microsoft Windows Server 2008 ";
    } else if (v->major == 5 && v->minor == 2) {
        bool xp_x64 = v->suite_mask != QV_SUITE_WH_SERVER && workstation &&
                      v->processor_architecture == QV_PROCESSOR_X64;
        text = xp_x64 ? "Microsoft Windows XP Professional x64 Edition "
                      : "Microsoft Windows Server 2003 ";
    } else if (v->major == 5 && v->minor == 1) {
        text = "Microsoft Windows XP ";
        edition = (v->suite_mask & QV_SUITE_PERSONAL) ? "Home Edition " : "Professional ";
    } else if (v->major == 5 && v->minor == 0) {
        text = "Microsoft Windows 2000 ";
        edition = workstation                             ? "Professional "
                  : (v->suite_mask & QV_SUITE_DATACENTER) ? "Datacenter Server "
                  : (v->suite_mask & QV_SUITE_ENTERPRISE) ? "Advanced Server "
                                                          : "Server ";
    } else if (v->platform_id == 0) {
        text = "Microsoft Win32s ";
    } else if (v->platform_id == 1 && v->major == 4 && v->minor == 0) {
        text = "Microsoft Windows 95 ";
        char second = service_pack_letter(v->service_pack);
        if (second == 'C')
            edition = "OSR2 ";
        else if (second != '\0')
            qv_snprintf(letter, sizeof letter, "%c ", second);
    } else if (v->platform_id == 1 && v->major == 4 && v->minor == 10) {
        text = "Microsoft Windows 98 ";
        edition = service_pack_letter(v->service_pack) == 'A' ? "SE " : "";
    } else if (v->platform_id == 1 && v->major == 4 && v->minor == 90) {
        text = "Microsoft Windows Me ";
    } else if (v->platform_id == 2 && v->major <= 4) {
        text = "Microsoft Windows NT ";
    }
    qv_snprintf(name, capacity, "%s%s%s", text, edition, letter);
}

void qv_windows_os_line(const QVWindowsVersion *v, char *line, size_t capacity)
{
    char name[QV_QUERY_SIZE];
    windows_name(v, name, sizeof name);
    if (name[0] == '\0') {
        qv_snprintf(line, capacity, "OS Version Major %u Minor %u Build# %u PlatformId %u %s",
                    v->major, v->minor, v->build, v->platform_id, v->service_pack);
        return;
    }
    /* Windows 95 to Me keep the version in the build number's high word. */
    unsigned build = v->build & 0xFFFFu;
    if (v->major <= 4)
        qv_snprintf(line, capacity, "OS: %sversion %u.%u %s (Build %u) ", name, v->major, v->minor,
                    v->service_pack, build);
    else
        qv_snprintf(line, capacity, "OS: %s%s (Build %u)", name, v->service_pack, build);
}

/* Whole 64-bit products: a volume of 4 GiB or more is sized right, where products of
 * 32 bits would wrap around. */
uint64_t qv_windows_cluster_bytes(uint32_t sectors_per_cluster, uint32_t bytes_per_sector,
                                  uint32_t clusters)
{
    return qv_report_multiply_saturated(uint64_t{sectors_per_cluster} * bytes_per_sector, clusters);
}

/* ---- the whole report ------------------------------------------------------------------- */

void qv_system_report(void)
{
    char directory[QV_CWD_SIZE];
    if (qv_report_current_directory(directory, sizeof directory)) {
        qv_report_printable(directory);
        qv_log(QV_LOG_INFO, "Running in %s", directory);
    }
    char program[QV_NAME_SIZE];
    if (qv_report_program_path(program, sizeof program))
        qv_report_file_version(program);
    qv_report_os();
    qv_report_memory();
    qv_report_drives();
}
