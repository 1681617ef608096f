/*
 * FakeMysql: a stand-in for the MySQL client calls the engine makes (mysql_init,
 * mysql_optionsv, mysql_real_connect, mysql_get_server_info, mysql_query, the result
 * calls, mysql_errno, mysql_error, mysql_close), linked in place of the client library.
 * It records every call in order and can be told to fail any of them, so that tests see
 * exact statement sequences and injected failures.
 */
#ifndef TESTS_SUPPORT_FAKEMYSQL_H
#define TESTS_SUPPORT_FAKEMYSQL_H

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

/* The result of a reading statement. */
struct FakeTable {
    std::vector<std::string> names;
    std::vector<std::vector<std::optional<std::string>>> rows; /* nullopt: SQL NULL */
};

struct FakeConnection {
    std::optional<std::string> host, user, password, database, unix_socket;
    unsigned port = 0;
    unsigned long client_flags = 0;
    bool connected = false; /* mysql_real_connect succeeded */
    bool closed = false;
    std::vector<std::string> statements;
    /* options set before connecting: the time-outs, and every option by its number
     * (texts as given, numbers and switches in decimal) */
    std::optional<unsigned> connect_timeout, read_timeout, write_timeout;
    std::map<int, std::string> options;
};

struct FakeMysql {
    /* What to fail. */
    bool init_fails = false;
    bool connect_fails = false; /* every connect fails with the error below */
    int fail_connect = 0;       /* 1-based: only this connect fails; 0 none */
    int connect_errno = 2002;
    std::string connect_error = "Can't connect to local server through socket";
    int fail_statement = 0; /* 1-based over all statements sent; 0 none */
    int statement_errno = 1064;
    std::string statement_error = "You have an error in your SQL syntax";
    /* Logins refused by user name, with their error number. */
    std::map<std::string, int> refused_users;
    /* The answer to each statement sent; unset, or an answer without columns: none. */
    std::function<FakeTable(const std::string &statement)> results;
    int results_open = 0; /* stored and not yet freed */
    /* The server the connections reach. */
    std::string server_info = "10.11.6-MariaDB-0+deb12u1";
    /* The answer to the engine's detection ("SELECT @@read_only AS read_only, ..."): the
     * value of each column it names, by name; a column not set here answers "0". It is
     * answered so when results gives no answer to it. */
    std::map<std::string, std::string> detected;

    /* What happened: one entry per call, e.g. "init 1", "connect 1", "query 1 <text>",
     * "close 1", numbered by handle. */
    std::vector<std::string> events;
    std::vector<FakeConnection> connections; /* one per mysql_init that succeeded */
    int open_handles = 0;                    /* initialised and not yet closed */
    int statements_sent = 0;
    int connects = 0; /* mysql_real_connect calls */
};

/* The fake's state; reset it at the start of each test. */
FakeMysql &fake_mysql();
void fake_mysql_reset();

/* All statements sent, over all connections, in order. */
std::vector<std::string> fake_mysql_statements();

#endif
