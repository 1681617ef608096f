/*
 * MariadbDetection: the statement the engine sends once per run to learn what a MariaDB
 * server is (read-only, the password reuse plugin, a running replica), before the
 * accounts' statements. The fake client's tests expect it in the statements sent, the
 * server's tests in its general log: one text, so that the two cannot drift apart.
 */
#ifndef TESTS_SUPPORT_MARIADBDETECTION_H
#define TESTS_SUPPORT_MARIADBDETECTION_H

inline constexpr char MARIADB_DETECTION[] =
    "SELECT @@read_only AS read_only, (SELECT COUNT(*) FROM information_schema.PLUGINS WHERE "
    "PLUGIN_NAME = 'password_reuse_check' AND PLUGIN_STATUS = 'ACTIVE') AS reuse_check, "
    "(SELECT COUNT(*) FROM information_schema.GLOBAL_STATUS WHERE VARIABLE_NAME IN "
    "('SLAVES_RUNNING', 'SLAVE_RUNNING') AND VARIABLE_VALUE NOT IN ('0', 'OFF')) AS replica";

#endif
