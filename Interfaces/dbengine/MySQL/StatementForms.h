/*
 * StatementForms: the texts of the statements that make an account, in the form the
 * server takes.
 *
 * Two forms exist. The GRANT form (MariaDB, MySQL up to 5.7): each GRANT names the
 * account with its password ("GRANT ... TO 'N' IDENTIFIED BY 'P'"), so that every GRANT
 * creates the account or sets its password again. The set-once form (MySQL 8.0 and
 * later, whose GRANT neither creates accounts nor sets passwords, and servers whose
 * password reuse policy refuses a password set twice): one statement reads what both
 * forms of the account hold (StoredForms), CREATE USER IF NOT EXISTS makes each form
 * that was not found, with the password, ALTER USER sets it only on a form that existed
 * and none of whose methods admits it, and the GRANTs name the account without a
 * password.
 *
 * Each statement is formed for both forms of the account: the name alone (any host),
 * then the name at localhost. Names and passwords are inserted between single quotes as
 * they are: the caller refuses any that hold a quote or a backslash.
 */
#ifndef INTERFACES_DBENGINE_MYSQL_STATEMENTFORMS_H
#define INTERFACES_DBENGINE_MYSQL_STATEMENTFORMS_H

#include <cstddef>

#include "Interfaces/dbengine/MySQL/StoredForms.h"

/* Statements and their fragments are formed in buffers of this size. */
#define QV_STATEMENT_SIZE 1024

/* How accounts are made on the server a connection reached. */
enum {
    QV_FORM_BY_SERVER = 0,        /* decided from what the server is (the default) */
    QV_FORM_GRANT_IDENTIFIED = 1, /* GRANT ... IDENTIFIED BY: MariaDB, MySQL up to 5.7 */
    QV_FORM_CREATE_ALTER = 2      /* the set-once form: CREATE USER, ALTER USER where needed */
};

/* The account fragments of one account, each in its own buffer. */
enum QVFragment {
    QV_TO_ANY,   /* "TO 'N'", with " IDENTIFIED BY 'P'" in the GRANT form */
    QV_TO_LOCAL, /* "TO 'N'@'localhost'", likewise */
    QV_FROM_ANY, /* "FROM 'N'" */
    QV_FROM_LOCAL,
    QV_ACCOUNT_ANY, /* "'N'", for CREATE USER and ALTER USER */
    QV_ACCOUNT_LOCAL,
    QV_FRAGMENT_COUNT
};
typedef char QVFragments[QV_FRAGMENT_COUNT][QV_STATEMENT_SIZE];

/* Forms the fragments of account name in form (QV_FORM_GRANT_IDENTIFIED or
 * QV_FORM_CREATE_ALTER); password goes into the GRANT form's. Returns false when one
 * does not fit its buffer. */
bool qv_form_fragments(QVFragments fragments, int form, const char *name, const char *password);

/* The number of GRANT and REVOKE statements of level priv: two per step. */
size_t qv_form_level_count(int priv);

/* Forms statement number index (from 0, below qv_form_level_count) of level priv into
 * statement (QV_STATEMENT_SIZE bytes). Each of these, and each function below, returns
 * the qv_snprintf result: negative when the statement did not fit (it is then cut). */
int qv_form_level_statement(int priv, size_t index, const QVFragments fragments, char *statement);

/* "CREATE USER IF NOT EXISTS 'N'[@'localhost'] IDENTIFIED BY 'P'". */
int qv_form_create_user(const QVFragments fragments, bool local, const char *password,
                        char *statement);

/* "ALTER USER 'N'[@'localhost'] IDENTIFIED BY 'P'", or with caching_sha2 "... IDENTIFIED
 * WITH caching_sha2_password BY 'P'". */
int qv_form_alter_user(const QVFragments fragments, bool local, bool caching_sha2,
                       const char *password, char *statement);

/* What the set-once form does with a form's password. */
enum {
    QV_SET_NOTHING = 0,     /* new (CREATE USER set it), or it already admits the password */
    QV_SET_PASSWORD = 1,    /* ALTER USER ... IDENTIFIED BY */
    QV_SET_CACHING_SHA2 = 2 /* ALTER USER ... IDENTIFIED WITH caching_sha2_password BY */
};

/* Decides, for a stored form, whether the set-once form sets password on it and how:
 * nothing on a form that did not exist or any of whose methods admits the password; a
 * form on mysql_native_password where that plugin is not active (native_active false,
 * MySQL 8.4 and later) moves to caching_sha2_password, since it could not log in
 * otherwise; any other form (a credential that differs, or that cannot be verified) is
 * set. */
int qv_form_password_step(const QVStoredForm *stored, const char *password, bool native_active);

#endif
