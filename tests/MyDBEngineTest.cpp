/*
 * Tests of the database engine over the fake client calls: the statement sequence of
 * every level, a failure at every position, argument checks in their order, error
 * number mapping, masking of passwords, and allocation failures.
 */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Interfaces/dbengine/MySQL/MyDBEngine.h"
#include "QVLib/QVmalloc.h"
#include "tests/support/FakeMysql.h"
#include "tests/support/LogCapture.h"

namespace
{

const char DATA[] = "ALTER,CREATE,DELETE,DROP,INDEX,INSERT,REFERENCES,SELECT,UPDATE";
const char ADMIN[] = "FILE,PROCESS,RELOAD,SHUTDOWN";

/* The statements each level must send, for account N with password P. */
std::vector<std::string> expected_statements(int level)
{
    const std::string to_any = "TO 'N' IDENTIFIED BY 'P'";
    const std::string to_local = "TO 'N'@'localhost' IDENTIFIED BY 'P'";
    const std::string from_any = "FROM 'N'";
    const std::string from_local = "FROM 'N'@'localhost'";
    std::vector<std::string> s;
    auto pair = [&](const std::string &head, bool grant, const std::string &tail = "") {
        s.push_back(head + (grant ? to_any : from_any) + tail);
        s.push_back(head + (grant ? to_local : from_local) + tail);
    };
    switch (level) {
    case QV_PRIV_ALL_GRANT:
        pair("GRANT ALL ON *.* ", true, " WITH GRANT OPTION");
        break;
    case QV_PRIV_ALL:
        pair("GRANT ALL ON *.* ", true);
        pair("REVOKE GRANT OPTION ON *.* ", false);
        break;
    case QV_PRIV_DATA:
    case QV_PRIV_DATA_RELOAD:
        pair(std::string("GRANT ") + DATA + " ON *.* ", true);
        pair("REVOKE GRANT OPTION ON *.* ", false);
        pair(std::string("REVOKE ") + ADMIN + " ON *.* ", false);
        if (level == QV_PRIV_DATA_RELOAD)
            pair("GRANT RELOAD ON *.* ", true);
        break;
    case QV_PRIV_USAGE:
        pair("GRANT USAGE ON *.* ", true);
        pair("REVOKE GRANT OPTION ON *.* ", false);
        pair(std::string("REVOKE ") + ADMIN + " ON *.* ", false);
        pair(std::string("REVOKE ") + DATA + " ON *.* ", false);
        break;
    }
    return s;
}

class EngineTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        fake_mysql_reset();
    }
    void TearDown() override
    {
        qv_malloc_fail_nth(0);
    }

    unsigned add(int level, const char *name = "N", const char *password = "P")
    {
        return qv_DBEngine_add_user_with_host("localhost", nullptr, nullptr, 3306, nullptr, name,
                                              password, level);
    }
};

TEST_F(EngineTest, ErrorNumbersMapAtTheBorders)
{
    const std::pair<int, unsigned> cases[] = {
        {0, 0},     {-1, 30},   {999, 30},  {1000, 28}, {1044, 28}, {1045, 27},
        {1046, 28}, {1999, 28}, {2000, 29}, {2999, 29}, {3000, 30}, {-2147483647 - 1, 30},
    };
    for (auto [number, status] : cases)
        EXPECT_EQ(status, qv_mysql_errno_to_status(number)) << number;
}

TEST_F(EngineTest, EachLevelSendsItsSequenceOnOneConnection)
{
    const size_t counts[] = {2, 4, 6, 8, 8};
    for (int level = 0; level <= 4; level++) {
        fake_mysql_reset();
        ASSERT_EQ(0u, add(level)) << level;
        const FakeMysql &fake = fake_mysql();
        ASSERT_EQ(1u, fake.connections.size());
        const FakeConnection &c = fake.connections[0];
        EXPECT_EQ(counts[level], c.statements.size());
        EXPECT_EQ(expected_statements(level), c.statements) << "level " << level;
        EXPECT_TRUE(c.closed);
        EXPECT_EQ(0, fake.open_handles);
    }
}

TEST_F(EngineTest, WorkedExampleOfLevelThreeByteForByte)
{
    ASSERT_EQ(0u, add(QV_PRIV_DATA_RELOAD));
    const std::vector<std::string> expected = {
        "GRANT ALTER,CREATE,DELETE,DROP,INDEX,INSERT,REFERENCES,SELECT,UPDATE ON *.* TO 'N' "
        "IDENTIFIED BY 'P'",
        "GRANT ALTER,CREATE,DELETE,DROP,INDEX,INSERT,REFERENCES,SELECT,UPDATE ON *.* TO "
        "'N'@'localhost' IDENTIFIED BY 'P'",
        "REVOKE GRANT OPTION ON *.* FROM 'N'",
        "REVOKE GRANT OPTION ON *.* FROM 'N'@'localhost'",
        "REVOKE FILE,PROCESS,RELOAD,SHUTDOWN ON *.* FROM 'N'",
        "REVOKE FILE,PROCESS,RELOAD,SHUTDOWN ON *.* FROM 'N'@'localhost'",
        "GRANT RELOAD ON *.* TO 'N' IDENTIFIED BY 'P'",
        "GRANT RELOAD ON *.* TO 'N'@'localhost' IDENTIFIED BY 'P'",
    };
    EXPECT_EQ(expected, fake_mysql_statements());
}

TEST_F(EngineTest, ConnectionArguments)
{
    ASSERT_EQ(0u, qv_DBEngine_add_user_with_host("db.example", nullptr, "ignored", 3307,
                                                 "/run/mysqld/mysqld.sock", "N", "P", 4));
    const FakeConnection &c = fake_mysql().connections.at(0);
    EXPECT_EQ("db.example", c.host.value());
    EXPECT_EQ("root", c.user.value()); /* no user: root with no password */
    EXPECT_FALSE(c.password.has_value());
    EXPECT_EQ("mysql", c.database.value());
    EXPECT_EQ(3307u, c.port);
    EXPECT_EQ("/run/mysqld/mysqld.sock", c.unix_socket.value());
    EXPECT_EQ(0u, c.client_flags);

    fake_mysql_reset();
    ASSERT_EQ(0u, qv_DBEngine_add_user_with_host("", "admin", nullptr, 0, nullptr, "N", "P", 4));
    const FakeConnection &d = fake_mysql().connections.at(0);
    EXPECT_FALSE(d.host.has_value()); /* empty host: the library's default */
    EXPECT_EQ("admin", d.user.value());
    EXPECT_FALSE(d.password.has_value());
    EXPECT_FALSE(d.unix_socket.has_value());

    fake_mysql_reset();
    ASSERT_EQ(0u, qv_DBEngine_add_user_with_host("h", "admin", "secret", 1, "", "N", "P", 4));
    EXPECT_EQ("secret", fake_mysql().connections.at(0).password.value());
}

TEST_F(EngineTest, FailureAtEachPositionStopsTheSequence)
{
    for (int level = 0; level <= 4; level++) {
        size_t count = expected_statements(level).size();
        for (size_t position = 1; position <= count; position++) {
            fake_mysql_reset();
            fake_mysql().fail_statement = static_cast<int>(position);
            fake_mysql().statement_errno = 1133;
            StderrCapture capture;
            EXPECT_EQ(28u, add(level));
            auto lines = capture.finish();
            const FakeMysql &fake = fake_mysql();
            ASSERT_EQ(static_cast<int>(position), fake.statements_sent) << level << "/" << position;
            EXPECT_EQ(0, fake.open_handles);
            EXPECT_EQ("close 1", fake.events.back());
            ASSERT_EQ(3u, lines.size());
            EXPECT_EQ(0u, lines[0].find("ERROR  : qv_mysql_s_query: errno: 1133 msg: "));
            EXPECT_EQ(0u, lines[1].find("STACK_TRACE at MyDBEngine:"));
            EXPECT_EQ(0u, lines[2].find("STACK_TRACE at MyDBEngine:"));
            EXPECT_NE(lines[1], lines[2]);
        }
    }
}

TEST_F(EngineTest, StatementErrorsMapToTheirStatus)
{
    const std::pair<int, unsigned> cases[] = {
        {1045, 27}, {1064, 28}, {2013, 29}, {3000, 30}, {0, 30}};
    for (auto [number, status] : cases) {
        fake_mysql_reset();
        fake_mysql().fail_statement = 3;
        fake_mysql().statement_errno = number;
        StderrCapture capture;
        EXPECT_EQ(status, add(QV_PRIV_DATA)) << number;
        EXPECT_EQ(3, fake_mysql().statements_sent);
        /* the first two GRANTs were sent and are not undone */
        EXPECT_EQ(0u, fake_mysql_statements()[0].find("GRANT "));
    }
}

TEST_F(EngineTest, ConnectFailures)
{
    fake_mysql().connect_fails = true;
    fake_mysql().connect_errno = 2002;
    StderrCapture capture;
    EXPECT_EQ(29u, add(QV_PRIV_ALL));
    auto lines = capture.finish();
    EXPECT_EQ(0, fake_mysql().statements_sent);
    EXPECT_EQ(0, fake_mysql().open_handles);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("ERROR  : do_connect: errno: 2002  msg: Can't connect to local server through "
              "socket",
              lines[0]);
    EXPECT_EQ(0u, lines[1].find("STACK_TRACE at MyDBEngine:"));
    EXPECT_EQ("ERROR  : Cannot connect to localhost", lines[2]);

    const std::pair<int, unsigned> cases[] = {
        {1045, 27}, {1130, 28}, {2003, 29}, {0, 30}, {-5, 30}};
    for (auto [number, status] : cases) {
        fake_mysql_reset();
        fake_mysql().connect_fails = true;
        fake_mysql().connect_errno = number;
        StderrCapture quiet;
        EXPECT_EQ(status, add(QV_PRIV_ALL)) << number;
        EXPECT_EQ(0, fake_mysql().open_handles) << number; /* the handle is closed */
    }
}

TEST_F(EngineTest, NoConnectionHandle)
{
    fake_mysql().init_fails = true;
    StderrCapture capture;
    EXPECT_EQ(26u, add(QV_PRIV_ALL));
    auto lines = capture.finish();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("ERROR  : do_connect: mysql_init() failed (probably out of memory)", lines[0]);
    EXPECT_EQ("ERROR  : Cannot connect to localhost", lines[2]);
}

TEST_F(EngineTest, ArgumentChecksInTheirOrder)
{
    struct Case {
        const char *host, *name, *password;
        int priv;
        const char *message;
    } cases[] = {
        {nullptr, nullptr, nullptr, 9, "!host"},
        {"h", nullptr, nullptr, 9, "!newusername"},
        {"h", "N", nullptr, 9, "!newuserpassword"},
        {"h", "N", "P", 5, "invalid priv"},
        {"h", "N", "P", -1, "invalid priv"},
        {"h", "", "P'", 0, "empty newusername"},
        {"h", "N'x", "P'", 0, "unsafe newusername"},
        {"h", "N\\", "P", 0, "unsafe newusername"},
        {"h", "N", "P'; DROP USER root; --", 0, "unsafe newuserpassword"},
        {"h", "N", "back\\slash", 0, "unsafe newuserpassword"},
    };
    for (const Case &c : cases) {
        fake_mysql_reset();
        StderrCapture capture;
        EXPECT_EQ(1u, qv_DBEngine_add_user_with_host(c.host, nullptr, nullptr, 3306, nullptr,
                                                     c.name, c.password, c.priv));
        auto lines = capture.finish();
        ASSERT_EQ(1u, lines.size()) << c.message;
        EXPECT_EQ(0u, lines[0].find("ERROR   at MyDBEngine:"));
        EXPECT_NE(std::string::npos,
                  lines[0].find(std::string(": qv_DBEngine_add_user_with_host: ") + c.message))
            << lines[0];
        EXPECT_TRUE(fake_mysql().events.empty()) << c.message;
    }
    /* an empty password is a password like any other */
    fake_mysql_reset();
    EXPECT_EQ(0u, add(QV_PRIV_USAGE, "N", ""));
    EXPECT_EQ("GRANT USAGE ON *.* TO 'N' IDENTIFIED BY ''", fake_mysql_statements()[0]);
}

TEST_F(EngineTest, StatementsThatWouldBeCutAreRefused)
{
    /* "TO '<name>'@'localhost' IDENTIFIED BY '<password>'" has 34 fixed characters;
     * level 0 adds "GRANT ALL ON *.* " and " WITH GRANT OPTION" (35). */
    std::string password = "P";
    std::string fits(1023 - 34 - 35 - 1, 'n');
    EXPECT_EQ(0u, add(QV_PRIV_ALL_GRANT, fits.c_str(), password.c_str()));
    EXPECT_EQ(1023u, fake_mysql_statements()[1].size());

    fake_mysql_reset();
    std::string too_long = fits + "n";
    StderrCapture capture;
    EXPECT_EQ(1u, add(QV_PRIV_ALL_GRANT, too_long.c_str(), password.c_str()));
    auto lines = capture.finish();
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos,
              lines[0].find("qv_DBEngine_add_user_with_host: statement too long"));
    EXPECT_TRUE(fake_mysql().events.empty());

    /* a fragment alone that does not fit */
    std::string huge(2000, 'n');
    StderrCapture capture2;
    EXPECT_EQ(1u, add(QV_PRIV_USAGE, "N", huge.c_str()));
    EXPECT_TRUE(any_line_contains(capture2.finish(), "statement too long"));
    EXPECT_TRUE(fake_mysql().events.empty());
}

TEST_F(EngineTest, PasswordsNeverReachTheLog)
{
    const char *password = "Rm5#Tq8w!Zp2";
    fake_mysql().fail_statement = 2;
    fake_mysql().statement_error = std::string("You have an error near 'IDENTIFIED BY '") +
                                   password + "' and " + password + " again";
    StderrCapture capture;
    EXPECT_EQ(28u, qv_DBEngine_add_user_with_host("localhost", "admin", "AdminPw42", 3306, nullptr,
                                                  "N", password, QV_PRIV_ALL));
    auto lines = capture.finish();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("ERROR  : qv_mysql_s_query: errno: 1064 msg: You have an error near 'IDENTIFIED "
              "BY '***' and *** again query: GRANT ALL ON *.* TO 'N'@'localhost' IDENTIFIED "
              "BY '***'",
              lines[0]);

    /* the administrator's password in a server message */
    fake_mysql_reset();
    fake_mysql().fail_statement = 1;
    fake_mysql().statement_error = "cut message ending IDENTIFIED BY 'AdminP";
    StderrCapture capture2;
    qv_DBEngine_add_user_with_host("localhost", "admin", "AdminPw42", 3306, nullptr, "N", "x",
                                   QV_PRIV_ALL);
    auto lines2 = capture2.finish();
    EXPECT_NE(std::string::npos, lines2[0].find("ending IDENTIFIED BY '*** query:"));

    fake_mysql_reset();
    fake_mysql().connect_fails = true;
    fake_mysql().connect_errno = 1045;
    fake_mysql().connect_error = "Access denied for 'admin' using AdminPw42";
    StderrCapture capture3;
    EXPECT_EQ(27u, qv_DBEngine_add_user_with_host("localhost", "admin", "AdminPw42", 3306, nullptr,
                                                  "N", "x", QV_PRIV_ALL));
    auto lines3 = capture3.finish();
    EXPECT_EQ("ERROR  : do_connect: errno: 1045  msg: Access denied for 'admin' using ***",
              lines3[0]);
    for (const auto &all : {lines, lines2, lines3})
        for (const std::string &line : all) {
            EXPECT_EQ(std::string::npos, line.find("AdminPw42")) << line;
            EXPECT_EQ(std::string::npos, line.find(password)) << line;
        }
}

TEST_F(EngineTest, EachAllocationFailingInTurn)
{
    for (unsigned long n = 1;; n++) {
        fake_mysql_reset();
        qv_malloc_fail_nth(n);
        StderrCapture capture;
        unsigned status = add(QV_PRIV_DATA_RELOAD);
        auto lines = capture.finish();
        bool injected = qv_malloc_injected_failures() > 0;
        qv_malloc_fail_nth(0);
        EXPECT_EQ(0, fake_mysql().open_handles) << n;
        if (!injected) {
            EXPECT_EQ(0u, status);
            EXPECT_GT(n, 5u); /* settings texts, engine, its copy and its lock at least */
            break;
        }
        EXPECT_EQ(2u, status) << n;
        EXPECT_TRUE(any_line_contains(lines, "out of memory")) << n;
        EXPECT_EQ(0u, fake_mysql().statements_sent) << n;
    }
}

TEST_F(EngineTest, LockCreationFailureStillClosesTheConnection)
{
    /* Find the allocation that makes the engine's lock: it comes after the connect. */
    bool seen = false;
    for (unsigned long n = 1; n < 50 && !seen; n++) {
        fake_mysql_reset();
        qv_malloc_fail_nth(n);
        StderrCapture capture;
        unsigned status = add(QV_PRIV_ALL);
        auto lines = capture.finish();
        qv_malloc_fail_nth(0);
        if (!any_line_contains(lines, "qv_mutex_create: out of memory"))
            continue;
        seen = true;
        EXPECT_EQ(2u, status);
        EXPECT_TRUE(any_line_contains(lines, "Cannot connect to localhost"));
        ASSERT_EQ(1u, fake_mysql().connections.size());
        EXPECT_TRUE(fake_mysql().connections[0].connected);
        EXPECT_TRUE(fake_mysql().connections[0].closed);
        EXPECT_EQ(0, fake_mysql().open_handles);
        EXPECT_EQ(0, fake_mysql().statements_sent);
    }
    EXPECT_TRUE(seen);
}

TEST_F(EngineTest, SettingsInitCopyAndFree)
{
    QVDBSettings s{}, copy{};
    ASSERT_EQ(0u, qv_DBEngine_settings_init(&s));
    EXPECT_STREQ("localhost", s.host.text);
    for (QVstring *t : {&s.user, &s.password, &s.spare, &s.unix_socket})
        EXPECT_STREQ("", t->text);
    EXPECT_EQ(0u, s.client_flags);
    EXPECT_EQ(3306u, s.port);
    qv_string_copy_char(&s.user, "root");
    s.client_flags = 7;
    ASSERT_EQ(0u, qv_DBEngine_settings_copy(&s, &copy));
    EXPECT_STREQ("localhost", copy.host.text);
    EXPECT_STREQ("root", copy.user.text);
    EXPECT_EQ(nullptr, copy.password.text); /* an empty text may arrive absent */
    EXPECT_EQ(7u, copy.client_flags);
    EXPECT_EQ(3306u, copy.port);
    qv_DBEngine_settings_free(&s);
    qv_DBEngine_settings_free(&copy);
    qv_DBEngine_settings_free(nullptr);
    EXPECT_EQ(nullptr, s.host.text);
    EXPECT_EQ(nullptr, copy.user.text);

    QVDBSettings failing{};
    qv_malloc_fail_nth(3); /* host, user, then password fails */
    StderrCapture capture;
    EXPECT_EQ(2u, qv_DBEngine_settings_init(&failing));
    auto lines = capture.finish();
    EXPECT_EQ(nullptr, failing.password.text);
    EXPECT_EQ(nullptr, failing.spare.text); /* later fields untouched */
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(0u, lines[1].find("STACK_TRACE at MyDBEngine:"));
    qv_DBEngine_settings_free(&failing);
}

TEST_F(EngineTest, InitFinishAndQueryOnAnEngine)
{
    StderrCapture capture;
    EXPECT_EQ(1u, qv_DBEngine_init(nullptr, nullptr));
    auto lines = capture.finish();
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find(": qv_DBEngine_init: ppDBEngine == NULL"));
    EXPECT_TRUE(fake_mysql().events.empty());

    qv_DBEngine_finish(nullptr);
    QVDBEngine *engine = nullptr;
    qv_DBEngine_finish(&engine);

    QVDBSettings s{};
    ASSERT_EQ(0u, qv_DBEngine_settings_init(&s));
    ASSERT_EQ(0u, qv_DBEngine_init(&engine, &s));
    ASSERT_NE(nullptr, engine);
    EXPECT_NE(nullptr, engine->query_lock.mutex);
    EXPECT_EQ(0u, qv_mysql_s_query(engine, "SELECT 1"));
    EXPECT_EQ(std::vector<std::string>{"SELECT 1"}, fake_mysql_statements());

    /* a lock that is gone: nothing is sent */
    qv_mutex_finish(&engine->query_lock);
    StderrCapture capture2;
    EXPECT_EQ(1u, qv_mysql_s_query(engine, "SELECT 2"));
    auto lines2 = capture2.finish();
    ASSERT_EQ(2u, lines2.size());
    EXPECT_EQ("ERROR  : qv_mutex_lock: mutex already freed", lines2[0]);
    EXPECT_EQ(1u, fake_mysql_statements().size());

    qv_DBEngine_finish(&engine);
    EXPECT_EQ(nullptr, engine);
    EXPECT_EQ(0, fake_mysql().open_handles);
    qv_DBEngine_settings_free(&s);
}

} // namespace
