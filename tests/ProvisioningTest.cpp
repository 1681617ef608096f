/*
 * Tests of the provisioning run over the fake client calls: which accounts, in which
 * order, on how many connections, and where a failure stops it.
 */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "QVLib/QVmalloc.h"
#include "WinGUI/VADedeVeZovidApp.h"
#include "tests/support/FakeMysql.h"
#include "tests/support/LogCapture.h"
#include "tests/support/MariadbDetection.h"

namespace
{

class ProvisioningTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        fake_mysql_reset();
    }
    void TearDown() override
    {
        qv_DBEngine_settings_free(&settings);
        qv_malloc_fail_nth(0);
    }
    QVDBSettings settings{};
};

TEST_F(ProvisioningTest, EighteenStatementsOnThreeConnectionsOneAfterAnother)
{
    ASSERT_TRUE(ProvisionServiceAccounts(&settings));
    const FakeMysql &fake = fake_mysql();
    ASSERT_EQ(3u, fake.connections.size());
    /* the detection, once for the run, on the first connection */
    EXPECT_EQ(1 + 18u, fake_mysql_statements().size());
    EXPECT_EQ(MARIADB_DETECTION, fake.connections[0].statements.at(0));
    /* the three accounts in order, each at its level: all privileges with the grant
     * option, then twice the data privileges and RELOAD */
    const struct {
        const char *name;
        size_t count;
        const char *level;
    } accounts[] = {{"QuorvaneInternal", 1 + 2, " WITH GRANT OPTION"},
                    {"QuOrvAneIndeX", 8, "GRANT RELOAD ON *.* TO 'QuOrvAneIndeX'@'localhost'"},
                    {"DUVidIdeRiv", 8, "GRANT RELOAD ON *.* TO 'DUVidIdeRiv'@'localhost'"}};
    for (size_t i = 0; i < 3; i++) {
        const FakeConnection &c = fake.connections[i];
        EXPECT_EQ("localhost", c.host.value());
        EXPECT_EQ("root", c.user.value());
        EXPECT_FALSE(c.password.has_value()); /* the empty password reaches it as null */
        EXPECT_EQ("mysql", c.database.value());
        EXPECT_EQ(3306u, c.port);
        EXPECT_FALSE(c.unix_socket.has_value());
        ASSERT_EQ(accounts[i].count, c.statements.size());
        size_t first = i == 0 ? 1 : 0;
        EXPECT_NE(std::string::npos, c.statements[first].find(std::string("TO '") +
                                                              accounts[i].name +
                                                              "' IDENTIFIED BY '"));
        EXPECT_NE(std::string::npos, c.statements[c.statements.size() - 1].find(accounts[i].level))
            << c.statements.back();
    }
    /* each connection is closed before the next one is made */
    std::vector<std::string> lifecycle;
    for (const std::string &e : fake.events)
        if (e.rfind("query", 0) != 0)
            lifecycle.push_back(e);
    const std::vector<std::string> expected = {"init 1", "connect 1", "close 1",
                                               "init 2", "connect 2", "close 2",
                                               "init 3", "connect 3", "close 3"};
    EXPECT_EQ(expected, lifecycle);
    /* the caller's settings hold the administrator's */
    EXPECT_STREQ("localhost", settings.host.text);
    EXPECT_STREQ("root", settings.user.text);
    EXPECT_STREQ("", settings.password.text);
    EXPECT_EQ(3306u, settings.port);
}

TEST_F(ProvisioningTest, NoServerStopsAtTheFirstAccount)
{
    fake_mysql().connect_fails = true;
    StderrCapture capture;
    EXPECT_FALSE(ProvisionServiceAccounts(&settings));
    auto lines = capture.finish();
    EXPECT_EQ(1u, fake_mysql().connections.size());
    EXPECT_EQ(0, fake_mysql().open_handles);
    ASSERT_LE(2u, lines.size());
    EXPECT_EQ("ERROR  : Cannot connect to localhost", lines[lines.size() - 2]);
    EXPECT_EQ(0u, lines.back().find("ERROR  : hint: no database server answers"));
}

TEST_F(ProvisioningTest, FailedStatementLeavesEarlierAccountsAndSkipsLaterOnes)
{
    fake_mysql().fail_statement = 6; /* the third statement of the second account */
    StderrCapture capture;
    EXPECT_FALSE(ProvisionServiceAccounts(&settings));
    EXPECT_EQ(2u, fake_mysql().connections.size());
    EXPECT_EQ(1 + 2u, fake_mysql().connections[0].statements.size());
    EXPECT_EQ(3u, fake_mysql().connections[1].statements.size());
    EXPECT_EQ(0, fake_mysql().open_handles);
}

TEST_F(ProvisioningTest, AddServiceAccountPassesTheSettings)
{
    ASSERT_EQ(0u, qv_DBEngine_settings_init(&settings));
    qv_string_copy_char(&settings.user, "admin");
    qv_string_copy_char(&settings.password, "pw");
    qv_string_copy_char(&settings.unix_socket, "/tmp/s");
    qv_string_copy_char(&settings.spare, "not passed");
    settings.client_flags = 32;
    settings.port = 3310;
    EXPECT_TRUE(AddServiceAccount(&settings, "N", "P", QV_PRIV_USAGE));
    const FakeConnection &c = fake_mysql().connections.at(0);
    EXPECT_EQ("admin", c.user.value());
    EXPECT_EQ("pw", c.password.value());
    EXPECT_EQ("/tmp/s", c.unix_socket.value());
    EXPECT_EQ(3310u, c.port);
    EXPECT_EQ(0u, c.client_flags);
    EXPECT_FALSE(AddServiceAccount(&settings, "N", "P", 7));
}

TEST_F(ProvisioningTest, SettingsFailureFailsTheRunWithATrace)
{
    qv_malloc_fail_nth(1);
    StderrCapture capture;
    EXPECT_FALSE(ProvisionServiceAccounts(&settings));
    auto lines = capture.finish();
    /* one trace per level: the settings, the administrator's settings, the run */
    ASSERT_EQ(4u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("out of memory"));
    EXPECT_EQ(0u, lines[1].find("STACK_TRACE at MyDBEngine:"));
    EXPECT_EQ(0u, lines[2].find("STACK_TRACE at VADedeVeZovidApp:"));
    EXPECT_EQ(0u, lines[3].find("STACK_TRACE at VADedeVeZovidApp:"));
    EXPECT_TRUE(fake_mysql().events.empty());
}

} // namespace
