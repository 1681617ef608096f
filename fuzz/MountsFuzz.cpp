/*
 * Fuzzing harness: the system report's reader of the mount table, any file contents
 * in the format of /proc/self/mountinfo (qv_report_drives_from). Sources and mount
 * points named in the table are looked up on this machine, as the report does; nothing
 * is changed there.
 *
 * Properties: every line is a drive line of a fixed drive or a RAM disk and stays whole
 * (mount points may hold escapes and control characters); no mount point is listed
 * twice as a RAM disk (one mount point is one device); a well-formed first line of a
 * tmpfs or ramfs mounted on an existing directory, or of a block device known to this
 * machine (by its node, or by its numbers in /sys/dev/block), gives the first drive
 * line, of that kind and at that mount point.
 */
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "fuzz/FuzzSupport.h"

static bool ends_with(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

/* The blank-separated fields of text. */
static std::vector<std::string> fields_of(const std::string &text)
{
    std::vector<std::string> fields;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find(' ', at);
        if (end == std::string::npos)
            end = text.size();
        if (end > at)
            fields.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return fields;
}

/* The kind of drive that the well-formed mountinfo line must give ("Fixed drive",
 * "RAM disk"), with its mount point (when it holds no escape); "" when the line is not
 * well-formed or names no drive of this machine. Well-formed: "id parent major:minor
 * root mount-point options" of plain fields, then "-", type and source. */
static std::string expected_kind(const std::string &line, std::string *mount_point)
{
    std::vector<std::string> f = fields_of(line);
    if (f.size() < 8 || f[4][0] != '/')
        return "";
    for (unsigned char c : f[4])
        if (c < 0x20 || c == 0x7F || c == '\\') /* shown as "?", or an escape */
            return "";
    size_t dash = 5; /* the options, the optional fields, then "-" */
    while (dash < f.size() && f[dash] != "-")
        dash++;
    static const std::regex device("([0-9]{1,9}):([0-9]{1,9})");
    std::smatch numbers;
    if (dash + 2 >= f.size() || !std::regex_match(f[2], numbers, device))
        return "";
    unsigned long major = std::stoul(numbers[1]), minor = std::stoul(numbers[2]);
    *mount_point = f[4];
    const std::string &type = f[dash + 1], &source = f[dash + 2];
    struct stat st;
    if (type == "tmpfs" || type == "ramfs")
        return stat(mount_point->c_str(), &st) == 0 ? "RAM disk" : "";
    std::string entry = "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    bool node = source[0] == '/' && source.find('\\') == std::string::npos &&
                stat(source.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
    return node || access(entry.c_str(), F_OK) == 0 ? "Fixed drive" : "";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string path = qv_fuzz_file(data, size);
    qv_fuzz_take_lines();
    qv_report_drives_from(path.c_str());
    std::vector<std::string> lines = qv_fuzz_take_lines();
    QV_FUZZ_CHECK(qv_fuzz_lines_are_whole(lines));
    std::set<std::string> seen;
    for (const std::string &line : lines) {
        QV_FUZZ_CHECK(line.find(" INFO   : Drive ") != std::string::npos);
        QV_FUZZ_CHECK(ends_with(line, "  Type: Fixed drive") ||
                      ends_with(line, "  Type: RAM disk"));
        if (ends_with(line, "RAM disk"))
            QV_FUZZ_CHECK(seen.insert(line.substr(line.find(": Drive "))).second);
    }

    std::string text(reinterpret_cast<const char *>(data), size);
    std::string first = text.substr(0, text.find('\n'));
    std::string mount_point;
    std::string kind = first.find('\0') == std::string::npos ? expected_kind(first, &mount_point) : "";
    if (!kind.empty()) {
        QV_FUZZ_CHECK(!lines.empty());
        QV_FUZZ_CHECK(ends_with(lines[0], "  Type: " + kind));
        QV_FUZZ_CHECK(lines[0].find(": Drive " + mount_point + " Total ") != std::string::npos);
    }
    return 0;
}
