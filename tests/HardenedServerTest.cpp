/*
 * The provisioning run against the private MariaDB server set up as hardening guides and
 * replicas set servers up: with password_reuse_check (each password set at most once per
 * form, none on a re-run, the same grants as on a default server; a form that logs in by
 * either of two methods left as it is), with PAD_CHAR_TO_FULL_LENGTH (forms found, read
 * as the server means them), with password policies that refuse (the hint
 * names the plugin the server's warnings name), read-only (nothing written), an
 * administrator without SHUTDOWN (the privileges hint), and an option file that is no
 * file (passed over, within the bounds). Each test puts the server back as it found it.
 */
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "Interfaces/dbengine/MySQL/AccountCheck.h"
#include "WinGUI/VADedeVeZovidApp.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServer.h"

namespace
{

/* Runs a statement when it goes out of scope: the server is put back even when an
 * assertion ends the test early. */
struct Restore {
    ServerSession &root;
    std::string statement;
    ~Restore()
    {
        root.exec(statement);
    }
};

/* What a provisioning run did, as the tool and the server's general log tell it. */
struct RunSeen {
    bool ok = false;
    std::vector<std::string> lines;   /* the tool's log lines */
    std::vector<std::string> queries; /* the tool's statements, as the server logged them */
    std::string hint;
};

class HardenedServerTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(aim_client_at_test_server()) << "the private MariaDB server is not running";
        ASSERT_TRUE(root.connected()) << root.error();
        drop_accounts(root, SERVICE_ACCOUNT_NAMES);
    }

    /* Runs run (true: it succeeded) with the server's general log on. */
    RunSeen seen(const std::function<bool()> &run)
    {
        RunSeen r;
        Rows log = general_log_during(root, [&] {
            {
                StderrCapture capture;
                r.ok = run();
                r.lines = capture.finish();
            }
            r.hint = qv_DBEngine_last_hint();
            EXPECT_TRUE(wait_until_no_session(
                root, "USER IN ('root', 'qv_admin') AND ID <> CONNECTION_ID()"));
        });
        for (const auto &row : log)
            if (row[1] == "Query")
                r.queries.push_back(row[2]);
        return r;
    }
    RunSeen provision()
    {
        return seen([] {
            QVDBSettings settings{};
            BOOL ok = ProvisionServiceAccounts(&settings);
            qv_DBEngine_settings_free(&settings);
            return ok == TRUE;
        });
    }

    /* Empties password_reuse_check's history, which outlives the plugin (the plugin makes
     * it when it first keeps a password). */
    void clear_reuse_history()
    {
        if (!root.query("SHOW TABLES FROM mysql LIKE 'password_reuse_check_history'").empty())
            root.exec("TRUNCATE TABLE mysql.password_reuse_check_history");
    }

    static size_t count_starting(const std::vector<std::string> &queries, const std::string &head)
    {
        size_t n = 0;
        for (const std::string &q : queries)
            n += q.rfind(head, 0) == 0;
        return n;
    }

    ServerSession root;
};

TEST_F(HardenedServerTest, ReusePolicySetsEachPasswordAtMostOncePerFormAndNoneOnARerun)
{
    ASSERT_TRUE(provision().ok);
    const std::vector<std::string> default_grants = show_grants(root, SERVICE_ACCOUNT_NAMES);
    drop_accounts(root, SERVICE_ACCOUNT_NAMES);

    root.exec("INSTALL SONAME 'password_reuse_check'");
    Restore uninstall{root, "UNINSTALL SONAME 'password_reuse_check'"};
    /* One form exists already with another password: the run sets it once. (The first
     * password set makes the plugin's history table; it starts empty here.) */
    root.exec("CREATE USER 'QuOrvAneIndeX'@'%' IDENTIFIED BY 'Earlier-pw-1'");
    root.exec("TRUNCATE TABLE mysql.password_reuse_check_history");
    const std::string history = "SELECT COUNT(*) FROM mysql.password_reuse_check_history";
    const std::string last_changed =
        "SELECT User, Host, JSON_VALUE(Priv, '$.password_last_changed') FROM mysql.global_priv "
        "WHERE User IN ('QuorvaneInternal', 'QuOrvAneIndeX', 'DUVidIdeRiv') ORDER BY User, Host";

    RunSeen first = provision();
    ASSERT_TRUE(first.ok) << first.hint;
    EXPECT_TRUE(any_line_contains(first.lines, "password_reuse_check active, accounts made with "
                                               "CREATE USER IF NOT EXISTS"));
    /* CREATE USER for the five forms that were not found, and none for the one that was */
    EXPECT_EQ(5u, count_starting(first.queries, "CREATE USER IF NOT EXISTS "));
    EXPECT_EQ(0u, count_starting(first.queries, "CREATE USER IF NOT EXISTS 'QuOrvAneIndeX' "));
    std::vector<std::string> alters;
    for (const std::string &q : first.queries)
        if (q.rfind("ALTER USER ", 0) == 0)
            alters.push_back(q);
    EXPECT_EQ(std::vector<std::string>{"ALTER USER 'QuOrvAneIndeX' IDENTIFIED BY '" +
                                       std::string(g_service_accounts[1].password) + "'"},
              alters);
    EXPECT_EQ("6", root.query(history)[0][0]); /* each form's password, once */
    EXPECT_EQ(default_grants, show_grants(root, SERVICE_ACCOUNT_NAMES));

    const Rows changed_before = root.query(last_changed);
    RunSeen again = provision();
    ASSERT_TRUE(again.ok) << again.hint;
    /* A re-run sends no password at all: nothing to create, nothing to set. */
    for (const std::string &q : again.queries)
        EXPECT_EQ(std::string::npos, q.find("IDENTIFIED")) << q;
    EXPECT_EQ("6", root.query(history)[0][0]);
    EXPECT_EQ(changed_before, root.query(last_changed)); /* no password was set */
    EXPECT_EQ(default_grants, show_grants(root, SERVICE_ACCOUNT_NAMES));
    for (const std::string &q : first.queries) {
        EXPECT_FALSE(q.rfind("GRANT ", 0) == 0 && q.find("IDENTIFIED BY") != std::string::npos)
            << q;
    }

    /* A password changed by hand cannot be set back to the built-in one: the policy
     * refuses, and the hint names it. */
    root.exec("ALTER USER 'DUVidIdeRiv'@'localhost' IDENTIFIED BY 'Changed-by-hand-2'");
    RunSeen refused = provision();
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(1u, count_starting(refused.queries, "ALTER USER 'DUVidIdeRiv'@'localhost' "));
    EXPECT_EQ("the server's password reuse policy (MariaDB's password_reuse_check, MySQL's "
              "password_history) refused to set the built-in password of DUVidIdeRiv again; "
              "relax it while the suite is installed (accounts made before stay), then run again",
              refused.hint);
}

TEST_F(HardenedServerTest, FormThatLogsInByEitherOfTwoMethodsIsLeftAsItIs)
{
    ASSERT_TRUE(provision().ok);
    Restore uninstall_ed25519{root, install_ed25519(root)};
    /* The built-in password by the second method only: the mysql.user view shows the
     * first. */
    root.exec("ALTER USER 'QuOrvAneIndeX'@'%' IDENTIFIED VIA mysql_native_password USING "
              "PASSWORD('Other-pw-1') OR ed25519 USING PASSWORD('" +
              std::string(g_service_accounts[1].password) + "')");
    root.exec("INSTALL SONAME 'password_reuse_check'");
    Restore uninstall{root, "UNINSTALL SONAME 'password_reuse_check'"};
    const std::string chain = "SELECT Priv FROM mysql.global_priv WHERE User = 'QuOrvAneIndeX' "
                              "AND Host = '%'";
    const Rows before = root.query(chain);

    RunSeen r = provision();
    EXPECT_TRUE(r.ok) << r.hint;
    EXPECT_EQ(0u, count_starting(r.queries, "ALTER USER "));
    EXPECT_EQ(0u, count_starting(r.queries, "CREATE USER "));
    EXPECT_EQ(before, root.query(chain));
}

TEST_F(HardenedServerTest, PasswordPolicyRefusalNamesThePluginThatRefused)
{
    const struct {
        std::vector<std::string> setup; /* before the run that fails */
        std::string hint, warnings;     /* the beginnings of the hint and the warnings line */
    } cases[] = {
        /* MariaDB answers an ALTER USER that simple_password_check refuses with 1396 */
        {{"CREATE USER 'QuOrvAneIndeX'@'%' IDENTIFIED BY 'Other-Pw-1x'",
          "INSTALL SONAME 'simple_password_check'", "INSTALL SONAME 'password_reuse_check'",
          "CALL qv_clear_history"},
         "the server's simple_password_check refused the built-in password of QuOrvAneIndeX; ",
         "simple_password_check: "},
        /* the reuse history keeps the password of a form dropped by hand */
        {{"INSTALL SONAME 'password_reuse_check'", "CALL qv_clear_history",
          "SET GLOBAL password_reuse_check_interval = 30", "CALL qv_provision",
          "DROP USER 'DUVidIdeRiv'@'localhost'"},
         "the server's password reuse policy (password_reuse_check) still holds the built-in "
         "password of DUVidIdeRiv from a form that was dropped; ",
         "password_reuse_check: "},
    };
    for (const auto &c : cases) {
        drop_accounts(root, SERVICE_ACCOUNT_NAMES);
        {
            Restore simple{root, "UNINSTALL SONAME IF EXISTS 'simple_password_check'"};
            Restore reuse{root, "UNINSTALL SONAME IF EXISTS 'password_reuse_check'"};
            for (const std::string &statement : c.setup)
                if (statement == "CALL qv_provision")
                    ASSERT_TRUE(provision().ok);
                else if (statement == "CALL qv_clear_history")
                    clear_reuse_history();
                else
                    root.exec(statement);
            RunSeen r = provision();
            EXPECT_FALSE(r.ok);
            EXPECT_EQ(0u, r.hint.find(c.hint)) << r.hint;
            EXPECT_TRUE(any_line_contains(r.lines, "ERROR  : qv_mysql_s_query: the server's "
                                                   "warnings: " +
                                                       c.warnings));
            EXPECT_EQ("SHOW WARNINGS", r.queries.back()); /* after the refused statement */
        }
    }
}

TEST_F(HardenedServerTest, PaddedCharValuesAreReadAsTheServerMeansThem)
{
    const std::string mode = root.query("SELECT @@GLOBAL.sql_mode")[0][0];
    root.exec("SET GLOBAL sql_mode = CONCAT(@@GLOBAL.sql_mode, ',PAD_CHAR_TO_FULL_LENGTH')");
    Restore modes{root, "SET GLOBAL sql_mode = '" + mode + "'"};
    /* New sessions get CHAR values blank-padded to their full length. */
    EXPECT_EQ("255", ServerSession().query("SELECT CHAR_LENGTH(Host) FROM mysql.global_priv "
                                           "LIMIT 1")[0][0]);
    ASSERT_TRUE(provision().ok);
    QVDBSettings settings{};
    ASSERT_EQ(0u, AdministratorSettings(&settings));
    QVAccountCheck check{};
    EXPECT_EQ(0u, qv_check_read(&settings, g_service_accounts, &check));
    qv_DBEngine_settings_free(&settings);
    qv_check_conclude(&check);
    for (const QVFormCheck &form : check.forms)
        EXPECT_TRUE(qv_check_form_ok(&form)) << form.account->name << "@" << form.host;

    /* Under a reuse policy, the form whose password was changed by hand is found and set
     * again, which the policy refuses: the run fails and says why. */
    drop_accounts(root, SERVICE_ACCOUNT_NAMES);
    root.exec("INSTALL SONAME 'password_reuse_check'");
    Restore uninstall{root, "UNINSTALL SONAME 'password_reuse_check'"};
    clear_reuse_history();
    ASSERT_TRUE(provision().ok);
    root.exec("ALTER USER 'DUVidIdeRiv'@'localhost' IDENTIFIED BY 'Changed-by-hand-2'");
    RunSeen refused = provision();
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(1u, count_starting(refused.queries, "ALTER USER 'DUVidIdeRiv'@'localhost' "));
    EXPECT_EQ(0u, refused.hint.find("the server's password reuse policy")) << refused.hint;
}

TEST_F(HardenedServerTest, ReadOnlyServerGetsNothingWritten)
{
    root.exec("SET GLOBAL read_only = 1");
    Restore writable{root, "SET GLOBAL read_only = 0"};
    RunSeen r = provision();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(0u, r.hint.find("the server is read-only (read_only is on), probably a replica; "))
        << r.hint;
    ASSERT_EQ(1u, r.queries.size()); /* the detection alone */
    EXPECT_EQ(0u, r.queries[0].find("SELECT @@read_only AS read_only, "));
    EXPECT_TRUE(any_line_contains(r.lines, "ERROR  : qv_DBEngine_add_user_with_host: the server "
                                           "is read-only"));
    EXPECT_EQ(0u, root.query("SELECT 1 FROM mysql.user WHERE User = 'QuorvaneInternal'").size());
}

TEST_F(HardenedServerTest, AdministratorWithoutShutdownGetsThePrivilegesHint)
{
    root.exec("CREATE USER 'qv_admin'@'localhost' IDENTIFIED BY 'Adm1n-pw'");
    Restore drop{root, "DROP USER 'qv_admin'@'localhost'"};
    root.exec("GRANT ALL ON *.* TO 'qv_admin'@'localhost' WITH GRANT OPTION");
    root.exec("REVOKE SHUTDOWN ON *.* FROM 'qv_admin'@'localhost'");
    RunSeen r = seen([] {
        return qv_DBEngine_add_user_with_host("localhost", "qv_admin", "Adm1n-pw", 3306, nullptr,
                                              "QuorvaneInternal", "x", QV_PRIV_ALL_GRANT) == 0;
    });
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(any_line_contains(r.lines, "qv_mysql_s_query: errno: 1045 "));
    EXPECT_EQ("root lacks the privileges to grant these; it needs ALL PRIVILEGES WITH GRANT "
              "OPTION",
              r.hint);
}

TEST_F(HardenedServerTest, OptionFileThatIsNoFileIsPassedOverWithinTheBounds)
{
    TempDir home("qv-home");
    ScopedEnv h("HOME", home.path().c_str());
    const std::string cnf = home.path() + "/.my.cnf", fifo = home.path() + "/fifo";
    mkfifo(fifo.c_str(), 0600);
    /* A FIFO (which would block the client for ever), a link to /dev/zero (which it
     * would read without end), a directory, and the first two included: each is passed
     * over, within the bounds, with a WARNING that names it. */
    auto include = [&](const std::string &what) {
        write_file(cnf, "[client]\n!include " + what + "\n");
        chmod(cnf.c_str(), 0600);
    };
    const std::pair<std::function<void()>, std::string> makes[] = {
        {[&] { ASSERT_EQ(0, symlink(fifo.c_str(), cnf.c_str())); }, cnf},
        {[&] { ASSERT_EQ(0, symlink("/dev/zero", cnf.c_str())); }, cnf},
        {[&] { mkdir(cnf.c_str(), 0700); }, cnf},
        {[&] { include(fifo); }, fifo},
        {[&] { include("/dev/zero"); }, "/dev/zero"},
    };
    for (const auto &[make, named] : makes) {
        make();
        auto start = std::chrono::steady_clock::now();
        RunSeen r = provision();
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_TRUE(r.ok) << r.hint;
        EXPECT_LT(seconds, 10.0);
        EXPECT_TRUE(any_line_contains(r.lines, "WARNING: qv_DBEngine_report_option_file: " + named +
                                                   ": not a regular file ("));
        if (rmdir(cnf.c_str()) != 0)
            unlink(cnf.c_str());
    }
}

} // namespace
