/*
 * Tests of the system report: the byte-size formatter, the OS, memory and drive lines
 * read from files the tests write, the same lines from this machine, the whole report's
 * order, and the report under allocation failures. The version section is tested with
 * the built program in VersionNoteTest.
 */
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/QVmalloc.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestFiles.h"

namespace
{

std::string format_size(uint64_t bytes, int precision = 0)
{
    char *text = qv_format_byte_size(bytes, precision);
    EXPECT_NE(nullptr, text);
    std::string result = text ? text : "";
    free(text);
    return result;
}

std::string uname_text()
{
    struct utsname u;
    EXPECT_EQ(0, uname(&u));
    return std::string(u.sysname) + " " + u.release + " " + u.machine;
}

std::string host_name()
{
    char host[1024] = {0};
    EXPECT_EQ(0, gethostname(host, sizeof host - 1));
    return host;
}

/* True when text is a byte size as the report shows it: digits and a unit (or none, past
 * terabytes), right-aligned with blanks. */
bool is_size_field(const std::string &text)
{
    size_t digits = text.find_first_not_of(' ');
    if (digits == std::string::npos)
        return false;
    size_t unit = text.find_first_not_of("0123456789", digits);
    if (unit == digits)
        return false;
    std::string rest = unit == std::string::npos ? "" : text.substr(unit);
    return rest.empty() || rest == " bytes" || rest == " KB" || rest == " MB" || rest == " GB" ||
           rest == " TB";
}

/* ---- qv_format_byte_size ---------------------------------------------------------------- */

TEST(FormatByteSize, WorkedExamples)
{
    EXPECT_EQ("0 bytes", format_size(0));
    EXPECT_EQ("999 bytes", format_size(999));
    EXPECT_EQ("1000 bytes", format_size(1000)); /* not greater than 1000 */
    EXPECT_EQ("1 KB", format_size(1001));
    EXPECT_EQ("2 KB", format_size(1536)); /* 1.5 rounds up */
    EXPECT_EQ("1 MB", format_size(1048576));
    EXPECT_EQ("1000 KB", format_size(1024000));
    EXPECT_EQ("2 GB", format_size(2147483648ull));
    EXPECT_EQ("1000 KB", format_size(1023999));
    EXPECT_EQ("1 MB", format_size(1024001));
    EXPECT_EQ("1 TB", format_size(1ull << 40));
}

TEST(FormatByteSize, HalvesRoundAwayFromZero)
{
    EXPECT_EQ("3 KB", format_size(2560));            /* 2.5: a ties-to-even printf says 2 */
    EXPECT_EQ("5 KB", format_size(4608));            /* 4.5 */
    EXPECT_EQ("2 KB", format_size(2559));            /* 2.499 */
    EXPECT_EQ("1000 KB", format_size(1023488));      /* 999.5 carries into a new digit */
    EXPECT_EQ("999 KB", format_size(1023487));       /* 999.499 */
    EXPECT_EQ("1.13 KB", format_size(1152, 2));      /* 1.125 */
    EXPECT_EQ("1.1 KB", format_size(1126, 1));       /* 1.0996 */
    EXPECT_EQ("1000.0 KB", format_size(1023959, 1)); /* 999.96: carry through the point */
    EXPECT_EQ("-3 bytes", format_size(static_cast<uint64_t>(-3)));
}

TEST(FormatByteSize, PrecisionAfterThePoint)
{
    EXPECT_EQ("1.5 KB", format_size(1536, 1));
    EXPECT_EQ("1.50 KB", format_size(1536, 2));
    EXPECT_EQ("999.000 bytes", format_size(999, 3));
    EXPECT_EQ("0.98 MB", format_size(1024001, 2));
    EXPECT_EQ("1.0009765625 KB", format_size(1025, 10)); /* exact binary fraction */
    /* precision is taken within 0..64 */
    EXPECT_EQ("2 KB", format_size(1536, -1));
    EXPECT_EQ("1." + std::string(64, '0') + " bytes", format_size(1, 100));
    EXPECT_EQ("1.0009765625" + std::string(54, '0') + " KB", format_size(1025, 64));
}

TEST(FormatByteSize, FiveOrMoreDivisionsHaveNoUnit)
{
    EXPECT_EQ("1000 TB", format_size(1000ull << 40));
    EXPECT_EQ("1", format_size(1ull << 50)); /* 1024 TB: a fifth division */
    EXPECT_EQ("4", format_size(1ull << 62)); /* six divisions */
    EXPECT_EQ("8", format_size(static_cast<uint64_t>(INT64_MAX)));
}

TEST(FormatByteSize, CountsAboveTheSignedRangeReadNegative)
{
    EXPECT_EQ("-1 bytes", format_size(UINT64_MAX));
    EXPECT_EQ("-9223372036854775808 bytes", format_size(1ull << 63));
    EXPECT_EQ("-1536 bytes", format_size(static_cast<uint64_t>(-1536)));
    EXPECT_EQ("-1536.00 bytes", format_size(static_cast<uint64_t>(-1536), 2));
}

TEST(FormatByteSize, OutOfMemoryGivesNullAndIsLogged)
{
    StderrCapture capture;
    qv_malloc_fail_nth(1);
    char *text = qv_format_byte_size(1536, 0);
    qv_malloc_fail_nth(0);
    auto lines = capture.finish();
    EXPECT_EQ(nullptr, text);
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("out of memory. Size requested = 5"));
    EXPECT_EQ(0u, lines[0].find("ERROR   at ErrorLogger:"));
}

/* ---- OS and computer name ----------------------------------------------------------------- */

std::vector<std::string> os_lines(const std::string &os_release_path)
{
    StderrCapture capture;
    qv_report_os_from(os_release_path.c_str());
    return capture.finish();
}

TEST(ReportOs, PrettyNameAndKernel)
{
    TempDir dir;
    std::string path = dir.file("os-release", "NAME=\"Debian GNU/Linux\"\n"
                                              "# PRETTY_NAME=\"commented out\"\n"
                                              "\n"
                                              "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
                                              "ID=debian\n");
    auto lines = os_lines(path);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("INFO   : OS: Debian GNU/Linux 12 (bookworm), " + uname_text(), lines[0]);
    EXPECT_EQ("INFO   : Computer name: " + host_name(), lines[1]);
}

TEST(ReportOs, QuotingAsInAShell)
{
    TempDir dir;
    struct {
        const char *line;
        const char *name;
    } cases[] = {
        {"PRETTY_NAME='Single \\ quoted'", "Single \\ quoted"},
        {"PRETTY_NAME=\"Say \\\"hi\\\" \\$HOME \\\\ \\`x\\`\"", "Say \"hi\" $HOME \\ `x`"},
        {"PRETTY_NAME=\"Other \\d stays\"", "Other \\d stays"},
        {"PRETTY_NAME=Bare", "Bare"},
        {"PRETTY_NAME=Bare\\ escaped", "Bare escaped"},
        {"PRETTY_NAME=\"Quoted\" trailing text", "Quoted"},
    };
    /* Each is written as the file's only line, without a line end. */
    for (const auto &c : cases) {
        std::string path = dir.file("os-release", c.line);
        auto lines = os_lines(path);
        ASSERT_EQ(2u, lines.size()) << c.line;
        EXPECT_EQ(std::string("INFO   : OS: ") + c.name + ", " + uname_text(), lines[0]);
    }
}

TEST(ReportOs, WithoutAPrettyNameTheKernelAlone)
{
    TempDir dir;
    std::string expected = "INFO   : OS: " + uname_text();
    const char *contents[] = {
        "NAME=Debian\n",                /* no PRETTY_NAME */
        "PRETTY_NAME=\"\"\n",           /* empty */
        "PRETTY_NAME=\"Unterminated\n", /* a broken quote is no value */
        "XPRETTY_NAME=\"Other key\"\n", /* a different key */
    };
    for (const char *content : contents) {
        auto lines = os_lines(dir.file("os-release", content));
        ASSERT_EQ(2u, lines.size()) << content;
        EXPECT_EQ(expected, lines[0]) << content;
    }
    auto lines = os_lines(dir.path() + "/missing");
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(expected, lines[0]);
    EXPECT_EQ("INFO   : Computer name: " + host_name(), lines[1]);
}

TEST(ReportOs, LastAssignmentCountsAndLongLinesAreSkipped)
{
    TempDir dir;
    /* The tail of an over-long line must not be read as a line of its own: lines are
     * read in pieces of 1023 characters, and "PRETTY_NAME" starts the fourth. */
    std::string long_line = "X=" + std::string(3067, 'a') + "PRETTY_NAME=\"Smuggled\"\n";
    auto lines = os_lines(dir.file("os-release", "PRETTY_NAME=\"First\"\n" + long_line +
                                                     "PRETTY_NAME=\"Second\"\n" + long_line));
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("INFO   : OS: Second, " + uname_text(), lines[0]);
}

TEST(ReportOs, ZeroBytesAndLinesThatJustFitLoseNothing)
{
    using namespace std::string_literals;
    TempDir dir;
    /* A line's text ends at a zero byte; neither that line nor the next may be lost. A
     * line of 1023 bytes fills the reader's buffer exactly and is read whole. */
    const std::string fits = std::string(1011, 'f');
    const struct {
        std::string content;
        std::string name;
    } cases[] = {
        {"PRETTY_NAME=Zero\0 byte\n"s, "Zero"},
        {"\0\nPRETTY_NAME=After a zero line\n"s, "After a zero line"},
        {"NAME=x\0y\nPRETTY_NAME=Next\n"s, "Next"},
        {"PRETTY_NAME=" + fits + "\n", fits},
    };
    for (const auto &c : cases) {
        auto lines = os_lines(dir.file("os-release", c.content));
        ASSERT_EQ(2u, lines.size());
        EXPECT_EQ("INFO   : OS: " + c.name + ", " + uname_text(), lines[0]);
    }
}

TEST(ReportOs, ControlCharactersCannotSplitTheLine)
{
    TempDir dir;
    auto lines = os_lines(dir.file("os-release", "PRETTY_NAME=\"Evil\rERROR  : forged\t!\"\n"));
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("INFO   : OS: Evil?ERROR  : forged?!, " + uname_text(), lines[0]);
}

TEST(ReportOs, ThisMachine)
{
    StderrCapture capture;
    qv_report_os();
    auto lines = capture.finish();
    ASSERT_EQ(2u, lines.size());
    std::string pretty;
    std::ifstream release(access("/etc/os-release", R_OK) == 0 ? "/etc/os-release"
                                                               : "/usr/lib/os-release");
    for (std::string line; std::getline(release, line);)
        if (line.rfind("PRETTY_NAME=\"", 0) == 0 && line.size() > 14)
            pretty = line.substr(13, line.size() - 14);
    if (!pretty.empty()) {
        EXPECT_EQ("INFO   : OS: " + pretty + ", " + uname_text(), lines[0]);
    }
    EXPECT_EQ("INFO   : Computer name: " + host_name(), lines[1]);
}

/* ---- memory ------------------------------------------------------------------------------- */

std::vector<std::string> memory_lines(const std::string &meminfo, const std::string &status,
                                      uint64_t limit)
{
    StderrCapture capture;
    qv_report_memory_from(meminfo.c_str(), status.c_str(), limit);
    return capture.finish();
}

const uint64_t kTerabytes128 = uint64_t{1} << 47;

TEST(ReportMemory, ThreeLinesRightAligned)
{
    TempDir dir;
    /* Shown figures are 640 KiB above these: 2 GiB and 1 GiB of RAM exactly. */
    std::string meminfo = dir.file("meminfo", "MemTotal:        2096512 kB\n"
                                              "MemFree:          100000 kB\n"
                                              "MemAvailable:     1047936 kB\n"
                                              "SwapTotal:             0 kB\n"
                                              "SwapFree:              0 kB\n");
    std::string status = dir.file("status", "Name:\tqv\nVmPeak:\t 2000000 kB\n"
                                            "VmSize:\t 1048576 kB\n");
    auto lines = memory_lines(meminfo, status, kTerabytes128);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("INFO   : RAM     Total    2 GB  Available    1 GB", lines[0]);
    EXPECT_EQ("INFO   : Page    Total  640 KB  Available  640 KB", lines[1]);
    EXPECT_EQ("INFO   : Virtual Total  128 TB  Available  128 TB", lines[2]);

    lines = memory_lines(meminfo, status, uint64_t{8} << 30);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("INFO   : Virtual Total    8 GB  Available    7 GB", lines[2]);
}

TEST(ReportMemory, FiguresAreShown640KiBHigh)
{
    TempDir dir;
    std::string meminfo = dir.file("meminfo", "MemTotal: 1 kB\nMemAvailable: 0 kB\n"
                                              "SwapTotal: 360 kB\nSwapFree: 359 kB\n");
    std::string status = dir.file("status", "VmSize:\t 4 kB\n");
    auto lines = memory_lines(meminfo, status, 1024 * 1024);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("INFO   : RAM     Total  641 KB  Available  640 KB", lines[0]);
    EXPECT_EQ("INFO   : Page    Total 1000 KB  Available  999 KB", lines[1]);
    EXPECT_EQ("INFO   : Virtual Total    2 MB  Available    2 MB", lines[2]);
}

TEST(ReportMemory, EachLineNeedsItsOwnFigures)
{
    TempDir dir;
    std::string status = dir.file("status", "VmSize:\t 4 kB\n");
    std::string no_swap =
        dir.file("meminfo", "MemTotal: 1 kB\nMemAvailable: 1 kB\nSwapFree: 1 kB\n");
    auto lines = memory_lines(no_swap, status, kTerabytes128);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(0u, lines[0].find("INFO   : RAM "));
    EXPECT_EQ(0u, lines[1].find("INFO   : Virtual "));

    lines = memory_lines(dir.path() + "/missing", status, kTerabytes128);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(0u, lines[0].find("INFO   : Virtual "));

    lines = memory_lines(no_swap, dir.path() + "/missing", kTerabytes128);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(0u, lines[0].find("INFO   : RAM "));
}

TEST(ReportMemory, MalformedFiguresAreLeftOut)
{
    TempDir dir;
    std::string status = dir.file("status", "VmSize: 12 MB\n"); /* unit other than kB */
    const char *bad_ram[] = {
        "MemTotal: lots kB\nMemAvailable: 1 kB\n",
        "MemTotal: 1\nMemAvailable: 1 kB\n",
        "MemTotal: 1 kB extra\nMemAvailable: 1 kB\n",
        "MemTotal: -1 kB\nMemAvailable: 1 kB\n",
        "MemTotal: 18014398509481984 kB\nMemAvailable: 1 kB\n", /* 2^54 KiB: 2^64 bytes */
        "MemTotal: 99999999999999999999999 kB\nMemAvailable: 1 kB\n",
        "MemAvailable: 1 kB\n",
    };
    for (const char *content : bad_ram) {
        auto lines = memory_lines(dir.file("meminfo", content), status, kTerabytes128);
        EXPECT_TRUE(lines.empty()) << content;
    }
    /* The tail of a long line is not a line. */
    /* Lines are read in pieces of 1023 characters: "MemTotal" starts the third. */
    std::string smuggled =
        "Junk: " + std::string(2040, '1') + "MemTotal: 1 kB\nMemAvailable: 1 kB\n";
    EXPECT_TRUE(memory_lines(dir.file("meminfo", smuggled), status, kTerabytes128).empty());
}

TEST(ReportMemory, OverTheLimitLeavesNothingAvailable)
{
    TempDir dir;
    std::string meminfo = dir.file("meminfo", "");
    std::string status = dir.file("status", "VmSize:\t 21474836480 kB\n"); /* 20 TiB */
    auto lines = memory_lines(meminfo, status, uint64_t{1} << 40);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("INFO   : Virtual Total    1 TB  Available  640 KB", lines[0]);
}

TEST(ReportMemory, HugeFiguresStayPositive)
{
    TempDir dir;
    std::string meminfo = dir.file("meminfo", "MemTotal: 18014398509481983 kB\n"
                                              "MemAvailable: 9007199254740992 kB\n");
    std::string status = dir.file("status", "VmSize:\t 0 kB\n");
    auto lines = memory_lines(meminfo, status, UINT64_MAX - 1);
    ASSERT_EQ(2u, lines.size());
    /* Saturated at 2^63 - 1 bytes, which shows as 8 after six divisions. */
    EXPECT_EQ("INFO   : RAM     Total       8  Available       8", lines[0]);
    EXPECT_EQ("INFO   : Virtual Total       8  Available       8", lines[1]);
}

TEST(ReportMemory, ThisMachine)
{
    StderrCapture capture;
    qv_report_memory();
    auto lines = capture.finish();
    ASSERT_EQ(3u, lines.size());
    const char *starts[] = {"INFO   : RAM     Total ", "INFO   : Page    Total ",
                            "INFO   : Virtual Total "};
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ(0u, lines[i].find(starts[i])) << lines[i];
        std::string rest = lines[i].substr(strlen(starts[i]));
        size_t split = rest.find("  Available ");
        ASSERT_NE(std::string::npos, split) << lines[i];
        EXPECT_TRUE(is_size_field(rest.substr(0, split))) << lines[i];
        EXPECT_TRUE(is_size_field(rest.substr(split + 12))) << lines[i];
    }
    struct rlimit limit;
    ASSERT_EQ(0, getrlimit(RLIMIT_AS, &limit));
    if (limit.rlim_cur == RLIM_INFINITY) {
        EXPECT_EQ(0u, lines[2].find("INFO   : Virtual Total  128 TB  Available "));
    }
}

/* ---- drives ------------------------------------------------------------------------------- */

std::vector<std::string> drive_lines(const std::string &mountinfo)
{
    StderrCapture capture;
    qv_report_drives_from(mountinfo.c_str());
    return capture.finish();
}

/* One line of a mount table as /proc/self/mountinfo gives it: the device numbers
 * ("major:minor"), the mount point (escaped as the kernel writes it), the file system
 * type and the source. */
std::string mount_line(const std::string &numbers, const std::string &mount_point,
                       const std::string &type, const std::string &source)
{
    return "36 25 " + numbers + " / " + mount_point + " rw,relatime shared:1 - " + type + " " +
           source + " rw\n";
}

/* Numbers that name no block device: major 0 is the kernel's unnamed devices. */
const char kNoDevice[] = "0:99";

/* A block device node on this machine, or "" when there is none. */
std::string find_block_device()
{
    DIR *dev = opendir("/dev");
    if (dev == nullptr)
        return "";
    std::string found;
    while (struct dirent *entry = readdir(dev)) {
        std::string path = std::string("/dev/") + entry->d_name;
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
            found = path;
            break;
        }
    }
    closedir(dev);
    return found;
}

/* The "major:minor" of a device node. */
std::string numbers_of(const std::string &device)
{
    struct stat st;
    EXPECT_EQ(0, stat(device.c_str(), &st));
    return std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
}

/* The numbers of a block device that the kernel lists in /sys/dev/block, or "". */
std::string find_block_device_numbers()
{
    DIR *listed = opendir("/sys/dev/block");
    if (listed == nullptr)
        return "";
    std::string found;
    while (struct dirent *entry = readdir(listed))
        if (entry->d_name[0] != '.') {
            found = entry->d_name;
            break;
        }
    closedir(listed);
    return found;
}

std::string total_of(const std::string &dir)
{
    struct statvfs v;
    EXPECT_EQ(0, statvfs(dir.c_str(), &v));
    return format_size(uint64_t{v.f_blocks} * v.f_frsize);
}

/* Matches a drive line for mount point with the given total and type. */
void expect_drive_line(const std::string &line, const std::string &mount_point,
                       const std::string &total, const std::string &type)
{
    char head[4096];
    snprintf(head, sizeof head, "INFO   : Drive %s Total %7s  Free ", mount_point.c_str(),
             total.c_str());
    EXPECT_EQ(0u, line.find(head)) << line;
    std::string tail = "  Type: " + type;
    ASSERT_GE(line.size(), tail.size());
    EXPECT_EQ(tail, line.substr(line.size() - tail.size())) << line;
    std::string free_field = line.substr(strlen(head), line.size() - strlen(head) - tail.size());
    EXPECT_TRUE(is_size_field(free_field)) << line;
    EXPECT_GE(free_field.size(), 7u);
}

TEST(ReportDrives, RamDisksAndBlockDevicesOthersSkipped)
{
    TempDir dir;
    std::string ram = dir.dir("ram");
    std::string mounts = mount_line("0:20", "/proc", "proc", "proc") +
                         mount_line("0:21", "/sys", "sysfs", "sysfs") +
                         mount_line("0:30", "/", "overlay", "overlay") +
                         mount_line("0:40", dir.path(), "nfs4", "server:/export") +
                         mount_line(kNoDevice, dir.path(), "ext4", "/dev/null") + /* no block */
                         mount_line(kNoDevice, dir.path(), "ext4", "/no/such/dev") +
                         mount_line("0:50", ram, "ramfs", "none");
    bool shm = access("/dev/shm", F_OK) == 0;
    if (shm)
        mounts += mount_line("0:51", "/dev/shm", "tmpfs", "tmpfs");
    auto lines = drive_lines(dir.file("mountinfo", mounts));
    ASSERT_EQ(shm ? 2u : 1u, lines.size());
    expect_drive_line(lines[0], ram, total_of(ram), "RAM disk");
    if (shm)
        expect_drive_line(lines[1], "/dev/shm", total_of("/dev/shm"), "RAM disk");
}

TEST(ReportDrives, BlockDeviceIsAFixedDriveListedOnce)
{
    std::string device = find_block_device();
    if (device.empty())
        GTEST_SKIP() << "no block device node on this machine";
    TempDir dir;
    std::string first = dir.dir("first"), second = dir.dir("second"), third = dir.dir("third");
    std::string numbers = numbers_of(device);
    /* A RAM disk on the same device number is a different drive; the same device seen
     * through its numbers alone is the same one. */
    auto lines = drive_lines(
        dir.file("mountinfo", mount_line(numbers, first, "ext4", device) +
                                  mount_line(numbers, second, "ext4", device) +
                                  mount_line(numbers, first, "ext4", device) +
                                  mount_line(numbers, third, "ext4", "/dev/no-such-node") +
                                  mount_line("0:70", second, "tmpfs", "tmpfs") +
                                  mount_line("0:70", first, "tmpfs", "tmpfs")));
    ASSERT_EQ(2u, lines.size());
    expect_drive_line(lines[0], first, total_of(first), "Fixed drive");
    expect_drive_line(lines[1], second, total_of(second), "RAM disk");
}

TEST(ReportDrives, ADeviceWithoutItsNodeIsKnownByItsNumbers)
{
    /* In a container the root disk's node (/dev/sda1 behind /etc/hosts) is absent; the
     * kernel still lists the device under its numbers. */
    std::string numbers = find_block_device_numbers();
    if (numbers.empty())
        GTEST_SKIP() << "no block device in /sys/dev/block";
    TempDir dir;
    std::string hosts = dir.file("hosts", "127.0.0.1 localhost\n");
    std::string resolv = dir.file("resolv.conf", "nameserver 127.0.0.1\n");
    auto lines = drive_lines(
        dir.file("mountinfo", mount_line("0:80", "/", "overlay", "overlay") +
                                  mount_line(numbers, hosts, "ext4", "/dev/no-such-node") +
                                  mount_line(numbers, resolv, "ext4", "/dev/no-such-node")));
    ASSERT_EQ(1u, lines.size());
    expect_drive_line(lines[0], hosts, total_of(hosts), "Fixed drive");
}

TEST(ReportDrives, RelativeSourceIsNeverLookedUp)
{
    std::string device = find_block_device();
    if (device.empty())
        GTEST_SKIP() << "no block device node on this machine";
    TempDir dir;
    std::string mounts =
        dir.file("mountinfo", mount_line(kNoDevice, dir.path(), "ext4", device.substr(5)));
    char saved[4096];
    ASSERT_NE(nullptr, getcwd(saved, sizeof saved));
    ASSERT_EQ(0, chdir("/dev")); /* where the relative name would find the device */
    auto lines = drive_lines(mounts);
    ASSERT_EQ(0, chdir(saved));
    EXPECT_TRUE(lines.empty());
}

TEST(ReportDrives, UnsizedDriveShowsZero)
{
    std::string numbers = find_block_device_numbers();
    if (numbers.empty())
        GTEST_SKIP() << "no block device in /sys/dev/block";
    TempDir dir;
    auto lines = drive_lines(
        dir.file("mountinfo", mount_line(numbers, "/no/such/mount", "ext4", "/dev/no-such-node")));
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("INFO   : Drive /no/such/mount Total       0  Free       0  Type: Fixed drive",
              lines[0]);
}

TEST(ReportDrives, EscapedAndControlCharactersInMountPoints)
{
    TempDir dir;
    std::string spaced = dir.dir("with space");
    auto lines = drive_lines(dir.file(
        "mountinfo", mount_line("0:60", dir.path() + "/with\\040space", "tmpfs", "tmpfs")));
    ASSERT_EQ(1u, lines.size());
    expect_drive_line(lines[0], spaced, total_of(spaced), "RAM disk");

    std::string broken = dir.dir("line\nbreak");
    lines = drive_lines(dir.file(
        "mountinfo", mount_line("0:61", dir.path() + "/line\\012break", "tmpfs", "tmpfs")));
    ASSERT_EQ(1u, lines.size());
    expect_drive_line(lines[0], dir.path() + "/line?break", total_of(broken), "RAM disk");
}

TEST(ReportDrives, MissingMountPointsMalformedLinesAndTablesGiveNothing)
{
    TempDir dir;
    std::string numbers = find_block_device_numbers();
    if (numbers.empty())
        numbers = "8:1";
    EXPECT_TRUE(
        drive_lines(dir.file("m", mount_line("0:62", "/no/such/dir", "tmpfs", "tmpfs"))).empty());
    EXPECT_TRUE(drive_lines(dir.file("m", "")).empty());
    EXPECT_TRUE(drive_lines(dir.file("m", std::string(100000, 'x') + "\n")).empty());
    EXPECT_TRUE(drive_lines(dir.path() + "/missing").empty());
    /* Lines that would name a block device, were they whole. */
    for (const std::string &line : std::vector<std::string>{
             "36 25 " + numbers + " / " + dir.path() + " rw - ext4\n",         /* no source */
             "36 25 " + numbers + " / " + dir.path() + " rw ext4 /dev/x rw\n", /* no "-" */
             "36 25 " + numbers + " / " + dir.path() + "\n",
             "36 25\n",
             mount_line("-" + numbers, dir.path(), "ext4", "/dev/x"),
             mount_line(numbers + "x", dir.path(), "ext4", "/dev/x"),
             mount_line("x" + numbers, dir.path(), "ext4", "/dev/x"),
             mount_line(":", dir.path(), "ext4", "/dev/x"),
             mount_line("99999999999999999999:1", dir.path(), "ext4", "/dev/x"),
         })
        EXPECT_TRUE(drive_lines(dir.file("m", line)).empty()) << line;
}

TEST(ReportDrives, ThisMachine)
{
    StderrCapture capture;
    qv_report_drives();
    auto lines = capture.finish();
    std::set<std::string> mount_points;
    for (const std::string &line : lines) {
        /* "Drive <mount point> Total <size>  Free <size>  Type: <type>", read from the end
         * since a mount point may hold anything. */
        ASSERT_EQ(0u, line.find("INFO   : Drive ")) << line;
        size_t type = line.rfind("  Type: ");
        size_t free_at = line.rfind("  Free ", type);
        size_t total = line.rfind(" Total ", free_at);
        ASSERT_TRUE(type != std::string::npos && free_at != std::string::npos &&
                    total != std::string::npos && total > 15)
            << line;
        std::string kind = line.substr(type + 8);
        EXPECT_TRUE(kind == "Fixed drive" || kind == "RAM disk") << line;
        EXPECT_TRUE(is_size_field(line.substr(total + 7, free_at - total - 7))) << line;
        EXPECT_TRUE(is_size_field(line.substr(free_at + 7, type - free_at - 7))) << line;
        EXPECT_TRUE(mount_points.insert(line.substr(15, total - 15)).second)
            << "listed twice: " << line;
    }
    /* /dev/shm is a RAM disk wherever it is mounted as tmpfs. */
    std::ifstream table("/proc/self/mounts");
    for (std::string source, dir, type, rest;
         table >> source >> dir >> type && std::getline(table, rest);)
        if (dir == "/dev/shm" && type == "tmpfs") {
            EXPECT_TRUE(any_line_contains(lines, "Type: RAM disk"));
        }
}

/* ---- the whole report ---------------------------------------------------------------------- */

/* Index of the first line starting with prefix, or -1. */
int find_line(const std::vector<std::string> &lines, const std::string &prefix)
{
    for (size_t i = 0; i < lines.size(); i++)
        if (lines[i].rfind(prefix, 0) == 0)
            return static_cast<int>(i);
    return -1;
}

TEST(SystemReport, SectionsInOrder)
{
    char cwd[4096];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
    StderrCapture capture;
    qv_system_report();
    auto lines = capture.finish();
    ASSERT_GE(lines.size(), 6u);
    for (const std::string &line : lines)
        EXPECT_EQ(0u, line.find("INFO   : ")) << line;
    EXPECT_EQ(std::string("INFO   : Running in ") + cwd, lines[0]);
    /* This test program carries no version note. */
    EXPECT_EQ(-1, find_line(lines, "INFO   : File "));
    EXPECT_EQ(1, find_line(lines, "INFO   : OS: "));
    EXPECT_EQ(2, find_line(lines, "INFO   : Computer name: "));
    EXPECT_EQ(3, find_line(lines, "INFO   : RAM     Total "));
    EXPECT_EQ(4, find_line(lines, "INFO   : Page    Total "));
    EXPECT_EQ(5, find_line(lines, "INFO   : Virtual Total "));
    for (size_t i = 6; i < lines.size(); i++)
        EXPECT_EQ(0u, lines[i].find("INFO   : Drive ")) << lines[i];
}

TEST(SystemReport, DirectoryTooLongForItsBufferIsLeftOut)
{
    TempDir dir;
    /* 257 characters fit the 258-byte buffer; one more does not. */
    std::string fits = dir.path();
    fits += "/" + std::string(257 - fits.size() - 1, 'd');
    ASSERT_EQ(257u, fits.size());
    std::filesystem::create_directories(fits + "/e");
    char saved[4096];
    ASSERT_NE(nullptr, getcwd(saved, sizeof saved));

    ASSERT_EQ(0, chdir(fits.c_str()));
    StderrCapture capture;
    qv_system_report();
    auto lines = capture.finish();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("INFO   : Running in " + fits, lines[0]);

    ASSERT_EQ(0, chdir("e")); /* 259 characters */
    StderrCapture again;
    qv_system_report();
    lines = again.finish();
    ASSERT_EQ(0, chdir(saved));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(0u, lines[0].find("INFO   : OS: ")) << lines[0];
}

TEST(SystemReport, EveryAllocationFailureEndsCleanly)
{
    /* The full report, then the same with the n-th allocation failing, n = 1, 2, ...
     * until none fails: each run ends without a crash or leak, logs the failure, and
     * what it does write is in the full report. */
    StderrCapture full_capture;
    qv_system_report();
    auto full = full_capture.finish();
    for (unsigned long n = 1; n < 1000; n++) {
        StderrCapture capture;
        qv_malloc_fail_nth(n);
        qv_system_report();
        unsigned long failed = qv_malloc_injected_failures();
        qv_malloc_fail_nth(0);
        auto lines = capture.finish();
        if (failed == 0)
            break;
        EXPECT_TRUE(any_line_contains(lines, ": out of memory. Size requested = ")) << n;
        for (const std::string &line : lines) {
            if (line.find("ERROR   at ErrorLogger:") == 0)
                continue;
            /* Free space and memory move between runs: compare the stable part. */
            std::string stable = line.substr(0, line.find(" Total "));
            EXPECT_TRUE(any_line_contains(full, stable)) << n << ": " << line;
        }
    }
}

} // namespace
