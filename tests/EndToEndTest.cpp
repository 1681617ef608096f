/*
 * End-to-end tests: the built program run as a user runs it, against the private
 * MariaDB server, in a directory of its own. What it leaves in the log file, on standard
 * error, in the dialog (a stand-in zenity on the PATH records how it was called) and in
 * its exit status; its command line; and the servers administrators run: root with a
 * password given in ~/.my.cnf, root admitted by socket authentication only, a password
 * policy, a replica whose replication runs; the check of each difference a server may
 * hold; the client library's connection lost at each login and each statement of a
 * run, and closed between statements, through a relay that breaks it there; a log that
 * cannot be written; and the run stopped by a signal.
 */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/LogCapture.h"
#include "tests/support/Relay.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestPlatform.h"
#include "tests/support/TestServer.h"

namespace
{

const char FAILURE_TEXT[] = "Error creating database users. See VADedeVeZovid.log.";
/* The accounts' built-in passwords, which no output may show. */
const char *const BUILT_IN_PASSWORDS[] = {"Rm5#Tq8w!Zp2&Lx9^Vc4*Nb7?Hs3%Gd6",
                                          "m4hqzwtyop71v652kdnx;r-ploiuwbe3",
                                          "3kvb720w8r65xkc1m7tbqgzwy519vn2d"};

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
        drop_accounts(root, SERVICE_ACCOUNT_NAMES);
    }
    /* Runs the tool; display says whether a graphical session seems present. HOME is
     * the test's own folder unless home names another. */
    ProgramResult run(bool display = false, const std::string &server_socket = "",
                      const std::vector<std::string> &args = {}, const std::string &home = "",
                      const std::vector<std::string> &prefix = {})
    {
        RunningProgram program = start(display, server_socket, args, home, prefix);
        return finish_program(program);
    }
    /* Starts the tool as run() does, without waiting for it. */
    RunningProgram start(bool display = false, const std::string &server_socket = "",
                         const std::vector<std::string> &args = {}, const std::string &home = "",
                         const std::vector<std::string> &prefix = {})
    {
        std::string path = bin + ":" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin");
        ProgramEnv env = tool_environment(server_socket.empty() ? socket : server_socket,
                                          home.empty() ? dir : home);
        env["PATH"] = path;
        if (display)
            env["DISPLAY"] = ":99";
        for (const auto &[name, value] : extra_env)
            env[name] = value;
        std::vector<std::string> argv = prefix;
        argv.push_back(prefix.empty() ? QV_TOOL_PATH : tool_copy());
        argv.insert(argv.end(), args.begin(), args.end());
        return start_program(argv, dir, env, err_fd);
    }
    /* A copy of the tool that any user may run, wherever the build is. */
    std::string tool_copy()
    {
        std::string copy = dir + "/VADedeVeZovid";
        write_file(copy, read_file(QV_TOOL_PATH));
        chmod(copy.c_str(), 0755);
        return copy;
    }
    /* The lines of standard error that the tool says under its name: its hints (hints),
     * or else those of the message box. */
    static std::vector<std::string> said_lines(const std::string &err, bool hints)
    {
        std::vector<std::string> found;
        for (const std::string &line : split_lines(err))
            if (line.rfind("VADedeVeZovid: ", 0) == 0 &&
                (line.rfind("VADedeVeZovid: hint: ", 0) == 0) == hints)
                found.push_back(line);
        return found;
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
    ProgramEnv extra_env; /* set over the environment that run() gives */
    int err_fd = -1;      /* where start() sends standard error, when not to a file */
};

TEST_F(EndToEndTest, SuccessLeavesACompleteLogAndShowsNoDialog)
{
    ProgramResult r = run(true);
    EXPECT_EQ(0, r.exit_code) << r.err;
    EXPECT_TRUE(said_lines(r.err, false).empty()) << r.err;
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
    for (const std::string &account : SERVICE_ACCOUNT_NAMES)
        EXPECT_EQ(1u, root.query(std::string("SELECT 1 FROM mysql.user WHERE User='") + account +
                                 "' AND Host='localhost'")
                          .size());
}

TEST_F(EndToEndTest, NoServerShowsTheMessageOnceAndKeepsTheLog)
{
    ProgramResult r = run(true, "/tmp/qv-no-such-server.sock");
    EXPECT_EQ(1, r.exit_code);
    EXPECT_EQ(std::vector<std::string>{std::string("VADedeVeZovid: ") + FAILURE_TEXT},
              said_lines(r.err, false));
    EXPECT_EQ(std::string("--info\n--no-markup\n--icon-name=\n--title=VADedeVeZovid\n--text=") +
                  FAILURE_TEXT + "\n---\n",
              zenity_calls());
    const std::string hint = "no database server answers on this machine; start it, or name its "
                             "socket in MYSQL_UNIX_PORT or in ~/.my.cnf";
    EXPECT_NE(std::string::npos, r.err.find(std::string("VADedeVeZovid: ") + FAILURE_TEXT +
                                            "\nVADedeVeZovid: hint: " + hint + "\n"))
        << r.err;
    /* the failure, its hint, then the catalogue's first build for the message */
    auto lines = log_lines();
    expect_stamped(lines);
    size_t failure = find_line(lines, "ERROR  : do_connect: errno: 2002");
    ASSERT_LT(failure + 5, lines.size());
    EXPECT_NE(std::string::npos, lines[failure + 1].find("STACK_TRACE at MyDBEngine:"));
    EXPECT_NE(std::string::npos, lines[failure + 2].find("ERROR  : Cannot connect to localhost"));
    EXPECT_NE(std::string::npos, lines[failure + 3].find("ERROR  : hint: " + hint));
    EXPECT_NE(std::string::npos,
              lines[failure + 4].find("INFO   : qv_make_gui_messages(en-US) starting"));
    EXPECT_NE(std::string::npos,
              lines[failure + 5].find("INFO   : qv_make_gui_messages(en-US) ending"));
    EXPECT_EQ(failure + 6, lines.size());
}

TEST_F(EndToEndTest, RootWithAPasswordFromTheOptionFileOnly)
{
    const std::string root_password = "R00t-Only-Here";
    ServerSession root;
    root.exec("ALTER USER 'root'@'localhost' IDENTIFIED BY '" + root_password + "'");
    TempDir home("qv-home");
    ProgramResult refused = run(false, "", {}, home.path());
    home.file(".my.cnf", "[client]\npassword=" + root_password + "\n");
    chmod((home.path() + "/.my.cnf").c_str(), 0600);
    ProgramResult ok = run(false, "", {}, home.path());
    std::string ok_log = read_file(dir + "/VADedeVeZovid.log");
    root.exec("ALTER USER 'root'@'localhost' IDENTIFIED BY ''");

    EXPECT_EQ(1, refused.exit_code);
    EXPECT_EQ("", zenity_calls()); /* no graphical session: nothing waits */
    EXPECT_EQ(std::vector<std::string>{"VADedeVeZovid: hint: the server refused root's password; "
                                       "put it in the [client] group of ~/.my.cnf (mode 600) and "
                                       "run again"},
              said_lines(refused.err, true));

    EXPECT_EQ(0, ok.exit_code) << ok.err;
    EXPECT_NE(std::string::npos,
              ok_log.find("INFO   : qv_DBEngine_report_option_file: client options are read from " +
                          home.path() + "/.my.cnf"));
    EXPECT_EQ(std::string::npos, ok_log.find("WARNING")); /* mode 600 */
    std::vector<std::string> secrets(std::begin(BUILT_IN_PASSWORDS), std::end(BUILT_IN_PASSWORDS));
    secrets.push_back(root_password);
    for (const std::string &secret : secrets)
        for (const std::string &text : {ok_log, ok.err, ok.out, refused.err, refused.out})
            EXPECT_EQ(std::string::npos, text.find(secret)) << secret;
    for (const std::string &account : SERVICE_ACCOUNT_NAMES)
        EXPECT_EQ(1u, root.query(std::string("SELECT 1 FROM mysql.user WHERE User='") + account +
                                 "' AND Host='localhost'")
                          .size());
}

TEST_F(EndToEndTest, OptionFileAsTheMariadbClientReadsItAndNothingInItRunsCode)
{
    /* root logs in with ed25519, a login method the tool allows, with a password that
     * two quotings read differently; the mariadb client says which is right. */
    ServerSession root;
    const std::string restore_ed25519 = install_ed25519(root);
    root.exec("ALTER USER 'root'@'localhost' IDENTIFIED VIA ed25519 USING PASSWORD('p w#x')");
    TempDir home("qv-home");
    const std::string cnf = home.path() + "/.my.cnf", plugins = home.dir("plugins");
    write_file(plugins + "/qvprobe.so", read_file(QV_PROBE_PATH));
    const std::string hostile =
        "init-command=CREATE DATABASE IF NOT EXISTS pwned\nplugin-dir=" + plugins +
        "\ndefault-auth=qvprobe\n";
    const struct {
        std::string content;
        mode_t mode;
        std::string hint; /* "": it logs in */
        bool ask_client;  /* the client would run the hostile lines */
    } files[] = {
        {"[client]\npassword=p w#x\n", 0600, "refused the password that " + cnf + " gives", true},
        {"[client]\npassword='p w#x' # note\n", 0600, "", true},
        {"[client]\npassword='p w#x'\n" + hostile, 0666,
         "and " + cnf + " was not used: others can write it (mode 666)", true},
        {"[client]\npassword='p w#x'\n" + hostile, 0600, "", false},
    };
    ScopedEnv server("MYSQL_UNIX_PORT", socket.c_str());
    for (const auto &f : files) {
        write_file(cnf, f.content);
        chmod(cnf.c_str(), f.mode);
        ProgramResult tool = run(false, "", {}, home.path());
        EXPECT_EQ(f.hint.empty() ? 0 : 1, tool.exit_code) << f.content << tool.err;
        EXPECT_NE(std::string::npos, tool.err.find(f.hint)) << tool.err;
        std::string client = "mariadb --defaults-file='" + cnf + "' -e 'SELECT 1' >/dev/null 2>&1";
        EXPECT_TRUE(!f.ask_client || f.hint.empty() == (system(client.c_str()) == 0)) << f.content;
    }
    const std::string log = read_file(dir + "/VADedeVeZovid.log");
    root.exec("ALTER USER 'root'@'localhost' IDENTIFIED VIA mysql_native_password USING "
              "PASSWORD('')");
    root.exec(restore_ed25519);
    EXPECT_TRUE(root.query("SHOW DATABASES LIKE 'pwned'").empty());
    EXPECT_NE(0, access((dir + "/qvprobe-loaded").c_str(), F_OK));
    EXPECT_NE(std::string::npos, log.find(": default-auth: refused: they make the client load"));
}

TEST_F(EndToEndTest, RootAdmittedBySocketAuthenticationOnly)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: the tool is run as root and as another user";
    /* What the server's packages install: root logs in only as the system's root. */
    ServerSession root;
    root.exec("ALTER USER 'root'@'localhost' IDENTIFIED VIA mysql_native_password USING "
              "'invalid' OR unix_socket");
    chmod(dir.c_str(), 0777); /* the other user writes its log here */
    ProgramResult as_nobody =
        run(false, "", {}, "",
            {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    std::string nobody_log = read_file(dir + "/VADedeVeZovid.log");
    ProgramResult as_root = run(false);
    root.exec("ALTER USER 'root'@'localhost' IDENTIFIED VIA mysql_native_password USING "
              "PASSWORD('')");

    EXPECT_EQ(1, as_nobody.exit_code) << as_nobody.err;
    EXPECT_NE(std::string::npos, nobody_log.find("ERROR  : do_connect: errno: 1698"));
    const std::string hint = "hint: the server admits root only for the system's root user; run "
                             "the tool as root, for example with sudo";
    EXPECT_NE(std::string::npos, nobody_log.find("ERROR  : " + hint));
    EXPECT_EQ(std::vector<std::string>{"VADedeVeZovid: " + hint}, said_lines(as_nobody.err, true));
    EXPECT_EQ(0, as_root.exit_code) << as_root.err;
}

TEST_F(EndToEndTest, CommandLineIsAnsweredWithoutTouchingServerOrLog)
{
    const std::string nowhere = "/tmp/qv-no-such-server.sock"; /* a run would fail */
    ProgramResult help = run(false, nowhere, {"--help"});
    EXPECT_EQ(0, help.exit_code);
    EXPECT_EQ(0u, help.out.find("Usage: VADedeVeZovid"));
    for (const char *topic : {"~/.my.cnf", "QV_BASE_LOGFILE_NAME", "QV_LOGFILE_NAME_PATTERN",
                              "MYSQL_UNIX_PORT", "Exit status", "128 + n", "--version", "--json"})
        EXPECT_NE(std::string::npos, help.out.find(topic)) << topic;
    ProgramResult version = run(false, nowhere, {"--version"});
    EXPECT_EQ(0, version.exit_code);
    EXPECT_EQ("VADedeVeZovid 4.0.0.0\n", version.out);
    for (const auto &args :
         std::vector<std::vector<std::string>>{{"--dry-run"},
                                               {"--help", "extra"},
                                               {""},
                                               {"provision"},
                                               {"--json"},
                                               {"--check", "--json", "--json"}}) {
        ProgramResult bad = run(false, nowhere, args);
        EXPECT_EQ(2, bad.exit_code) << args[0];
        EXPECT_EQ(1u, split_lines(bad.err).size()) << bad.err;
        EXPECT_EQ(0u, bad.err.find("VADedeVeZovid: unknown or extra argument '"));
        EXPECT_EQ("", bad.out);
    }
    for (const ProgramResult &r : {help, version})
        EXPECT_EQ("", r.err);
    struct stat st;
    EXPECT_NE(0, stat((dir + "/VADedeVeZovid.log").c_str(), &st)); /* no log was made */
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
    EXPECT_EQ(1u, said_lines(r.err, false).size());
    /* The server's warnings name the plugin; the hint says how to relax it. */
    const std::string hint = "hint: the server's simple_password_check refused the built-in "
                             "password of QuOrvAneIndeX; relax it while the suite is installed";
    ASSERT_EQ(1u, said_lines(r.err, true).size());
    EXPECT_EQ(0u, said_lines(r.err, true)[0].find("VADedeVeZovid: " + hint));
    auto lines = log_lines();
    expect_stamped(lines);
    size_t failure = find_line(lines, "ERROR  : qv_mysql_s_query: errno: 1819");
    ASSERT_LT(failure + 4, lines.size());
    EXPECT_NE(std::string::npos, lines[failure].find("TO 'QuOrvAneIndeX' IDENTIFIED BY '***'"));
    EXPECT_NE(std::string::npos, lines[failure + 1].find("ERROR  : qv_mysql_s_query: the server's "
                                                         "warnings: simple_password_check: "));
    EXPECT_NE(std::string::npos, lines[failure + 2].find("STACK_TRACE at MyDBEngine:"));
    EXPECT_NE(std::string::npos, lines[failure + 3].find("STACK_TRACE at AccountMaking:"));
    EXPECT_NE(std::string::npos, lines[failure + 4].find("ERROR  : " + hint));
    std::string log = read_file(dir + "/VADedeVeZovid.log");
    EXPECT_EQ(std::string::npos, log.find("m4hqzwtyop71v652kdnx"));
    EXPECT_EQ(
        1u,
        root.query("SELECT 1 FROM mysql.user WHERE User='QuorvaneInternal' AND Host='%'").size());
    EXPECT_EQ(0u, root.query("SELECT 1 FROM mysql.user WHERE User='DUVidIdeRiv'").size());
}

TEST_F(EndToEndTest, LogOnStandardErrorSaysWhyAndWhere)
{
    /* A file held by another instance, and a device that takes nothing: the first line
     * says why, every line of the run follows on standard error, and the failure
     * message is followed by where the log went. */
    std::string path = dir + "/VADedeVeZovid.log";
    std::ofstream(path) << "the other instance's log\n";
    int held = open(path.c_str(), O_WRONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(0, flock(held, LOCK_EX));
    const struct {
        const char *pattern, *why, *where;
    } cases[] = {
        {nullptr,
         "WARNING: qv_logger_create: the log file VADedeVeZovid.log is held by another "
         "instance of the tool; the log goes to standard error",
         "VADedeVeZovid.log could not be used; the log is above, on standard error"},
        {"/dev/full",
         "ERROR  : qv_logger_write: cannot write the log file /dev/full: No space left on "
         "device; the log goes on on standard error",
         "writing to /dev/full failed; the log's lines from then on are above, on standard "
         "error"},
    };
    for (const auto &c : cases) {
        extra_env["QV_LOGFILE_NAME_PATTERN"] =
            c.pattern ? std::optional<std::string>(c.pattern) : std::nullopt;
        ProgramResult ok = run(false);
        ProgramResult failed = run(true, "/tmp/qv-no-such-server.sock");
        EXPECT_EQ(0, ok.exit_code) << ok.err;
        EXPECT_EQ(1, failed.exit_code) << failed.err;
        for (const ProgramResult &r : {ok, failed}) {
            auto err = split_lines(r.err);
            EXPECT_EQ(c.why, without_thread_id(err.at(0)));
            EXPECT_EQ(1, std::count(err.begin(), err.end(), err[0]));
        }
        EXPECT_NE(std::string::npos, ok.err.find("INFO   : Closing log file\n"));
        EXPECT_NE(std::string::npos, failed.err.find("ERROR  : Cannot connect to localhost\n"));
        EXPECT_EQ((std::vector<std::string>{std::string("VADedeVeZovid: ") + FAILURE_TEXT,
                                            std::string("VADedeVeZovid: ") + c.where}),
                  said_lines(failed.err, false));
        printf("[ figures  ] log on standard error (%s): exit %d and %d, why and where said\n",
               c.pattern ? c.pattern : "held", ok.exit_code, failed.exit_code);
    }
    EXPECT_NE(std::string::npos, zenity_calls().find(FAILURE_TEXT));
    close(held);
    EXPECT_EQ("the other instance's log\n", read_file(path));
}

/* The lines of the check's table for the six forms, without its header, its summary and
 * its hints. */
std::vector<std::string> check_rows(const std::string &out)
{
    auto lines = split_lines(out);
    return lines.size() < 7 ? lines
                            : std::vector<std::string>(lines.begin() + 1, lines.begin() + 7);
}

/* The summary line of the check's report. */
std::string check_summary(const std::string &out)
{
    auto lines = split_lines(out);
    return lines.size() < 8 ? "" : lines[7];
}

TEST_F(EndToEndTest, CheckNamesEachDifferenceAndChangesNothing)
{
    ProgramResult before = run(false, "", {"--check"});
    EXPECT_EQ(1, before.exit_code) << before.err;
    for (const std::string &row : check_rows(before.out))
        EXPECT_NE(std::string::npos, row.find("  missing  -  ")) << row;
    EXPECT_EQ(0u,
              check_summary(before.out).find("0 of 6 account forms as they should be; 6 missing"));

    ASSERT_EQ(0, run(false).exit_code);
    const std::string log = read_file(dir + "/VADedeVeZovid.log");
    ServerSession root;
    ProgramResult after;
    /* With a hostile file that the tool accepts (its own, mode 600), the server still
     * sees the check's reading statements and nothing else. */
    write_file(dir + "/.my.cnf", "[client]\ninit-command=CREATE DATABASE pwned\nplugin-dir=/tmp\n"
                                 "default-auth=qvprobe\nssl=0\nconnect-timeout=5\n");
    chmod((dir + "/.my.cnf").c_str(), 0600);
    Rows server_log = general_log_during(root, [&] { after = run(false, "", {"--check"}); });
    unlink((dir + "/.my.cnf").c_str());
    EXPECT_EQ(0, after.exit_code) << after.err;
    for (const std::string &line : split_lines(after.err))
        EXPECT_NE(std::string::npos, line.find(": qv_DBEngine_report_option_file: ")) << line;
    EXPECT_EQ("6 of 6 account forms as they should be; 0 missing, 0 with other privileges, 0 "
              "with another password, 0 locked, 0 with the password expired, 0 requiring TLS the "
              "server lacks; 0 passwords unknown",
              check_summary(after.out));
    /* One login, root's, and three reading statements on it, four where the server has
     * PUBLIC (MariaDB 10.11 and later), whose grants every account holds. */
    const bool has_public = root.query("SELECT SUBSTRING_INDEX(VERSION(), '.', 1) * 100 + "
                                       "SUBSTRING_INDEX(SUBSTRING_INDEX(VERSION(), '.', 2), '.', "
                                       "-1) >= 1011")[0][0] == "1";
    std::vector<std::string> sent, logins;
    for (const auto &row : server_log)
        if (row[1] == "Query")
            sent.push_back(row[2]);
        else if (row[1] == "Connect")
            logins.push_back(row[2]);
    ASSERT_EQ(1u, logins.size());
    EXPECT_EQ(0u, logins[0].find("root@localhost")) << logins[0];
    ASSERT_EQ(has_public ? 4u : 3u, sent.size());
    const std::string wait = CHECK_WAIT;
    EXPECT_EQ(0u, sent[0].find(wait + "SELECT g.User, g.Host, g.Priv, ")) << sent[0];
    EXPECT_EQ(0u, sent[1].find(wait + "SELECT GRANTEE, PRIVILEGE_TYPE, ")) << sent[1];
    EXPECT_EQ(wait + "SHOW PRIVILEGES", sent[2]);
    EXPECT_EQ(wait + (has_public ? "SHOW GRANTS FOR PUBLIC" : "SHOW PRIVILEGES"), sent.back());
    printf("[ figures  ] check statements after root's login: %zu, logins: %zu\n", sent.size(),
           logins.size());
    nlohmann::json document = nlohmann::json::parse(run(false, "", {"--json", "--check"}).out);
    EXPECT_EQ(0, document["exit_status"]);
    EXPECT_EQ(6, document["summary"]["as_they_should_be"]);
    /* the server's own time, in UTC */
    const std::string time = document["time"];
    EXPECT_EQ("1", root.query("SELECT ABS(TIMESTAMPDIFF(SECOND, STR_TO_DATE('" + time +
                              "', '%Y-%m-%dT%H:%i:%sZ'), UTC_TIMESTAMP())) < 5")[0][0])
        << time;

    root.exec("REVOKE SELECT ON *.* FROM 'QuOrvAneIndeX'@'%'");
    root.exec("GRANT FILE ON *.* TO 'DUVidIdeRiv'@'localhost'");
    root.exec("ALTER USER 'DUVidIdeRiv'@'%' IDENTIFIED BY 'changed-by-hand'");
    root.exec("DROP USER 'QuorvaneInternal'@'localhost'");
    ProgramResult changed = run(false, "", {"--check"});
    EXPECT_EQ(1, changed.exit_code);
    const std::vector<std::string> expected = {
        "QuorvaneInternal  %          present  ok              ok",
        "QuorvaneInternal  localhost  missing  -               -",
        "QuOrvAneIndeX     %          present  missing SELECT  ok",
        "QuOrvAneIndeX     localhost  present  ok              ok",
        "DUVidIdeRiv       %          present  ok              differs (mysql_native_password: "
        "another password)",
        "DUVidIdeRiv       localhost  present  extra FILE      ok",
    };
    EXPECT_EQ(expected, check_rows(changed.out)) << changed.out;
    EXPECT_EQ("2 of 6 account forms as they should be; 1 missing, 2 with other privileges, 1 "
              "with another password, 0 locked, 0 with the password expired, 0 requiring TLS "
              "the server lacks; 0 passwords unknown",
              check_summary(changed.out));
    /* Each difference, the missing form's too, has its remedy: here, every one a run's. */
    ASSERT_EQ(9u, split_lines(changed.out).size());
    EXPECT_EQ(0u, split_lines(changed.out)[8].find("hint: run VADedeVeZovid ("));
    EXPECT_EQ(log, read_file(dir + "/VADedeVeZovid.log")); /* the run's log is untouched */

    ASSERT_EQ(0, run(false).exit_code);
    EXPECT_EQ(0, run(false, "", {"--check"}).exit_code);
}

TEST_F(EndToEndTest, CheckWithoutAServerGivesTheHint)
{
    /* --json goes before or after --check */
    for (const auto &args : std::vector<std::vector<std::string>>{
             {"--check"}, {"--check", "--json"}, {"--json", "--check"}}) {
        ProgramResult r = run(false, "/tmp/qv-no-such-server.sock", args);
        EXPECT_EQ(3, r.exit_code); /* a monitoring plugin's "unknown" */
        EXPECT_EQ(1u, said_lines(r.err, true).size()) << r.err;
        EXPECT_NE(std::string::npos, r.err.find("ERROR  : Cannot connect to localhost"));
        if (args.size() == 1) {
            /* what a monitoring system shows: why there is no verdict, and the remedy */
            const std::string said = said_lines(r.err, true).at(0);
            EXPECT_EQ("status unknown: the server could not be asked\n" +
                          said.substr(said.find("hint: ")) + "\n",
                      r.out);
            continue;
        }
        EXPECT_EQ("the server could not be asked", nlohmann::json::parse(r.out)["error"]);
    }
    struct stat st;
    EXPECT_NE(0, stat((dir + "/VADedeVeZovid.log").c_str(), &st));
}

/* Drops the accounts and the role that a hardened set-up of the check made. */
void drop_accounts_and_role(ServerSession &root)
{
    drop_accounts(root, SERVICE_ACCOUNT_NAMES);
    root.exec("DROP ROLE IF EXISTS qv_check_role");
}

TEST_F(EndToEndTest, CheckAnswersEachHardenedSetUpTruly)
{
    ServerSession root;
    const std::string restore_ed25519 = install_ed25519(root);
    /* What ALL on a database holds, as the server lists it (11.8 adds SHOW CREATE ROUTINE). */
    root.exec("CREATE USER qv_all_probe");
    root.exec("GRANT ALL ON mysql.* TO qv_all_probe");
    const std::string level3_on_mysql =
        "extra " +
        root.query("SELECT GROUP_CONCAT(PRIVILEGE_TYPE SEPARATOR ', ') FROM "
                   "information_schema.SCHEMA_PRIVILEGES WHERE GRANTEE = \"'qv_all_probe'@'%'\"")
            .at(0)
            .at(0) +
        " ON mysql.*";
    root.exec("DROP USER qv_all_probe");
    /* Whether the server has TLS, as it says itself: REQUIRE SSL differs only without. */
    const bool tls = root.query("SELECT @@have_ssl")[0][0] == "YES";
    /* A default lifetime applies to root too, whose record may not say when its password
     * was set: root's never expires meanwhile. */
    const std::string keep_root = "ALTER USER 'root'@'localhost' PASSWORD EXPIRE NEVER; ",
                      restore_root = "SET GLOBAL default_password_lifetime = 0; ALTER USER "
                                     "'root'@'localhost' PASSWORD EXPIRE DEFAULT";
    const std::string two_days_ago =
        "UPDATE mysql.global_priv SET Priv = JSON_SET(Priv, '$.password_last_changed', "
        "UNIX_TIMESTAMP() - 2 * 86400) WHERE Host = 'localhost' AND User = ";
    /* The form's row (its cells after account and host), the statements, one after
     * another, that set the server up, and those that put it back. Where oracle is set,
     * a session of the localhost form with its built-in password must work exactly when
     * the check finds the form present with its password ok. */
    const struct {
        size_t form; /* 0 to 5, in the table's order */
        int exit_code;
        bool a_run_mends, oracle;
        std::string row, setup, undo = "";
    } cases[] = {
        {2, 1, false, false, "present  extra CONNECTION ADMIN, SET USER  ok",
         "GRANT SET USER, CONNECTION ADMIN ON *.* TO 'QuOrvAneIndeX'@'%'"},
        {5, 1, false, false, "present  extra role qv_check_role (default)  ok",
         "CREATE ROLE qv_check_role; GRANT SUPER ON *.* TO qv_check_role; GRANT qv_check_role "
         "TO 'DUVidIdeRiv'@'localhost'; SET DEFAULT ROLE qv_check_role FOR "
         "'DUVidIdeRiv'@'localhost'"},
        {4, 1, false, false, "present  " + level3_on_mysql + "  ok",
         "GRANT ALL ON mysql.* TO 'DUVidIdeRiv'@'%'"},
        /* the grant option, one form too many, the other one too few */
        {4, 1, true, false, "present  extra GRANT OPTION  ok",
         "GRANT SELECT ON *.* TO 'DUVidIdeRiv'@'%' WITH GRANT OPTION"},
        {0, 1, true, false, "present  missing GRANT OPTION  ok",
         "REVOKE GRANT OPTION ON *.* FROM 'QuorvaneInternal'@'%'"},
        /* what PUBLIC holds, every account holds; and proxying root */
        {2, 1, false, false, "present  extra PROCESS (to PUBLIC), SELECT ON mysql.* (to PUBLIC)  ok",
         "GRANT PROCESS ON *.* TO PUBLIC; GRANT SELECT ON mysql.* TO PUBLIC",
         "REVOKE PROCESS ON *.* FROM PUBLIC; REVOKE SELECT ON mysql.* FROM PUBLIC"},
        {2, 1, false, false, "present  extra PROXY ON 'root'@'localhost'  ok",
         "GRANT PROXY ON 'root'@'localhost' TO 'QuOrvAneIndeX'@'%'"},
        {3, 1, false, true, "locked  ok  ok",
         "ALTER USER 'QuOrvAneIndeX'@'localhost' ACCOUNT LOCK"},
        {1, 1, true, true, "password expired  ok  ok",
         "ALTER USER 'QuorvaneInternal'@'localhost' PASSWORD EXPIRE"},
        /* a lifetime that passed on the server's clock, its own or the default; 0: never */
        {1, 1, true, true, "password expired  ok  ok",
         "ALTER USER 'QuorvaneInternal'@'localhost' PASSWORD EXPIRE INTERVAL 1 DAY; " +
             two_days_ago + "'QuorvaneInternal'; FLUSH PRIVILEGES"},
        {3, 1, true, true, "password expired  ok  ok",
         keep_root + "SET GLOBAL default_password_lifetime = 1; " + two_days_ago +
             "'QuOrvAneIndeX'; FLUSH PRIVILEGES",
         restore_root},
        {1, 0, true, true, "present  ok  ok",
         keep_root + "SET GLOBAL default_password_lifetime = 1; ALTER USER "
                     "'QuorvaneInternal'@'localhost' PASSWORD EXPIRE NEVER; " +
             two_days_ago + "'QuorvaneInternal'; FLUSH PRIVILEGES",
         restore_root},
        {0, tls ? 0 : 1, tls, false,
         tls ? "present  ok  ok" : "requires TLS; the server has none  ok  ok",
         "ALTER USER 'QuorvaneInternal'@'%' REQUIRE SSL WITH MAX_USER_CONNECTIONS 3"},
        {1, tls ? 0 : 1, tls, !tls,
         tls ? "present  ok  ok" : "requires TLS; the server has none  ok  ok",
         "ALTER USER 'QuorvaneInternal'@'localhost' REQUIRE SSL"},
        {3, 0, true, true, "present  ok  ok",
         "ALTER USER 'QuOrvAneIndeX'@'localhost' IDENTIFIED VIA ed25519 USING "
         "PASSWORD('m4hqzwtyop71v652kdnx;r-ploiuwbe3')"},
        {4, 1, true, false, "present  ok  differs (unix_socket: takes no password)",
         "ALTER USER 'DUVidIdeRiv'@'%' IDENTIFIED VIA unix_socket"},
    };
    auto exec_all = [&](const std::string &statements) {
        for (size_t at = 0, end; at < statements.size(); at = end + 2) {
            end = std::min(statements.find("; ", at), statements.size());
            root.exec(statements.substr(at, end - at));
        }
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.setup);
        drop_accounts_and_role(root);
        ASSERT_EQ(0, run(false).exit_code);
        exec_all(c.setup);
        struct Undo {
            std::function<void()> undo;
            ~Undo()
            {
                undo();
            }
        } undo{[&] { exec_all(c.undo); }};
        ProgramResult text = run(false, "", {"--check"});
        EXPECT_EQ(c.exit_code, text.exit_code) << text.out << text.err;
        std::vector<std::string> row = split_cells(check_rows(text.out).at(c.form));
        ASSERT_EQ(5u, row.size()) << text.out;
        EXPECT_EQ(split_cells(c.row), std::vector<std::string>(row.begin() + 2, row.end()))
            << text.out;
        if (c.oracle) {
            ServerSession login(SERVICE_ACCOUNT_NAMES[c.form / 2], BUILT_IN_PASSWORDS[c.form / 2]);
            /* An expired password logs in to a session that can only set it. */
            bool works = login.connected();
            try {
                works = works && login.query("SELECT 1").size() == 1;
            } catch (const std::runtime_error &) {
                works = false;
            }
            EXPECT_EQ(works, row[2] == "present" && row[4] == "ok") << login.error();
        }

        /* What a run mends, and what it leaves (a lock, other privileges, roles). */
        ASSERT_EQ(0, run(false).exit_code);
        std::vector<std::string> after =
            split_cells(check_rows(run(false, "", {"--check"}).out).at(c.form));
        EXPECT_EQ(c.a_run_mends,
                  (after == std::vector<std::string>{row[0], row[1], "present", "ok", "ok"}))
            << after[2] << " / " << after[3] << " / " << after[4];
    }
    drop_accounts_and_role(root);
    root.exec(restore_ed25519);
}

TEST_F(EndToEndTest, RunningReplicaIsRefusedAndGetsTheAccountsFromItsPrimary)
{
    /* A source and a replica of it, whose replication runs (read_only stays off), of the
     * same system as the private server. */
    TempDir state("qv-replica");
    const std::string script = QV_SOURCE_DIR "/tests/support/private-replica.sh";
    const char *servers = getenv("QV_TEST_SERVER_STATE");
    const std::string system_root =
        servers ? read_file(std::string(servers) + "/root") : std::string();
    ASSERT_EQ(0, system((script + " start " + state.path() + " '" +
                         system_root.substr(0, system_root.find('\n')) + "' > /dev/null")
                            .c_str()));
    struct Stop {
        std::string command;
        ~Stop()
        {
            EXPECT_EQ(0, system(command.c_str()));
        }
    } stop{script + " stop " + state.path()};
    auto socket_of = [&](const char *file) {
        return split_lines(read_file(state.path() + "/" + file)).at(0);
    };
    const std::string source = socket_of("source-socket"), replica = socket_of("replica-socket");
    ServerSession on_source("root", "", source), on_replica("root", "", replica);
    const std::string accounts = "SELECT User, Host FROM mysql.user WHERE User IN "
                                 "('QuorvaneInternal', 'QuOrvAneIndeX', 'DUVidIdeRiv')";

    ProgramResult refused = run(false, replica);
    EXPECT_EQ(1, refused.exit_code);
    EXPECT_EQ(std::vector<std::string>{"VADedeVeZovid: hint: the server is a replica whose "
                                       "replication runs; run the tool on the primary: "
                                       "replication brings the accounts here"},
              said_lines(refused.err, true));
    EXPECT_EQ(0u, on_replica.query(accounts).size()); /* nothing was written there */

    /* Run on the primary, the replica gets the accounts, as the check there says. */
    ASSERT_EQ(0, run(false, source).exit_code);
    const std::string position = on_source.query("SELECT @@gtid_binlog_pos")[0][0];
    ASSERT_EQ("0", on_replica.query("SELECT MASTER_GTID_WAIT('" + position + "', 30)")[0][0]);
    EXPECT_EQ(6u, on_replica.query(accounts).size());
    ProgramResult check = run(false, replica, {"--check"});
    EXPECT_EQ(0, check.exit_code) << check.out << check.err;
}

/* text as the log may show it: each built-in password replaced by "***". */
std::string masked(std::string text)
{
    for (const char *secret : BUILT_IN_PASSWORDS)
        for (size_t at; (at = text.find(secret)) != std::string::npos;)
            text.replace(at, strlen(secret), "***");
    return text;
}

TEST_F(EndToEndTest, ConnectionLostAtEachLoginAndStatementFailsAndARerunCompletesTheAccounts)
{
    ServerSession root;
    ASSERT_EQ(0, run(false).exit_code);
    const std::vector<std::string> clean = show_grants(root, SERVICE_ACCOUNT_NAMES);
    std::vector<std::string> sent;
    unsigned logins = 0;
    {
        drop_accounts(root, SERVICE_ACCOUNT_NAMES);
        Relay relay(socket, {});
        ProgramResult r = run(false, relay.socket());
        ASSERT_EQ(0, r.exit_code) << r.err;
        sent = relay.statements();
        logins = relay.logins();
    }
    EXPECT_EQ(clean, show_grants(root, SERVICE_ACCOUNT_NAMES));
    EXPECT_EQ(3u, logins);
    EXPECT_EQ(1 + 18u, sent.size()); /* the detection, then the accounts' */
    EXPECT_EQ(0u, sent.at(0).find("SELECT @@read_only AS read_only, "));

    const std::string hint = "hint: the server stopped answering (a lock held by another "
                             "session, such as a backup's FLUSH TABLES WITH READ LOCK, or a "
                             "restart); run again when it answers";
    /* Each login and statement: the answer lost, then the answer passed on and the
     * connection closed before the next statement. */
    std::vector<RelayFault> faults;
    for (bool after_answer : {false, true}) {
        for (unsigned n = 1; n <= logins; n++)
            faults.push_back({RelayFault::LOGIN, n, after_answer});
        for (unsigned k = 1; k <= sent.size(); k++)
            faults.push_back({RelayFault::STATEMENT, k, after_answer});
    }
    unsigned completed = 0;
    for (const RelayFault &fault : faults) {
        SCOPED_TRACE((fault.point == RelayFault::LOGIN ? "login " : "statement ") +
                     std::to_string(fault.number) +
                     (fault.after_answer ? ", after its answer" : ""));
        drop_accounts(root, SERVICE_ACCOUNT_NAMES);
        Relay relay(socket, fault);
        ProgramResult r = run(false, relay.socket());
        const std::string log = read_file(dir + "/VADedeVeZovid.log");
        auto lines = split_lines(log);
        EXPECT_TRUE(relay.broke());
        std::vector<std::string> relayed = relay.statements();
        ASSERT_LE(relayed.size(), sent.size());
        EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + relayed.size()), relayed);
        if (fault.after_answer && r.exit_code == 0) {
            /* the connection had nothing more to send */
            EXPECT_EQ(sent.size(), relayed.size());
            completed++;
        } else if (fault.point == RelayFault::LOGIN && !fault.after_answer) {
            EXPECT_EQ(1, r.exit_code);
            EXPECT_NE(std::string::npos, log.find("ERROR  : do_connect: errno: 2013")) << log;
        } else {
            /* the statement whose answer was lost, or the next one, sent into the closed
             * connection and never relayed */
            EXPECT_EQ(1, r.exit_code);
            size_t failed = fault.after_answer ? relayed.size() : fault.number - 1;
            if (fault.point == RelayFault::STATEMENT) {
                EXPECT_EQ(fault.number, relayed.size());
            }
            ASSERT_LT(failed, sent.size());
            /* A statement sent into a closed connection meets 2006 or, when the send
             * still succeeded, 2013. */
            size_t failure = std::min(
                find_line(lines, "ERROR  : qv_mysql_s_query: errno: 2013 "),
                fault.after_answer ? find_line(lines, "ERROR  : qv_mysql_s_query: errno: 2006 ")
                                   : lines.size());
            ASSERT_LT(failure, lines.size()) << log;
            const std::string &line = lines[failure];
            std::string tail = " query: " + masked(sent[failed]);
            EXPECT_EQ(tail, line.substr(line.size() - std::min(line.size(), tail.size()))) << line;
        }
        if (r.exit_code != 0) {
            EXPECT_NE(std::string::npos, log.find("ERROR  : " + hint));
            EXPECT_EQ(std::vector<std::string>{"VADedeVeZovid: " + hint}, said_lines(r.err, true));
        }
        for (const char *secret : BUILT_IN_PASSWORDS)
            EXPECT_EQ(std::string::npos, (log + r.err + r.out).find(secret)) << secret;

        ASSERT_EQ(0, run(false).exit_code);
        EXPECT_EQ(clean, show_grants(root, SERVICE_ACCOUNT_NAMES));
    }
    /* A connection closed after the last statement of its account goes unnoticed. */
    EXPECT_EQ(logins, completed);
    printf("[ figures  ] %zu relay fault points (%u logins, %zu statements; each with the "
           "answer lost and with the connection closed after it)\n",
           faults.size(), logins, sent.size());
}

TEST_F(EndToEndTest, StopSignalDuringAGrantHeldBehindALockIsLoggedAndARerunCompletes)
{
    ServerSession root;
    ASSERT_EQ(0, run(false).exit_code);
    const std::vector<std::string> clean = show_grants(root, SERVICE_ACCOUNT_NAMES);
    std::string figures;
    for (int number : {SIGTERM, SIGINT, SIGHUP}) {
        const std::string name = sigabbrev_np(number);
        SCOPED_TRACE(name);
        drop_accounts(root, SERVICE_ACCOUNT_NAMES);
        auto backup = std::make_unique<ServerSession>(); /* holds the lock as a backup would */
        backup->exec("FLUSH TABLES WITH READ LOCK");
        RunningProgram tool = start();
        bool waiting = false;
        for (int i = 0; i < 200 && !waiting; i++, usleep(50000))
            waiting = root.query("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE "
                                 "INFO LIKE 'GRANT %' AND STATE LIKE 'Waiting%'")[0][0] != "0";
        EXPECT_TRUE(waiting);
        kill(tool.pid, number);
        ProgramResult r = finish_program(tool);
        backup.reset(); /* the lock goes with its session */
        EXPECT_TRUE(wait_until_no_session(root, "USER = 'root' AND ID <> CONNECTION_ID()"));

        EXPECT_EQ(128 + number, r.exit_code);
        auto lines = log_lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(has_stamp_and_thread_id(lines.back())) << lines.back();
        EXPECT_EQ("ERROR  : Stopped by SIG" + name +
                      " while creating the account QuorvaneInternal; the accounts before it "
                      "stay; run the tool again to complete them",
                  lines.back().substr(34));
        EXPECT_EQ(lines.back().substr(25), split_lines(r.err).back());
        ASSERT_EQ(0, run(false).exit_code);
        EXPECT_EQ(clean, show_grants(root, SERVICE_ACCOUNT_NAMES));
        figures += " SIG" + name + " exit " + std::to_string(r.exit_code) + ";";
    }
    printf("[ figures  ] stop signals during a GRANT held behind a lock:%s each logged, each "
           "re-run converged\n",
           figures.c_str());
}

TEST_F(EndToEndTest, StopLineSaysWhereTheRunStood)
{
    /* Before the accounts: another instance holds the log file, so the log goes to
     * standard error, a pipe kept full: the tool waits at its first line. */
    const std::string path = dir + "/VADedeVeZovid.log";
    std::ofstream(path) << "the other instance's log\n";
    int held = open(path.c_str(), O_WRONLY);
    ASSERT_EQ(0, flock(held, LOCK_EX));
    int pipe_fds[2];
    ASSERT_EQ(0, pipe(pipe_fds));
    fcntl(pipe_fds[1], F_SETPIPE_SZ, 4096);
    fcntl(pipe_fds[1], F_SETFL, O_NONBLOCK);
    while (write(pipe_fds[1], (std::string(511, 'x') + "\n").data(), 512) > 0) {
    }
    fcntl(pipe_fds[1], F_SETFL, 0);
    err_fd = pipe_fds[1];
    RunningProgram before = start();
    err_fd = -1;
    close(pipe_fds[1]);
    /* Blocked in write(2) (x86-64's call 1) on standard error; a sanitizer may sleep before. */
    const std::string call = "/proc/" + std::to_string(before.pid) + "/syscall";
    for (int i = 0; i < 1000 && read_file(call).rfind("1 0x2 ", 0) != 0; i++)
        usleep(10000);
    EXPECT_EQ(0u, read_file(call).rfind("1 0x2 ", 0)) << read_file(call);
    kill(before.pid, SIGTERM);
    const std::string err = read_file("/proc/self/fd/" + std::to_string(pipe_fds[0]));
    close(pipe_fds[0]);
    EXPECT_EQ(128 + SIGTERM, finish_program(before).exit_code);
    EXPECT_EQ("ERROR  : Stopped by SIGTERM before the accounts were created",
              without_thread_id(split_lines(err).back()));
    close(held);

    /* After the run: the failure message waits for its dialog to be dismissed. */
    std::ofstream(bin + "/zenity") << "#!/bin/sh\necho $$ > \"" << dir << "/zenity-pid.new\"\nmv \""
                                   << dir << "/zenity-pid.new\" \"" << dir
                                   << "/zenity-pid\"\nexec sleep 60\n";
    RunningProgram after = start(true, "/tmp/qv-no-such-server.sock");
    std::string dialog;
    for (int i = 0; i < 1000 && (dialog = read_file(dir + "/zenity-pid")).empty(); i++)
        usleep(10000);
    ASSERT_FALSE(dialog.empty()) << "the dialog was never shown";
    EXPECT_TRUE(wait_until_blocked(static_cast<uint32_t>(after.pid)));
    kill(after.pid, SIGTERM);
    ProgramResult r = finish_program(after);
    kill(std::stoi(dialog), SIGKILL);
    EXPECT_EQ(128 + SIGTERM, r.exit_code);
    auto lines = log_lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(has_stamp_and_thread_id(lines.back())) << lines.back();
    EXPECT_EQ("ERROR  : Stopped by SIGTERM after the run", lines.back().substr(34));
}

} // namespace
