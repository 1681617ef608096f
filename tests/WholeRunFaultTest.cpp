/*
 * The whole run under every fault: the application's start-up to shut-down (log file,
 * system report, the three accounts, the failure message with its catalogue build) over
 * the fake client, with the N-th allocation failing for every N until the run no longer
 * meets the fault, and with each client call (every connect, every statement) failing
 * in turn with 1045, 1698, 1819, 2013 and 0.
 *
 * Each run takes place in a child process of its own, so that the catalogue's one-time
 * build and the exit handlers happen as in the tool, and in the address-sanitizer build
 * the leak check runs at each child's exit: a leak makes the child exit with the
 * sanitizers' own status (SanitizerExit), never with a run's 0 or 1. The child writes what the fake client saw to a report file; the parent checks
 * the exit status, the log (the log file and standard error together), that every
 * connection was closed, and that nothing was sent after the failure.
 */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "QVLib/QVmalloc.h"
#include "WinGUI/VADedeVeZovidApp.h"
#include "tests/support/FakeMysql.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestFiles.h"

namespace
{

struct Outcome {
    bool exited = false; /* ended by exit(), not by a signal */
    int exit_code = -1;
    unsigned long injected = 0; /* allocation failures the run met */
    int connects = 0, statements = 0, open_handles = -1;
    std::vector<std::string> log; /* the log file, then standard error */
};

/* A run under way in a child, with its own folder. */
struct Child {
    pid_t pid;
    std::unique_ptr<TempDir> dir;
};

/* Starts the application once in a child, after prepare has set up the fake client and
 * the faults. */
Child start_whole(const std::function<void()> &prepare)
{
    Child c{-1, std::make_unique<TempDir>("qv-whole")};
    const std::string dir = c.dir->path(), report = dir + "/report";
    fflush(nullptr);
    c.pid = fork();
    if (c.pid == 0) {
        int err = open((dir + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err < 0 || dup2(err, 2) < 0 || chdir(dir.c_str()) != 0)
            _exit(120);
        setenv("HOME", dir.c_str(), 1); /* no option file */
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("QV_BASE_LOGFILE_NAME");
        unsetenv("QV_LOGFILE_NAME_PATTERN");
        fake_mysql_reset();
        prepare();
        CHalvernApp app;
        char name[] = "VADedeVeZovid";
        char *argv[] = {name, nullptr};
        app.m_argc = 1;
        app.m_argv = argv;
        app.InitInstance();
        unsigned long injected = qv_malloc_injected_failures();
        qv_malloc_fail_nth(0);
        const FakeMysql &fake = fake_mysql();
        FILE *out = fopen(report.c_str(), "w");
        if (out == nullptr)
            _exit(121);
        fprintf(out, "%lu %d %d %d\n", injected, fake.connects, fake.statements_sent,
                fake.open_handles);
        fclose(out);
        exit(app.ExitCode()); /* exit handlers, and the leak check, run */
    }
    return c;
}

/* Waits for the child's run to end and collects what it left. */
Outcome finish_whole(Child &c)
{
    Outcome o;
    int status = 0;
    waitpid(c.pid, &status, 0);
    o.exited = WIFEXITED(status);
    o.exit_code = o.exited ? WEXITSTATUS(status) : -1;
    FILE *in = fopen((c.dir->path() + "/report").c_str(), "r");
    if (in != nullptr) {
        if (fscanf(in, "%lu %d %d %d", &o.injected, &o.connects, &o.statements, &o.open_handles) !=
            4)
            o.open_handles = -1;
        fclose(in);
    }
    o.log = split_lines(read_file(c.dir->path() + "/VADedeVeZovid.log") +
                        read_file(c.dir->path() + "/stderr"));
    return o;
}

Outcome run_whole(const std::function<void()> &prepare)
{
    Child c = start_whole(prepare);
    return finish_whole(c);
}

/* The index of the first line holding needle, or lines.size(). */
size_t find_line(const std::vector<std::string> &lines, const std::string &needle, size_t from = 0)
{
    for (size_t i = from; i < lines.size(); i++)
        if (lines[i].find(needle) != std::string::npos)
            return i;
    return lines.size();
}

/* Under the sanitizers a run costs some 40 times as much, and the catalogue's build
 * repeats the same few allocations for each of its 1292 texts: there, past the first
 * points (the start-up, the accounts, the catalogue's one-time step), every 29th point
 * is tried, which still meets each allocation site of the build many times. The
 * environment variable QV_FAULT_STRIDE sets another stride (1: every point). */
unsigned long fault_stride()
{
    const char *value = getenv("QV_FAULT_STRIDE");
    if (value != nullptr && strtoul(value, nullptr, 10) > 0)
        return strtoul(value, nullptr, 10);
#if defined(QV_SANITIZED)
    return 29;
#else
    return 1;
#endif
}
const unsigned long kEveryPointUpTo = 300;

/* Every allocation of a run failing in turn, N = 1, 2, ... until the run meets no
 * fault; prepare sets up the client. A run that completes all 19 statements exits 0;
 * any other exits 1 with the failure logged and followed by the path it travelled. */
void each_allocation_failing(const std::function<void()> &prepare, bool server_answers)
{
    /* Runs go two at a time: the machine has two cores and the points are many. */
    const size_t batch = 2;
    const unsigned long stride = fault_stride();
    unsigned long n = 1, last = 0, tried = 0;
    while (last == 0) {
        std::vector<std::pair<unsigned long, Child>> children;
        for (size_t i = 0; i < batch; i++, n += n < kEveryPointUpTo ? 1 : stride) {
            unsigned long k = n;
            children.emplace_back(k, start_whole([&] {
                                      prepare();
                                      qv_malloc_fail_nth(k);
                                  }));
        }
        for (auto &[k, child] : children) {
            Outcome o = finish_whole(child);
            ASSERT_TRUE(o.exited) << "N=" << k;
            ASSERT_EQ(0, o.open_handles) << "N=" << k;
            if (o.injected == 0) {
                EXPECT_EQ(server_answers ? 0 : 1, o.exit_code) << "N=" << k;
                if (last == 0)
                    last = k;
                continue;
            }
            tried++;
            bool completed = o.statements == 1 + 18; /* the detection, then the accounts' */
            ASSERT_EQ(completed && server_answers ? 0 : 1, o.exit_code) << "N=" << k;
            if (o.exit_code == 0)
                continue;
            /* The run's failure, after the start (a fault in the report or the log file
             * does not stop it): the fault itself, or a server that is not there. */
            size_t start = find_line(o.log, "VADedeVeZovid Application Started");
            size_t failure = std::min(find_line(o.log, "out of memory", start),
                                      find_line(o.log, "do_connect: errno: 2002", start));
            ASSERT_LT(failure + 1, o.log.size()) << "N=" << k;
            EXPECT_TRUE(o.log[failure + 1].find("STACK_TRACE at ") != std::string::npos ||
                        o.log[failure + 1].find("Cannot connect to localhost") != std::string::npos)
                << "N=" << k << ": " << o.log[failure + 1];
        }
    }
    /* the start-up, the accounts and, without a server, the catalogue's build */
    EXPECT_GT(last, server_answers ? 30u : 1000u);
    printf("[ figures  ] %lu of %lu allocation fault points tried (%s)\n", tried, last - 1,
           server_answers ? "a successful run" : "a run without a server");
}

TEST(WholeRun, EachAllocationFailingInTurnOnASuccessfulRun)
{
    each_allocation_failing([] {}, true);
}

TEST(WholeRun, EachAllocationFailingInTurnOnARunWithoutAServer)
{
    each_allocation_failing([] { fake_mysql().connect_fails = true; }, false);
}

TEST(WholeRun, EachClientCallFailingInTurn)
{
    /* statements sent before each connection: 0, 3 (the detection and QuorvaneInternal's
     * two), 11 */
    const int before_connect[] = {0, 3, 11};
    /* The hint of each error by its phase: at login, on the detection (the run's one
     * reading statement), on the accounts' statements; null: none. */
    const char *const lacks = "root lacks the privileges to grant these";
    const char *const cannot_read = "root lacks the privileges to read the grant tables";
    const char *const stopped = "the server stopped answering";
    const struct {
        int number;
        const char *hint[3];
    } errors[] = {
        {1045, {"the server refused root's password", cannot_read, lacks}},
        {1698, {"the server admits root only for the system's root user", cannot_read, lacks}},
        {1819,
         {nullptr, nullptr,
          "the server's password policy refused the built-in "
          "password of "}},
        {2013, {stopped, stopped, stopped}},
        {0, {nullptr, nullptr, nullptr}}};
    int runs = 0;
    for (const auto &e : errors) {
        for (int point = 1; point <= 3 + 19; point++) {
            bool at_connect = point <= 3;
            int statement = point - 3;
            Outcome o = run_whole([&] {
                FakeMysql &fake = fake_mysql();
                fake.connect_errno = fake.statement_errno = e.number;
                if (at_connect)
                    fake.fail_connect = point;
                else
                    fake.fail_statement = statement;
            });
            runs++;
            std::string where = std::to_string(e.number) +
                                (at_connect ? " at connect " : " at statement ") +
                                std::to_string(at_connect ? point : statement);
            ASSERT_TRUE(o.exited) << where;
            EXPECT_EQ(1, o.exit_code) << where;
            EXPECT_EQ(0, o.open_handles) << where;
            /* nothing is sent after the failure but, after a refused password, the reading
             * of the server's warnings; no account after the failing one */
            bool warnings_read = e.number == 1819 && statement > 1;
            EXPECT_EQ(at_connect ? before_connect[point - 1] : statement + warnings_read,
                      o.statements)
                << where;
            EXPECT_EQ(at_connect ? point
                                 : (statement <= 3    ? 1
                                    : statement <= 11 ? 2
                                                      : 3),
                      o.connects)
                << where;
            size_t failure = find_line(o.log, at_connect ? "ERROR  : do_connect: errno: "
                                                         : "ERROR  : qv_mysql_s_query: errno: ");
            ASSERT_LT(failure + 2, o.log.size()) << where;
            EXPECT_NE(std::string::npos,
                      o.log[failure].find("errno: " + std::to_string(e.number) + " "))
                << where;
            EXPECT_NE(std::string::npos, o.log[failure + 1].find("STACK_TRACE at MyDBEngine:"))
                << where;
            EXPECT_NE(std::string::npos,
                      o.log[failure + 2].find(at_connect ? "ERROR  : Cannot connect"
                                                         : "STACK_TRACE at AccountMaking:"))
                << where;
            size_t hint = find_line(o.log, "ERROR  : hint: ", failure);
            const char *expected_hint = e.hint[at_connect ? 0 : statement == 1 ? 1 : 2];
            if (expected_hint == nullptr) {
                EXPECT_EQ(o.log.size(), hint) << where;
            } else {
                ASSERT_LT(hint, o.log.size()) << where;
                /* after the failure's trace lines (one more for the detection) */
                EXPECT_EQ(hint, failure + (statement == 1 ? 4 : 3)) << where;
                EXPECT_NE(std::string::npos, o.log[hint].find(expected_hint)) << where;
                EXPECT_LT(find_line(o.log, "VADedeVeZovid: hint: " + std::string(expected_hint)),
                          o.log.size())
                    << where;
            }
            EXPECT_LT(find_line(o.log, "VADedeVeZovid: Error creating database users."),
                      o.log.size())
                << where;
        }
    }
    printf("[ figures  ] %d client fault points\n", runs);
}

} // namespace
