#include "tests/support/TestServer.h"

#include <mysql.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tests/support/PrivilegeColumns.h"

std::string test_server_socket()
{
    const char *state = getenv("QV_TEST_SERVER_STATE");
    if (state == nullptr)
        return "";
    std::ifstream in(std::string(state) + "/socket");
    std::string path;
    std::getline(in, path);
    return path;
}

bool aim_client_at_test_server()
{
    std::string socket = test_server_socket();
    if (socket.empty())
        return false;
    setenv("MYSQL_UNIX_PORT", socket.c_str(), 1);
    return true;
}

ServerSession::ServerSession(const std::string &user, const std::string &password,
                             const std::string &socket)
{
    mysql_ = mysql_init(nullptr);
    const std::string path = socket.empty() ? test_server_socket() : socket;
    if (mysql_real_connect(mysql_, "localhost", user.c_str(), password.c_str(), nullptr, 0,
                           path.empty() ? nullptr : path.c_str(), 0) == nullptr) {
        error_ = mysql_error(mysql_);
        mysql_close(mysql_);
        mysql_ = nullptr;
    }
}

ServerSession::~ServerSession()
{
    if (mysql_)
        mysql_close(mysql_);
}

void ServerSession::exec(const std::string &sql)
{
    if (!mysql_)
        throw std::runtime_error("not connected: " + error_);
    if (mysql_query(mysql_, sql.c_str()) != 0)
        throw std::runtime_error(sql + ": " + mysql_error(mysql_));
    if (MYSQL_RES *result = mysql_store_result(mysql_))
        mysql_free_result(result);
    else if (mysql_errno(mysql_) != 0)
        throw std::runtime_error(sql + ": " + mysql_error(mysql_));
}

Rows ServerSession::query(const std::string &sql)
{
    if (!mysql_)
        throw std::runtime_error("not connected: " + error_);
    if (mysql_query(mysql_, sql.c_str()) != 0)
        throw std::runtime_error(sql + ": " + mysql_error(mysql_));
    Rows rows;
    MYSQL_RES *result = mysql_store_result(mysql_);
    /* A statement can fail after it was accepted, as SHOW GRANTS for a missing account
     * does on a Galera node that first waits to catch up (wsrep_sync_wait). */
    if (result == nullptr && mysql_errno(mysql_) != 0)
        throw std::runtime_error(sql + ": " + mysql_error(mysql_));
    if (result == nullptr)
        return rows;
    unsigned fields = mysql_num_fields(result);
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
        std::vector<std::string> values;
        for (unsigned i = 0; i < fields; i++)
            values.push_back(row[i] ? row[i] : "NULL");
        rows.push_back(values);
    }
    mysql_free_result(result);
    return rows;
}

/* MariaDB's privilege columns: the shared ones and its own. */
static std::vector<const char *> privilege_columns()
{
    std::vector<const char *> columns(std::begin(g_shared_privilege_columns),
                                      std::end(g_shared_privilege_columns));
    columns.push_back("Delete_history_priv");
    return columns;
}

std::vector<std::pair<std::string, std::string>>
account_privileges(ServerSession &root, const std::string &user, const std::string &host)
{
    std::string columns;
    for (const char *column : privilege_columns())
        columns += std::string(columns.empty() ? "" : ",") + column;
    Rows rows = root.query("SELECT " + columns + " FROM mysql.user WHERE User='" + user +
                           "' AND Host='" + host + "'");
    std::vector<std::pair<std::string, std::string>> privileges;
    if (rows.empty())
        return privileges;
    size_t i = 0;
    for (const char *column : privilege_columns())
        privileges.emplace_back(column, rows[0][i++]);
    return privileges;
}

bool wait_until_no_session(ServerSession &root, const std::string &condition)
{
    for (int i = 0; i < 100; i++) {
        if (root.query("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE " +
                       condition)[0][0] == "0")
            return true;
        usleep(50000);
    }
    return false;
}

const std::vector<std::string> SERVICE_ACCOUNT_NAMES = {"QuorvaneInternal", "QuOrvAneIndeX",
                                                        "DUVidIdeRiv"};

void drop_account(ServerSession &root, const std::string &user)
{
    root.exec("DROP USER IF EXISTS '" + user + "'@'%'");
    root.exec("DROP USER IF EXISTS '" + user + "'@'localhost'");
}

void drop_accounts(ServerSession &root, const std::vector<std::string> &users)
{
    for (const std::string &user : users)
        drop_account(root, user);
}

Rows general_log_during(ServerSession &root, const std::function<void()> &run)
{
    root.exec("SET GLOBAL log_output = 'TABLE'");
    root.exec("TRUNCATE TABLE mysql.general_log");
    root.exec("SET GLOBAL general_log = 1");
    const std::string own = root.query("SELECT CONNECTION_ID()")[0][0];
    run();
    root.exec("SET GLOBAL general_log = 0");
    return root.query("SELECT thread_id, command_type, argument FROM mysql.general_log WHERE "
                      "thread_id <> " +
                      own);
}

std::vector<std::string> show_grants(ServerSession &root, const std::vector<std::string> &users)
{
    std::vector<std::string> grants;
    for (const std::string &user : users)
        for (const char *host : {"%", "localhost"}) {
            std::string form = "'" + user + "'@'" + host + "'";
            try {
                for (const auto &row : root.query("SHOW GRANTS FOR " + form))
                    grants.push_back(row[0]);
            } catch (const std::runtime_error &) {
                grants.push_back(form + " absent");
            }
        }
    return grants;
}

std::string install_ed25519(ServerSession &root)
{
    if (!root.query("SELECT 1 FROM information_schema.PLUGINS WHERE PLUGIN_NAME = 'ed25519'")
             .empty())
        return "DO 0";
    root.exec("INSTALL SONAME 'auth_ed25519'");
    return "UNINSTALL SONAME 'auth_ed25519'";
}
