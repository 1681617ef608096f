/*
 * Tests of the engine and the provisioning run against the private MariaDB server:
 * what each level leaves an account holding, on a new account and on one that held
 * everything before, in the GRANT form and in the CREATE USER form of MySQL 8 (which
 * MariaDB accepts too); logins; the statements and connections the server saw; and the
 * failures a user meets (no server, a wrong administrator password, a statement stuck
 * behind another session's lock).
 */
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Interfaces/dbengine/MySQL/MyDBEngine.h"
#include "WinGUI/VADedeVeZovidApp.h"
#include "tests/support/LogCapture.h"
#include "tests/support/MariadbDetection.h"
#include "tests/support/TestServer.h"

namespace
{

const std::set<std::string> DATA = {"Alter_priv",      "Create_priv", "Delete_priv",
                                    "Drop_priv",       "Index_priv",  "Insert_priv",
                                    "References_priv", "Select_priv", "Update_priv"};
const std::set<std::string> ADMIN = {"File_priv", "Process_priv", "Reload_priv", "Shutdown_priv"};

/* The client library reads MYSQL_UNIX_PORT once, when it is first used: aim it at the
 * private server before any test connects. */
class AimAtTestServer : public ::testing::Environment
{
  public:
    void SetUp() override
    {
        aimed = aim_client_at_test_server();
    }
    static bool aimed;
};
bool AimAtTestServer::aimed = false;
const ::testing::Environment *const g_aim =
    ::testing::AddGlobalTestEnvironment(new AimAtTestServer);

class ServerTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(AimAtTestServer::aimed) << "the private MariaDB server is not running";
        ASSERT_TRUE(root.connected()) << root.error();
    }
    ServerSession root;
};

/* The privileges (column names) that user@host holds with "Y". */
std::set<std::string> held(ServerSession &root, const std::string &user, const std::string &host)
{
    std::set<std::string> result;
    for (auto &[column, value] : account_privileges(root, user, host))
        if (value == "Y")
            result.insert(column);
    return result;
}

std::set<std::string> all_privileges(ServerSession &root)
{
    std::set<std::string> all;
    for (auto &entry : account_privileges(root, "root", "localhost"))
        all.insert(entry.first);
    return all;
}

/* What level leaves an account holding that held `before`. */
std::set<std::string> expected_after(int level, std::set<std::string> before,
                                     const std::set<std::string> &all)
{
    auto remove = [&](const std::set<std::string> &s) {
        for (const std::string &p : s)
            before.erase(p);
    };
    switch (level) {
    case QV_PRIV_ALL_GRANT:
        return all;
    case QV_PRIV_ALL:
        before = all;
        before.erase("Grant_priv");
        return before;
    case QV_PRIV_DATA:
    case QV_PRIV_DATA_RELOAD:
        before.insert(DATA.begin(), DATA.end());
        before.erase("Grant_priv");
        remove(ADMIN);
        if (level == QV_PRIV_DATA_RELOAD)
            before.insert("Reload_priv");
        return before;
    default:
        before.erase("Grant_priv");
        remove(ADMIN);
        remove(DATA);
        return before;
    }
}

/* Waits until the sessions of the tool (root, but not this test's own) have ended. */
void wait_until_alone(ServerSession &root)
{
    EXPECT_TRUE(wait_until_no_session(root, "USER = 'root' AND ID <> CONNECTION_ID()"));
}

/* The stored password hash of user@host. */
std::string stored_password(ServerSession &root, const std::string &user, const std::string &host)
{
    Rows rows = root.query("SELECT authentication_string FROM mysql.user WHERE User='" + user +
                           "' AND Host='" + host + "'");
    return rows.empty() ? "" : rows[0][0];
}

TEST_F(ServerTest, EachLevelOnNewAndOnFullyPrivilegedAccountsInBothForms)
{
    const std::set<std::string> all = all_privileges(root);
    ASSERT_EQ(30u, all.size());
    for (int form : {QV_FORM_GRANT_IDENTIFIED, QV_FORM_CREATE_ALTER})
        for (int level = 0; level <= 4; level++) {
            for (bool had_everything : {false, true}) {
                qv_DBEngine_force_form(form);
                std::string name = "qv_f" + std::to_string(form) + "_level" +
                                   std::to_string(level) + (had_everything ? "_full" : "_new");
                std::string password = "Pw-" + name + "#%&";
                drop_account(root, name);
                std::set<std::string> before;
                if (had_everything) {
                    for (const char *host : {"%", "localhost"})
                        root.exec("GRANT ALL ON *.* TO '" + name + "'@'" + host +
                                  "' IDENTIFIED BY 'old' WITH GRANT OPTION");
                    before = all;
                }
                StderrCapture capture;
                ASSERT_EQ(0u, qv_DBEngine_add_user_with_host("localhost", nullptr, nullptr, 3306,
                                                             nullptr, name.c_str(),
                                                             password.c_str(), level))
                    << name;
                qv_DBEngine_force_form(QV_FORM_BY_SERVER);
                auto lines = capture.finish();
                EXPECT_TRUE(any_line_contains(lines, form == QV_FORM_CREATE_ALTER
                                                         ? "accounts made with CREATE USER"
                                                         : "accounts made with GRANT ..."));
                std::set<std::string> expected = expected_after(level, before, all);
                EXPECT_EQ(expected, held(root, name, "%")) << name;
                EXPECT_EQ(expected, held(root, name, "localhost")) << name;
                /* Socket logins reach the localhost form; the other has the same hash. */
                EXPECT_EQ(stored_password(root, name, "localhost"),
                          stored_password(root, name, "%"));
                EXPECT_NE("", stored_password(root, name, "%"));
                ServerSession login(name, password);
                EXPECT_TRUE(login.connected()) << name << ": " << login.error();
                if (had_everything) {
                    ServerSession old_password(name, "old");
                    EXPECT_FALSE(old_password.connected()) << name;
                }
                drop_account(root, name);
            }
        }
}

TEST_F(ServerTest, StatementStuckBehindALockEndsWithinTheTimeOut)
{
    drop_accounts(root, SERVICE_ACCOUNT_NAMES);
    auto backup = std::make_unique<ServerSession>(); /* holds the lock as a backup would */
    ASSERT_TRUE(backup->connected()) << backup->error();
    backup->exec("FLUSH TABLES WITH READ LOCK");

    qv_DBEngine_set_timeouts(0, 2, 2);
    QVDBSettings settings{};
    BOOL provisioned;
    std::vector<std::string> lines;
    auto start = std::chrono::steady_clock::now();
    {
        StderrCapture capture;
        provisioned = ProvisionServiceAccounts(&settings);
        lines = capture.finish();
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    qv_DBEngine_set_timeouts(0, 0, 0);
    qv_DBEngine_settings_free(&settings);
    backup->exec("UNLOCK TABLES");
    backup.reset();
    /* The session whose statement timed out ends once the lock is gone. */
    wait_until_alone(root);

    EXPECT_FALSE(provisioned);
    EXPECT_LT(seconds, 10.0);
    EXPECT_GE(seconds, 1.5);
    EXPECT_TRUE(any_line_contains(lines, "ERROR  : qv_mysql_s_query: errno: 2013"));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(0u, lines.back().find("ERROR  : hint: the server stopped answering (a lock held by "
                                    "another session, such as a backup's FLUSH TABLES WITH READ "
                                    "LOCK, or a restart); run again when it answers"));

    /* Once the lock is gone, a new run succeeds. */
    QVDBSettings again{};
    {
        StderrCapture capture;
        EXPECT_TRUE(ProvisionServiceAccounts(&again));
    }
    qv_DBEngine_settings_free(&again);
    for (int i = 0; i < 3; i++)
        EXPECT_FALSE(held(root, g_service_accounts[i].name, "localhost").empty());
}

TEST_F(ServerTest, NoServerGivesStatus29)
{
    StderrCapture capture;
    unsigned status = qv_DBEngine_add_user_with_host(
        "localhost", nullptr, nullptr, 3306, "/tmp/qv-no-such-server.sock", "qv_nobody", "x", 0);
    auto lines = capture.finish();
    EXPECT_EQ(29u, status);
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ(0u, lines[0].find("ERROR  : do_connect: errno: 2002  msg: ")) << lines[0];
    EXPECT_EQ(0u, lines[1].find("STACK_TRACE at MyDBEngine:"));
    EXPECT_EQ("ERROR  : Cannot connect to localhost", lines[2]);
}

TEST_F(ServerTest, WrongAdministratorPasswordGivesStatus27)
{
    StderrCapture capture;
    EXPECT_EQ(27u, qv_DBEngine_add_user_with_host("localhost", "root", "not-the-password", 3306,
                                                  nullptr, "qv_nobody", "x", 0));
    auto lines = capture.finish();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(0u, lines[0].find("ERROR  : do_connect: errno: 1045  msg: Access denied"));
    for (const std::string &line : lines)
        EXPECT_EQ(std::string::npos, line.find("not-the-password"));
    EXPECT_TRUE(held(root, "qv_nobody", "%").empty());
}

TEST_F(ServerTest, RefusedStatementIsReportedWithoutThePassword)
{
    /* A name longer than the server allows passes our checks and is refused there. */
    std::string name(200, 'n');
    StderrCapture capture;
    unsigned status = qv_DBEngine_add_user_with_host("localhost", nullptr, nullptr, 3306, nullptr,
                                                     name.c_str(), "Secret-77", 3);
    auto lines = capture.finish();
    EXPECT_EQ(28u, status);
    ASSERT_EQ(4u, lines.size()); /* the server line, then the failure's */
    EXPECT_EQ(0u, lines[1].find("ERROR  : qv_mysql_s_query: errno: ")) << lines[1];
    EXPECT_NE(std::string::npos, lines[1].find("IDENTIFIED BY '***'"));
    for (const std::string &line : lines)
        EXPECT_EQ(std::string::npos, line.find("Secret-77"));
}

const char *const ACCOUNT_NAMES = "'QuorvaneInternal','QuOrvAneIndeX','DUVidIdeRiv'";

TEST_F(ServerTest, ProvisioningRunAsTheServerSeesIt)
{
    drop_accounts(root, SERVICE_ACCOUNT_NAMES);
    QVDBSettings settings{};
    BOOL provisioned;
    Rows log = general_log_during(root, [&] {
        {
            StderrCapture capture;
            provisioned = ProvisionServiceAccounts(&settings);
        }
        wait_until_alone(root);
    });
    qv_DBEngine_settings_free(&settings);
    ASSERT_TRUE(provisioned);

    /* Per connection of the tool: its commands in order. */
    std::vector<std::string> threads;
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> commands;
    for (const auto &row : log) {
        if (commands.find(row[0]) == commands.end())
            threads.push_back(row[0]);
        commands[row[0]].emplace_back(row[1], row[2]);
    }
    /* Each connection ends with its Quit. (That each is closed before the next opens is
     * seen on the client's side, with the fake: the server may log a Quit after the next
     * Connect, since a closing client does not wait for it.) */
    ASSERT_EQ(3u, threads.size());
    for (const std::string &t : threads)
        EXPECT_EQ("Quit", commands[t].back().first) << t;

    /* The run's one detection comes first, on the first connection; then each account's
     * statements on its own. */
    size_t statements = 0;
    const size_t per_account[] = {2, 8, 8};
    for (size_t i = 0; i < 3; i++) {
        const auto &c = commands[threads[i]];
        EXPECT_EQ("Connect", c.front().first);
        EXPECT_NE(std::string::npos, c.front().second.find("root@localhost on mysql"))
            << c.front().second;
        std::vector<std::string> queries;
        for (const auto &[type, argument] : c)
            if (type == "Query")
                queries.push_back(argument);
        if (i == 0 && !queries.empty()) {
            EXPECT_EQ(MARIADB_DETECTION, queries.front());
            queries.erase(queries.begin());
        }
        for (const std::string &query : queries)
            EXPECT_NE(std::string::npos,
                      query.find(std::string("'") + g_service_accounts[i].name + "'"));
        EXPECT_EQ(per_account[i], queries.size());
        statements += queries.size();
    }
    EXPECT_EQ(18u, statements);

    /* What the accounts hold, in both forms, and that they log in. */
    for (int i = 0; i < 3; i++) {
        std::string name = g_service_accounts[i].name;
        for (const char *host : {"%", "localhost"}) {
            Rows grants = root.query("SHOW GRANTS FOR '" + name + "'@'" + host + "'");
            ASSERT_EQ(1u, grants.size());
            const std::string &grant = grants[0][0];
            if (i == 0) {
                EXPECT_EQ(0u, grant.find("GRANT ALL PRIVILEGES ON *.* TO `" + name + "`"));
                EXPECT_NE(std::string::npos, grant.find("WITH GRANT OPTION"));
            } else {
                EXPECT_EQ(0u, grant.find("GRANT SELECT, INSERT, UPDATE, DELETE, CREATE, DROP, "
                                         "RELOAD, REFERENCES, INDEX, ALTER ON *.* TO `" +
                                         name + "`"))
                    << grant;
                EXPECT_EQ(std::string::npos, grant.find("GRANT OPTION"));
            }
        }
        ServerSession login(name, g_service_accounts[i].password);
        EXPECT_TRUE(login.connected()) << name << ": " << login.error();
    }

    /* A second run succeeds and changes nothing. */
    /* The time of the password's last change moves with every run: leave it out. */
    std::string snapshot_query = "SELECT User, Host, JSON_REMOVE(Priv, '$.password_last_changed') "
                                 "FROM mysql.global_priv WHERE User IN (" +
                                 std::string(ACCOUNT_NAMES) + ") ORDER BY User, Host";
    Rows before = root.query(snapshot_query);
    ASSERT_EQ(6u, before.size());
    QVDBSettings again{};
    {
        StderrCapture capture;
        EXPECT_TRUE(ProvisionServiceAccounts(&again));
    }
    qv_DBEngine_settings_free(&again);
    EXPECT_EQ(before, root.query(snapshot_query));
}

} // namespace
