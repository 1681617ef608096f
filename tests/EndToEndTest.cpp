/*
 * End-to-end tests: the built program run as a user runs it, against the private
 * MariaDB server, in a directory of its own. What it leaves in the log file, on standard
 * error, in the dialog (a stand-in zenity on the PATH records how it was called) and in
 * its exit status.
 */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/LogCapture.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServer.h"

namespace
{

const char FAILURE_TEXT[] = "Error creating database users. See VADedeVeZovid.log.";
const char *const ACCOUNTS[] = {"QuorvaneInternal", "QuOrvAneIndeX", "DUVidIdeRiv"};

class EndToEndTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        socket = test_server_socket();
        ASSERT_FALSE(socket.empty()) << "the private MariaDB server is not running";
        dir = scratch.path();
        bin = dir + "/bin";
        ASSERT_EQ(0, mkdir(bin.c_str(), 0755));
        /* A stand-in zenity that records each call, one argument per line. */
        std::ofstream(bin + "/zenity")
            << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"" << dir
            << "/zenity-calls\"\necho --- >> \"" << dir << "/zenity-calls\"\n";
        chmod((bin + "/zenity").c_str(), 0755);
        ServerSession root;
        ASSERT_TRUE(root.connected()) << root.error();
        for (const char *account : ACCOUNTS)
            drop_account(root, account);
    }
    /* Runs the tool; display says whether a graphical session seems present. */
    ProgramResult run(bool display = false, const std::string &server_socket = "")
    {
        std::string path = bin + ":" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin");
        std::map<std::string, std::optional<std::string>> env = {
            {"MYSQL_UNIX_PORT", server_socket.empty() ? socket : server_socket},
            {"PATH", path},
            {"DISPLAY", display ? std::optional<std::string>(":99") : std::nullopt},
            {"WAYLAND_DISPLAY", std::nullopt},
            {"QV_BASE_LOGFILE_NAME", std::nullopt},
            {"QV_LOGFILE_NAME_PATTERN", std::nullopt},
            {"LANG", "C.UTF-8"},
            {"LC_ALL", std::nullopt},
        };
        return run_program({QV_TOOL_PATH}, dir, env);
    }

    std::vector<std::string> log_lines()
    {
        return split_lines(read_file(dir + "/VADedeVeZovid.log"));
    }
    std::string zenity_calls()
    {
        return read_file(dir + "/zenity-calls");
    }

    /* The index of the first line holding needle, or lines.size(). */
    static size_t find_line(const std::vector<std::string> &lines, const std::string &needle)
    {
        for (size_t i = 0; i < lines.size(); i++)
            if (lines[i].find(needle) != std::string::npos)
                return i;
        return lines.size();
    }

    /* The lines of standard error that come from the message box. */
    static std::vector<std::string> message_lines(const std::string &err)
    {
        std::vector<std::string> found;
        for (const std::string &line : split_lines(err))
            if (line.rfind("VADedeVeZovid: ", 0) == 0)
                found.push_back(line);
        return found;
    }

    /* Every line of the file carries the local time stamp and a log line. */
    static void expect_stamped(const std::vector<std::string> &lines)
    {
        for (const std::string &line : lines) {
            EXPECT_TRUE(has_stamp_and_thread_id(line)) << line;
            std::string level = line.size() > 34 ? line.substr(34) : "";
            EXPECT_TRUE(level.rfind("INFO   : ", 0) == 0 || level.rfind("ERROR  : ", 0) == 0 ||
                        level.rfind("STACK_TRACE at ", 0) == 0 || level.rfind("WARNING: ", 0) == 0)
                << line;
        }
    }

    TempDir scratch{"qv-e2e"};
    std::string socket, dir, bin;
};

TEST_F(EndToEndTest, SuccessLeavesACompleteLogAndShowsNoDialog)
{
    ProgramResult r = run(true);
    EXPECT_EQ(0, r.exit_code) << r.err;
    EXPECT_TRUE(message_lines(r.err).empty()) << r.err;
    EXPECT_EQ("", zenity_calls());

    auto lines = log_lines();
    ASSERT_GT(lines.size(), 5u);
    expect_stamped(lines);
    EXPECT_NE(std::string::npos, lines[0].find("INFO   : Log started, Build number: DEVELOPMENT"));
    EXPECT_NE(std::string::npos, lines[1].find("INFO   : Running in " + dir));
    EXPECT_NE(
        std::string::npos,
        read_file(dir + "/VADedeVeZovid.log").find("INFO   : VADedeVeZovid Application Started"));
    EXPECT_NE(std::string::npos, lines.back().find("INFO   : Closing log file"));

    /* the banner and the report once more, on standard error, at shut-down */
    auto err = split_lines(r.err);
    ASSERT_GE(err.size(), 2u);
    EXPECT_EQ("INFO   : Log started, Build number: DEVELOPMENT", without_thread_id(err[0]));
    EXPECT_EQ(0u, without_thread_id(err[1]).find("INFO   : Running in "));

    ServerSession root;
    for (const char *account : ACCOUNTS)
        EXPECT_EQ(1u, root.query(std::string("SELECT 1 FROM mysql.user WHERE User='") + account +
                                 "' AND Host='localhost'")
                          .size());
}

TEST_F(EndToEndTest, NoServerShowsTheMessageOnceAndKeepsTheLog)
{
    ProgramResult r = run(true, "/tmp/qv-no-such-server.sock");
    EXPECT_EQ(1, r.exit_code);
    EXPECT_EQ(std::vector<std::string>{std::string("VADedeVeZovid: ") + FAILURE_TEXT},
              message_lines(r.err));
    EXPECT_EQ(std::string("--info\n--no-markup\n--icon-name=\n--title=VADedeVeZovid\n--text=") +
                  FAILURE_TEXT + "\n---\n",
              zenity_calls());
    /* the failure, then the catalogue's first build for the message */
    auto lines = log_lines();
    expect_stamped(lines);
    size_t failure = find_line(lines, "ERROR  : do_connect: errno: 2002");
    ASSERT_LT(failure + 4, lines.size());
    EXPECT_NE(std::string::npos, lines[failure + 1].find("STACK_TRACE at MyDBEngine:"));
    EXPECT_NE(std::string::npos, lines[failure + 2].find("ERROR  : Cannot connect to localhost"));
    EXPECT_NE(std::string::npos,
              lines[failure + 3].find("INFO   : qv_make_gui_messages(en-US) starting"));
    EXPECT_NE(std::string::npos,
              lines[failure + 4].find("INFO   : qv_make_gui_messages(en-US) ending"));
    EXPECT_EQ(failure + 5, lines.size());
}

TEST_F(EndToEndTest, RefusedLoginFails)
{
    ServerSession root;
    root.exec("ALTER USER 'root'@'localhost' IDENTIFIED BY 'not-empty-now'");
    ProgramResult r = run(false);
    root.exec("ALTER USER 'root'@'localhost' IDENTIFIED BY ''");
    EXPECT_EQ(1, r.exit_code);
    EXPECT_EQ(1u, message_lines(r.err).size());
    EXPECT_EQ("", zenity_calls()); /* no graphical session: nothing waits */
    std::string log = read_file(dir + "/VADedeVeZovid.log");
    EXPECT_NE(std::string::npos, log.find("ERROR  : do_connect: errno: 1045  msg: Access denied"));
    EXPECT_NE(std::string::npos, log.find("ERROR  : Cannot connect to localhost"));
}

TEST_F(EndToEndTest, RefusedStatementFailsAndNamesItWithoutThePassword)
{
    /* The server's password policy refuses the second account's password (it has no
     * capital letter), after the first account was made. */
    ServerSession root;
    root.exec("INSTALL SONAME 'simple_password_check'");
    ProgramResult r = run(false);
    root.exec("UNINSTALL SONAME 'simple_password_check'");
    EXPECT_EQ(1, r.exit_code);
    EXPECT_EQ(1u, message_lines(r.err).size());
    auto lines = log_lines();
    expect_stamped(lines);
    size_t failure = find_line(lines, "ERROR  : qv_mysql_s_query: errno: 1819");
    ASSERT_LT(failure + 2, lines.size());
    EXPECT_NE(std::string::npos, lines[failure].find("TO 'QuOrvAneIndeX' IDENTIFIED BY '***'"));
    EXPECT_NE(std::string::npos, lines[failure + 1].find("STACK_TRACE at MyDBEngine:"));
    EXPECT_NE(std::string::npos, lines[failure + 2].find("STACK_TRACE at MyDBEngine:"));
    std::string log = read_file(dir + "/VADedeVeZovid.log");
    EXPECT_EQ(std::string::npos, log.find("m4hqzwtyop71v652kdnx"));
    EXPECT_EQ(
        1u,
        root.query("SELECT 1 FROM mysql.user WHERE User='QuorvaneInternal' AND Host='%'").size());
    EXPECT_EQ(0u, root.query("SELECT 1 FROM mysql.user WHERE User='DUVidIdeRiv'").size());
}

TEST_F(EndToEndTest, LogFileHeldByAnotherInstance)
{
    std::string path = dir + "/VADedeVeZovid.log";
    std::ofstream(path) << "the other instance's log\n";
    int held = open(path.c_str(), O_WRONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(0, flock(held, LOCK_EX));

    ProgramResult ok = run(false);
    EXPECT_EQ(0, ok.exit_code);
    EXPECT_NE(std::string::npos, ok.err.find("INFO   : VADedeVeZovid Application Started"));
    EXPECT_NE(std::string::npos, ok.err.find("INFO   : Closing log file"));

    ProgramResult failed = run(true, "/tmp/qv-no-such-server.sock");
    EXPECT_EQ(1, failed.exit_code);
    EXPECT_NE(std::string::npos, failed.err.find("ERROR  : Cannot connect to localhost"));
    EXPECT_EQ(1u, message_lines(failed.err).size());
    EXPECT_NE(std::string::npos, zenity_calls().find(FAILURE_TEXT));
    close(held);
    EXPECT_EQ("the other instance's log\n", read_file(path));
}

} // namespace
