/*
 * ServerFacts: what the engine needs to know of the server before it writes: its kind
 * and version (from the version text the client library got at login, without a
 * statement), and, read with one detection statement, whether it is read-only, whether
 * its replication runs (a replica), whether MariaDB's password_reuse_check plugin is
 * active, and whether MySQL's mysql_native_password is.
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
};

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

/* Forms into statement (capacity bytes) the one reading statement that detects the
 * rest for a server of facts' kind and version: "SELECT <expression> AS <name>, ...",
 * with the columns read_only, super_read_only (MySQL 5.7.8 and later), replica,
 * reuse_check (MariaDB) and native_password (MySQL 8.0 and later). Returns false when
 * it does not fit. */
bool qv_server_facts_statement(const QVDBServerFacts *facts, char *statement, size_t capacity);

/* Takes one row of the detection statement's result (its column names and values, null
 * for SQL NULL) into facts. Returns false when a value is not a whole number, or a
 * column the statement asks for is missing; facts->detected is then left false. */
bool qv_server_facts_read_row(QVDBServerFacts *facts, unsigned count, const char *const names[],
                              const char *const values[]);

/* Whether accounts on this server are made in the set-once form (CREATE USER IF NOT
 * EXISTS for a missing form, ALTER USER only where the stored password differs, GRANT
 * without a password): on MySQL 8.0 and later, whose GRANT sets no password, and where
 * a password reuse policy is active; the GRANT ... IDENTIFIED BY form everywhere else. */
bool qv_server_facts_set_once(const QVDBServerFacts *facts);

#endif
