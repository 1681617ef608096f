/*
 * Tests of the account check over the fake client calls: a MySQL 8 server, whose salted
 * passwords cannot be compared, the statements it sends (reading only), and the pure
 * parts: privilege names and the comparison of the two forms' stored passwords.
 */
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "WinGUI/AccountCheck.h"
#include "tests/support/FakeMysql.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PrivilegeColumns.h"
#include "tests/support/TestFiles.h"

namespace
{

/* MySQL 8's mysql.user as a run leaves it, for account name at host. */
FakeTable mysql8_user_row(const std::string &name, const std::string &host)
{
    std::vector<const char *> columns(std::begin(g_shared_privilege_columns),
                                      std::end(g_shared_privilege_columns));
    columns.push_back("Create_role_priv");
    columns.push_back("Drop_role_priv");
    /* what level 3 leaves; QuorvaneInternal (level 0) holds everything */
    const std::set<std::string> level3 = {
        "Select_priv", "Insert_priv", "Update_priv",     "Delete_priv", "Create_priv",
        "Drop_priv",   "Reload_priv", "References_priv", "Index_priv",  "Alter_priv"};
    FakeTable t;
    t.names = {"Host", "User"};
    std::vector<std::optional<std::string>> row = {host, name};
    for (const char *column : columns) {
        t.names.push_back(column);
        row.push_back(name == "QuorvaneInternal" || level3.count(column) ? "Y" : "N");
    }
    t.names.push_back("plugin");
    row.push_back("caching_sha2_password");
    t.names.push_back("authentication_string");
    row.push_back(std::string("$A$005$salt-of-") + host); /* salted: differs per form */
    t.rows.push_back(row);
    return t;
}

TEST(AccountCheck, MySql8ServerWithSaltedPasswords)
{
    fake_mysql_reset();
    fake_mysql().server_info = "8.0.36";
    fake_mysql().server_version = 80036;
    fake_mysql().results = [](const std::string &statement) {
        for (const char *name : {"QuorvaneInternal", "QuOrvAneIndeX", "DUVidIdeRiv"})
            for (const char *host : {"%", "localhost"})
                if (statement == std::string("SELECT * FROM mysql.user WHERE User='") + name +
                                     "' AND Host='" + host + "'")
                    return mysql8_user_row(name, host);
        return FakeTable{};
    };
    TempDir dir;
    std::string out_path = dir.path() + "/out";
    FILE *out = fopen(out_path.c_str(), "w");
    ASSERT_NE(nullptr, out);
    QVDBSettings settings{};
    ASSERT_EQ(0u, AdministratorSettings(&settings));
    int code;
    {
        StderrCapture quiet;
        code = CheckServiceAccounts(&settings, out);
    }
    fclose(out);
    qv_DBEngine_settings_free(&settings);

    /* Each localhost form logs in; the others' salted strings cannot be compared. */
    EXPECT_EQ(0, code);
    auto lines = split_lines(read_file(out_path));
    ASSERT_EQ(8u, lines.size());
    EXPECT_EQ("ACCOUNT           HOST       FORM     PRIVILEGES  PASSWORD", lines[0]);
    EXPECT_EQ("QuOrvAneIndeX     %          present  ok          unknown "
              "(caching_sha2_password is salted)",
              lines[3]);
    EXPECT_EQ("QuOrvAneIndeX     localhost  present  ok          ok", lines[4]);
    EXPECT_EQ("6 of 6 account forms as they should be; 0 missing, 0 with other privileges, 0 "
              "with another password; 3 passwords unknown",
              lines[7]);

    /* Only reading statements, on one administrator connection, then the three logins. */
    const FakeMysql &fake = fake_mysql();
    ASSERT_EQ(4u, fake.connections.size());
    EXPECT_EQ(6u, fake.connections[0].statements.size());
    for (const std::string &statement : fake_mysql_statements())
        EXPECT_EQ(0u, statement.find("SELECT * FROM mysql.user WHERE ")) << statement;
    EXPECT_EQ("QuorvaneInternal", fake.connections[1].user.value());
    EXPECT_EQ("Rm5#Tq8w!Zp2&Lx9^Vc4*Nb7?Hs3%Gd6", fake.connections[1].password.value());
    EXPECT_EQ(0, fake.open_handles);
    EXPECT_EQ(0, fake.results_open);
}

TEST(AccountCheck, PrivilegeNames)
{
    const std::pair<const char *, const char *> cases[] = {
        {"Select_priv", "SELECT"},
        {"Create_tmp_table_priv", "CREATE TEMPORARY TABLES"},
        {"Grant_priv", "GRANT OPTION"},
        {"Repl_client_priv", "REPLICATION CLIENT"},
        {"Delete_history_priv", "DELETE HISTORY"},
    };
    for (auto [column, name] : cases) {
        char out[64];
        qv_check_privilege_name(column, out, sizeof out);
        EXPECT_STREQ(name, out);
    }
}

TEST(AccountCheck, TheFormWithoutAHostIsJudgedByItsStoredPassword)
{
    const ServiceAccount account = {"N", "P", QV_PRIV_USAGE};
    const char *native = "mysql_native_password";
    const struct {
        bool local_exists;
        const char *any_plugin, *local_plugin, *any_string, *local_string;
        int local_password, expected;
    } cases[] = {
        {true, native, native, "*AB", "*AB", QV_PASSWORD_OK, QV_PASSWORD_OK},
        {true, native, native, "*AB", "*AB", QV_PASSWORD_DIFFERS, QV_PASSWORD_DIFFERS},
        {true, native, native, "*CD", "*AB", QV_PASSWORD_OK, QV_PASSWORD_DIFFERS},
        {true, native, native, "*CD", "*AB", QV_PASSWORD_DIFFERS, QV_PASSWORD_UNKNOWN},
        {true, "caching_sha2_password", "caching_sha2_password", "$A", "$A", QV_PASSWORD_OK,
         QV_PASSWORD_UNKNOWN},
        {true, native, "ed25519", "*AB", "*AB", QV_PASSWORD_OK, QV_PASSWORD_UNKNOWN},
        {false, native, native, "*AB", "", QV_PASSWORD_OK, QV_PASSWORD_UNKNOWN},
    };
    for (const auto &c : cases) {
        QVFormCheck any{}, local{};
        any.account = local.account = &account;
        any.exists = true;
        local.exists = c.local_exists;
        snprintf(any.plugin, sizeof any.plugin, "%s", c.any_plugin);
        snprintf(local.plugin, sizeof local.plugin, "%s", c.local_plugin);
        snprintf(any.authentication, sizeof any.authentication, "%s", c.any_string);
        snprintf(local.authentication, sizeof local.authentication, "%s", c.local_string);
        local.password = c.local_password;
        qv_check_compare_any_form(&any, &local);
        EXPECT_EQ(c.expected, any.password)
            << c.any_plugin << " " << c.any_string << " / " << c.local_string;
    }
}

TEST(AccountCheck, PrivilegesAgainstTheLevel)
{
    const ServiceAccount reload = {"N", "P", QV_PRIV_DATA_RELOAD};
    const char *names[] = {"User",       "Select_priv", "Reload_priv", "File_priv",
                           "Grant_priv", "Alter_priv",  "plugin"};
    const char *values[] = {"N", "Y", "N", "Y", "Y", nullptr, ""};
    QVFormCheck form{};
    form.account = &reload;
    qv_check_read_user_row(&form, 7, names, values);
    EXPECT_TRUE(form.exists);
    EXPECT_STREQ("RELOAD, ALTER", form.missing);
    EXPECT_STREQ("FILE, GRANT OPTION", form.extra);
    EXPECT_STREQ("mysql_native_password", form.plugin); /* an empty method is the native one */
}

} // namespace
