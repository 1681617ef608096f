/*
 * TestServer: the private MariaDB server that the test harness starts (see
 * private-mariadb.sh), seen from a test: where its socket is, and a root session for
 * preparing accounts and reading back what the engine did.
 */
#ifndef TESTS_SUPPORT_TESTSERVER_H
#define TESTS_SUPPORT_TESTSERVER_H

#include <functional>
#include <string>
#include <vector>

typedef struct st_mysql MYSQL;

/* The private server's socket path, read from $QV_TEST_SERVER_STATE/socket; empty when
 * no server was started. */
std::string test_server_socket();

/* Points the client library's default socket (MYSQL_UNIX_PORT) at the private server,
 * so that the unchanged engine, connecting to "localhost", reaches it. Returns false
 * when there is no private server. */
bool aim_client_at_test_server();

typedef std::vector<std::vector<std::string>> Rows;

/* A connection to the private server as the given user (root by default), or to the
 * server whose socket is named. */
class ServerSession
{
  public:
    explicit ServerSession(const std::string &user = "root", const std::string &password = "",
                           const std::string &socket = "");
    ~ServerSession();
    ServerSession(const ServerSession &) = delete;
    ServerSession &operator=(const ServerSession &) = delete;

    bool connected() const
    {
        return mysql_ != nullptr;
    }
    const std::string &error() const
    {
        return error_;
    }

    /* Runs a statement; throws std::runtime_error with the server's message on failure. */
    void exec(const std::string &sql);
    /* Runs a query and returns its rows (NULL as "NULL"). */
    Rows query(const std::string &sql);

  private:
    MYSQL *mysql_;
    std::string error_;
};

/* The global privileges of user@host as "Y"/"N" by column name (Select_priv, ...,
 * Grant_priv), read from mysql.user; empty when the account does not exist. */
std::vector<std::pair<std::string, std::string>>
account_privileges(ServerSession &root, const std::string &user, const std::string &host);

/* Waits (up to 5 s) until no session that matches condition (a WHERE clause on
 * information_schema.PROCESSLIST, such as "USER = 'root' AND ID <> CONNECTION_ID()") is
 * left: a closing client does not wait for the server to end its session. Returns
 * false when some are left. */
bool wait_until_no_session(ServerSession &root, const std::string &condition);

/* The suite's three service accounts, in the order a run makes them; written out here,
 * apart from the tool's own table. */
extern const std::vector<std::string> SERVICE_ACCOUNT_NAMES;

/* Drops user@'%' and user@localhost if they exist. */
void drop_account(ServerSession &root, const std::string &user);
/* drop_account for each of users. */
void drop_accounts(ServerSession &root, const std::vector<std::string> &users);

/* Calls run with the server's general log on, as the table mysql.general_log (emptied
 * first), and returns what the other sessions did meanwhile, in order: each row
 * thread_id, command_type, argument. A closing client does not wait for the server to
 * end its session: where a session's last commands matter, run waits for it
 * (wait_until_no_session). */
Rows general_log_during(ServerSession &root, const std::function<void()> &run);

/* SHOW GRANTS of user@'%' and user@localhost for each of users, password hashes
 * included; "'user'@'host' absent" for a form that does not exist. */
std::vector<std::string> show_grants(ServerSession &root, const std::vector<std::string> &users);

/* Installs MariaDB's ed25519 login method where it is missing; returns the statement
 * that puts the server back ("DO 0" where it was there already). */
std::string install_ed25519(ServerSession &root);

#endif
