#include "tests/support/GaleraCluster.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <stdexcept>

std::string galera_node_socket(int node)
{
    const char *state = getenv("QV_TEST_CLUSTER_STATE");
    if (state == nullptr)
        return "";
    std::ifstream in(std::string(state) + "/node" + std::to_string(node) + "/socket");
    std::string path;
    std::getline(in, path);
    return path;
}

std::unique_ptr<ServerSession> galera_session(int node)
{
    auto session = std::make_unique<ServerSession>("root", "", galera_node_socket(node));
    session->exec("SET SESSION wsrep_sync_wait = 15");
    return session;
}

std::string galera_status(int node, const std::string &name)
{
    ServerSession root("root", "", galera_node_socket(node));
    Rows rows = root.query("SHOW GLOBAL STATUS LIKE '" + name + "'");
    return rows.empty() ? "" : rows[0][1];
}

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

/* Node is synced in a primary component that holds every node. */
static bool whole(int node)
{
    return galera_status(node, "wsrep_local_state_comment") == "Synced" &&
           galera_status(node, "wsrep_cluster_status") == "Primary" &&
           galera_status(node, "wsrep_cluster_size") == std::to_string(GALERA_NODES);
}

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

void galera_set_osu_method(int node, const std::string &method)
{
    ServerSession("root", "", galera_node_socket(node))
        .exec("SET GLOBAL wsrep_OSU_method = '" + method + "'");
}

void galera_load_plugin(int node, const std::string &soname, bool load)
{
    ServerSession root("root", "", galera_node_socket(node));
    root.exec("SET SESSION wsrep_on = OFF");
    root.exec(std::string(load ? "INSTALL" : "UNINSTALL") + " SONAME '" + soname + "'");
}

bool galera_heal()
{
    for (int node = 1; node <= GALERA_NODES; node++) {
        ServerSession root("root", "", galera_node_socket(node));
        /* first: a session without wsrep cannot reach the provider's options */
        root.exec("SET GLOBAL wsrep_on = ON");
        root.exec("SET SESSION wsrep_on = ON");
        root.exec("SET GLOBAL wsrep_provider_options = 'gmcast.isolate=0'");
        root.exec("SET GLOBAL wsrep_OSU_method = 'TOI'");
        root.exec("SET GLOBAL wsrep_reject_queries = NONE");
        root.exec("SET GLOBAL wsrep_dirty_reads = OFF");
    }
    return galera_wait([] {
        for (int node = 1; node <= GALERA_NODES; node++)
            if (!whole(node))
                return false;
        return true;
    });
}
