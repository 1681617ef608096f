/*
 * Tests of the account check over the fake client calls: a MySQL 8 server, whose rows
 * are written here from MySQL 8's documented layouts (mysql.user, the role and dynamic
 * privilege tables, information_schema's privilege tables, SHOW PRIVILEGES), since no
 * MySQL 8 server installs from Debian: the three statements it sends on its one login,
 * and its verdicts and remedies in both forms of the report. Then the statements for
 * each kind of server, and MariaDB's JSON records of accounts: chains of methods,
 * expiry by a lifetime against the server's clock, TLS, and padded CHAR values.
 */
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "WinGUI/CheckReport.h"
#include "WinGUI/VADedeVeZovidApp.h"
#include "tests/support/FakeMysql.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PrivilegeColumns.h"
#include "tests/support/TestPlatform.h"

namespace
{

/* mysql.user's columns after its privileges, as MySQL 8.0 documents them, then those
 * the check's statement adds. */
const char USER_COLUMNS[] =
    "ssl_type,ssl_cipher,x509_issuer,x509_subject,max_questions,max_updates,max_connections,"
    "max_user_connections,plugin,authentication_string,password_expired,password_last_changed,"
    "password_lifetime,account_locked,Create_role_priv,Drop_role_priv,Password_reuse_history,"
    "Password_reuse_time,Password_require_current,User_attributes,qv_now,qv_default_lifetime,"
    "qv_last_changed,qv_tls,qv_proxies,qv_roles,qv_default_roles,qv_dynamic,"
    "qv_dynamic_grantable";
/* SHOW PRIVILEGES of MySQL 8.0: the static privileges, then some dynamic ones. */
const char SERVER_PRIVILEGES[] =
    "Alter,Alter routine,Create,Create routine,Create role,Create temporary tables,Create view,"
    "Create user,Delete,Drop,Drop role,Event,Execute,File,Grant option,Index,Insert,Lock tables,"
    "Process,Proxy,References,Reload,Replication client,Replication slave,Select,Show databases,"
    "Show view,Shutdown,Super,Trigger,Create tablespace,Update,Usage,BACKUP_ADMIN,"
    "CONNECTION_ADMIN,SYSTEM_USER,XA_RECOVER_ADMIN";
const char DATA_RELOAD[] = "SELECT,INSERT,UPDATE,DELETE,CREATE,DROP,RELOAD,REFERENCES,INDEX,ALTER";

/* A table of rows given by column name; a column a row does not name is NULL. */
FakeTable table(const std::vector<std::string> &names,
                const std::vector<std::map<std::string, std::string>> &rows)
{
    FakeTable t{names, {}};
    for (const auto &values : rows) {
        std::vector<std::optional<std::string>> row;
        for (const std::string &name : names)
            row.push_back(values.count(name) ? std::optional<std::string>(values.at(name))
                                             : std::nullopt);
        t.rows.push_back(row);
    }
    return t;
}

/* The statements the check sends to a server that gives info at its login. */
std::vector<std::string> check_statements(const char *info)
{
    QVAccountCheck check{};
    qv_check_init(&check, g_service_accounts, info);
    std::vector<std::string> texts;
    for (const QVCheckStatement &statement : qv_check_statements(&check))
        texts.push_back(statement.text);
    return texts;
}

/* caching_sha2_password's stored credentials, 5000 rounds with the salt in them, made by
 * tests/scripts/sha256_crypt.py (a second implementation of SHA-256-crypt). */
const char INTERNAL_SHA2[] = "$A$005$Zq3#kL0p;Rt8&vW2x!Y5zE1zABiZ2yui4mKpsFroAXbFhIio6HHVjFD5H4NGeh0";
const char INDEX_SHA2[] = "$A$005$Zq3#kL0p;Rt8&vW2x!Y58wQUXkwYJFk5U6awXtg1bPUp1Klt6jpDc0kHUb1o.E3";
const char CHANGED_SHA2[] = "$A$005$Zq3#kL0p;Rt8&vW2x!Y5a68yhpWEe4O8X/91PM7yju23W9M0i8Ej10ZkDrlNOJ4";

/* Runs the check against the fake; returns the exit code and the report. */
std::pair<int, std::string> run_check(bool json)
{
    FILE *out = open_temp_stream();
    if (out == nullptr) {
        ADD_FAILURE() << "no temporary file for the report";
        return {-1, ""};
    }
    QVDBSettings settings{};
    EXPECT_EQ(0u, AdministratorSettings(&settings));
    int code;
    {
        StderrCapture quiet;
        code = CheckServiceAccounts(&settings, out, json);
    }
    std::string report;
    char buffer[4096];
    rewind(out);
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, out)) > 0;)
        report.append(buffer, n);
    fclose(out);
    qv_DBEngine_settings_free(&settings);
    return {code, report};
}

class MySql8Check : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        fake_mysql_reset();
        fake_mysql().server_info = "8.0.36";
        std::vector<std::string> user_names = {"Host", "User"};
        user_names.insert(user_names.end(), std::begin(g_shared_privilege_columns),
                          std::end(g_shared_privilege_columns));
        for (const std::string &name : split_at(USER_COLUMNS, ','))
            user_names.push_back(name);
        const std::string now = std::to_string(time(nullptr));
        const std::string all_dynamic =
            "BACKUP_ADMIN,CONNECTION_ADMIN,SYSTEM_USER,XA_RECOVER_ADMIN";
        const std::map<std::string, std::string> base = {{"plugin", "caching_sha2_password"},
                                                         {"password_expired", "N"},
                                                         {"account_locked", "N"},
                                                         {"qv_default_lifetime", "90"},
                                                         {"qv_now", now},
                                                         {"qv_last_changed", now}};
        auto with = [&](std::map<std::string, std::string> values) {
            values.insert(base.begin(), base.end());
            return values;
        };
        const std::string internal = INTERNAL_SHA2, index = INDEX_SHA2;
        users = table(user_names,
                      {with({{"Host", "%"},
                             {"User", "QuorvaneInternal"},
                             {"authentication_string", internal},
                             {"qv_dynamic", all_dynamic},
                             {"qv_dynamic_grantable", all_dynamic}}),
                       with({{"Host", "localhost"},
                             {"User", "QuorvaneInternal"},
                             {"authentication_string", internal},
                             {"account_locked", "Y"},
                             {"qv_dynamic", all_dynamic},
                             {"qv_dynamic_grantable", all_dynamic}}),
                       with({{"Host", "%"},
                             {"User", "QuOrvAneIndeX"},
                             {"authentication_string", index},
                             {"qv_roles", "qv_role@%"},
                             {"qv_default_roles", "qv_role@%"},
                             {"qv_dynamic", "BACKUP_ADMIN"}}),
                       /* the server's default lifetime (90 days) has passed */
                       with({{"Host", "localhost"},
                             {"User", "QuOrvAneIndeX"},
                             {"authentication_string", index},
                             {"qv_last_changed", std::to_string(time(nullptr) - 100 * 86400)}}),
                       with({{"Host", "%"},
                             {"User", "DUVidIdeRiv"},
                             {"authentication_string", CHANGED_SHA2}})});
        std::vector<std::map<std::string, std::string>> granted, server;
        for (const std::string &p : split_at(SERVER_PRIVILEGES, ',')) {
            server.push_back({{"Privilege", p}});
            std::string name = p;
            for (char &c : name)
                c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
            if (p.find('_') == std::string::npos && p != "Grant option" && p != "Proxy" &&
                p != "Usage")
                for (const char *host :
                     {"'QuorvaneInternal'@'%'", "'QuorvaneInternal'@'localhost'"})
                    granted.push_back({{"GRANTEE", host},
                                       {"PRIVILEGE_TYPE", name},
                                       {"OBJECT", ""},
                                       {"IS_GRANTABLE", "YES"}});
        }
        for (const char *host : {"'QuOrvAneIndeX'@'%'", "'QuOrvAneIndeX'@'localhost'",
                                 "'DUVidIdeRiv'@'%'", "'someone'@'%'"})
            for (const std::string &p : split_at(DATA_RELOAD, ','))
                granted.push_back({{"GRANTEE", host},
                                   {"PRIVILEGE_TYPE", p},
                                   {"OBJECT", ""},
                                   {"IS_GRANTABLE", "NO"}});
        privileges = table({"GRANTEE", "PRIVILEGE_TYPE", "OBJECT", "IS_GRANTABLE"}, granted);
        show = table({"Privilege", "Context", "Comment"}, server);
        const std::vector<std::string> sent = check_statements("8.0.36");
        fake_mysql().results = [this, sent](const std::string &statement) {
            if (statement == sent[0])
                return users;
            if (statement == sent[1])
                return privileges;
            return statement == sent[2] ? show : FakeTable{};
        };
    }
    FakeTable users, privileges, show;
};

TEST_F(MySql8Check, ThreeReadingStatementsOnOneLoginAndEveryVerdictInBothReports)
{
    auto [code, report] = run_check(false);
    EXPECT_EQ(1, code);
    const std::vector<std::string> expected = {
        "ACCOUNT           HOST       FORM              PRIVILEGES                              "
        "      PASSWORD",
        "QuorvaneInternal  %          present           ok                                      "
        "      ok",
        "QuorvaneInternal  localhost  locked            ok                                      "
        "      ok",
        "QuOrvAneIndeX     %          present           extra BACKUP_ADMIN, role qv_role@% "
        "(default)  ok",
        "QuOrvAneIndeX     localhost  password expired  ok                                      "
        "      ok",
        "DUVidIdeRiv       %          present           ok                                      "
        "      differs (caching_sha2_password: another password)",
        "DUVidIdeRiv       localhost  missing           -                                       "
        "      -",
        "1 of 6 account forms as they should be; 1 missing, 1 with other privileges, 1 with "
        "another password, 1 locked, 1 with the password expired, 0 requiring TLS the server "
        "lacks; 0 passwords unknown",
        /* each remedy once, in the order of the forms */
        "hint: ALTER USER 'QuorvaneInternal'@'localhost' ACCOUNT UNLOCK (a run does not unlock "
        "accounts)",
        "hint: REVOKE BACKUP_ADMIN ON *.* FROM 'QuOrvAneIndeX'@'%' (a run does not take them "
        "away)",
        "hint: REVOKE 'qv_role'@'%' FROM 'QuOrvAneIndeX'@'%' (a run does not take it away)",
        "hint: SET DEFAULT ROLE NONE FOR 'QuOrvAneIndeX'@'%' (a run does not change it)",
        "hint: ALTER USER 'QuOrvAneIndeX'@'localhost' IDENTIFIED BY '<its built-in password>' (a "
        "run sets it again on MariaDB without a password reuse policy)",
        "hint: run VADedeVeZovid (a run makes a missing form, gives what its level lacks, takes "
        "away what its level revokes and sets the built-in password)",
    };
    EXPECT_EQ(expected, split_lines(report)) << report;
    const FakeMysql &fake = fake_mysql();
    ASSERT_EQ(1u, fake.connections.size()); /* root's, and no service account's */
    EXPECT_EQ("root", fake.connections[0].user.value());
    EXPECT_EQ(check_statements("8.0.36"), fake.connections[0].statements);
    EXPECT_EQ(0, fake.open_handles);
    EXPECT_EQ(0, fake.results_open);

    auto [json_code, json] = run_check(true);
    nlohmann::json document = nlohmann::json::parse(json);
    EXPECT_EQ(1, json_code);
    EXPECT_EQ(1, document["exit_status"]);
    EXPECT_EQ(
        (std::vector<int>{1, 1, 1, 1, 1, 1, 0}),
        (std::vector<int>{document["summary"]["as_they_should_be"], document["summary"]["missing"],
                          document["summary"]["with_other_privileges"],
                          document["summary"]["with_another_password"],
                          document["summary"]["locked"], document["summary"]["password_expired"],
                          document["summary"]["passwords_unknown"]}));
    EXPECT_EQ((std::vector<std::string>{"BACKUP_ADMIN", "role qv_role@% (default)"}),
              document["forms"][2]["privileges"]["extra"]);
    /* Each form as the table shows it: account, host, form, privileges, password. */
    for (size_t i = 0; i < 6; i++) {
        const std::vector<std::string> row = split_cells(expected[1 + i]);
        const nlohmann::json &form = document["forms"][i];
        const bool present = row[2] != "missing";
        EXPECT_EQ(nlohmann::json(
                      {row[0], row[1], present, row[2] == "locked", row[2] == "password expired"}),
                  nlohmann::json({form["account"], form["host"], form["present"], form["locked"],
                                  form["password_expired"]}))
            << i;
        if (present) {
            EXPECT_EQ(row[3] == "ok", form["privileges"]["ok"]) << i;
            EXPECT_EQ(split_at(row[4], ' ')[0], form["password"]["verdict"]) << i;
        } else {
            EXPECT_TRUE(form["privileges"].is_null() && form["password"].is_null()) << i;
        }
    }
}

TEST_F(MySql8Check, AServerThatCannotBeAskedIsUnknown)
{
    fake_mysql().fail_statement = 2;
    fake_mysql().statement_errno = 1142;
    auto [code, report] = run_check(true);
    EXPECT_EQ(3, code); /* a monitoring plugin's "unknown" */
    nlohmann::json document = nlohmann::json::parse(report);
    EXPECT_EQ(1, document["format"]);
    EXPECT_EQ("the server could not be asked", document["error"]);
    EXPECT_EQ(3, document["exit_status"]);
    /* The hint speaks of reading, not of granting. */
    EXPECT_EQ("root lacks the privileges to read the grant tables; it needs SELECT on the mysql "
              "database (a run needs ALL PRIVILEGES WITH GRANT OPTION)",
              document["hint"]);
    EXPECT_EQ(2u, fake_mysql().connections[0].statements.size()); /* none after the failure */
}

TEST(AccountCheck, TheStatementsFitTheServer)
{
    const struct {
        const char *info, *present, *absent;
        size_t statements;
    } cases[] = {
        {"10.11.6-MariaDB-0+deb12u1",
         "g.Priv,FROM (SELECT 1) qv_server LEFT JOIN mysql.global_priv g,roles_mapping,"
         "@@default_password_lifetime,proxies_priv,@@have_ssl,AS node_state",
         "g.*,role_edges,qv_last_changed", 4},
        {"10.6.18-MariaDB", "g.Priv,roles_mapping", "g.*", 3},
        {"10.3.39-MariaDB", "g.*,LEFT JOIN mysql.user g,roles_mapping", "@@default", 3},
        {"5.5.68-MariaDB", "g.*,proxies_priv", "roles_mapping,@@default", 3},
        {"5.7.44", "g.*,@@default_password_lifetime,qv_last_changed,@@have_ssl",
         "role_edges,roles_mapping,native_password", 3},
        {"8.0.36",
         "role_edges,default_roles,global_grants,qv_last_changed,tls_channel_status,AS "
         "native_password",
         "roles_mapping,@@have_ssl,AS node_state", 3},
        {"5.1.73", "g.*,UNIX_TIMESTAMP() AS qv_now", "@@default,role,proxies_priv", 3},
    };
    for (const auto &c : cases) {
        std::vector<std::string> statements = check_statements(c.info);
        ASSERT_EQ(c.statements, statements.size()) << c.info;
        const std::string &forms = statements[0];
        EXPECT_NE(std::string::npos,
                  forms.find(" g ON g.User IN ('QuorvaneInternal', 'QuOrvAneIndeX', "
                             "'DUVidIdeRiv') AND g.Host IN ('%', 'localhost')"));
        for (const std::string &text : split_at(c.present, ','))
            EXPECT_NE(std::string::npos, forms.find(text)) << c.info << ": " << text;
        for (const std::string &text : split_at(c.absent, ','))
            EXPECT_EQ(std::string::npos, forms.find(text)) << c.info << ": " << text;
        /* PUBLIC's grants where the server has PUBLIC */
        EXPECT_EQ(c.statements == 4, statements[1].find("'''PUBLIC''@'''''") != std::string::npos);
        const std::string last = c.statements == 4 ? "SHOW GRANTS FOR PUBLIC" : "SHOW PRIVILEGES";
        EXPECT_EQ(last, statements.back().substr(statements.back().size() - last.size()));
        /* MariaDB 10.1.2 and later read as a Galera cluster holds it, where it may be one */
        const bool waits = strncmp(c.info, "10.", 3) == 0;
        for (const std::string &statement : statements)
            EXPECT_EQ(waits ? 0 : std::string::npos, statement.find(waits ? CHECK_WAIT : "SET "));
    }
}

/* (A node outside the primary component: GaleraClusterTest, on a real cluster.) */
TEST(AccountCheck, AGaleraNodeIsNamedInBothReports)
{
    fake_mysql_reset(); /* MariaDB 10.11 */
    const std::vector<std::string> sent = check_statements(fake_mysql().server_info.c_str());
    std::map<std::string, std::string> node = {
        {"galera", "1"},       {"node_ready", "1"},     {"node_primary", "1"},
        {"node_rejects", "0"}, {"node_local_ddl", "0"}, {"node_index", "1"},
        {"cluster_size", "3"}, {"node_state", "Synced"}};
    std::vector<std::string> names = {"User", "Host", "Priv"}; /* NULL: no form exists */
    for (const auto &column : node)
        names.push_back(column.first);
    fake_mysql().results = [&](const std::string &statement) {
        return statement == sent[0] ? table(names, {node}) : FakeTable{};
    };
    const bool waits = CHECK_WAIT[0] != '\0';
    EXPECT_EQ(std::string("read on Galera node 2 of 3, Synced") +
                  (waits ? ", after it had applied all that the cluster had committed" : ""),
              split_lines(run_check(false).second).at(8));
    EXPECT_EQ(R"({"node":2,"reads_synced":)" + std::string(waits ? "true" : "false") +
                  R"(,"size":3,"state":"Synced"})",
              nlohmann::json::parse(run_check(true).second)["cluster"].dump());

    /* A server built without Galera refuses the wait: it is read again without it. */
    if (!waits)
        return;
    fake_mysql().fail_statement = fake_mysql().statements_sent + 1;
    fake_mysql().statement_errno = 1193;
    EXPECT_EQ(1, run_check(false).first);
    std::vector<std::string> expected = {sent[0]};
    for (const std::string &statement : sent)
        expected.push_back(statement.substr(strlen(CHECK_WAIT)));
    EXPECT_EQ(expected, fake_mysql().connections.back().statements);
}

TEST(AccountCheck, MariaDbRecordsOfAccounts)
{
    const std::string native = "*EBCBA44619D242D9D3FAD0511DD096E5F96CC53B"; /* QuOrvAneIndeX's */
    const std::string now = "1800000000", two_days_ago = "1799827200";
    const std::string holds = R"({"plugin":"mysql_native_password","authentication_string":")" +
                              native + R"(","password_last_changed":)" + two_days_ago;
    const struct {
        std::string priv;
        const char *default_lifetime, *tls;
        int password;
        const char *reason;
        bool locked, expired, tls_unavailable;
    } cases[] = {
        /* IDENTIFIED VIA unix_socket OR mysql_native_password USING ... */
        {R"({"plugin":"mysql_native_password","authentication_string":")" + native +
             R"(","auth_or":[{"plugin":"unix_socket"},{}],"account_locked":true})",
         "0", "YES", QV_CREDENTIAL_MATCHES, "", true, false, false},
        /* every method of a chain is named with why it refused (a method whose hash every
         * platform computes: ed25519 is unknown on Windows) */
        {R"({"plugin":"mysql_native_password","authentication_string":")"
         R"(*0000000000000000000000000000000000000000","auth_or":[{},{"plugin":"unix_socket"}]})",
         "0", "YES", QV_CREDENTIAL_DIFFERS,
         "mysql_native_password: another password; unix_socket: takes no password", false, false,
         false},
        {R"({"plugin":"unix_socket","password_last_changed":0})", "0", "YES",
         QV_CREDENTIAL_DIFFERS, "unix_socket: takes no password", false, true, false},
        {R"({"access":0,"password_last_changed":1,"password_lifetime":0})", "0", "YES",
         QV_CREDENTIAL_DIFFERS, "mysql_native_password: no password is set", false, false, false},
        /* a lifetime not yet passed on the server's clock; -1 the server's default (the
         * others: CheckAnswersEachHardenedSetUpTruly, on the real server) */
        {holds + R"(,"password_lifetime":3})", "0", "YES", QV_CREDENTIAL_MATCHES, "", false, false,
         false},
        {holds + R"(,"password_lifetime":-1})", "1", "YES", QV_CREDENTIAL_MATCHES, "", false, true,
         false},
        /* REQUIRE SSL: a difference only on a server without TLS */
        {holds + R"(,"ssl_type":1})", "0", "DISABLED", QV_CREDENTIAL_MATCHES, "", false, false,
         true},
        {holds + R"(,"ssl_type":1})", "0", "YES", QV_CREDENTIAL_MATCHES, "", false, false, false},
        {"not json", "0", "YES", QV_CREDENTIAL_UNKNOWN, "its stored credential could not be read",
         false, false, false},
    };
    for (const auto &c : cases) {
        QVAccountCheck check{};
        qv_check_init(&check, g_service_accounts, "10.11.6-MariaDB");
        /* CHAR values as PAD_CHAR_TO_FULL_LENGTH pads them */
        const char *names[] = {"User", "Host", "Priv", "qv_now", "qv_default_lifetime", "qv_tls"};
        const char *values[] = {"QuOrvAneIndeX   ", "%        ", c.priv.c_str(), now.c_str(),
                                c.default_lifetime, c.tls};
        qv_check_read_form_row(&check, 6, names, values);
        qv_check_conclude(&check);
        const QVFormCheck &form = check.forms[2];
        ASSERT_TRUE(form.stored.exists) << c.priv;
        EXPECT_EQ(c.password, form.password) << c.priv;
        EXPECT_EQ(c.reason, form.reason) << c.priv;
        EXPECT_EQ(c.locked, form.stored.locked) << c.priv;
        EXPECT_EQ(c.expired, form.expired) << c.priv;
        EXPECT_EQ(c.tls_unavailable, form.tls_unavailable) << c.priv;
    }
}

/* MySQL 8.4 may run without mysql_native_password: a form stored for it no longer logs
 * in, whatever its hash, and a run moves it to caching_sha2_password. */
TEST(AccountCheck, ANativePasswordAdmitsNothingWhereTheServerNoLongerRunsIt)
{
    const struct {
        const char *active; /* null: the server did not say */
        int password;
        const char *reason;
    } cases[] = {{"1", QV_CREDENTIAL_MATCHES, ""},
                 {nullptr, QV_CREDENTIAL_MATCHES, ""},
                 {"0", QV_CREDENTIAL_DIFFERS,
                  "mysql_native_password: the server no longer runs this method"}};
    for (const auto &c : cases) {
        QVAccountCheck check{};
        qv_check_init(&check, g_service_accounts, "8.4.0");
        const char *names[] = {"User", "Host", "plugin", "authentication_string",
                               "native_password"};
        const char *values[] = {"QuOrvAneIndeX", "%", "mysql_native_password",
                                "*EBCBA44619D242D9D3FAD0511DD096E5F96CC53B", c.active};
        qv_check_read_form_row(&check, c.active ? 5 : 4, names, values);
        qv_check_conclude(&check);
        EXPECT_EQ(c.password, check.forms[2].password) << c.reason;
        EXPECT_EQ(c.reason, check.forms[2].reason);
    }
}

} // namespace
