/*
 * The built program against a private three-node Galera cluster (galera-cluster.sh), as
 * a site that outgrew one server runs it: a run on one node, then runs on two nodes at
 * once, and the check on each of the others. What each node holds for the service
 * accounts is read with the node's reads synced to the cluster and compared with node 1
 * row by row.
 * And a node that cannot speak for the cluster (cut off, rejecting queries, RSU), one
 * that has not applied a run yet, one with a plugin of its own. Each test leaves the
 * cluster whole.
 */
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/RunProgram.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestServer.h"

namespace
{

const int GALERA_NODES = 3; /* numbered from 1, as galera-cluster.sh numbers them */

/* Node's socket, as galera-cluster.sh wrote it; "" when no cluster was started. */
std::string galera_node_socket(int node)
{
    const char *state = getenv("QV_TEST_CLUSTER_STATE");
    const std::string path =
        state ? read_file(std::string(state) + "/node" + std::to_string(node) + "/socket") : "";
    return path.substr(0, path.find('\n'));
}

/* A root session on node whose reads first wait until the node has applied all that the
 * cluster committed before them, so that what one node wrote is seen on the others. */
std::unique_ptr<ServerSession> galera_session(int node)
{
    auto session = std::make_unique<ServerSession>("root", "", galera_node_socket(node));
    session->exec("SET SESSION wsrep_sync_wait = 15");
    return session;
}

/* A global status variable of node, such as wsrep_local_state_comment; "" if unknown. */
std::string galera_status(int node, const std::string &name)
{
    Rows rows = ServerSession("root", "", galera_node_socket(node))
                    .query("SHOW GLOBAL STATUS LIKE '" + name + "'");
    return rows.empty() ? "" : rows[0][1];
}

/* Waits up to 60 s until done() holds; returns whether it did. */
bool galera_wait(const std::function<bool()> &done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        usleep(100000);
    }
    return true;
}

/* Cuts node off from the others; returns once it is outside the primary component and
 * the nodes in it no longer count it (false when not within 60 s). */
bool galera_isolate(int node)
{
    const std::string size_with_it = galera_status(node, "wsrep_cluster_size");
    ServerSession("root", "", galera_node_socket(node))
        .exec("SET GLOBAL wsrep_provider_options = 'gmcast.isolate=1'");
    /* The node leaves at once; the others count it until they give up on it. */
    return galera_wait([&] {
        if (galera_status(node, "wsrep_cluster_status") == "Primary")
            return false;
        for (int other = 1; other <= GALERA_NODES; other++)
            if (other != node && galera_status(other, "wsrep_cluster_status") == "Primary" &&
                galera_status(other, "wsrep_cluster_size") == size_with_it)
                return false;
        return true;
    });
}

/* Loads (or unloads) a plugin on node alone, kept out of replication as an administrator
 * who set up one node by hand leaves it. */
void galera_load_plugin(int node, const std::string &soname, bool load = true)
{
    ServerSession root("root", "", galera_node_socket(node));
    root.exec("SET SESSION wsrep_on = OFF");
    root.exec(std::string(load ? "INSTALL" : "UNINSTALL") + " SONAME '" + soname + "'");
}

/* Puts every node back as the cluster's start left it (in the cluster, wsrep on, TOI,
 * taking queries, no dirty reads; plugins stay) and waits until every node is synced in
 * a primary component of all nodes; false when not within 60 s. */
bool galera_heal()
{
    for (int node = 1; node <= GALERA_NODES; node++) {
        ServerSession root("root", "", galera_node_socket(node));
        /* first: a session without wsrep cannot reach the provider's options */
        for (const char *statement :
             {"SET GLOBAL wsrep_on = ON", "SET SESSION wsrep_on = ON",
              "SET GLOBAL wsrep_provider_options = 'gmcast.isolate=0'",
              "SET GLOBAL wsrep_OSU_method = 'TOI'", "SET GLOBAL wsrep_reject_queries = NONE",
              "SET GLOBAL wsrep_dirty_reads = OFF"})
            root.exec(statement);
    }
    return galera_wait([] {
        for (int node = 1; node <= GALERA_NODES; node++)
            if (galera_status(node, "wsrep_local_state_comment") != "Synced" ||
                galera_status(node, "wsrep_cluster_status") != "Primary" ||
                galera_status(node, "wsrep_cluster_size") != std::to_string(GALERA_NODES))
                return false;
        return true;
    });
}

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
        EXPECT_NE(std::string::npos, check.out.find(" of 3, Synced, after it had applied all "
                                                    "that the cluster had committed"));
    }
    std::string last_log() const
    {
        return read_file(folders.back()->path() + "/VADedeVeZovid.log");
    }

    std::vector<std::unique_ptr<TempDir>> folders;
};

TEST_F(GaleraClusterTest, RunsOnOneNodeAndOnTwoAtOnceAllSucceedAndEveryNodeHoldsTheSame)
{
    ProgramResult alone = run(1);
    ASSERT_EQ(0, alone.exit_code) << alone.err;
    EXPECT_NE(std::string::npos, last_log().find(" of 3, Synced): accounts made with GRANT"));
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
    for (int node = 2; node <= GALERA_NODES; node++)
        expect_check_ok(node);
}

TEST_F(GaleraClusterTest, CheckRightAfterARunOnAnotherNodeWaitsForTheWholeRun)
{
    /* Node 2 applies nothing while a session of its own holds this lock. */
    ServerSession lock("root", "", galera_node_socket(2));
    lock.exec("FLUSH TABLES WITH READ LOCK");
    ASSERT_EQ(0, run(1).exit_code);
    RunningProgram check = start(2, {"--check"});
    EXPECT_TRUE(galera_wait([&] { /* seen waiting in node 2's process list */
        return !lock.query("SELECT ID FROM information_schema.PROCESSLIST WHERE INFO LIKE "
                            "'SET STATEMENT wsrep_sync_wait = 1 FOR %'")
                    .empty();
    })) << "the check does not wait for node 2";
    lock.exec("UNLOCK TABLES");
    ProgramResult r = finish_program(check);
    EXPECT_EQ(0, r.exit_code) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.out.find(ALL_AS_THEY_SHOULD_BE)) << r.out;
}

TEST_F(GaleraClusterTest, NodeThatCannotSpeakForTheClusterIsRefusedAndHasTheAccountsWhenBack)
{
    const struct {
        const char *change; /* of node 3: a statement; "": cut it off */
        const char *why, *hint;
        int check; /* node 3's check before it is back */
    } rows[] = {
        {"", "not synced in the primary component (Galera node 1 of 1, ", "server is a Galera", 3},
        {"SET GLOBAL wsrep_reject_queries = ALL", "rejects queries", "server is a Galera", 3},
        {"SET GLOBAL wsrep_OSU_method = 'RSU'", "OSU_method is not TOI", "session's wsrep_OSU",
         1},
        {"SET GLOBAL wsrep_on = OFF", "session has wsrep_on off", "session's wsrep_OSU", 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.why);
        if (row.change[0] == '\0')
            ASSERT_TRUE(galera_isolate(3));
        else
            galera_session(3)->exec(row.change);
        ProgramResult refused = run(3);
        EXPECT_EQ(1, refused.exit_code);
        EXPECT_NE(std::string::npos, last_log().find(row.why)) << last_log();
        EXPECT_NE(std::string::npos, refused.err.find(std::string("hint: the ") + row.hint));
        EXPECT_EQ(row.check, run(3, {"--check"}).exit_code);
        if (row.change[0] == '\0') { /* dirty reads: what it held when it was cut off */
            galera_session(3)->exec("SET GLOBAL wsrep_dirty_reads = ON");
            EXPECT_EQ(3, run(3, {"--check"}).exit_code);
        }
        EXPECT_EQ(0, run(1).exit_code);
        ASSERT_TRUE(galera_heal());
        expect_check_ok(3);
        drop_accounts(*galera_session(1), SERVICE_ACCOUNT_NAMES);
    }
}

TEST_F(GaleraClusterTest, PolicyPluginOnOneNodeAloneIsFoundByThatNodesCheck)
{
    /* Node 3's applier refuses the passwords set again; Galera drops those statements. */
    galera_load_plugin(3, "password_reuse_check");
    ProgramResult r = run(1);
    ProgramResult drifted = run(3, {"--check"}), other = run(2, {"--check"});
    galera_load_plugin(3, "password_reuse_check", false);
    std::unique_ptr<ServerSession> node_3 = galera_session(3); /* its history outlives it */
    node_3->exec("SET SESSION wsrep_on = OFF");
    node_3->exec("TRUNCATE TABLE mysql.password_reuse_check_history");
    EXPECT_EQ(0, r.exit_code) << r.err; /* node 1 cannot see node 3's plugins */
    EXPECT_EQ(1, drifted.exit_code);
    EXPECT_NE(std::string::npos, drifted.out.find("2 of 6 account forms as they should be; 0 "
                                                  "missing, 4 with other privileges"))
        << drifted.out;
    EXPECT_EQ(0, other.exit_code) << other.out;
}

} // namespace
