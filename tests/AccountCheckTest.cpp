/*
 * Tests of the account check over the fake client calls: a MySQL 8 server, whose rows
 * are written here from MySQL 8's documented layouts (mysql.user, the role and dynamic
 * privilege tables, information_schema's privilege tables, SHOW PRIVILEGES), since no
 * MySQL 8 server installs from Debian: the three statements it sends on its one login,
 * and its verdicts in both forms of the report. Then the statement for each kind of
 * server, and MariaDB's JSON records of accounts.
 */
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "WinGUI/AccountCheck.h"
#include "tests/support/CredentialHashes.h"
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
    "Password_reuse_time,Password_require_current,User_attributes,qv_default_lifetime,qv_now,"
    "qv_last_changed,qv_roles,qv_default_roles,qv_dynamic,qv_dynamic_grantable";
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

std::string forms_statement(const char *info)
{
    QVDBServerFacts facts{};
    qv_server_facts_from_info(info, &facts);
    return qv_check_forms_statement(&facts);
}

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
        const std::string salt = "Zq3#kL0p;Rt8&vW2x!Y5";
        const std::string internal = caching_sha2("Rm5#Tq8w!Zp2&Lx9^Vc4*Nb7?Hs3%Gd6", salt);
        const std::string index = caching_sha2("m4hqzwtyop71v652kdnx;r-ploiuwbe3", salt);
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
                             {"authentication_string", caching_sha2("changed", salt)}})});
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
        fake_mysql().results = [this](const std::string &statement) {
            if (statement == forms_statement("8.0.36"))
                return users;
            if (statement == qv_check_privileges_statement())
                return privileges;
            return statement == QV_CHECK_SERVER_PRIVILEGES_STATEMENT ? show : FakeTable{};
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
        "      differs",
        "DUVidIdeRiv       localhost  missing           -                                       "
        "      -",
        "1 of 6 account forms as they should be; 1 missing, 1 with other privileges, 1 with "
        "another password, 1 locked, 1 with the password expired; 0 passwords unknown",
        "hint: ALTER USER 'QuorvaneInternal'@'localhost' ACCOUNT UNLOCK (a run does not unlock "
        "accounts)",
        "hint: ALTER USER 'QuOrvAneIndeX'@'localhost' IDENTIFIED BY '<its built-in password>' (a "
        "run sets it again on MariaDB without a password reuse policy)",
    };
    EXPECT_EQ(expected, split_lines(report)) << report;
    const FakeMysql &fake = fake_mysql();
    ASSERT_EQ(1u, fake.connections.size()); /* root's, and no service account's */
    EXPECT_EQ("root", fake.connections[0].user.value());
    EXPECT_EQ((std::vector<std::string>{forms_statement("8.0.36"), qv_check_privileges_statement(),
                                        "SHOW PRIVILEGES"}),
              fake.connections[0].statements);
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
            EXPECT_EQ(row[4], form["password"]["verdict"]) << i;
        } else {
            EXPECT_TRUE(form["privileges"].is_null() && form["password"].is_null()) << i;
        }
    }
}

TEST_F(MySql8Check, AServerThatCannotBeAskedSaysSoInJson)
{
    fake_mysql().fail_statement = 2;
    fake_mysql().statement_errno = 1142;
    auto [code, report] = run_check(true);
    EXPECT_EQ(1, code);
    nlohmann::json document = nlohmann::json::parse(report);
    EXPECT_EQ("the server could not be asked", document["error"]);
    /* The hint speaks of reading, not of granting. */
    EXPECT_EQ("root lacks the privileges to read the grant tables; it needs SELECT on the mysql "
              "database (a run needs ALL PRIVILEGES WITH GRANT OPTION)",
              document["hint"]);
    EXPECT_EQ(2u, fake_mysql().connections[0].statements.size()); /* none after the failure */
}

TEST(AccountCheck, TheFormsStatementFitsTheServer)
{
    const struct {
        const char *info, *present, *absent;
    } cases[] = {
        {"10.11.6-MariaDB-0+deb12u1",
         "g.Priv,FROM mysql.global_priv g,roles_mapping,@@default_password_lifetime",
         "g.*,role_edges,qv_last_changed"},
        {"10.3.39-MariaDB", "g.*,FROM mysql.user g,roles_mapping", "@@default"},
        {"5.5.68-MariaDB", "g.*", "roles_mapping,@@default"},
        {"5.7.44", "g.*,@@default_password_lifetime,qv_last_changed", "role_edges,roles_mapping"},
        {"8.0.36", "role_edges,default_roles,global_grants,qv_last_changed", "roles_mapping"},
        {"5.6.51", "g.*", "@@default,role"},
    };
    for (const auto &c : cases) {
        std::string statement = forms_statement(c.info);
        EXPECT_NE(std::string::npos,
                  statement.find(" WHERE g.User IN ('QuorvaneInternal', 'QuOrvAneIndeX', "
                                 "'DUVidIdeRiv') AND g.Host IN ('%', 'localhost')"));
        for (const std::string &text : split_at(c.present, ','))
            EXPECT_NE(std::string::npos, statement.find(text)) << c.info << ": " << text;
        for (const std::string &text : split_at(c.absent, ','))
            EXPECT_EQ(std::string::npos, statement.find(text)) << c.info << ": " << text;
    }
}

TEST(AccountCheck, MariaDbRecordsOfAccounts)
{
    const std::string native = "*EBCBA44619D242D9D3FAD0511DD096E5F96CC53B"; /* QuOrvAneIndeX's */
    const struct {
        std::string priv;
        int password;
        const char *reason;
        bool locked, expired;
    } cases[] = {
        /* IDENTIFIED VIA unix_socket OR mysql_native_password USING ... */
        {R"({"plugin":"mysql_native_password","authentication_string":")" + native +
             R"(","auth_or":[{"plugin":"unix_socket"},{}],"account_locked":true})",
         QV_CREDENTIAL_MATCHES, "", true, false},
        {R"({"plugin":"unix_socket","password_last_changed":0})", QV_CREDENTIAL_DIFFERS,
         "unix_socket takes no password", false, true},
        {R"({"access":0,"password_last_changed":1,"password_lifetime":0})", QV_CREDENTIAL_DIFFERS,
         "no password is set", false, false},
        {"not json", QV_CREDENTIAL_UNKNOWN, "its stored credential could not be read", false,
         false},
    };
    for (const auto &c : cases) {
        QVAccountCheck check;
        qv_check_init(&check);
        const char *names[] = {"User", "Host", "Priv"};
        const char *values[] = {"QuOrvAneIndeX", "%", c.priv.c_str()};
        qv_check_read_form_row(&check, 3, names, values);
        qv_check_conclude(&check);
        const QVFormCheck &form = check.forms[2];
        EXPECT_EQ(c.password, form.password) << c.priv;
        EXPECT_EQ(c.reason, form.reason) << c.priv;
        EXPECT_EQ(c.locked, form.locked) << c.priv;
        EXPECT_EQ(c.expired, form.expired) << c.priv;
    }
}

} // namespace
