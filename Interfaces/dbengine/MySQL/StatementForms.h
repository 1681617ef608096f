/*
 * StatementForms: the texts of the statements that make an account, in the form the
 * server takes.
 *
 * Two forms exist. MariaDB and MySQL up to 5.7 get GRANT ... IDENTIFIED BY: each GRANT
 * names the account with its password. MySQL 8.0 and later no longer create accounts or
 * set passwords through GRANT: there the account is made and its password set with
 * CREATE USER IF NOT EXISTS and ALTER USER, and the GRANTs name it without a password.
 * Each statement is formed for both forms of the account: the name alone (any host),
 * then the name at localhost. Names and passwords are inserted between single quotes
 * as they are: the caller refuses any that hold a quote or a backslash.
 */
#ifndef INTERFACES_DBENGINE_MYSQL_STATEMENTFORMS_H
#define INTERFACES_DBENGINE_MYSQL_STATEMENTFORMS_H

#include <cstddef>

/* Statements and their fragments are formed in buffers of this size. */
#define QV_STATEMENT_SIZE 1024

/* How accounts are made on the server a connection reached. */
enum {
    QV_FORM_BY_SERVER = 0,        /* decided from the server's version (the default) */
    QV_FORM_GRANT_IDENTIFIED = 1, /* GRANT ... IDENTIFIED BY: MariaDB, MySQL up to 5.7 */
    QV_FORM_CREATE_ALTER = 2      /* CREATE USER and ALTER USER first: MySQL 8.0 and later */
};

/* The account fragments of one account, each in its own buffer. */
enum QVFragment {
    QV_TO_ANY,   /* "TO 'N'", with " IDENTIFIED BY 'P'" in the GRANT form */
    QV_TO_LOCAL, /* "TO 'N'@'localhost'", likewise */
    QV_FROM_ANY, /* "FROM 'N'" */
    QV_FROM_LOCAL,
    QV_IDENTIFIED_ANY, /* "'N' IDENTIFIED BY 'P'", for CREATE USER and ALTER USER */
    QV_IDENTIFIED_LOCAL,
    QV_FRAGMENT_COUNT
};
typedef char QVFragments[QV_FRAGMENT_COUNT][QV_STATEMENT_SIZE];

/* Forms the fragments of account name with password in form (QV_FORM_GRANT_IDENTIFIED
 * or QV_FORM_CREATE_ALTER). Returns false when one does not fit its buffer. */
bool qv_form_fragments(QVFragments fragments, int form, const char *name, const char *password);

/* The number of statements that make an account at level priv in form: the account
 * statements of the CREATE USER form (none in the GRANT form), then two per step of the
 * level. */
size_t qv_form_statement_count(int priv, int form);

/* Forms statement number index (from 0) of that sequence into statement
 * (QV_STATEMENT_SIZE bytes). Returns the qv_snprintf result: negative when it did not
 * fit (the statement is then cut). */
int qv_form_statement(int priv, int form, size_t index, const QVFragments fragments,
                      char *statement);

#endif
