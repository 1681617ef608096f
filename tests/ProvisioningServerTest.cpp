/*
 * The provisioning run against the private MariaDB server, checked against the accounts'
 * passwords as written out here, independently of the program's own table: both forms of
 * each account (the name alone, for logins from any host, and the name at localhost)
 * must hold the same built-in password. A socket login reaches only the localhost form,
 * so the form without a host is checked through what the server stored for it.
 */
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "Interfaces/dbengine/MySQL/MyDBEngine.h"
#include "WinGUI/VADedeVeZovidApp.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestServer.h"

namespace
{

const struct {
    const char *name;
    const char *password;
} kAccounts[] = {
    {"QuorvaneInternal", "Rm5#Tq8w!Zp2&Lx9^Vc4*Nb7?Hs3%Gd6"},
    {"QuOrvAneIndeX", "m4hqzwtyop71v652kdnx;r-ploiuwbe3"},
    {"DUVidIdeRiv", "3kvb720w8r65xkc1m7tbqgzwy519vn2d"},
};

TEST(ProvisioningServer, BothFormsOfEachAccountHoldItsBuiltInPassword)
{
    ASSERT_TRUE(aim_client_at_test_server()) << "the private MariaDB server is not running";
    ServerSession root;
    ASSERT_TRUE(root.connected()) << root.error();
    for (const auto &account : kAccounts) {
        drop_account(root, account.name);
        /* An earlier password on both forms, which the run must replace. */
        for (const char *host : {"%", "localhost"})
            root.exec(std::string("CREATE USER '") + account.name + "'@'" + host +
                      "' IDENTIFIED BY 'earlier'");
    }

    QVDBSettings settings{};
    BOOL provisioned;
    {
        StderrCapture quiet;
        provisioned = ProvisionServiceAccounts(&settings);
    }
    qv_DBEngine_settings_free(&settings);
    ASSERT_TRUE(provisioned);

    for (const auto &account : kAccounts) {
        SCOPED_TRACE(account.name);
        /* The server's own hash of the written-out password (none holds a quote). */
        std::string expected =
            root.query(std::string("SELECT PASSWORD('") + account.password + "')")[0][0];
        Rows stored = root.query(std::string("SELECT Host, authentication_string FROM "
                                             "mysql.user WHERE User = '") +
                                 account.name + "' ORDER BY Host");
        ASSERT_EQ(2u, stored.size());
        EXPECT_EQ((std::vector<std::string>{"%", expected}), stored[0]);
        EXPECT_EQ((std::vector<std::string>{"localhost", expected}), stored[1]);
        ServerSession login(account.name, account.password);
        EXPECT_TRUE(login.connected()) << login.error();
    }
    /* A closing client does not wait for the server: let the logins end here, not in a
     * later test's view of the server. */
    EXPECT_TRUE(wait_until_no_session(
        root, "USER IN ('QuorvaneInternal', 'QuOrvAneIndeX', 'DUVidIdeRiv')"));
}

} // namespace
