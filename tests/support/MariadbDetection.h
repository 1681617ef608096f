/*
 * MariadbDetection: the statement the engine sends once per run to learn what a MariaDB
 * server is (read-only, the password reuse plugin, a running replica, a Galera node and
 * its state), before the
 * accounts' statements. The fake client's tests expect it in the statements sent, the
 * server's tests in its general log: one text, so that the two cannot drift apart.
 */
#ifndef TESTS_SUPPORT_MARIADBDETECTION_H
#define TESTS_SUPPORT_MARIADBDETECTION_H

inline constexpr char MARIADB_DETECTION[] =
    "SELECT @@read_only AS read_only, (SELECT COUNT(*) FROM information_schema.PLUGINS WHERE "
    "PLUGIN_NAME = 'password_reuse_check' AND PLUGIN_STATUS = 'ACTIVE') AS reuse_check, "
    "(SELECT COUNT(*) FROM information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME IN "
    "('SLAVES_RUNNING', 'SLAVE_RUNNING') AND VARIABLE_VALUE NOT IN ('0', 'OFF')) AS replica, "
    "(SELECT VARIABLE_VALUE FROM information_schema.SESSION_VARIABLES WHERE VARIABLE_NAME = "
    "'WSREP_ON') = 'ON' AS galera, (SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS "
    "WHERE VARIABLE_NAME = 'WSREP_READY') = 'ON' AS node_ready, (SELECT VARIABLE_VALUE FROM "
    "information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME = 'WSREP_CLUSTER_STATUS') = 'Primary' "
    "AS node_primary, (SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_VARIABLES WHERE "
    "VARIABLE_NAME = 'WSREP_REJECT_QUERIES') <> 'NONE' AS node_rejects, (SELECT VARIABLE_VALUE "
    "FROM information_schema.SESSION_VARIABLES WHERE VARIABLE_NAME = 'WSREP_OSU_METHOD') <> "
    "'TOI' AS node_local_ddl, (SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS WHERE "
    "VARIABLE_NAME = 'WSREP_LOCAL_INDEX') AS node_index, (SELECT VARIABLE_VALUE FROM "
    "information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME = 'WSREP_CLUSTER_SIZE') AS "
    "cluster_size, (SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS WHERE "
    "VARIABLE_NAME = 'WSREP_LOCAL_STATE_COMMENT') AS node_state";

#endif
