/*
 * GaleraCluster: the private three-node Galera cluster that galera-cluster.sh starts, seen
 * from a test: each node's socket, root sessions whose reads see all that the cluster
 * committed, and the changes that the cluster's tests make to one node alone: cut it off
 * from the others, set its schema-change method, load a plugin there. Nodes are numbered
 * 1 to GALERA_NODES, as the script numbers them; galera_heal() puts every node back.
 */
#ifndef TESTS_SUPPORT_GALERACLUSTER_H
#define TESTS_SUPPORT_GALERACLUSTER_H

#include <functional>
#include <memory>
#include <string>

#include "tests/support/TestServer.h"

const int GALERA_NODES = 3;

/* Node's socket path, read from $QV_TEST_CLUSTER_STATE/node<node>/socket; empty when no
 * cluster was started. */
std::string galera_node_socket(int node);

/* A root session on node whose reads and SHOW statements first wait until the node has
 * applied everything the cluster committed before them (wsrep_sync_wait), so that what
 * one node wrote is seen on the others. Throws std::runtime_error when it cannot connect. */
std::unique_ptr<ServerSession> galera_session(int node);

/* A global status variable of node (SHOW GLOBAL STATUS), such as
 * wsrep_local_state_comment; "" when the node does not know it. */
std::string galera_status(int node, const std::string &name);

/* Cuts node off from the others (gmcast.isolate=1), so that it leaves the primary
 * component; galera_heal() lets it rejoin. Returns once the node says it is outside the
 * primary component and the nodes in it no longer count it; false when that did not
 * happen within 60 s. */
bool galera_isolate(int node);

/* Sets node's wsrep_OSU_method ("TOI" or "RSU") for the sessions that start there from
 * now on; the other nodes keep theirs. */
void galera_set_osu_method(int node, const std::string &method);

/* Loads the plugin library soname (such as "password_reuse_check") on node alone, or
 * (load false) unloads it there: the statement is kept out of replication, as an
 * administrator who set up one node by hand leaves it. */
void galera_load_plugin(int node, const std::string &soname, bool load = true);

/* Waits up to 60 s until done() holds; returns whether it did. */
bool galera_wait(const std::function<bool()> &done);

/* Puts every node back as the cluster's start left it: in the cluster (not isolated),
 * with TOI, taking queries, without dirty reads; then waits until every node is synced
 * in a primary component of all nodes.
 * Returns false when the cluster did not come back whole within 60 s. Plugins loaded
 * with galera_load_plugin stay: unload them. */
bool galera_heal();

#endif
