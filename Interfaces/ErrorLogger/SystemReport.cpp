/*
 * SystemReport: the Linux side of the system report: the current directory, the path
 * of the running program, its version note's language names, os-release and uname, the
 * memory figures of /proc and the mounted block devices and RAM disks. ReportLines
 * forms the lines and keeps their order.
 *
 * Texts that come from outside the process (version values, mount points, os-release,
 * host name) are logged with their control characters shown as '?', so that no such
 * text can break a log line in two.
 *
 * The Linux readers take the file they read as an argument (qv_report_os_from,
 * qv_report_memory_from, qv_report_drives_from) so that tests can hand in files of their
 * own; the public calls pass the /proc and /etc files.
 */
#include "Interfaces/ErrorLogger/ErrorLogger.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Interfaces/ErrorLogger/ReportLines.h"
#include "QVLib/QVmalloc.h"
#include "QVLib/QVstring.h"

static const char QV_FILE[] = "Interfaces/ErrorLogger/ErrorLogger";

/* Buffer sizes: a line of a text file, a mount table line (room for three escaped
 * paths of PATH_MAX bytes and the options; a longer line is skipped). */
#define QV_TEXT_LINE_SIZE 1024
#define QV_MOUNT_LINE_SIZE 65536
/* The address space of an x86-64 process when no limit is set: 2^47 bytes. */
#define QV_ADDRESS_SPACE_DEFAULT (uint64_t{1} << 47)

/* ---- helpers ------------------------------------------------------------------------ */

/* Reads the next line of stream into line (capacity bytes) without its line end.
 * Returns false at the end of the stream. A line too long for the buffer (more than
 * capacity - 1 bytes) is skipped whole, so that its tail is never taken for a line of its
 * own. The line is read byte by byte rather than with fgets, whose result cannot tell a
 * zero byte from the end: a zero byte ends the line's text, never the line. */
static bool read_line(FILE *stream, char *line, size_t capacity)
{
    for (;;) {
        size_t used = 0;
        bool too_long = false;
        int c;
        while ((c = getc(stream)) != EOF && c != '\n') {
            if (used + 1 < capacity)
                line[used++] = static_cast<char>(c);
            else
                too_long = true;
        }
        line[used] = '\0';
        if (!too_long && (c == '\n' || used > 0))
            return true; /* the last line may lack its line end */
        if (c == EOF)
            return false;
    }
}

/* ---- the version note ------------------------------------------------------------ */

/* The suite's languages (those of its message catalogue) and the neutral one. */
static const struct {
    uint16_t id;
    const char *name;
} g_language_names[] = {
    {0x0000, "Language Neutral"},        {0x0407, "German (Germany)"},
    {0x0409, "English (United States)"}, {0x040C, "French (France)"},
    {0x0410, "Italian (Italy)"},         {0x0411, "Japanese (Japan)"},
    {0x0413, "Dutch (Netherlands)"},     {0x0C0A, "Spanish (Spain)"},
};

void qv_report_language_name(uint16_t language, char *name, size_t capacity)
{
    for (const auto &entry : g_language_names)
        if (entry.id == language) {
            qv_strlcpy(name, entry.name, capacity);
            return;
        }
    qv_snprintf(name, capacity, "Unknown language 0x%04x", language);
}

/* Linux has no console code page of its own: the value is logged as stored. */
void qv_report_version_value(char *value)
{
    qv_report_printable(value);
}

/* A path that fills the whole buffer may have been cut: not used. */
bool qv_report_program_path(char *buffer, size_t capacity)
{
    ssize_t n = readlink("/proc/self/exe", buffer, capacity);
    if (n <= 0 || static_cast<size_t>(n) >= capacity)
        return false;
    buffer[n] = '\0';
    return true;
}

bool qv_report_current_directory(char *buffer, size_t capacity)
{
    return getcwd(buffer, capacity) != nullptr;
}

/* ---- operating system and host name --------------------------------------------------- */

/* Decodes an os-release value as a shell reads it (single quotes take everything
 * literally; in double quotes a backslash escapes only $ ` " and itself; a bare value
 * takes any character after a backslash) into out. Returns false for an unterminated
 * quote. */
static bool unquote_value(const char *value, char *out, size_t capacity)
{
    char quote = (*value == '"' || *value == '\'') ? *value : '\0';
    const char *p = value + (quote ? 1 : 0);
    size_t used = 0;
    for (; *p != '\0' && *p != quote; p++) {
        if (*p == '\\' && p[1] != '\0' &&
            (quote == '\0' || (quote == '"' && strchr("$`\"\\", p[1]) != nullptr)))
            p++;
        if (used + 1 < capacity)
            out[used++] = *p;
    }
    out[used] = '\0';
    return quote == '\0' || *p == quote;
}

/* The PRETTY_NAME of the os-release file at path into name; false when the file or
 * the value is missing or empty. As in a shell, the last assignment counts. */
static bool read_pretty_name(const char *path, char *name, size_t capacity)
{
    FILE *stream = fopen(path, "re");
    if (stream == nullptr)
        return false;
    static const char key[] = "PRETTY_NAME=";
    char line[QV_TEXT_LINE_SIZE];
    name[0] = '\0';
    while (read_line(stream, line, sizeof line)) {
        if (strncmp(line, key, sizeof key - 1) != 0)
            continue;
        if (!unquote_value(line + sizeof key - 1, name, capacity))
            name[0] = '\0';
    }
    fclose(stream);
    return name[0] != '\0';
}

/* qv_report_os with the os-release file given. */
void qv_report_os_from(const char *os_release_path)
{
    struct utsname system;
    if (uname(&system) != 0)
        return;
    char pretty[QV_TEXT_LINE_SIZE];
    char text[QV_TEXT_LINE_SIZE + 3 * sizeof system.release];
    if (read_pretty_name(os_release_path, pretty, sizeof pretty))
        qv_snprintf(text, sizeof text, "%s, %s %s %s", pretty, system.sysname, system.release,
                    system.machine);
    else
        qv_snprintf(text, sizeof text, "%s %s %s", system.sysname, system.release, system.machine);
    qv_report_printable(text);
    qv_log(QV_LOG_INFO, "OS: %s", text);

    char host[QV_HOST_NAME_SIZE];
    if (gethostname(host, sizeof host) == 0) {
        host[sizeof host - 1] = '\0';
        qv_report_computer_name(host);
    }
}

void qv_report_os(void)
{
    /* os-release(5): /etc/os-release, else the vendor's copy. */
    static const char etc[] = "/etc/os-release";
    qv_report_os_from(access(etc, R_OK) == 0 ? etc : "/usr/lib/os-release");
}

/* ---- memory ---------------------------------------------------------------------------- */

/* Reads the "Key:   <n> kB" lines of a /proc file for the count keys. Sets bit i of the
 * result and values[i] (in bytes) for each key found with a well-formed value. */
static unsigned read_kib_fields(const char *path, const char *const keys[], uint64_t values[],
                                unsigned count)
{
    FILE *stream = fopen(path, "re");
    if (stream == nullptr)
        return 0;
    unsigned found = 0;
    char line[QV_TEXT_LINE_SIZE];
    while (read_line(stream, line, sizeof line)) {
        char *colon = strchr(line, ':');
        if (colon == nullptr)
            continue;
        *colon = '\0';
        for (unsigned i = 0; i < count; i++) {
            if ((found & (1u << i)) || strcmp(line, keys[i]) != 0)
                continue;
            const char *p = colon + 1;
            while (*p == ' ' || *p == '\t')
                p++;
            if (*p < '0' || *p > '9')
                break;
            char *end;
            errno = 0;
            unsigned long long kib = strtoull(p, &end, 10);
            if (errno != 0 || strcmp(end, " kB") != 0 || kib > UINT64_MAX / 1024)
                break;
            values[i] = static_cast<uint64_t>(kib) * 1024;
            found |= 1u << i;
        }
    }
    fclose(stream);
    return found;
}

/* qv_report_memory with the /proc files and the address-space limit given. */
void qv_report_memory_from(const char *meminfo_path, const char *status_path,
                           uint64_t address_space_limit)
{
    static const char *const memory_keys[] = {"MemTotal", "MemAvailable", "SwapTotal", "SwapFree"};
    uint64_t memory[4] = {0, 0, 0, 0};
    unsigned found = read_kib_fields(meminfo_path, memory_keys, memory, 4);
    if ((found & 0x3) == 0x3)
        qv_report_memory_line(QV_MEMORY_RAM, memory[0], memory[1]);
    if ((found & 0xC) == 0xC)
        qv_report_memory_line(QV_MEMORY_PAGE, memory[2], memory[3]);

    static const char *const status_keys[] = {"VmSize"};
    uint64_t in_use = 0;
    if (read_kib_fields(status_path, status_keys, &in_use, 1) == 1) {
        /* A process can be over a limit set after it grew: nothing is left then. */
        uint64_t left = in_use < address_space_limit ? address_space_limit - in_use : 0;
        qv_report_memory_line(QV_MEMORY_VIRTUAL, address_space_limit, left);
    }
}

void qv_report_memory(void)
{
    struct rlimit limit;
    uint64_t address_space = QV_ADDRESS_SPACE_DEFAULT;
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        address_space = limit.rlim_cur;
    qv_report_memory_from("/proc/meminfo", "/proc/self/status", address_space);
}

/* ---- drives ---------------------------------------------------------------------------- */

/* The drives listed so far, so that each device is listed once (at its first mount
 * point). A drive is its kind (one of the static texts) and its device number. */
struct DriveId {
    const char *kind;
    dev_t id;
};

struct DriveList {
    DriveId *drives;
    size_t count;
    size_t capacity;
};

/* Adds the drive unless listed. Returns 0 when added, 1 when listed before, 2 out of
 * memory. */
static unsigned add_drive(DriveList *list, DriveId drive)
{
    for (size_t i = 0; i < list->count; i++)
        if (list->drives[i].kind == drive.kind && list->drives[i].id == drive.id)
            return 1;
    if (list->count == list->capacity) {
        size_t capacity = list->capacity ? 2 * list->capacity : 16;
        DriveId *drives =
            static_cast<DriveId *>(qv_malloc(capacity * sizeof *drives, QV_FILE, __LINE__, 0));
        if (drives == nullptr)
            return 2;
        if (list->count > 0)
            memcpy(drives, list->drives, list->count * sizeof *drives);
        free(list->drives);
        list->drives = drives;
        list->capacity = capacity;
    }
    list->drives[list->count++] = drive;
    return 0;
}

/* One line of a mountinfo table; the texts point into the line. */
struct Mount {
    unsigned major, minor; /* the device of the file system */
    char *mount_point;
    char *type;
    char *source;
};

/* Splits the next blank-separated field off *rest; null when none is left. */
static char *next_field(char **rest)
{
    char *p = *rest;
    while (*p == ' ')
        p++;
    if (*p == '\0')
        return nullptr;
    char *end = strchr(p, ' ');
    if (end != nullptr)
        *end++ = '\0';
    else
        end = p + strlen(p);
    *rest = end;
    return p;
}

/* Reads a decimal number that fills text up to the terminator stop; false otherwise. */
static bool read_number(const char *text, char stop, unsigned *value, const char **end)
{
    if (*text < '0' || *text > '9')
        return false;
    char *after;
    errno = 0;
    unsigned long n = strtoul(text, &after, 10);
    if (errno != 0 || n > UINT_MAX || *after != stop)
        return false;
    *value = static_cast<unsigned>(n);
    *end = after;
    return true;
}

/* Undoes the kernel's octal escapes (a blank is "\040", a line end "\012") in place. */
static void decode_escapes(char *text)
{
    char *out = text;
    for (const char *p = text; *p != '\0';) {
        if (p[0] == '\\' && p[1] >= '0' && p[1] <= '3' && p[2] >= '0' && p[2] <= '7' &&
            p[3] >= '0' && p[3] <= '7') {
            *out++ = static_cast<char>(((p[1] - '0') << 6) | ((p[2] - '0') << 3) | (p[3] - '0'));
            p += 4;
        } else {
            *out++ = *p++;
        }
    }
    *out = '\0';
}

/* Parses a mountinfo line, "id parent major:minor root mount-point options [optional
 * fields...] - type source super-options", in place. False for a malformed line. */
static bool parse_mount(char *line, Mount *mount)
{
    char *rest = line;
    char *fields[5];
    for (char *&field : fields)
        if ((field = next_field(&rest)) == nullptr)
            return false;
    const char *end;
    if (!read_number(fields[2], ':', &mount->major, &end) ||
        !read_number(end + 1, '\0', &mount->minor, &end))
        return false;
    char *field;
    do { /* the options, then the optional fields up to the separator */
        field = next_field(&rest);
    } while (field != nullptr && strcmp(field, "-") != 0);
    if (field == nullptr || (mount->type = next_field(&rest)) == nullptr ||
        (mount->source = next_field(&rest)) == nullptr)
        return false;
    mount->mount_point = fields[4];
    decode_escapes(mount->mount_point);
    decode_escapes(mount->source);
    return true;
}

/* The kind of drive a mount is ("Fixed drive", "RAM disk") and the device it is, or
 * null for mounts that are not reported. A block device is known by its node or, where
 * the node is absent (a container bind-mounts single files from the root disk without
 * it), by the kernel's entry for its numbers in /sys/dev/block. */
static const char *drive_kind(const Mount *mount, dev_t *id)
{
    struct stat st;
    if (strcmp(mount->type, "tmpfs") == 0 || strcmp(mount->type, "ramfs") == 0) {
        if (stat(mount->mount_point, &st) != 0)
            return nullptr;
        *id = st.st_dev;
        return "RAM disk";
    }
    /* Only an absolute source can be a device node: "proc", "overlay" or "host:/export"
     * would otherwise be looked up in the current directory. */
    if (mount->source[0] == '/' && stat(mount->source, &st) == 0 && S_ISBLK(st.st_mode)) {
        *id = st.st_rdev;
        return "Fixed drive";
    }
    char entry[64];
    qv_snprintf(entry, sizeof entry, "/sys/dev/block/%u:%u", mount->major, mount->minor);
    if (access(entry, F_OK) != 0)
        return nullptr;
    *id = makedev(mount->major, mount->minor);
    return "Fixed drive";
}

/* Logs the line of one drive: its sizes, or "0" for both when it cannot be sized. */
static void report_drive(char *mount_point, const char *kind)
{
    struct statvfs volume;
    bool sized = statvfs(mount_point, &volume) == 0;
    qv_report_printable(mount_point);
    uint64_t fragment = sized ? volume.f_frsize : 0;
    qv_report_drive_line(mount_point, sized,
                         sized ? qv_report_multiply_saturated(volume.f_blocks, fragment) : 0,
                         sized ? qv_report_multiply_saturated(volume.f_bfree, fragment) : 0, kind);
}

/* qv_report_drives with the mount table (in the format of /proc/self/mountinfo) given. */
void qv_report_drives_from(const char *mountinfo_path)
{
    FILE *table = fopen(mountinfo_path, "re");
    if (table == nullptr)
        return;
    char *line = static_cast<char *>(qv_malloc(QV_MOUNT_LINE_SIZE, QV_FILE, __LINE__, 0));
    DriveList listed = {nullptr, 0, 0};
    while (line != nullptr && read_line(table, line, QV_MOUNT_LINE_SIZE)) {
        Mount mount;
        DriveId drive;
        if (!parse_mount(line, &mount) || (drive.kind = drive_kind(&mount, &drive.id)) == nullptr)
            continue;
        unsigned added = add_drive(&listed, drive);
        if (added == 2)
            break; /* without the list, lines could repeat: stop here */
        if (added == 0)
            report_drive(mount.mount_point, drive.kind);
    }
    free(listed.drives);
    free(line);
    fclose(table);
}

void qv_report_drives(void)
{
    qv_report_drives_from("/proc/self/mountinfo");
}
