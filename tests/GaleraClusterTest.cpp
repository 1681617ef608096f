/*
 * The built program against a private three-node Galera cluster (galera-cluster.sh), as
 * a site that outgrew one server runs it: a run on one node and the check on each of the
 * others; runs on two nodes at once. What each node holds for the service accounts is
 * read with the node's reads synced to the cluster and compared with node 1 row by row.
 * And the harness's changes to one node (isolated, RSU, a plugin of its own) reach that
 * node alone. Each test leaves the cluster whole.
 */
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/GaleraCluster.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServer.h"

namespace
{

const char ALL_AS_THEY_SHOULD_BE[] = "6 of 6 account forms as they should be";

class GaleraClusterTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        for (int node = 1; node <= GALERA_NODES; node++)
            ASSERT_FALSE(galera_node_socket(node).empty())
                << "the private Galera cluster is not running";
        drop_accounts(*galera_session(1), SERVICE_ACCOUNT_NAMES);
    }
    void TearDown() override
    {
        EXPECT_TRUE(galera_heal()) << "the cluster did not come back whole";
    }

    /* Starts the tool with args on node, in a folder of its own, which keeps its log. */
    RunningProgram start(int node, const std::vector<std::string> &args = {})
    {
        folders.push_back(std::make_unique<TempDir>("qv-cluster"));
        const std::string &dir = folders.back()->path();
        std::vector<std::string> argv{QV_TOOL_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        return start_program(argv, dir, tool_environment(galera_node_socket(node), dir));
    }
    ProgramResult run(int node, const std::vector<std::string> &args = {})
    {
        RunningProgram program = start(node, args);
        return finish_program(program);
    }

    /* What node holds for the service accounts: each form's stored record (privileges,
     * login method, password hash, when it was set) and its SHOW GRANTS. */
    static std::vector<std::string> accounts_on(int node)
    {
        std::unique_ptr<ServerSession> root = galera_session(node);
        std::vector<std::string> held = show_grants(*root, SERVICE_ACCOUNT_NAMES);
        for (const auto &row : root->query("SELECT User, Host, Priv FROM mysql.global_priv WHERE "
                                           "User IN ('QuorvaneInternal', 'QuOrvAneIndeX', "
                                           "'DUVidIdeRiv') ORDER BY User, Host"))
            held.push_back(row[0] + "@" + row[1] + " " + row[2]);
        return held;
    }
    static void expect_every_node_holds_what_node_1_holds()
    {
        const std::vector<std::string> first = accounts_on(1);
        ASSERT_EQ(12u, first.size()); /* two forms, one grant and one stored record each */
        for (int node = 2; node <= GALERA_NODES; node++)
            EXPECT_EQ(first, accounts_on(node)) << "node " << node;
    }
    void expect_check_ok(int node)
    {
        ProgramResult check = run(node, {"--check"});
        EXPECT_EQ(0, check.exit_code) << "node " << node << "\n" << check.out << check.err;
        EXPECT_NE(std::string::npos, check.out.find(ALL_AS_THEY_SHOULD_BE)) << check.out;
    }

    std::vector<std::unique_ptr<TempDir>> folders;
};

TEST_F(GaleraClusterTest, RunOnOneNodeAndEveryOtherNodeHoldsTheSameAccounts)
{
    ProgramResult r = run(1);
    ASSERT_EQ(0, r.exit_code) << r.err;
    expect_every_node_holds_what_node_1_holds();
    for (int node = 2; node <= GALERA_NODES; node++)
        expect_check_ok(node);
}

TEST_F(GaleraClusterTest, RunsAtOnceOnTwoNodesAllSucceedAndTheClusterConverges)
{
    const int rounds = 5;
    for (int round = 0; round < rounds; round++) {
        RunningProgram first = start(1), second = start(2);
        ProgramResult a = finish_program(first), b = finish_program(second);
        EXPECT_EQ(0, a.exit_code) << "round " << round << ", node 1:\n" << a.err;
        EXPECT_EQ(0, b.exit_code) << "round " << round << ", node 2:\n" << b.err;
    }
    expect_every_node_holds_what_node_1_holds();
    for (int node = 1; node <= GALERA_NODES; node++) {
        EXPECT_EQ("Synced", galera_status(node, "wsrep_local_state_comment")) << node;
        EXPECT_EQ("3", galera_status(node, "wsrep_cluster_size")) << node;
    }
    expect_check_ok(3);
}

TEST_F(GaleraClusterTest, HarnessChangesReachOneNodeOnly)
{
    ASSERT_TRUE(galera_isolate(3));
    EXPECT_EQ("non-Primary", galera_status(3, "wsrep_cluster_status"));
    EXPECT_EQ("Primary", galera_status(1, "wsrep_cluster_status"));
    EXPECT_EQ("2", galera_status(1, "wsrep_cluster_size"));

    galera_set_osu_method(2, "RSU");
    EXPECT_EQ("RSU", galera_session(2)->query("SELECT @@wsrep_OSU_method")[0][0]);
    EXPECT_EQ("TOI", galera_session(1)->query("SELECT @@wsrep_OSU_method")[0][0]);

    const std::string loaded = "SELECT COUNT(*) FROM information_schema.PLUGINS WHERE "
                               "PLUGIN_NAME = 'simple_password_check'";
    galera_load_plugin(1, "simple_password_check");
    std::vector<std::string> counts;
    for (int node = 1; node <= 2; node++)
        counts.push_back(galera_session(node)->query(loaded)[0][0]);
    galera_load_plugin(1, "simple_password_check", false);
    EXPECT_EQ((std::vector<std::string>{"1", "0"}), counts);
}

} // namespace
