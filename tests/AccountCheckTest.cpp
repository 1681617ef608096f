/*
 * Tests of the account check over the fake client calls: a MySQL 8 server, whose rows
 * are written here from MySQL 8's documented layouts (mysql.user, mysql.role_edges,
 * mysql.default_roles, mysql.global_grants, information_schema's privilege tables, SHOW
 * PRIVILEGES), since no MySQL 8 server installs from Debian: the three statements it
 * sends on its one login, and its verdicts in both forms of the report. Then the
 * statement for each kind of server, and MariaDB's JSON records of accounts.
 */
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <string>
#include <vector>

#include "WinGUI/AccountCheck.h"
#include "tests/support/FakeMysql.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PrivilegeColumns.h"
#include "tests/support/TestPlatform.h"

namespace
{

/* The stored credential of caching_sha2_password for password (salt of 20 bytes). */
std::string caching_sha2(const char *password)
{
    const std::string salt = "Zq3#kL0p;Rt8&vW2x!Y5";
    char digest[QV_CREDENTIAL_HASH_SIZE];
    EXPECT_EQ(0u, qv_credential_sha256_crypt(password, salt.data(), salt.size(), 5000, digest,
                                             sizeof digest));
    return "$A$005$" + salt + digest;
}

typedef std::vector<std::optional<std::string>> Row;

/* mysql.user of MySQL 8.0 as documented, with what the check's statement adds; the
 * server's clock reads now, its default password lifetime 90 days. */
FakeTable mysql8_users(const std::vector<Row> &accounts, const std::string &now)
{
    FakeTable t;
    t.names = {"Host", "User"};
    t.names.insert(t.names.end(), std::begin(g_shared_privilege_columns),
                   std::end(g_shared_privilege_columns));
    for (const char *name : {"ssl_type",
                             "ssl_cipher",
                             "x509_issuer",
                             "x509_subject",
                             "max_questions",
                             "max_updates",
                             "max_connections",
                             "max_user_connections",
                             "plugin",
                             "authentication_string",
                             "password_expired",
                             "password_last_changed",
                             "password_lifetime",
                             "account_locked",
                             "Create_role_priv",
                             "Drop_role_priv",
                             "Password_reuse_history",
                             "Password_reuse_time",
                             "Password_require_current",
                             "User_attributes",
                             "qv_default_lifetime",
                             "qv_now",
                             "qv_last_changed",
                             "qv_roles",
                             "qv_default_roles",
                             "qv_dynamic",
                             "qv_dynamic_grantable"})
        t.names.push_back(name);
    /* Each account: host, user, plugin, credential, expired, lifetime, locked, last
     * change, roles, default roles, dynamic privileges, those with the grant option. */
    for (const Row &a : accounts) {
        Row row = {a[0], a[1]};
        row.insert(row.end(), std::size(g_shared_privilege_columns), "N"); /* not read */
        for (const char *value : {"", "", "", "", "0", "0", "0", "0"})
            row.push_back(value);
        row.insert(row.end(), {a[2], a[3], a[4], "2024-01-01 00:00:00", a[5], a[6], "N", "N",
                               std::nullopt, std::nullopt, std::nullopt, std::nullopt, "90", now,
                               a[7], a[8], a[9], a[10], a[11]});
        t.rows.push_back(row);
    }
    return t;
}

const char *const STATIC_PRIVILEGES[] = {"Alter",
                                         "Alter routine",
                                         "Create",
                                         "Create routine",
                                         "Create role",
                                         "Create temporary tables",
                                         "Create view",
                                         "Create user",
                                         "Delete",
                                         "Drop",
                                         "Drop role",
                                         "Event",
                                         "Execute",
                                         "File",
                                         "Grant option",
                                         "Index",
                                         "Insert",
                                         "Lock tables",
                                         "Process",
                                         "Proxy",
                                         "References",
                                         "Reload",
                                         "Replication client",
                                         "Replication slave",
                                         "Select",
                                         "Show databases",
                                         "Show view",
                                         "Shutdown",
                                         "Super",
                                         "Trigger",
                                         "Create tablespace",
                                         "Update",
                                         "Usage"};
const char *const DYNAMIC_PRIVILEGES[] = {"BACKUP_ADMIN", "CONNECTION_ADMIN", "SYSTEM_USER",
                                          "XA_RECOVER_ADMIN"};

/* The privileges of the forms as information_schema shows them. */
FakeTable mysql8_privileges()
{
    FakeTable t;
    t.names = {"GRANTEE", "PRIVILEGE_TYPE", "OBJECT", "IS_GRANTABLE"};
    for (const char *host : {"'QuorvaneInternal'@'%'", "'QuorvaneInternal'@'localhost'"})
        for (const char *p : STATIC_PRIVILEGES) {
            std::string name = p;
            for (char &c : name)
                c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
            if (name != "GRANT OPTION" && name != "PROXY" && name != "USAGE")
                t.rows.push_back({host, name, "", "YES"});
        }
    for (const char *host : {"'QuOrvAneIndeX'@'%'", "'QuOrvAneIndeX'@'localhost'",
                             "'DUVidIdeRiv'@'%'", "'someone'@'%'"})
        for (const char *p : {"SELECT", "INSERT", "UPDATE", "DELETE", "CREATE", "DROP", "RELOAD",
                              "REFERENCES", "INDEX", "ALTER"})
            t.rows.push_back({host, p, "", "NO"});
    return t;
}

FakeTable mysql8_show_privileges()
{
    FakeTable t;
    t.names = {"Privilege", "Context", "Comment"};
    for (const char *p : STATIC_PRIVILEGES)
        t.rows.push_back({p, "Server Admin", ""});
    for (const char *p : DYNAMIC_PRIVILEGES)
        t.rows.push_back({p, "Server Admin", ""});
    return t;
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
        fake_mysql().server_version = 80036;
        const std::string days_ago_100 = std::to_string(time(nullptr) - 100 * 86400);
        const std::string dynamic = "BACKUP_ADMIN,CONNECTION_ADMIN,SYSTEM_USER,XA_RECOVER_ADMIN";
        const std::string internal = caching_sha2("Rm5#Tq8w!Zp2&Lx9^Vc4*Nb7?Hs3%Gd6");
        const std::string index = caching_sha2("m4hqzwtyop71v652kdnx;r-ploiuwbe3");
        const std::string now = std::to_string(time(nullptr)), recent = now;
        users = mysql8_users(
            {
                {"%", "QuorvaneInternal", "caching_sha2_password", internal, "N", std::nullopt, "N",
                 recent, std::nullopt, std::nullopt, dynamic, dynamic},
                {"localhost", "QuorvaneInternal", "caching_sha2_password", internal, "N", "0", "Y",
                 recent, std::nullopt, std::nullopt, dynamic, dynamic},
                {"%", "QuOrvAneIndeX", "caching_sha2_password", index, "N", std::nullopt, "N", now,
                 "qv_role@%", "qv_role@%", "BACKUP_ADMIN", std::nullopt},
                /* the server's default lifetime (90 days) has passed */
                {"localhost", "QuOrvAneIndeX", "caching_sha2_password", index, "N", std::nullopt,
                 "N", days_ago_100, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
                {"%", "DUVidIdeRiv", "caching_sha2_password", caching_sha2("changed"), "N", "0",
                 "N", recent, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
            },
            now);
        fake_mysql().results = [this](const std::string &statement) {
            if (statement == qv_check_forms_statement("8.0.36", 80036))
                return users;
            if (statement == qv_check_privileges_statement())
                return mysql8_privileges();
            if (statement == QV_CHECK_SERVER_PRIVILEGES_STATEMENT)
                return mysql8_show_privileges();
            return FakeTable{};
        };
    }
    FakeTable users;
};

TEST_F(MySql8Check, ThreeReadingStatementsOnOneLoginAndEveryVerdict)
{
    auto [code, report] = run_check(false);
    EXPECT_EQ(1, code);
    const std::vector<std::string> expected = {
        "ACCOUNT           HOST       FORM              PRIVILEGES                                "
        "    PASSWORD",
        "QuorvaneInternal  %          present           ok                                        "
        "    ok",
        "QuorvaneInternal  localhost  locked            ok                                        "
        "    ok",
        "QuOrvAneIndeX     %          present           extra BACKUP_ADMIN, role qv_role@% "
        "(default)  ok",
        "QuOrvAneIndeX     localhost  password expired  ok                                        "
        "    ok",
        "DUVidIdeRiv       %          present           ok                                        "
        "    differs",
        "DUVidIdeRiv       localhost  missing           -                                         "
        "    -",
        "1 of 6 account forms as they should be; 1 missing, 1 with other privileges, 1 with "
        "another password, 1 locked, 1 with the password expired; 0 passwords unknown",
        "hint: ALTER USER 'QuorvaneInternal'@'localhost' ACCOUNT UNLOCK (a run does not unlock "
        "accounts)",
        "hint: ALTER USER 'QuOrvAneIndeX'@'localhost' IDENTIFIED BY '<its built-in password>' (a "
        "run of VADedeVeZovid sets the password anew)",
    };
    EXPECT_EQ(expected, split_lines(report)) << report;

    const FakeMysql &fake = fake_mysql();
    ASSERT_EQ(1u, fake.connections.size()); /* root's, and no service account's */
    EXPECT_EQ("root", fake.connections[0].user.value());
    EXPECT_EQ((std::vector<std::string>{qv_check_forms_statement("8.0.36", 80036),
                                        qv_check_privileges_statement(), "SHOW PRIVILEGES"}),
              fake.connections[0].statements);
    EXPECT_EQ(0, fake.open_handles);
    EXPECT_EQ(0, fake.results_open);
}

TEST_F(MySql8Check, JsonHoldsTheSameVerdicts)
{
    auto [code, report] = run_check(true);
    EXPECT_EQ(1, code);
    nlohmann::json document = nlohmann::json::parse(report);
    EXPECT_EQ("8.0.36", document["server"]);
    EXPECT_EQ(1, document["exit_status"]);
    EXPECT_EQ((nlohmann::json{{"forms", 6},
                              {"as_they_should_be", 1},
                              {"missing", 1},
                              {"with_other_privileges", 1},
                              {"with_another_password", 1},
                              {"locked", 1},
                              {"password_expired", 1},
                              {"passwords_unknown", 0}}),
              document["summary"]);
    const nlohmann::json &index = document["forms"][2];
    EXPECT_EQ("QuOrvAneIndeX", index["account"]);
    EXPECT_EQ((std::vector<std::string>{"BACKUP_ADMIN", "role qv_role@% (default)"}),
              index["privileges"]["extra"]);
    EXPECT_EQ("ok", index["password"]["verdict"]);
    EXPECT_EQ("differs", document["forms"][4]["password"]["verdict"]);
    EXPECT_TRUE(document["forms"][1]["locked"]);
    EXPECT_EQ(1u, document["forms"][1]["mend"].size());
    EXPECT_FALSE(document["forms"][5]["present"]);
    EXPECT_TRUE(document["forms"][5]["password"].is_null());
}

TEST_F(MySql8Check, AServerThatCannotBeAskedSaysSoInJson)
{
    fake_mysql().fail_statement = 2;
    fake_mysql().statement_errno = 1142;
    auto [code, report] = run_check(true);
    EXPECT_EQ(1, code);
    nlohmann::json document = nlohmann::json::parse(report);
    EXPECT_EQ("the server could not be asked", document["error"]);
    EXPECT_EQ(1, document["exit_status"]);
    EXPECT_EQ(2u, fake_mysql().connections[0].statements.size()); /* none after the failure */
}

TEST(AccountCheck, TheFormsStatementFitsTheServer)
{
    const struct {
        const char *info;
        unsigned long version;
        std::vector<const char *> present, absent;
    } cases[] = {
        {"10.11.6-MariaDB-0+deb12u1",
         101106,
         {"g.Priv", "FROM mysql.global_priv g", "roles_mapping", "@@default_password_lifetime"},
         {"g.*", "role_edges", "qv_last_changed"}},
        {"10.3.39-MariaDB", 100339, {"g.*", "FROM mysql.user g", "roles_mapping"}, {"@@default"}},
        {"5.5.68-MariaDB", 50568, {"g.*"}, {"roles_mapping", "@@default"}},
        {"5.7.44",
         50744,
         {"g.*", "@@default_password_lifetime", "qv_last_changed"},
         {"role_edges", "roles_mapping"}},
        {"8.0.36", 80036, {"role_edges", "default_roles", "global_grants", "qv_last_changed"}, {}},
        {"5.6.51", 50651, {"g.*"}, {"@@default", "role"}},
    };
    for (const auto &c : cases) {
        std::string statement = qv_check_forms_statement(c.info, c.version);
        EXPECT_EQ(0u, statement.find("SELECT ")) << statement;
        EXPECT_NE(std::string::npos,
                  statement.find(" WHERE g.User IN ('QuorvaneInternal', 'QuOrvAneIndeX', "
                                 "'DUVidIdeRiv') AND g.Host IN ('%', 'localhost')"));
        for (const char *text : c.present)
            EXPECT_NE(std::string::npos, statement.find(text)) << c.info << ": " << text;
        for (const char *text : c.absent)
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
        {R"({"plugin":"mysql_native_password","authentication_string":")" + native +
             R"(","password_last_changed":1700000000})",
         QV_CREDENTIAL_MATCHES, "", false, false},
        /* IDENTIFIED VIA mysql_native_password USING ... OR unix_socket */
        {R"({"plugin":"mysql_native_password","authentication_string":")" + native +
             R"(","auth_or":[{"plugin":"unix_socket"},{}],"account_locked":true})",
         QV_CREDENTIAL_MATCHES, "", true, false},
        {R"({"plugin":"unix_socket","password_last_changed":0})", QV_CREDENTIAL_DIFFERS,
         "unix_socket takes no password", false, true},
        {R"({"access":0})", QV_CREDENTIAL_DIFFERS, "no password is set", false, false},
        {R"({"plugin":"parsec","authentication_string":"P0:x"})", QV_CREDENTIAL_UNKNOWN,
         "parsec cannot be verified by this tool", false, false},
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
        EXPECT_TRUE(form.exists);
        EXPECT_EQ(c.password, form.password) << c.priv;
        EXPECT_EQ(c.reason, form.reason) << c.priv;
        EXPECT_EQ(c.locked, form.locked) << c.priv;
        EXPECT_EQ(c.expired, form.expired) << c.priv;
    }
}

} // namespace
