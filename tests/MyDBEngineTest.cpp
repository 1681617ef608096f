/*
 * Tests of the database engine over the fake client calls: the statement sequence of
 * every level in both forms (MySQL 8 and the others), a failure at every position,
 * argument checks in their order, error number mapping, masking of passwords, the
 * connection's options, hints, and allocation failures.
 */
#include <gtest/gtest.h>

#include <mysql.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <cstdlib>
#include <string>
#include <vector>

#include "Interfaces/dbengine/MySQL/AccountRules.h"
#include "Interfaces/dbengine/MySQL/Masking.h"
#include "Interfaces/dbengine/MySQL/MyDBEngine.h"
#include "QVLib/QVmalloc.h"
#include "tests/support/FakeMysql.h"
#include "tests/support/LogCapture.h"
#include "tests/support/MariadbDetection.h"
#include "tests/support/TestFiles.h"

namespace
{

const char DATA[] = "ALTER,CREATE,DELETE,DROP,INDEX,INSERT,REFERENCES,SELECT,UPDATE";
const char ADMIN[] = "FILE,PROCESS,RELOAD,SHUTDOWN";

/* The detection statement of each kind of server, the one statement a call sends before
 * those of its account. A running replica is read from performance_schema's replication
 * tables on MySQL 5.7.6 and later, from a global status elsewhere. */
const char *const DETECT_MARIADB = MARIADB_DETECTION;
#define REPLICA_BY_TABLES                                                                          \
    "(SELECT COUNT(*) FROM performance_schema.replication_applier_status WHERE SERVICE_STATE = " \
    "'ON' AND CHANNEL_NAME NOT LIKE 'group_replication%') AS replica"
const char DETECT_MYSQL57[] =
    "SELECT @@read_only AS read_only, @@super_read_only AS super_read_only, " REPLICA_BY_TABLES;
const char DETECT_MYSQL56[] =
    "SELECT @@read_only AS read_only, (SELECT COUNT(*) FROM information_schema.GLOBAL_STATUS "
    "WHERE VARIABLE_NAME IN ('SLAVES_RUNNING', 'SLAVE_RUNNING') AND VARIABLE_VALUE NOT IN ('0', "
    "'OFF')) AS replica";
const char DETECT_MYSQL8[] =
    "SELECT @@read_only AS read_only, @@super_read_only AS super_read_only, (SELECT COUNT(*) "
    "FROM information_schema.PLUGINS WHERE PLUGIN_NAME = 'mysql_native_password' AND "
    "PLUGIN_STATUS = 'ACTIVE') AS native_password, " REPLICA_BY_TABLES;
/* What the set-once form reads of both forms of N: MySQL's mysql.user, MariaDB's records
 * (every method of a form). */
const char READ_FORMS_MYSQL[] =
    "SELECT g.* FROM mysql.user g WHERE g.User IN ('N') AND g.Host IN ('%', 'localhost')";
const char READ_FORMS_MARIADB[] = "SELECT g.User, g.Host, g.Priv FROM mysql.global_priv g WHERE "
                                  "g.User IN ('N') AND g.Host IN ('%', 'localhost')";

/* The statements each level must send for account N with password P, after the
 * detection: in the set-once form (set_once: MySQL 8.0 and later, or a reuse policy),
 * what both forms hold is read first, each form not found (found: "%", "localhost") is
 * made with CREATE USER IF NOT EXISTS, the others altered only where alters says (any,
 * localhost), and the GRANTs carry no password. */
std::vector<std::string> expected_statements(int level, bool set_once = false,
                                             const std::vector<std::string> &alters = {},
                                             const std::string &read_forms = READ_FORMS_MYSQL,
                                             std::vector<bool> found = {false, false})
{
    const std::string identified = set_once ? "" : " IDENTIFIED BY 'P'";
    const std::string to_any = "TO 'N'" + identified;
    const std::string to_local = "TO 'N'@'localhost'" + identified;
    const std::string from_any = "FROM 'N'";
    const std::string from_local = "FROM 'N'@'localhost'";
    std::vector<std::string> s;
    if (set_once) {
        s = {read_forms};
        if (!found[0])
            s.push_back("CREATE USER IF NOT EXISTS 'N' IDENTIFIED BY 'P'");
        if (!found[1])
            s.push_back("CREATE USER IF NOT EXISTS 'N'@'localhost' IDENTIFIED BY 'P'");
        s.insert(s.end(), alters.begin(), alters.end());
    }
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
    void use_mysql8()
    {
        fake_mysql().server_info = "8.0.36";
        fake_mysql().detected["native_password"] = "1";
    }

    /* Has the fake answer the set-once form's reading with these forms of N, each given
     * by Host, plugin, authentication_string: as MySQL's mysql.user rows, or as MariaDB's
     * records (a plugin that begins with "{" is a whole record); and SHOW WARNINGS with
     * warnings, each Level, Code, Message. */
    static void answer_forms(const std::vector<std::vector<std::string>> &forms,
                             const std::vector<std::vector<std::string>> &warnings = {})
    {
        fake_mysql().results = [forms, warnings](const std::string &statement) {
            FakeTable table;
            if (statement == "SHOW WARNINGS") {
                table.names = {"Level", "Code", "Message"};
                for (const auto &w : warnings)
                    table.rows.push_back({w[0], w[1], w[2]});
            } else if (statement == READ_FORMS_MYSQL) {
                table.names = {"Host", "User", "plugin", "authentication_string"};
                for (const auto &form : forms)
                    table.rows.push_back({form[0], "N", form[1], form[2]});
            } else if (statement == READ_FORMS_MARIADB) {
                table.names = {"User", "Host", "Priv"};
                for (const auto &form : forms)
                    table.rows.push_back(
                        {"N", form[0],
                         form[1][0] == '{' ? form[1]
                                           : "{\"plugin\":\"" + form[1] +
                                                 "\",\"authentication_string\":\"" + form[2] +
                                                 "\"}"});
            }
            return table;
        };
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

TEST_F(EngineTest, EachLevelSendsItsSequenceOnOneConnectionInTheServersForm)
{
    /* MySQL 8.0 and later take the set-once form; MariaDB (whatever its version) and
     * older MySQL the GRANT ... IDENTIFIED BY form. Each call detects first. */
    const struct {
        const char *info;
        const char *detect;
        bool mysql8;
    } servers[] = {
        {"10.11.6-MariaDB-0+deb12u1", DETECT_MARIADB, false},
        {"11.4.2-MariaDB", DETECT_MARIADB, false},
        {"5.5.5-10.3.39-MariaDB", DETECT_MARIADB, false},
        {"5.7.44-log", DETECT_MYSQL57, false},
        {"5.6.51", DETECT_MYSQL56, false},
        {"8.0.36", DETECT_MYSQL8, true},
        {"8.4.0", DETECT_MYSQL8, true},
        {"9.1.0-commercial", DETECT_MYSQL8, true},
    };
    const size_t counts[] = {2, 4, 6, 8, 8};
    for (const auto &server : servers) {
        for (int level = 0; level <= 4; level++) {
            fake_mysql_reset();
            fake_mysql().server_info = server.info;
            StderrCapture capture;
            ASSERT_EQ(0u, add(level)) << level;
            auto lines = capture.finish();
            const FakeMysql &fake = fake_mysql();
            ASSERT_EQ(1u, fake.connections.size());
            const FakeConnection &c = fake.connections[0];
            std::vector<std::string> expected = expected_statements(level, server.mysql8);
            expected.insert(expected.begin(), server.detect);
            EXPECT_EQ(1 + counts[level] + (server.mysql8 ? 3 : 0), c.statements.size());
            EXPECT_EQ(expected, c.statements) << server.info << " level " << level;
            EXPECT_TRUE(c.closed);
            EXPECT_EQ(0, fake.open_handles);
            ASSERT_EQ(1u, lines.size());
            EXPECT_EQ("INFO   : qv_DBEngine_add_user_with_host: N on server " +
                          std::string(server.info) + ": " +
                          (server.mysql8 ? "MySQL 8.0 or later, accounts made with CREATE USER "
                                           "IF NOT EXISTS, each password set at most once and "
                                           "only where it differs, then GRANT"
                                         : "accounts made with GRANT ... IDENTIFIED BY"),
                      lines[0]);
        }
    }
}

TEST_F(EngineTest, SetOnceFormSetsEachPasswordOnlyWhereItDiffers)
{
    char p_hash[QV_CREDENTIAL_HASH_SIZE]; /* the native hash of the password P */
    ASSERT_EQ(0u, qv_credential_native_hash("P", p_hash, sizeof p_hash));
    const std::string native = "mysql_native_password", sha2 = "caching_sha2_password";
    const std::string alter_any = "ALTER USER 'N' IDENTIFIED BY 'P'",
                      alter_local = "ALTER USER 'N'@'localhost' IDENTIFIED BY 'P'",
                      move_any = "ALTER USER 'N' IDENTIFIED WITH caching_sha2_password BY 'P'",
                      move_local =
                          "ALTER USER 'N'@'localhost' IDENTIFIED WITH caching_sha2_password BY 'P'";
    const std::map<std::string, std::string> mysql80 = {{"native_password", "1"}}, mysql84 = {},
                                             reuse = {{"reuse_check", "1"}};
    const struct {
        const char *info;
        std::map<std::string, std::string> detected;
        std::vector<std::vector<std::string>> forms; /* Host, plugin, authentication_string */
        std::vector<std::string> alters;
    } cases[] = {
        /* MySQL 8.0: forms that hold P are left alone; others, or unknown, are set */
        {"8.0.36", mysql80, {{"%", native, p_hash}, {"localhost", native, p_hash}}, {}},
        {"8.0.36", mysql80, {{"%", native, "*00"}, {"localhost", native, p_hash}}, {alter_any}},
        {"8.0.36", mysql80, {{"localhost", sha2, "$A$005$unknown"}}, {alter_local}},
        {"8.0.36", mysql80, {{"%", "unix_socket", ""}}, {alter_any}},
        /* MySQL 8.4: native forms move to caching_sha2_password, even holding P */
        {"8.4.0",
         mysql84,
         {{"%", native, p_hash}, {"localhost", native, "*00"}},
         {move_any, move_local}},
        /* MariaDB under password_reuse_check; a form whose chain admits P in any of its
         * methods is left alone, whatever the first says */
        {"10.11.6-MariaDB", reuse, {{"localhost", native, p_hash}}, {}},
        {"10.11.6-MariaDB", reuse, {{"%", native, "*00"}}, {alter_any}},
        {"10.11.6-MariaDB",
         reuse,
         {{"%", R"({"plugin":"ed25519","auth_or":[{},{"authentication_string":")" +
                    std::string(p_hash) + "\"}]}"},
          {"localhost", R"({"plugin":"unix_socket","auth_or":[{},{"plugin":"ed25519"}]})"}},
         {alter_local}},
    };
    for (const auto &c : cases) {
        fake_mysql_reset();
        fake_mysql().server_info = c.info;
        fake_mysql().detected = c.detected;
        answer_forms(c.forms);
        StderrCapture capture;
        ASSERT_EQ(0u, add(QV_PRIV_DATA_RELOAD));
        bool mariadb = std::string(c.info).find("MariaDB") != std::string::npos;
        std::vector<bool> found = {false, false};
        for (const auto &form : c.forms)
            found[form[0] == "localhost"] = true;
        std::vector<std::string> expected =
            expected_statements(QV_PRIV_DATA_RELOAD, true, c.alters,
                                mariadb ? READ_FORMS_MARIADB : READ_FORMS_MYSQL, found);
        expected.insert(expected.begin(), mariadb ? DETECT_MARIADB : DETECT_MYSQL8);
        EXPECT_EQ(expected, fake_mysql_statements()) << c.info << " " << c.forms.size();
        auto lines = capture.finish();
        ASSERT_EQ(1u, lines.size());
        EXPECT_NE(std::string::npos,
                  lines[0].find(mariadb ? ": password_reuse_check active, accounts made with "
                                          "CREATE USER IF NOT EXISTS"
                                        : ": MySQL 8.0 or later, accounts made with CREATE USER"));
    }
}

TEST_F(EngineTest, ServerThatMustNotTakeTheAccountsIsRefusedBeforeAnythingIsWritten)
{
    const std::string read_only = "the server is read-only (read_only is on); N was not made, "
                                  "nothing was written",
                      replica = "the server is a replica: its replication runs; N was not made";
    const char *const RO_HINT = "the server is read-only (read_only is on), probably a replica; "
                                "run the tool against the primary, whose changes replicate, or "
                                "turn read_only off on a server meant to take writes";
    const char *const REPLICA_HINT = "the server is a replica whose replication runs; run the "
                                     "tool on the primary: replication brings the accounts here";
    const char *const NODE = "the server is a Galera node that cannot speak for the cluster:";
    /* Where info is null: a Galera node 2 of 3, Synced, in the primary component, of
     * MariaDB 10.11, with these changes. */
    const std::map<std::string, std::string> node = {
        {"galera", "1"},       {"node_ready", "1"},    {"node_primary", "1"},
        {"node_index", "1"},   {"cluster_size", "3"}, {"node_state", "Synced"}};
    const struct {
        const char *info;
        std::map<std::string, std::string> detected;
        unsigned status; /* 0 taken, 31 read-only, 32 a replica, 33 a Galera node */
        std::string said;
        const char *hint; /* null: an INFO line */
    } rows[] = {
        {"10.11.6-MariaDB", {{"read_only", "2"}}, 31, read_only, RO_HINT},
        {"8.0.36", {{"read_only", "2"}}, 31, read_only, RO_HINT},
        {"8.0.36", {{"super_read_only", "2"}}, 31, read_only, RO_HINT},
        {"5.7.44", {{"super_read_only", "2"}}, 31, read_only, RO_HINT},
        {"10.11.6-MariaDB", {{"replica", "2"}}, 32, replica, REPLICA_HINT},
        {"8.0.36", {{"replica", "2"}}, 32, replica, REPLICA_HINT},
        {"10.11.6-MariaDB", {{"replica", "2"}, {"read_only", "2"}}, 32, replica, REPLICA_HINT},
        {"5.6.51", {{"replica", "2"}}, 32, replica, REPLICA_HINT},
        {nullptr,
         {{"node_primary", "0"}, {"node_index", "0"}, {"cluster_size", "1"}, {"read_only", "1"}},
         33, "not synced in the primary component (Galera node 1 of 1, Synced, not in the primary "
         "component); N was not made", NODE},
        {nullptr, {{"node_ready", "0"}, {"node_state", "Joining"}}, 33,
         "(Galera node 2 of 3, Joining)", NODE},
        {nullptr, {{"node_rejects", "1"}, {"node_local_ddl", "1"}}, 33, "rejects queries", NODE},
        {nullptr, {{"read_only", "1"}, {"node_local_ddl", "1"}}, 31, "a read-only Galera node",
         "the server is a Galera node with read_only on; every node of a cluster takes writes"},
        {nullptr, {{"node_local_ddl", "1"}}, 33, "wsrep_OSU_method is not TOI",
         "the session's wsrep_OSU_method is RSU"},
        {nullptr, {}, 0, "N on server 10.11.6-MariaDB-0+deb12u1 (Galera node 2 of 3, Synced): ",
         nullptr},
        {nullptr, {{"galera", "0"}}, 33, "whose session has wsrep_on off",
         "the session's wsrep_OSU_method"},
        {nullptr, {{"galera", "0"}, {"cluster_size", "0"}, {"node_rejects", "1"}}, 0,
         "-0+deb12u1: accounts made", nullptr},
    };
    for (const auto &row : rows) {
        fake_mysql_reset();
        if (row.info)
            fake_mysql().server_info = row.info;
        else
            fake_mysql().detected = node;
        for (const auto &[name, value] : row.detected)
            fake_mysql().detected[name] = value;
        StderrCapture capture;
        EXPECT_EQ(row.status, add(QV_PRIV_ALL_GRANT)) << row.said;
        auto lines = capture.finish();
        /* refused: the detection alone */
        EXPECT_EQ(row.status != 0 ? 1u : 3u, fake_mysql_statements().size()) << row.said;
        EXPECT_EQ(0, fake_mysql().open_handles);
        ASSERT_EQ(row.status != 0 ? 2u : 1u, lines.size()) << row.said;
        EXPECT_NE(std::string::npos, lines[0].find(row.said)) << lines[0];
        const std::string hint = row.hint ? std::string("ERROR  : hint: ") + row.hint : "INFO";
        EXPECT_EQ(0u, lines.back().find(hint)) << lines.back();
    }
}

TEST_F(EngineTest, DetectionAnswerThatCannotBeReadFailsTheCall)
{
    /* no row, two rows, a value that is not a number, a column missing */
    const std::vector<std::string> names = {"read_only", "reuse_check", "replica"};
    const std::vector<FakeTable> answers = {
        {names, {}},
        {names, {{"0", "0", "0"}, {"0", "0", "0"}}},
        {names, {{"0", "0", "ON"}}},
        {{"read_only", "reuse_check"}, {{"0", "0"}}},
    };
    for (const FakeTable &answer : answers) {
        fake_mysql_reset();
        fake_mysql().results = [answer](const std::string &) { return answer; };
        StderrCapture capture;
        EXPECT_EQ(30u, add(QV_PRIV_ALL_GRANT));
        auto lines = capture.finish();
        EXPECT_EQ(1u, fake_mysql_statements().size()); /* nothing after the detection */
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(0u, lines[0].find("ERROR  : detect_server: not one row of numbers ("));
    }
}

TEST_F(EngineTest, WorkedExampleOfLevelThreeByteForByte)
{
    ASSERT_EQ(0u, add(QV_PRIV_DATA_RELOAD));
    const std::vector<std::string> expected = {
        DETECT_MARIADB,
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
        for (bool mysql8 : {false, true}) {
            /* the detection, then the account's statements */
            size_t count = 1 + expected_statements(level, mysql8).size();
            for (size_t position = 1; position <= count; position++) {
                fake_mysql_reset();
                if (mysql8)
                    use_mysql8();
                fake_mysql().fail_statement = static_cast<int>(position);
                fake_mysql().statement_errno = 1133;
                StderrCapture capture;
                EXPECT_EQ(28u, add(level));
                auto lines = capture.finish();
                const FakeMysql &fake = fake_mysql();
                ASSERT_EQ(static_cast<int>(position), fake.statements_sent)
                    << level << "/" << position;
                EXPECT_EQ(0, fake.open_handles);
                EXPECT_EQ("close 1", fake.events.back());
                /* The server line (once detected), the failure, then one trace for each
                 * function it passes through: the detection and the set-once form's
                 * account statements have one more than the level's. */
                bool server_line = position > 1;
                bool deeper = position == 1 || (mysql8 && position <= 4);
                size_t traces = deeper ? 3 : 2;
                ASSERT_EQ(server_line + 1 + traces, lines.size()) << level << "/" << position;
                EXPECT_EQ(0u, lines[server_line].find("ERROR  : qv_mysql_s_query: errno: 1133 "
                                                      "msg: "));
                std::set<std::string> trace_lines;
                /* The first from the engine that sent it, the rest from the account making. */
                for (size_t i = server_line + 1; i < lines.size(); i++) {
                    EXPECT_EQ(0u, lines[i].find(i == size_t(server_line) + 1
                                                    ? "STACK_TRACE at MyDBEngine:"
                                                    : "STACK_TRACE at AccountMaking:"))
                        << lines[i];
                    trace_lines.insert(lines[i]);
                }
                EXPECT_EQ(traces, trace_lines.size()); /* each from its own place */
            }
        }
    }
}

TEST_F(EngineTest, StatementErrorsMapToTheirStatus)
{
    const std::pair<int, unsigned> cases[] = {
        {1045, 27}, {1064, 28}, {2013, 29}, {3000, 30}, {0, 30}};
    for (auto [number, status] : cases) {
        fake_mysql_reset();
        fake_mysql().fail_statement = 4; /* after the detection and two GRANTs */
        fake_mysql().statement_errno = number;
        StderrCapture capture;
        EXPECT_EQ(status, add(QV_PRIV_DATA)) << number;
        EXPECT_EQ(4, fake_mysql().statements_sent);
        /* the first two GRANTs were sent and are not undone */
        EXPECT_EQ(0u, fake_mysql_statements()[1].find("GRANT "));
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
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("ERROR  : do_connect: errno: 2002  msg: Can't connect to local server through "
              "socket",
              lines[0]);
    EXPECT_EQ(0u, lines[1].find("STACK_TRACE at MyDBEngine:"));
    EXPECT_EQ("ERROR  : Cannot connect to localhost", lines[2]);
    EXPECT_EQ(0u, lines[3].find("ERROR  : hint: no database server answers"));

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
        EXPECT_EQ(0u, lines[0].find("ERROR   at AccountMaking:"));
        EXPECT_NE(std::string::npos,
                  lines[0].find(std::string(": qv_DBEngine_add_user_with_host: ") + c.message))
            << lines[0];
        EXPECT_TRUE(fake_mysql().events.empty()) << c.message;
    }
    /* an empty password is a password like any other */
    fake_mysql_reset();
    EXPECT_EQ(0u, add(QV_PRIV_USAGE, "N", ""));
    EXPECT_EQ("GRANT USAGE ON *.* TO 'N' IDENTIFIED BY ''", fake_mysql_statements()[1]);
}

TEST_F(EngineTest, StatementsThatWouldBeCutAreRefused)
{
    /* The longest statement for a name is the set-once form's reading of both forms (108
     * fixed characters from MariaDB's mysql.global_priv); for a password, level 0's GRANT
     * of the localhost form and the set-once form's ALTER USER ... IDENTIFIED WITH
     * caching_sha2_password BY (69 each, besides the name). */
    const std::string name(1023 - 108, 'n'), password(1023 - 69 - 1, 'p');
    const struct {
        std::string name, password, one_more; /* one_more: the name or password, longer */
        bool name_grows;
        int form;
        size_t longest; /* the index of the statement of 1023 characters */
    } cases[] = {{name, "P", name + "n", true, QV_FORM_CREATE_ALTER, 1},
                 {"N", password, password + "p", false, QV_FORM_BY_SERVER, 2}};
    for (const auto &c : cases) {
        fake_mysql_reset();
        qv_DBEngine_force_form(c.form);
        EXPECT_EQ(0u, add(QV_PRIV_ALL_GRANT, c.name.c_str(), c.password.c_str()));
        EXPECT_EQ(1023u, fake_mysql_statements().at(c.longest).size());
        fake_mysql_reset();
        StderrCapture capture;
        EXPECT_EQ(1u, add(QV_PRIV_ALL_GRANT, (c.name_grows ? c.one_more : c.name).c_str(),
                          (c.name_grows ? c.password : c.one_more).c_str()));
        qv_DBEngine_force_form(QV_FORM_BY_SERVER);
        auto lines = capture.finish();
        ASSERT_EQ(1u, lines.size());
        EXPECT_NE(std::string::npos,
                  lines[0].find("qv_DBEngine_add_user_with_host: statement too long"));
        EXPECT_TRUE(fake_mysql().events.empty());
    }
}

TEST_F(EngineTest, PasswordsNeverReachTheLog)
{
    const char *password = "Rm5#Tq8w!Zp2";
    fake_mysql().fail_statement = 3;
    fake_mysql().statement_error = std::string("You have an error near 'IDENTIFIED BY '") +
                                   password + "' and " + password + " again";
    StderrCapture capture;
    EXPECT_EQ(28u, qv_DBEngine_add_user_with_host("localhost", "admin", "AdminPw42", 3306, nullptr,
                                                  "N", password, QV_PRIV_ALL));
    auto lines = capture.finish();
    ASSERT_LT(1u, lines.size());
    EXPECT_EQ("ERROR  : qv_mysql_s_query: errno: 1064 msg: You have an error near 'IDENTIFIED "
              "BY '***' and *** again query: GRANT ALL ON *.* TO 'N'@'localhost' IDENTIFIED "
              "BY '***'",
              lines[1]);

    /* the administrator's password in a server message */
    fake_mysql_reset();
    fake_mysql().fail_statement = 1;
    fake_mysql().statement_error = "cut message ending IDENTIFIED BY 'AdminP";
    StderrCapture capture2;
    qv_DBEngine_add_user_with_host("localhost", "admin", "AdminPw42", 3306, nullptr, "N", "x",
                                   QV_PRIV_ALL);
    auto lines2 = capture2.finish();
    EXPECT_TRUE(any_line_contains(lines2, "ending IDENTIFIED BY '*** query:"));

    /* the account statements of MySQL 8.4: the last ALTER USER of forms on a plugin
     * the server no longer runs */
    fake_mysql_reset();
    use_mysql8();
    fake_mysql().detected["native_password"] = "0";
    answer_forms(
        {{"%", "mysql_native_password", "*0"}, {"localhost", "mysql_native_password", "*0"}});
    fake_mysql().fail_statement = 4; /* the detection, the reading, two ALTER USER */
    StderrCapture capture4;
    qv_DBEngine_add_user_with_host("localhost", nullptr, nullptr, 3306, nullptr, "N", password,
                                   QV_PRIV_ALL);
    auto lines4 = capture4.finish();
    EXPECT_TRUE(any_line_contains(lines4, "query: ALTER USER 'N'@'localhost' IDENTIFIED WITH "
                                          "caching_sha2_password BY '***'"));

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
    for (const auto &all : {lines, lines2, lines3, lines4})
        for (const std::string &line : all) {
            EXPECT_EQ(std::string::npos, line.find("AdminPw42")) << line;
            EXPECT_EQ(std::string::npos, line.find(password)) << line;
        }
}

TEST_F(EngineTest, MaskingHidesOverlappingSecretsAndLiterals)
{
    const struct {
        const char *text;
        std::vector<const char *> secrets;
        const char *masked;
    } cases[] = {
        {"abcdef", {"ab", "bcdef"}, "***"},                              /* overlapping secrets */
        {"pwIDENTIFIED BY 'newpw'", {"pwI"}, "***DENTIFIED BY '***'"},   /* a marker cut */
        {"IDENTIFIED BY 'abc' tail", {"c' ta"}, "IDENTIFIED BY '***il"}, /* across a quote */
        {"IDENTIFIED BY '' and IDENTIFIED BY 'x", {}, "IDENTIFIED BY '***' and IDENTIFIED BY '***"},
        {"no secret here", {nullptr, ""}, "no secret here"},
    };
    for (const auto &c : cases) {
        char out[256];
        qv_mask_passwords(c.text, c.secrets.data(), c.secrets.size(), out, sizeof out);
        EXPECT_STREQ(c.masked, out) << c.text;
    }
    /* a cut output never shows a secret: it ends where the room does */
    char small[8];
    const char *secret[] = {"Secret"};
    qv_mask_passwords("abcdSecret", secret, 1, small, sizeof small);
    EXPECT_STREQ("abcd***", small);
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

TEST_F(EngineTest, EveryConnectionBoundsItsWaits)
{
    TempDir home("qv-home");
    {
        ScopedEnv h("HOME", home.path().c_str());
        ASSERT_EQ(0u, add(QV_PRIV_USAGE));
        qv_DBEngine_set_timeouts(2, 3, 4);
        ASSERT_EQ(0u, add(QV_PRIV_USAGE));
        qv_DBEngine_set_timeouts(0, 0, 0);
    }
    const auto &c = fake_mysql().connections;
    ASSERT_EQ(2u, c.size());
    EXPECT_EQ(30u, c[0].connect_timeout.value());
    EXPECT_EQ(120u, c[0].read_timeout.value());
    EXPECT_EQ(120u, c[0].write_timeout.value());
    EXPECT_EQ(2u, c[1].connect_timeout.value());
    EXPECT_EQ(3u, c[1].read_timeout.value());
    EXPECT_EQ(4u, c[1].write_timeout.value());

    /* Without HOME, the option file is in the home directory of the user the tool runs as. */
    ScopedEnv h("HOME", nullptr);
    char path[4096];
    ASSERT_TRUE(qv_DBEngine_option_file(path, sizeof path));
    EXPECT_EQ(std::string(getpwuid(getuid())->pw_dir) + "/.my.cnf", path);
}

TEST_F(EngineTest, TheRemedyOfARefusedFileIsOneShellCommandWhateverTheFilesName)
{
    TempDir home("qv-home");
    ScopedEnv h("HOME", home.path().c_str());
    const std::string odd = home.path() + "/it's; touch pwned; '.cnf";
    write_file(home.path() + "/.my.cnf", "[client]\n!include " + odd + "\n");
    chmod((home.path() + "/.my.cnf").c_str(), 0600);
    write_file(odd, "[client]\n");
    chmod(odd.c_str(), 0666);
    StderrCapture capture;
    qv_DBEngine_report_option_file();
    const std::vector<std::string> lines = capture.finish();
    ASSERT_EQ(2u, lines.size());
    const size_t at = lines[1].find("; chmod 600 ");
    ASSERT_NE(std::string::npos, at) << lines[1];
    /* The shell, pasted the remedy, mends that file and runs nothing else. */
    EXPECT_EQ(0, system(("cd '" + home.path() + "' && " + lines[1].substr(at + 2)).c_str()));
    struct stat st;
    ASSERT_EQ(0, stat(odd.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    EXPECT_NE(0, access((home.path() + "/pwned").c_str(), F_OK));
}

TEST_F(EngineTest, OptionFilesAreExaminedBeforeAByteOfThemIsRead)
{
    TempDir home("qv-home");
    ScopedEnv h("HOME", home.path().c_str());
    const std::string dir = home.path(), cnf = dir + "/.my.cnf";
    const std::string warn = "WARNING: qv_DBEngine_report_option_file: ";
    const std::string read =
        "INFO   : qv_DBEngine_report_option_file: client options are read from ";
    const std::string pw = "[client]\npassword=pw\n", mend = "; chmod 600 '" + cnf + "'";
    std::vector<std::string> deep = {read + cnf};
    for (int i = 1; i <= 11; i++) { /* a chain of includes one deeper than the client follows */
        std::string name = dir + "/deep" + std::to_string(i);
        write_file(name, "[client]\n!include " + dir + "/deep" + std::to_string(i + 1) + "\n");
        if (i <= 10)
            deep.push_back(read + name);
    }
    deep.push_back(warn + dir + "/deep10 line 2: includes more than 10 deep: skipped");
    write_file(dir + "/pw.cnf", pw);
    chmod((dir + "/pw.cnf").c_str(), 0600);
    const bool root = geteuid() == 0;
    const struct {
        std::string content;
        mode_t mode;
        std::vector<std::string> lines;
        bool used;
        std::string giver = ""; /* of the password, where not .my.cnf */
    } cases[] = {
        {pw, 0600, {read + cnf}, true},
        {pw,
         0640,
         {read + cnf,
          warn + cnf + ": others can read it, and it gives a password (mode 640): used" + mend},
         true},
        {pw, 0660, {warn + cnf + ": others can write it (mode 660): not used" + mend}, false},
        {pw + "!include " + cnf + "\n",
         0600,
         {read + cnf, warn + cnf + ": an include loop: the repeated file skipped"},
         true},
        {pw + "!include " + dir + "/deep1\n", 0600, deep, true},
        /* a file skipped, and the password from another one */
        {pw + "!include " + dir + "\n",
         0600,
         {read + cnf, warn + dir + ": not a regular file (a directory): skipped"},
         true},
        {"[client]\n!include " + dir + "/pw.cnf\n", 0600, {read + cnf, read + dir + "/pw.cnf"},
         true, dir + "/pw.cnf"},
        /* given to another user (as root), or unreadable (as another user) */
        {pw,
         root ? 0600u : 0u,
         {root ? warn + cnf +
                     ": another user owns it (uid 65534 (nobody), not uid 0 (root)): not used; "
                     "chown root '" +
                     cnf + "'"
               : warn + cnf + ": it cannot be read (Permission denied): skipped"},
         false},
    };
    for (const auto &c : cases) {
        write_file(cnf, c.content);
        chmod(cnf.c_str(), c.mode);
        if (!c.used && c.mode == 0600) {
            ASSERT_EQ(0, chown(cnf.c_str(), 65534, 65534));
        }
        fake_mysql_reset();
        fake_mysql().refused_users["root"] = 1045;
        StderrCapture capture;
        qv_DBEngine_report_option_file();
        EXPECT_EQ(c.lines, capture.finish()) << c.content << " mode " << c.mode;
        write_file(cnf, "[client]\npassword=changed\n"); /* the logins use what was reported */
        /* A refused password's hint names the file that gave it, or else the file that
         * was not used. */
        EXPECT_EQ(27u, add(QV_PRIV_USAGE));
        const auto &options = fake_mysql().connections.at(0).options;
        EXPECT_EQ(c.used ? "pw" : "(none)", options.count(MARIADB_OPT_PASSWORD)
                                                ? options.at(MARIADB_OPT_PASSWORD)
                                                : "(none)");
        EXPECT_EQ(0u, std::string(qv_DBEngine_last_hint())
                          .find(c.used ? "the server refused the password that " +
                                             (c.giver.empty() ? cnf : c.giver) + " gives"
                                       : "the server refused root's password, and " + cnf +
                                             " was not used: "))
            << qv_DBEngine_last_hint();
    }
}

TEST_F(EngineTest, EachCommonFailureEndsWithItsHintByPhase)
{
    const char *const PRIVILEGES =
        "root lacks the privileges to grant these; it needs ALL PRIVILEGES WITH GRANT OPTION";
    const char *const REUSE = "the server's password reuse policy (MariaDB's "
                              "password_reuse_check, MySQL's password_history) refused to set "
                              "the built-in password of N again; relax it while the suite is "
                              "installed (accounts made before stay), then run again";
    const char *const DROPPED = "the server's password reuse policy (password_reuse_check) still";
    const char *const SIMPLE = "the server's simple_password_check refused the built-in password";
    const char *const CRACKLIB = "the server's cracklib_password_check refused the built-in";
    /* MariaDB's warnings after a refused password. */
    const std::vector<std::string> simple_warning = {
        "Warning", "1819", "simple_password_check: Not enough upper case letters (< 1)"};
    const std::vector<std::string> reuse_warning = {
        "Warning", "1819", "password_reuse_check: The password was already used"};
    const std::vector<std::string> refusal = {
        "Error", "1819", "Your password does not satisfy the current policy requirements "
                         "(cracklib_password_check)"};
    /* The statements of level 2 on a default MariaDB: 1 the detection (reading), 2 and 3
     * GRANTs, 4 to 7 REVOKEs. Under password_reuse_check, with both forms there with
     * another password (forms 1): 1 the detection, 2 the reading of the forms, 3 and 4
     * ALTER USER, then the level; with only the localhost form there (forms 2): 3 the
     * CREATE USER of the other. 1045, 1698, 1819, 2013 and no number at all at the login,
     * on the detection and on the accounts' statements are
     * WholeRun.EachClientCallFailingInTurn's. */
    const struct {
        bool at_connect;
        int statement; /* the failing statement (1-based) when not at connect */
        int number;
        const char *hint; /* its beginning; null: none */
        const char *message = "refused";
        int forms = 0; /* 0: no reuse policy; 1 and 2: as above */
        std::vector<std::vector<std::string>> warnings = {};
    } cases[] = {
        {true, 0, 2002,
         "no database server answers on this machine; start it, or name its "
         "socket in MYSQL_UNIX_PORT or in ~/.my.cnf"},
        {true, 0, 2003, "no database server answers"},
        {true, 0, 1044, PRIVILEGES},
        /* on a statement: root lacks a privilege it grants */
        {false, 2, 1142, PRIVILEGES},
        {false, 3, 1227, PRIVILEGES},
        {false, 5, 1410, PRIVILEGES},
        {false, 1, 1142,
         "root lacks the privileges to read the grant tables; it needs SELECT on the mysql "
         "database (a run needs ALL PRIVILEGES WITH GRANT OPTION)"},
        {false, 2, 1819, REUSE,
         "Your password does not satisfy the current policy requirements (password_reuse_check)"},
        /* MariaDB's ALTER USER refused: 1396, and the plugin that refused in the warnings
         * (without warnings, under the reuse policy, that policy's) */
        {false, 3, 1396, REUSE, "Operation ALTER USER failed for 'N'@'%'", 1},
        {false, 3, 1396, REUSE, "Operation ALTER USER failed for 'N'@'%'", 1, {reuse_warning}},
        {false, 3, 1396, SIMPLE, "Operation ALTER USER failed for 'N'@'%'", 1, {simple_warning}},
        {false, 4, 1819, REUSE,
         "Your password does not satisfy the current policy requirements (password_reuse_check)",
         1},
        /* the reuse history of a dropped form refuses its CREATE USER */
        {false, 3, 1819, DROPPED,
         "Your password does not satisfy the current policy requirements (password_reuse_check)",
         2, {reuse_warning}},
        {false, 2, 1819, CRACKLIB, "Your password does not satisfy ...", 0, {refusal}},
        {false, 2, 1819, REUSE, "Your password does not satisfy ...", 0,
         {simple_warning, reuse_warning}},
        {false, 2, 3638, REUSE,
         "Cannot use these credentials for 'N@%' because they contradict "
         "the password history policy"},
        {false, 2, 1396, nullptr, "Operation GRANT failed"}, /* no reuse policy */
        {false, 4, 1290,
         "the server runs with --skip-grant-tables or read-only and cannot "
         "create accounts; restart it normally"},
        {false, 1, 2006,
         "the server stopped answering (a lock held by another session, such as "
         "a backup's FLUSH TABLES WITH READ LOCK, or a restart); run again when "
         "it answers"},
        {false, 2, 1064,
         "the server does not accept this statement form; see the supported "
         "servers in VADedeVeZovid(8)"},
        {false, 1, 1205, "the server did not answer in time: on a Galera node, the node did"},
        /* a Galera node that left the primary component after the detection */
        {false, 3, 1047, "the server is a Galera node that cannot speak for the cluster",
         "WSREP has not yet prepared node for application use"},
        {false, 4, 1064, nullptr}, /* a REVOKE: not the GRANT form */
        {true, 0, 1130, nullptr},
        {true, 0, 5010,
         "the server asked root to log in with 'qvprobe', a method the tool does not allow",
         "Authentication plugin 'qvprobe' couldn't be found in restricted_auth plugin list."},
    };
    for (const auto &c : cases) {
        fake_mysql_reset();
        fake_mysql().connect_fails = c.at_connect;
        fake_mysql().connect_errno = c.number;
        fake_mysql().fail_statement = c.statement;
        fake_mysql().statement_errno = c.number;
        fake_mysql().statement_error = c.message;
        fake_mysql().connect_error = c.message;
        std::vector<std::vector<std::string>> forms;
        if (c.forms > 0) {
            fake_mysql().detected["reuse_check"] = "1";
            forms = {{"localhost", "mysql_native_password", "*0"}};
            if (c.forms == 1)
                forms.push_back({"%", "mysql_native_password", "*0"});
        }
        answer_forms(forms, c.warnings);
        StderrCapture capture;
        EXPECT_NE(0u, add(QV_PRIV_DATA));
        auto lines = capture.finish();
        std::string last_hint = qv_DBEngine_last_hint();
        std::string where = std::to_string(c.number) + " at " + std::to_string(c.statement);
        /* After a refused password, and then only, the server's warnings are read. */
        bool refused = !c.at_connect && c.statement > 1 && (c.number == 1396 || c.number == 1819);
        const std::vector<std::string> sent = fake_mysql_statements();
        ASSERT_EQ(c.at_connect ? 0u : size_t(c.statement + refused), sent.size()) << where;
        EXPECT_EQ(refused, !sent.empty() && sent.back() == "SHOW WARNINGS") << where;
        ASSERT_FALSE(lines.empty());
        if (c.hint == nullptr) {
            EXPECT_EQ("", last_hint) << where;
            EXPECT_FALSE(any_line_contains(lines, "hint: ")) << where;
            continue;
        }
        EXPECT_EQ(0u, last_hint.find(c.hint)) << where << ": " << last_hint;
        EXPECT_EQ("ERROR  : hint: " + last_hint, lines.back()) << where;
        EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(), [](const std::string &l) {
                      return l.find("hint: ") != std::string::npos;
                  }));
        /* Several plugins that refused: each one's remedy. */
        EXPECT_EQ(c.warnings.size() > 1,
                  last_hint.find("; also, the server's simple_password_check refused") !=
                      std::string::npos)
            << last_hint;
    }
    /* a success clears the last hint */
    fake_mysql_reset();
    EXPECT_EQ(0u, add(QV_PRIV_DATA));
    EXPECT_STREQ("", qv_DBEngine_last_hint());
}

} // namespace
