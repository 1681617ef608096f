/*
 * The built program under valgrind's memcheck, run as a user runs it: once creating the
 * accounts on the private server, once failing on a statement the server refuses, once
 * finding no server. None may make a memory error or leave a block definitely lost: a
 * run that does exits with valgrind's status 99, never with its own 0 or 1. Built only without the sanitizers,
 * whose programs valgrind cannot run; skipped where valgrind is not installed.
 */
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/support/RunProgram.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServer.h"

namespace
{

struct MemcheckRun {
    int exit_code;
    std::string report; /* valgrind's own output */
};

/* Runs the tool under memcheck with the client library aimed at server_socket. A
 * memory error or a definite leak makes valgrind exit with 99 instead of the tool's
 * status. */
MemcheckRun run_under_memcheck(const std::string &server_socket)
{
    TempDir dir("qv-memcheck");
    std::string report = dir.path() + "/memcheck";
    ProgramResult r =
        run_program({QV_VALGRIND_PATH, "--leak-check=full", "--errors-for-leak-kinds=definite",
                     "--error-exitcode=99", "--log-file=" + report, QV_TOOL_PATH},
                    dir.path(), tool_environment(server_socket, dir.path()), 600);
    return {r.exit_code, read_file(report)};
}

/* The line of report that begins with what (after valgrind's "==pid== "), or "". */
std::string report_line(const std::string &report, const std::string &what)
{
    size_t at = report.find(what);
    return at == std::string::npos ? "" : report.substr(at, report.find('\n', at) - at);
}

void expect_clean(const MemcheckRun &run, const char *name)
{
    printf("[ figures  ] valgrind, %s: %s; %s\n", name,
           report_line(run.report, "ERROR SUMMARY:").c_str(),
           (report_line(run.report, "definitely lost:") +
            report_line(run.report, "All heap blocks were freed"))
               .c_str());
    EXPECT_NE(std::string::npos, run.report.find("ERROR SUMMARY: 0 errors from 0 contexts"))
        << run.report;
    EXPECT_TRUE(run.report.find("definitely lost: 0 bytes in 0 blocks") != std::string::npos ||
                run.report.find("All heap blocks were freed") != std::string::npos)
        << run.report;
}

class Memcheck : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (access(QV_VALGRIND_PATH, X_OK) != 0)
            GTEST_SKIP() << "valgrind is not installed";
    }
};

TEST_F(Memcheck, RunThatCreatesTheAccounts)
{
    std::string socket = test_server_socket();
    ASSERT_FALSE(socket.empty()) << "the private MariaDB server is not running";
    ServerSession root;
    ASSERT_TRUE(root.connected()) << root.error();
    drop_accounts(root, SERVICE_ACCOUNT_NAMES); /* the run makes every account anew */
    MemcheckRun run = run_under_memcheck(socket);
    EXPECT_EQ(0, run.exit_code) << run.report;
    expect_clean(run, "a run that creates the accounts");
    EXPECT_EQ(6u, root.query("SELECT 1 FROM mysql.user WHERE User IN ('QuorvaneInternal', "
                             "'QuOrvAneIndeX', 'DUVidIdeRiv')")
                      .size());
}

TEST_F(Memcheck, RunWhoseStatementIsRefused)
{
    /* The password policy refuses the second account's password: the engine's path of
     * a failing statement, its log lines and its release of the connection. */
    std::string socket = test_server_socket();
    ASSERT_FALSE(socket.empty()) << "the private MariaDB server is not running";
    ServerSession root;
    ASSERT_TRUE(root.connected()) << root.error();
    root.exec("INSTALL SONAME 'simple_password_check'");
    MemcheckRun run = run_under_memcheck(socket);
    root.exec("UNINSTALL SONAME 'simple_password_check'");
    EXPECT_EQ(1, run.exit_code) << run.report;
    expect_clean(run, "a run whose statement is refused");
}

TEST_F(Memcheck, RunWithoutAServer)
{
    MemcheckRun run = run_under_memcheck("/tmp/qv-no-such-server.sock");
    EXPECT_EQ(1, run.exit_code) << run.report;
    expect_clean(run, "a run without a server");
}

} // namespace
