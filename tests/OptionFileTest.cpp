/*
 * The option file's options as the connection gets them, on Linux and under Wine: each
 * option the tool uses reaches the client library through mysql_optionsv, whatever the
 * client's spelling of its name; the others are named in the log and go no further;
 * every connection allows only the platform's login methods; a file others can write,
 * an included device, a UTF-8 byte-order mark and UTF-16 get the platform's rule.
 */
#include <gtest/gtest.h>

#include <mysql.h>

#include <map>
#include <string>
#include <vector>

#include "Interfaces/dbengine/MySQL/MyDBEngine.h"
#include "tests/support/FakeMysql.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestPlatform.h"

namespace
{

/* What the platform allows: the login methods, a plugin folder of the tool's own (the
 * executable's), a UTF-8 byte-order mark. Linux allows PAM's methods over its socket.
 * And a device that reads without end. */
#ifdef _WIN32
const char DEVICE[] = "NUL";
const char METHODS[] = "mysql_native_password,caching_sha2_password,sha256_password,"
                       "client_ed25519,parsec";
const bool WINDOWS = true;
#else
const char DEVICE[] = "/dev/zero";
const char METHODS[] = "mysql_native_password,caching_sha2_password,sha256_password,"
                       "client_ed25519,parsec,dialog,mysql_clear_password";
const bool WINDOWS = false;
#endif

/* Runs one account's creation with the option file content in a home of its own (that
 * others can write, with writable), and returns the lines the report logs; the fake
 * client keeps what the connection got. */
std::vector<std::string> run_with(const std::string &content, bool writable = false)
{
    TempDir home("qv-home");
    ScopedEnv unix_home("HOME", home.path().c_str());
    ScopedEnv windows_home("USERPROFILE", home.path().c_str());
    std::string path = home.file(".my.cnf", content);
    EXPECT_TRUE(!writable || let_others_write(path));
    fake_mysql_reset();
    StderrCapture capture;
    qv_DBEngine_report_option_file();
    std::vector<std::string> lines = capture.finish();
    EXPECT_EQ(0u, qv_DBEngine_add_user_with_host("localhost", nullptr, nullptr, 3306, nullptr, "N",
                                                 "P", QV_PRIV_USAGE));
    return lines;
}

TEST(OptionFile, UsedOptionsReachTheLibraryAndTheOthersAreNamed)
{
    std::vector<std::string> lines =
        run_with("[client]\nhost=elsewhere\npassword=first\ninit-command=CREATE DATABASE pwned\n"
                 "[mysql]\nplugin-dir=/tmp\n[client-server]\nPlugin_Dir=/tmp/x\ndefault-auth=x\n"
                 "Password=\"a b\"\nloose_socket=/run/s\nssl_ca=/ca.pem\nskip-ssl\n"
                 "connect-timeout=99\nno-such-option=1\nssl-verify-server-cert=yes\n");
    const auto &got = fake_mysql().connections.at(0).options;
    const std::map<int, std::string> expected = {
        {MYSQL_OPT_CONNECT_TIMEOUT, "30"}, {MYSQL_OPT_READ_TIMEOUT, "120"},
        {MYSQL_OPT_WRITE_TIMEOUT, "120"},  {MARIADB_OPT_RESTRICTED_AUTH, METHODS},
        {MARIADB_OPT_PASSWORD, "a b"},     {MARIADB_OPT_UNIXSOCKET, "/run/s"},
        {MYSQL_OPT_SSL_CA, "/ca.pem"},     {MYSQL_OPT_SSL_ENFORCE, "0"},
    };
    for (const auto &[option, value] : expected)
        EXPECT_EQ(value, got.count(option) ? got.at(option) : "(not set)") << option;
    EXPECT_EQ(WINDOWS ? 1u : 0u, got.count(MYSQL_PLUGIN_DIR));
    EXPECT_EQ(expected.size() + got.count(MYSQL_PLUGIN_DIR), got.size());
    const std::string refused = ": refused: they make the client load code or run SQL";
    const std::vector<std::string> tails = {
        " line 2: host: not used: the tool logs in as root at localhost, port 3306",
        " line 4: init-command" + refused,
        " line 8: Plugin_Dir" + refused,
        " line 9: default-auth" + refused,
        " line 14: connect-timeout (99): used up to 30 seconds, the tool's own bound",
        " line 15: no-such-option: ignored",
        " line 16: ssl-verify-server-cert (not 1, 0, on, off, true or false): ignored",
    };
    ASSERT_LE(1 + tails.size(), lines.size()); /* a file others can read: one more */
    for (size_t i = 0; i < tails.size(); i++)
        EXPECT_NE(std::string::npos, lines[i + 1].find(tails[i])) << lines[i + 1];
}

TEST(OptionFile, EachFileByThePlatformsRule)
{
    const struct {
        std::string content;
        bool writable;
        size_t line; /* the line of the report that says */
        std::string says;
        bool used;
    } cases[] = {
        {"[client]\npassword=x\n", true, 0, ": others can write it (", false},
        {std::string("[client]\n!include ") + DEVICE + "\npassword=x\n", false, 1,
         DEVICE + std::string(": not a regular file (a character device): skipped"), true},
        {"\xef\xbb\xbf[client]\npassword=marked\n", false, 0,
         WINDOWS ? "client options are read from" : ": a UTF-8 byte-order mark: not used", WINDOWS},
        {std::string("\xff\xfe[\0c\0", 6), false, 0,
         ": saved as UTF-16: not used: save it as UTF-8", false},
    };
    for (const auto &c : cases) {
        std::vector<std::string> lines = run_with(c.content, c.writable);
        ASSERT_LT(c.line, lines.size()) << c.content;
        EXPECT_NE(std::string::npos, lines[c.line].find(c.says)) << lines[c.line];
        EXPECT_EQ(c.used ? 1u : 0u,
                  fake_mysql().connections.at(0).options.count(MARIADB_OPT_PASSWORD))
            << c.content;
    }
}

} // namespace
