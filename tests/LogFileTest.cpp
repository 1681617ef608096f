/*
 * Tests of the log file sink: the environment lookup, naming and opening the file
 * (hostile patterns, links, FIFOs, a second instance, a full device), the line layout
 * with its local time stamp, and installing and removing a sink. What happens once per
 * process (the report and its suppression) runs in a child process of its own.
 */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/QVclock.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestFiles.h"

namespace
{

/* Runs each test in a fresh directory with neither variable set. */
class LogFileTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(0, chdir(dir.path().c_str()));
        unsetenv("QV_BASE_LOGFILE_NAME");
        unsetenv("QV_LOGFILE_NAME_PATTERN");
    }
    void TearDown() override
    {
        qv_logger_destroy(&sink);
        qv_time_set_clock_reader(nullptr);
        unsetenv("QV_BASE_LOGFILE_NAME");
        unsetenv("QV_LOGFILE_NAME_PATTERN");
        ASSERT_EQ(0, chdir("/"));
    }

    /* Creates the logger, capturing what it logs. */
    unsigned create(std::vector<std::string> *lines = nullptr)
    {
        StderrCapture capture;
        unsigned status = qv_logger_create(&sink);
        auto captured = capture.finish();
        if (lines)
            *lines = captured;
        return status;
    }

    TempDir dir{"qv-logfile"};
    QVLogSink sink{};
};

TEST_F(LogFileTest, EnvironmentLookup)
{
    char value[QV_NAME_SIZE];
    StderrCapture capture;
    EXPECT_EQ(0u, qv_getenv("QV_TEST_UNSET", value, "fallback"));
    EXPECT_STREQ("fallback", value);
    EXPECT_EQ(24u, qv_getenv("QV_TEST_UNSET", value, nullptr));
    EXPECT_STREQ("", value);
    setenv("QV_TEST_VAR", "cameras", 1);
    EXPECT_EQ(0u, qv_getenv("QV_TEST_VAR", value, "fallback"));
    EXPECT_STREQ("cameras", value);
    setenv("QV_TEST_VAR", "", 1);
    EXPECT_EQ(1u, qv_getenv("QV_TEST_VAR", value, "fallback"));
    setenv("QV_TEST_VAR", std::string(259, 'v').c_str(), 1);
    EXPECT_EQ(0u, qv_getenv("QV_TEST_VAR", value, nullptr));
    EXPECT_EQ(259u, strlen(value));
    setenv("QV_TEST_VAR", std::string(260, 'v').c_str(), 1);
    EXPECT_EQ(1u, qv_getenv("QV_TEST_VAR", value, nullptr));
    EXPECT_STREQ("", value);
    unsetenv("QV_TEST_VAR");
    EXPECT_EQ(1u, qv_getenv("QV_TEST_VAR", value, std::string(260, 'd').c_str()));
    auto lines = capture.finish();
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("INFO   : Env var QV_TEST_UNSET not found", lines[0]);
    EXPECT_EQ("ERROR  : qv_getenv(QV_TEST_VAR) destination buffer must be at least 1 bytes",
              lines[1]);
    EXPECT_EQ("ERROR  : qv_getenv(QV_TEST_VAR) destination buffer must be at least 261 bytes",
              lines[2]);
    EXPECT_EQ(lines[2], lines[3]);
}

TEST_F(LogFileTest, DefaultNameInTheCurrentDirectoryReplacesAnEarlierFile)
{
    write_file("VADedeVeZovid.log", "an earlier run\nwith two lines\n");
    ASSERT_EQ(0u, create());
    EXPECT_EQ("", read_file("VADedeVeZovid.log"));
    ASSERT_NE(nullptr, sink.write);
    EXPECT_EQ(0u, sink.write(sink.context, "first line")); /* the record writes to the file */
    EXPECT_EQ(nullptr, sink.on_fatal);
    std::string text = read_file("VADedeVeZovid.log");
    /* "MM/DD/YYYY hh:mm:ss.mmm: first line\n" */
    ASSERT_EQ(36u, text.size()) << text;
    EXPECT_TRUE(has_stamp_and_thread_id(text.substr(0, 25) + "00000000 ")) << text;
    EXPECT_EQ("first line\n", text.substr(25));
    struct stat st;
    ASSERT_EQ(0, stat("VADedeVeZovid.log", &st));
    EXPECT_EQ(0u, st.st_mode & 0133); /* no execution, no writing by others */
}

TEST_F(LogFileTest, NamesFromTheEnvironment)
{
    setenv("QV_BASE_LOGFILE_NAME", "recorder", 1);
    ASSERT_EQ(0u, create());
    EXPECT_EQ(0, access("recorder.log", F_OK));
    qv_logger_destroy(&sink);

    ASSERT_EQ(0, mkdir("logs", 0755));
    setenv("QV_LOGFILE_NAME_PATTERN", "logs/setup-%s-run.txt", 1);
    ASSERT_EQ(0u, create());
    EXPECT_EQ(0, access("logs/setup-recorder-run.txt", F_OK));
    qv_logger_destroy(&sink);

    setenv("QV_LOGFILE_NAME_PATTERN", "fixed-name.log", 1); /* no %s: the name itself */
    ASSERT_EQ(0u, create());
    EXPECT_EQ(0, access("fixed-name.log", F_OK));
    qv_logger_destroy(&sink);

    setenv("QV_LOGFILE_NAME_PATTERN", "%s-100%%.log", 1);
    ASSERT_EQ(0u, create());
    EXPECT_EQ(0, access("recorder-100%.log", F_OK));
}

TEST_F(LogFileTest, ValuesThatCannotNameTheFileAreSaidInOnePlainLine)
{
    const std::string fallback = "; the log goes to standard error";
    const std::optional<std::string> unset;
    const struct {
        std::optional<std::string> base, pattern;
        unsigned status;
        std::string line;
    } cases[] = {
        {"", unset, 0, "QV_BASE_LOGFILE_NAME is empty; using VADedeVeZovid"},
        {unset, "", 0, "QV_LOGFILE_NAME_PATTERN is empty; using %s.log"},
        {unset, std::string(260, 'p') + "%s", 0,
         "QV_LOGFILE_NAME_PATTERN is too long (262 bytes, at most 259); using %s.log"},
        {std::string(200, 'b'), std::string(100, 'p') + "%s", 1,
         "qv_logger_create: the log file's name made of QV_LOGFILE_NAME_PATTERN and "
         "QV_BASE_LOGFILE_NAME is longer than 259 bytes" + fallback},
        {std::string(255, 'b'), unset, 3,
         "qv_logger_create: the log file " + std::string(255, 'b') +
             ".log has a name too long for the file system" + fallback},
    };
    for (const auto &c : cases) {
        ScopedEnv base("QV_BASE_LOGFILE_NAME", c.base ? c.base->c_str() : nullptr);
        ScopedEnv pattern("QV_LOGFILE_NAME_PATTERN", c.pattern ? c.pattern->c_str() : nullptr);
        std::vector<std::string> lines;
        EXPECT_EQ(c.status, create(&lines)) << c.line;
        EXPECT_EQ(std::vector<std::string>{"WARNING: " + c.line}, lines);
        EXPECT_EQ(c.status == 0 ? 0 : -1, access("VADedeVeZovid.log", F_OK)) << c.line;
        qv_logger_destroy(&sink);
        unlink("VADedeVeZovid.log");
    }
    EXPECT_EQ(1u, qv_logger_destroy(nullptr));
    EXPECT_EQ(1u, qv_logger_create(nullptr));
}

TEST(LogFileName, FormedWithoutLoggingAndNeverLeftCut)
{
    const std::string base(200, 'b');
    const struct {
        const char *pattern;
        unsigned status;
        std::string name;
    } cases[] = {
        {"logs/%s-100%%.log", 0, "logs/" + base + "-100%.log"},
        {"fixed.log", 0, "fixed.log"},
        {"%s%s", 1, ""},
        {"log%", 1, ""},
        {"%s-and-a-tail-that-makes-the-name-too-long-for-its-buffer-of-260-bytes", 1, ""},
    };
    StderrCapture capture;
    for (const auto &c : cases) {
        char name[QV_NAME_SIZE];
        memset(name, 'x', sizeof name);
        EXPECT_EQ(c.status, qv_log_file_name(c.pattern, base.c_str(), name)) << c.pattern;
        EXPECT_EQ(c.name, name) << c.pattern;
    }
    EXPECT_TRUE(capture.finish().empty());
}

TEST_F(LogFileTest, HostilePatternsAreRefused)
{
    for (const char *pattern :
         {"%n", "%s%s.log", "%d.log", "log%", "%x%s", "%.1000000s", "%1$s", "%s%n", "%p"}) {
        setenv("QV_LOGFILE_NAME_PATTERN", pattern, 1);
        std::vector<std::string> lines;
        EXPECT_EQ(1u, create(&lines)) << pattern;
        ASSERT_EQ(1u, lines.size()) << pattern;
        EXPECT_EQ(std::string("WARNING: qv_logger_create: bad file name pattern ") + pattern +
                      "; the log goes to standard error",
                  lines[0]);
        qv_logger_destroy(&sink);
    }
}

TEST_F(LogFileTest, FilesThatMustNotBeOpenedAreRefusedWithTheReason)
{
    /* The tool runs as an administrator: a link in the file's place would have it
     * empty another file. */
    write_file("victim", "precious\n");
    ASSERT_EQ(0, symlink("victim", "symbolic.log"));
    ASSERT_EQ(0, link("victim", "hard.log"));
    ASSERT_EQ(0, mkfifo("fifo.log", 0644));
    ASSERT_EQ(0, mkdir("dir.log", 0755));
    const struct {
        const char *name, *reason;
    } cases[] = {
        {"missing/dir/x.log", "cannot be created: No such file or directory"},
        {"symbolic.log", "is a symbolic link"},
        {"hard.log", "is a hard link to another file"},
        {"fifo.log", "is not a regular file"},
        {"dir.log", "is not a regular file"},
    };
    for (const auto &c : cases) {
        setenv("QV_LOGFILE_NAME_PATTERN", c.name, 1);
        std::vector<std::string> lines;
        EXPECT_EQ(3u, create(&lines)) << c.name;
        EXPECT_EQ(std::vector<std::string>{std::string("WARNING: qv_logger_create: the log file ") +
                                           c.name + " " + c.reason +
                                           "; the log goes to standard error"},
                  lines);
        const char *name;
        EXPECT_EQ(QV_LOG_NOT_OPENED, qv_logger_place(&sink, &name));
        EXPECT_STREQ(c.name, name);
        qv_logger_destroy(&sink);
    }
    EXPECT_EQ("precious\n", read_file("victim"));
}

TEST_F(LogFileTest, ASecondInstanceIsKeptOutAndReadersAreNot)
{
    ASSERT_EQ(0u, create());
    ASSERT_EQ(0u, qv_logger_write(sink.context, "held by the first"));
    QVLogSink second{};
    StderrCapture capture;
    EXPECT_EQ(3u, qv_logger_create(&second));
    EXPECT_EQ(std::vector<std::string>{"WARNING: qv_logger_create: the log file VADedeVeZovid.log "
                                       "is held by another instance of the tool; the log goes to "
                                       "standard error"},
              capture.finish());
    EXPECT_NE(std::string::npos, read_file("VADedeVeZovid.log").find("held by the first"));
    int reader = open("VADedeVeZovid.log", O_RDONLY);
    EXPECT_GE(reader, 0);
    close(reader);
    qv_logger_destroy(&second);
    /* once the first is gone, the file can be taken again */
    qv_logger_destroy(&sink);
    ASSERT_EQ(0u, create());
    EXPECT_EQ("", read_file("VADedeVeZovid.log"));
}

TEST_F(LogFileTest, AFullDeviceIsSaidOnceAndRefusesEveryLine)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    setenv("QV_LOGFILE_NAME_PATTERN", "/dev/full", 1);
    ASSERT_EQ(0u, create());
    const char *name;
    EXPECT_EQ(QV_LOG_IN_FILE, qv_logger_place(&sink, &name));
    StderrCapture capture;
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(3u, qv_logger_write(sink.context, "lost line"));
    EXPECT_EQ(std::vector<std::string>{"ERROR  : qv_logger_write: cannot write the log file "
                                       "/dev/full: No space left on device; the log goes on on "
                                       "standard error"},
              capture.finish());
    EXPECT_EQ(QV_LOG_WRITE_FAILED, qv_logger_place(&sink, &name));
    EXPECT_STREQ("/dev/full", name);
}

void new_year_eve_clock(struct timespec *now)
{
    struct tm t = {};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 31;
    t.tm_hour = 23;
    t.tm_min = 30;
    t.tm_sec = 5;
    now->tv_sec = timegm(&t);
    now->tv_nsec = 250000000;
}

/* A stand-in for writev that takes at most g_budget bytes in all, then fails as
 * g_failure says (0: returns 0, else -1 with that errno). A caller that keeps retrying a
 * failed write is cut off after 100 calls, so that the test fails rather than hangs. */
size_t g_budget;
int g_failure;
int g_failed_calls;

ssize_t budget_writer(int fd, const struct iovec *pieces, int count)
{
    size_t asked = 0;
    for (int i = 0; i < count; i++)
        asked += pieces[i].iov_len;
    if (g_budget == 0) {
        if (++g_failed_calls > 100) {
            errno = EIO;
            return -1;
        }
        errno = g_failure;
        return g_failure == 0 ? 0 : -1;
    }
    std::vector<struct iovec> taken;
    size_t room = g_budget;
    for (int i = 0; i < count && room > 0; i++) {
        size_t n = std::min(room, pieces[i].iov_len);
        taken.push_back({pieces[i].iov_base, n});
        room -= n;
    }
    ssize_t n = writev(fd, taken.data(), static_cast<int>(taken.size()));
    if (n > 0)
        g_budget -= static_cast<size_t>(n);
    return n;
}

TEST_F(LogFileTest, AFailedWriteIsSaidOnceAndNothingMoreGoesToTheFile)
{
    /* Two lines meet a file that takes only `budget` bytes more, failing with no
     * progress or with ENOSPC; then room comes back and a third line is tried. For
     * every budget: the lines before the failure are whole in the file, a cut one ends
     * in the mark, nothing follows; the failure is said once; every write from the
     * failing one on answers 3, so that the log calls show it elsewhere. */
    const std::string mark = " [line cut short]";
    qv_time_set_clock_reader(new_year_eve_clock);
    ASSERT_EQ(0u, create());
    ASSERT_EQ(0u, qv_logger_write(sink.context, ""));
    qv_logger_destroy(&sink);
    const std::string stamp = read_file("VADedeVeZovid.log").substr(0, 25);
    const std::string whole = stamp + "line one\n" + stamp + "line two\n";
    const size_t line_size = whole.size() / 2;
    for (int failure : {0, ENOSPC}) {
        for (size_t budget = 0; budget <= whole.size(); budget++) {
            SCOPED_TRACE("budget " + std::to_string(budget) + ", errno " + std::to_string(failure));
            ASSERT_EQ(0u, create());
            g_budget = budget;
            g_failure = failure;
            g_failed_calls = 0;
            qv_logger_set_writer(budget_writer);
            StderrCapture capture;
            unsigned statuses[3];
            statuses[0] = qv_logger_write(sink.context, "line one");
            statuses[1] = qv_logger_write(sink.context, "line two");
            qv_logger_set_writer(nullptr);
            statuses[2] = qv_logger_write(sink.context, "line three");
            auto said = capture.finish();
            qv_logger_destroy(&sink);

            EXPECT_LE(g_failed_calls, 1); /* never retried, nothing tried afterwards */
            if (budget == whole.size()) {
                EXPECT_EQ(whole + stamp + "line three\n", read_file("VADedeVeZovid.log"));
                EXPECT_TRUE(said.empty());
                continue;
            }
            std::string cut = budget % line_size != 0 ? mark + "\n" : "";
            EXPECT_EQ(whole.substr(0, budget) + cut, read_file("VADedeVeZovid.log"));
            for (size_t i = 0; i < 3; i++)
                EXPECT_EQ(i < budget / line_size ? 0u : 3u, statuses[i]) << i;
            EXPECT_EQ(std::vector<std::string>{"ERROR  : qv_logger_write: cannot write the log "
                                               "file VADedeVeZovid.log: " +
                                               std::string(failure ? strerror(failure)
                                                                   : "the file takes no more bytes") +
                                               "; the log goes on on standard error"},
                      said);
        }
    }
}

TEST_F(LogFileTest, WriteWithoutAFileWritesNothing)
{
    EXPECT_EQ(0u, qv_logger_write(nullptr, "x"));
    setenv("QV_LOGFILE_NAME_PATTERN", "missing/%s", 1);
    EXPECT_EQ(3u, create());
    EXPECT_EQ(0u, qv_logger_write(sink.context, "x"));
    EXPECT_EQ(0u, qv_logger_destroy(&sink));
    EXPECT_EQ(nullptr, sink.context);
    EXPECT_EQ(0u, qv_logger_destroy(&sink));
}

TEST_F(LogFileTest, StampIsLocalTimeMonthFirstAndFollowsAChangeOfTZ)
{
    /* Only TZ changes between the lines; nothing here calls tzset(). */
    qv_time_set_clock_reader(new_year_eve_clock);
    ASSERT_EQ(0u, create());
    {
        ScopedEnv tz("TZ", "CET-1"); /* one hour east of UTC, no daylight saving */
        qv_logger_write(sink.context, "00000a1c INFO   : Log started, Build number: DEVELOPMENT");
        setenv("TZ", "America/New_York", 1);
        qv_logger_write(sink.context, "00000a1c INFO   : west");
        setenv("TZ", "UTC0", 1);
        qv_logger_write(sink.context, "00000a1c INFO   : back to UTC");
    }
    EXPECT_EQ("01/01/2027 00:30:05.250: 00000a1c INFO   : Log started, Build number: DEVELOPMENT\n"
              "12/31/2026 18:30:05.250: 00000a1c INFO   : west\n"
              "12/31/2026 23:30:05.250: 00000a1c INFO   : back to UTC\n",
              read_file("VADedeVeZovid.log"));
}

/* ---- once per process: in a child process each ---- */

/* Runs body in a child process; the child exits 0 when body returns an empty text and
 * prints the text otherwise. */
#define IN_CHILD_PROCESS(...)                                                                      \
    EXPECT_EXIT(                                                                                   \
        {                                                                                          \
            std::string failure = (__VA_ARGS__)();                                                 \
            if (!failure.empty())                                                                  \
                fprintf(stderr, "%s\n", failure.c_str());                                          \
            fflush(stderr);                                                                        \
            _exit(failure.empty() ? 0 : 1);                                                        \
        },                                                                                         \
        ::testing::ExitedWithCode(0), "")

TEST_F(LogFileTest, InstallingWritesBannerAndReportFirstAndRemovingRepeatsThemOnTheConsole)
{
    IN_CHILD_PROCESS([&]() -> std::string {
        if (qv_logger_create(&sink) != 0)
            return "create failed";
        qv_log_set_sink(&sink);
        qv_log(QV_LOG_INFO, "%s", "Closing log file");
        StderrCapture capture;
        qv_log_set_sink(nullptr);
        auto console = capture.finish();
        qv_logger_destroy(&sink);
        auto lines = split_lines(read_file("VADedeVeZovid.log"));
        if (lines.size() < 4)
            return "too few lines in the file";
        for (const std::string &line : lines)
            if (!has_stamp_and_thread_id(line))
                return "line without stamp: " + line;
        if (lines[0].find("INFO   : Log started, Build number: DEVELOPMENT") == std::string::npos)
            return "first line is not the banner: " + lines[0];
        if (lines[1].find("INFO   : Running in ") == std::string::npos)
            return "the report does not follow the banner: " + lines[1];
        if (lines.back().find("INFO   : Closing log file") == std::string::npos)
            return "last line: " + lines.back();
        if (console.size() < 2 || console[0] != "INFO   : Log started, Build number: DEVELOPMENT" ||
            console[1].find("INFO   : Running in ") != 0)
            return "no banner and report on the console";
        if (console.size() != lines.size() - 1)
            return "the console report differs in length from the file's";
        return "";
    });
}

QVLogSink *g_nested_sink;
int g_nested_calls;

unsigned nesting_writer(void *, const char *line)
{
    fprintf(stderr, "%s\n", line);
    if (g_nested_calls++ == 0)
        qv_log_set_sink(g_nested_sink); /* re-entered while writing the first banner */
    return 0;
}

TEST_F(LogFileTest, ASetSinkCallInsideAnotherSuppressesTheReportForGood)
{
    IN_CHILD_PROCESS([&]() -> std::string {
        static QVLogSink nested{nullptr, nesting_writer, nullptr};
        g_nested_sink = &nested;
        StderrCapture capture;
        qv_log_set_sink(&nested);
        qv_log_set_sink(nullptr);
        qv_log_set_sink(&nested);
        qv_log_set_sink(nullptr);
        auto lines = capture.finish();
        for (const std::string &line : lines)
            if (line.find("Running in") != std::string::npos)
                return "a report was written: " + line;
        int banners = 0;
        for (const std::string &line : lines)
            banners += line == "INFO   : Log started, Build number: DEVELOPMENT";
        return banners == 5 ? "" : "expected five banners, got " + std::to_string(banners);
    });
}

int g_fatal_calls;
std::vector<std::string> g_sink_lines;

unsigned collecting_writer(void *, const char *line)
{
    g_sink_lines.push_back(without_thread_id(line));
    return 0;
}

void count_fatal()
{
    g_fatal_calls++;
    if (g_sink_lines.empty() || g_sink_lines.back() != "**FATAL**: out of disk")
        g_fatal_calls = 100; /* called before the line was dispatched */
}

TEST_F(LogFileTest, FatalLinesCallTheSinksHookOnceAfterwards)
{
    IN_CHILD_PROCESS([&]() -> std::string {
        static QVLogSink collector{nullptr, collecting_writer, count_fatal};
        StderrCapture quiet;
        qv_log_set_sink(&collector);
        qv_log(QV_LOG_ERROR, "%s", "not fatal");
        qv_log(QV_LOG_FATAL, "%s", "out of disk");
        qv_log(8, "%s", "dropped");
        qv_log_set_sink(nullptr);
        if (g_fatal_calls != 1)
            return "on_fatal called " + std::to_string(g_fatal_calls) + " times";
        for (const std::string &line : g_sink_lines)
            if (line.find("dropped") != std::string::npos)
                return "a level-8 line reached the sink";
        return "";
    });
}

} // namespace
