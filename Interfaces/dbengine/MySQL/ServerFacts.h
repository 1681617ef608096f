/*
 * ServerFacts: what the engine needs to know of the server before it writes: its kind
 * and version (from the version text the client library got at login, without a
 * statement), and, read with one detection statement, whether it is read-only, whether
 * its replication runs (a replica), whether MariaDB's password_reuse_check plugin is
 * active, whether MySQL's mysql_native_password is, and whether it is a node of a
 * MariaDB Galera cluster that can speak for the cluster: ready, in the primary
 * component, taking queries, and replicating this session's account statements to every
 * node (wsrep_OSU_method TOI).
 *
 * Galera's facts are read through information_schema, never as @@variables: servers
 * built without Galera (MariaDB on Windows) have no wsrep variables, and there the
 * columns are NULL: not a Galera node.
 *
 * The detection statement is made from a table of columns, each with the servers that
 * have it and the fact it sets: a new fact is one more row there. A provisioning run
 * detects once for all its accounts: it keeps one record and hands it to each account's
 * call (qv_DBEngine_add_user_with_facts).
 */
#ifndef INTERFACES_DBENGINE_MYSQL_SERVERFACTS_H
#define INTERFACES_DBENGINE_MYSQL_SERVERFACTS_H

#include <cstddef>

struct QVDBServerFacts {
    bool detected;         /* the detection statement was read: the fields below hold */
    bool mariadb;          /* the version text names MariaDB */
    unsigned long version; /* major * 10000 + minor * 100 + patch; 0 when unreadable */
    bool read_only;        /* @@read_only, or MySQL's @@super_read_only, is on */
    bool replica;          /* replication threads run: the server applies a primary's changes */
    bool reuse_check;      /* MariaDB's password_reuse_check plugin is active */
    bool native_password;  /* mysql_native_password is active (always, but on MySQL 8.4+) */
    /* A Galera node (MariaDB's wsrep): the fields after galera hold only where it is set. */
    bool galera;           /* the session's wsrep_on: its writes replicate to a cluster */
    bool node_ready;       /* wsrep_ready: the node takes statements */
    bool node_primary;     /* wsrep_cluster_status Primary: in the primary component */
    bool node_rejects;     /* wsrep_reject_queries is not NONE: it refuses clients' queries */
    bool node_local_ddl;   /* the session's wsrep_OSU_method is not TOI (RSU): its account
                            * statements would stay on this node */
    unsigned long node_number;  /* wsrep_local_index + 1 in its component; 0 unknown */
    unsigned long cluster_size; /* wsrep_cluster_size, nodes in its component; 0 unknown */
    char node_state[48];        /* wsrep_local_state_comment ("Synced"), printable */
};

/* Room for the detection statement of any server, and for the description of a node
 * (qv_server_facts_node). */
#define QV_DETECTION_SIZE 3072
#define QV_NODE_SIZE 128

/* The versions (major * 10000 + minor * 100 + patch) from which a server holds what the
 * engine and the check read. */
enum : unsigned long {
    QV_PROXIES_PRIV = 50500,            /* mysql.proxies_priv (MySQL and MariaDB) */
    QV_MYSQL_PASSWORD_LIFETIME = 50704, /* password_last_changed, default_password_lifetime */
    QV_MYSQL_REPLICATION_TABLES = 50706, /* performance_schema's replication channels */
    QV_MYSQL_SUPER_READ_ONLY = 50708,   /* @@super_read_only */
    QV_MYSQL_8 = 80000,                 /* the CREATE USER form; roles, dynamic privileges */
    QV_MYSQL_TLS_STATUS = 80021,        /* performance_schema.tls_channel_status */
    QV_MARIADB_ROLES = 100005,          /* mysql.roles_mapping */
    QV_MARIADB_SET_STATEMENT = 100102,  /* SET STATEMENT ... FOR, Galera in the server */
    QV_MARIADB_GLOBAL_PRIV = 100400,    /* mysql.global_priv, password lifetimes */
    QV_MARIADB_PUBLIC = 101100,         /* the PUBLIC role */
};

/* Whether facts name MySQL 8.0 or later. */
bool qv_server_facts_mysql8(const QVDBServerFacts *facts);

/* Reads the server's kind and version from its version text (mysql_get_server_info):
 * "10.11.6-MariaDB-0+deb12u1", "8.0.36", "5.5.5-10.6.12-MariaDB" (the prefix some
 * MariaDB releases send for old replicas is skipped). Fills facts->mariadb and
 * facts->version only; a text without a version gives version 0; null gives neither. */
void qv_server_facts_from_info(const char *info, QVDBServerFacts *facts);

/* Forms into statement (capacity bytes; QV_DETECTION_SIZE is enough) the one reading
 * statement that detects the rest for a server of facts' kind and version: "SELECT
 * <expression> AS <name>, ...", with the columns read_only, super_read_only (MySQL 5.7.8
 * and later), replica, reuse_check (MariaDB), native_password (MySQL 8.0 and later) and
 * the node's (MariaDB: galera, node_ready, node_primary, node_rejects, node_local_ddl,
 * node_index, cluster_size, node_state). Returns false when it does not fit. */
bool qv_server_facts_statement(const QVDBServerFacts *facts, char *statement, size_t capacity);

/* Forms into columns (capacity bytes) ", <expression> AS <name>" for each of the columns
 * the check reads too (a Galera node's, and native_password), for its reading statement;
 * "" on a server that has none. Returns false when they do not fit. */
bool qv_server_facts_checked_columns(const QVDBServerFacts *facts, char *columns,
                                     size_t capacity);

/* Takes one row of the detection statement's result (its column names and values, null
 * for SQL NULL) into facts. Returns false when a flag's value is not a whole number, or
 * a column the statement asks for is missing; facts->detected is then left false. (The
 * node's number, size and state are taken as far as they can be read.) */
bool qv_server_facts_read_row(QVDBServerFacts *facts, unsigned count, const char *const names[],
                              const char *const values[]);

/* The same for a row that carries those columns alone; facts->detected is left as it
 * was. */
bool qv_server_facts_read_checked(QVDBServerFacts *facts, unsigned count,
                                  const char *const names[], const char *const values[]);

/* Whether facts name a Galera node that cannot speak for the cluster: not ready, or
 * outside the primary component. What it holds may not be what the cluster holds, and
 * what is written there may never reach the others. */
bool qv_server_facts_node_outside(const QVDBServerFacts *facts);

/* Forms into out (capacity bytes) the node facts name, for a person: "Galera node 2 of
 * 3, Synced", with ", not in the primary component" where it is not; "" where facts name
 * no Galera node. */
void qv_server_facts_node(const QVDBServerFacts *facts, char *out, size_t capacity);

/* Whether accounts on this server are made in the set-once form (CREATE USER IF NOT
 * EXISTS for a missing form, ALTER USER only where the stored password differs, GRANT
 * without a password): on MySQL 8.0 and later, whose GRANT sets no password, and where
 * a password reuse policy is active; the GRANT ... IDENTIFIED BY form everywhere else. */
bool qv_server_facts_set_once(const QVDBServerFacts *facts);

#endif
