/*
 * Tests of the Windows platform layer under the system's own calls: the clock and the
 * local offset against the runtime's and the system's zone, the conversion to the ANSI
 * code page, the log file (text mode, deny-write sharing, no hard links), the option
 * file in the profile folder with what its access list lets others do, reparse points
 * by their tag (through a seam: Wine keeps none), and the framework's message box where
 * nobody sees it (the box shown is the end-to-end test's). The shared suites of the lock
 * (QVmutexTest) and the digests run under Wine as well.
 */
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "AppFramework/AppFramework.h"
#include "AppFramework/AppFrameworkWin32.h"
#include "QVLib/QVclock.h"
#include "QVLib/QVlogfile.h"
#include "QVLib/QVuserfile.h"
#include "QVLib/QVutf.h"
#include "QVLib/Win32/ReparseWin32.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TimeRecords.h"

namespace
{

/* ---- the clock ---------------------------------------------------------------------------- */

struct timespec g_reading;

void seam_reader(struct timespec *now)
{
    *now = g_reading;
}

int64_t ticks_of(const SYSTEMTIME &st)
{
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    return (static_cast<int64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) / 10000 * 10000;
}

TEST(TimeWin32, ReadsTheSystemClockAndTheSeam)
{
    SYSTEMTIME before, after;
    QVtime t;
    GetSystemTime(&before);
    qv_time_now(&t);
    GetSystemTime(&after);
    EXPECT_LE(ticks_of(before), t.ticks);
    EXPECT_GE(ticks_of(after), t.ticks);

    qv_time_set_clock_reader(seam_reader);
    g_reading = {1241190079, 250999999}; /* 2009-05-01 15:01:19.250 UTC */
    qv_time_now(&t);
    EXPECT_EQ("2009-05-01 15:01:19.250 wd5", show_time(t));
    g_reading = {INT64_MIN, 0}; /* clamped, with its reports */
    qv_time_now(&t);
    EXPECT_EQ("1970-01-01 00:00:00.000 wd4", show_time(t));
    qv_time_set_clock_reader(nullptr);
}

/* Sets TZ in the runtime's own form ("" removes it: the system's zone) until the object
 * goes, then restores the former value. Wine's runtime keeps the daylight-saving rules
 * of the zone it read last from the system for a TZ read afterwards, so a test sets
 * its zones one after another through one object. */
class RuntimeZone
{
  public:
    RuntimeZone()
    {
        const char *tz = getenv("TZ");
        saved_ = tz ? tz : "";
    }
    ~RuntimeZone()
    {
        set(saved_.c_str());
    }
    void set(const char *tz)
    {
        _putenv_s("TZ", tz);
        _tzset();
    }

  private:
    std::string saved_;
};

const QVtime kWinter = time_fields(2024, 1, 15, 12);
const QVtime kSummer = time_fields(2024, 7, 15, 12);

TEST(TimeWin32, LocalOffsetFollowsTheRuntimesZone)
{
    const struct {
        const char *tz;
        int32_t winter, summer;
    } zones[] = {{"EST5EDT", 18000, 14400}, {"CET-1CEST", -3600, -7200}, {"JST-9", -32400, -32400}};
    qv_time_set_clock_reader(seam_reader);
    g_reading = {1721044800, 0}; /* the summer record's instant */
    RuntimeZone runtime;
    for (const auto &zone : zones) {
        SCOPED_TRACE(zone.tz);
        runtime.set(zone.tz);
        EXPECT_EQ(zone.winter, qv_time_local_offset(&kWinter));
        EXPECT_EQ(zone.summer, qv_time_local_offset(&kSummer));
        EXPECT_EQ(zone.summer, qv_time_local_offset(nullptr));
        /* A record the runtime cannot convert (before 1970) gives the standard offset. */
        const QVtime cleared{};
        EXPECT_EQ(zone.winter, qv_time_local_offset(&cleared));
    }
    qv_time_set_clock_reader(nullptr);
}

/* Run on its own (tests/Win32/CMakeLists.txt) with the host in a zone that has daylight
 * saving, which Wine's system zone follows, and QV_HOST_ZONE_OFFSETS holding the offsets
 * (seconds west) that the host's C library gives for the two records' instants. */
TEST(TimeWin32, WithoutTZTheLocalOffsetIsTheSystemZones)
{
    int32_t winter, summer;
    const char *host = getenv("QV_HOST_ZONE_OFFSETS");
    ASSERT_TRUE(host != nullptr && sscanf(host, "%d %d", &winter, &summer) == 2) << host;
    ASSERT_NE(winter, summer) << "the host's zone has no daylight saving";
    RuntimeZone system_zone;
    system_zone.set("");
    EXPECT_EQ(winter, qv_time_local_offset(&kWinter));
    EXPECT_EQ(summer, qv_time_local_offset(&kSummer));
}

/* ---- the conversion ------------------------------------------------------------------------ */

TEST(UtfWin32, ConvertsToTheAnsiCodePageWithItsDefaultCharacter)
{
    ASSERT_EQ(1252u, GetACP()) << "the expectations are those of Windows-1252";
    const struct {
        const char *utf8, *ansi;
    } cases[] = {
        {"caf\xc3\xa9 \xe2\x82\xac", "caf\xe9 \x80"}, /* both in the page */
        {"\xe6\x97\xa5\xe6\x9c\xac.", "??."},         /* not in it */
        {"a\xff" "b", "a?b"},                         /* invalid UTF-8 */
        {"", ""},
    };
    for (const auto &c : cases) {
        char *out = nullptr;
        EXPECT_EQ(0u, qv_utf_convert(c.utf8, &out)) << c.utf8;
        ASSERT_NE(nullptr, out);
        EXPECT_STREQ(c.ansi, out);
        free(out);
    }
}

/* ---- the option file ------------------------------------------------------------------------ */

/* Lets Everyone read the file at path (besides those whom its list names already). */
void let_everyone_read(const std::string &path)
{
    EXPLICIT_ACCESS_A everyone = {};
    BuildExplicitAccessWithNameA(&everyone, const_cast<char *>("Everyone"), GENERIC_READ,
                                 GRANT_ACCESS, NO_INHERITANCE);
    PSECURITY_DESCRIPTOR descriptor;
    PACL list, extended;
    ASSERT_EQ(ERROR_SUCCESS, GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT,
                                                   DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                                   &list, nullptr, &descriptor));
    ASSERT_EQ(ERROR_SUCCESS, SetEntriesInAclA(1, &everyone, list, &extended));
    EXPECT_EQ(ERROR_SUCCESS, SetNamedSecurityInfoA(const_cast<char *>(path.c_str()),
                                                   SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                                   nullptr, nullptr, extended, nullptr));
    LocalFree(extended);
    LocalFree(descriptor);
}

/* Wine keeps no access lists of its own: it derives them from a file's mode bits, and a
 * file it makes lets Everyone read it already. What this test can show under Wine, and
 * on Windows alike, is a list that names Everyone as a reader. */
TEST(UserFileWin32, TheProfilesOptionFileAndAnotherReaderInItsAccessList)
{
    TempDir profile("qv-profile");
    ScopedEnv variable("USERPROFILE", profile.path().c_str());
    char path[MAX_PATH];
    ASSERT_TRUE(qv_user_home_path(".my.cnf", path, sizeof path));
    EXPECT_EQ(profile.path() + "\\.my.cnf", path);
    QVUserFile file;
    qv_user_file_open(path, &file);
    EXPECT_EQ(QV_USER_FILE_MISSING, file.kind);

    write_file(path, "[client]\npassword=x\n");
    let_everyone_read(path);
    qv_user_file_open(path, &file);
    ASSERT_EQ(QV_USER_FILE_REGULAR, file.kind);
    EXPECT_TRUE(file.readable_by_others);
    EXPECT_FALSE(file.writable_by_others);
    EXPECT_NE(std::string::npos, std::string(file.permissions).find("Everyone"))
        << file.permissions;
    EXPECT_TRUE(file.owned_by_user) << file.owner << " / " << file.user;
    char text[64];
    EXPECT_EQ(20, qv_user_file_read(&file, 0, text, sizeof text));
    EXPECT_EQ(11, qv_user_file_read(&file, 9, text, sizeof text));
    qv_user_file_close(&file);

    qv_user_file_open(profile.path().c_str(), &file);
    EXPECT_EQ(QV_USER_FILE_DIRECTORY, file.kind);
    EXPECT_EQ(-1, file.handle);
}

/* Run on its own under a umask of 077 (tests/Win32/CMakeLists.txt): Wine keeps no access
 * lists, it gives a file the list its mode bits say, here the user's and the system's. */
TEST(UserFileWin32, AnOptionFileForItsUserAloneIsPrivate)
{
    TempDir profile("qv-profile");
    QVUserFile file;
    qv_user_file_open(profile.file(".my.cnf", "[client]\n").c_str(), &file);
    ASSERT_EQ(QV_USER_FILE_REGULAR, file.kind);
    EXPECT_FALSE(file.readable_by_others || file.writable_by_others) << file.permissions;
    EXPECT_TRUE(file.owned_by_user) << file.owner << " / " << file.user;
    qv_user_file_close(&file);
}

/* ---- reparse points ------------------------------------------------------------------------ */

/* Wine keeps no reparse points: the seam makes every file one, with this tag. */
DWORD g_tag;

bool tagged(HANDLE handle, FILE_ATTRIBUTE_TAG_INFO *info)
{
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, info, sizeof *info))
        return false;
    info->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    info->ReparseTag = g_tag;
    return true;
}

TEST(ReparseWin32, LinksAreRefusedAndPlaceholdersAreFiles)
{
    const char *link = "is a symbolic link or a mount point";
    const struct {
        DWORD tag;
        const char *log_refusal; /* null: the log file is used (and emptied) */
        int option_file_kind;
    } cases[] = {
        {IO_REPARSE_TAG_SYMLINK, link, QV_USER_FILE_OTHER},
        {IO_REPARSE_TAG_MOUNT_POINT, link, QV_USER_FILE_OTHER},
        {IO_REPARSE_TAG_CLOUD_3, nullptr, QV_USER_FILE_REGULAR}, /* a OneDrive placeholder */
        {IO_REPARSE_TAG_DEDUP, nullptr, QV_USER_FILE_REGULAR},   /* Windows Server dedup */
    };
    TempDir dir("qv-reparse");
    qv_set_reparse_tag_reader(tagged);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tag);
        g_tag = c.tag;
        const std::string name = dir.file("VADedeVeZovid.log", "an earlier run's log\r\n");
        QVLogRefusal refusal = {};
        QVLogFileHandle log = qv_log_file_open(name.c_str(), &refusal);
        EXPECT_STREQ(c.log_refusal, refusal.what);
        if (log != QV_NO_LOG_FILE)
            qv_log_file_close(log);
        EXPECT_EQ(c.log_refusal ? "an earlier run's log\r\n" : "", read_file(name));

        QVUserFile file;
        qv_user_file_open(dir.file(".my.cnf", "[client]\n").c_str(), &file);
        EXPECT_EQ(c.option_file_kind, file.kind);
        qv_user_file_close(&file);
    }
    qv_set_reparse_tag_reader(nullptr);
}

/* ---- the message box where nobody sees it ------------------------------------------------- */

DWORD WINAPI show_box(void *)
{
    AfxMessageBox("nobody sees this");
    return 0;
}

TEST(AppFrameworkWin32, NoBoxWaitsInAWindowStationNobodySees)
{
    EXPECT_TRUE(AfxDesktopIsVisible());
    HWINSTA visible = GetProcessWindowStation();
    HWINSTA hidden = CreateWindowStationW(nullptr, 0, WINSTA_ALL_ACCESS, nullptr);
    ASSERT_NE(nullptr, hidden);
    ASSERT_TRUE(SetProcessWindowStation(hidden));
    EXPECT_FALSE(AfxDesktopIsVisible());

    /* A box there would wait for ever (measured under Wine): the watch gives up after 10 s. */
    StderrCapture capture;
    HANDLE box = CreateThread(nullptr, 0, show_box, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(box, 10000)) << "the box waits unseen";
    const std::vector<std::string> lines = capture.finish();
    SetProcessWindowStation(visible);
    EXPECT_EQ(std::vector<std::string>{"VADedeVeZovid: nobody sees this"}, lines);
    CloseHandle(box);
}

/* ---- the log file -------------------------------------------------------------------------- */

TEST(LogFileWin32, TextModeLinesDenyWriteSharingAndNoHardLinks)
{
    TempDir dir("qv-log");
    const std::string name = dir.path() + "\\VADedeVeZovid.log";
    write_file(name, "an earlier run's log, longer than the new one\r\n");
    QVLogRefusal refusal;
    QVLogFileHandle file = qv_log_file_open(name.c_str(), &refusal);
    ASSERT_NE(QV_NO_LOG_FILE, file);
    QVLogPiece pieces[] = {{"one\n", 4}, {"two\nthree", 9}, {"\n", 1}};
    int error;
    EXPECT_EQ(14u, qv_log_file_write(file, pieces, 3, &error)); /* bytes handed in */

    /* A reader is let in; a second writer is not, and says why. */
    HANDLE reader = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, reader);
    CloseHandle(reader);
    EXPECT_EQ(QV_NO_LOG_FILE, qv_log_file_open(name.c_str(), &refusal));
    EXPECT_STREQ("is held by another instance of the tool or by another program", refusal.what);
    qv_log_file_close(file);
    EXPECT_EQ("one\r\ntwo\r\nthree\r\n", read_file(name));

    const std::string link = dir.path() + "\\link.log";
    ASSERT_TRUE(CreateHardLinkA(link.c_str(), name.c_str(), nullptr));
    EXPECT_EQ(QV_NO_LOG_FILE, qv_log_file_open(link.c_str(), &refusal));
    EXPECT_STREQ("is a hard link to another file", refusal.what);
    EXPECT_EQ(QV_NO_LOG_FILE, qv_log_file_open(dir.path().c_str(), &refusal));
    EXPECT_STREQ("is not a regular file", refusal.what);
    EXPECT_EQ("one\r\ntwo\r\nthree\r\n", read_file(name)); /* refused, never emptied */
}

} // namespace
