/*
 * FakeMysql: the client calls, defined with the client library's own declarations so
 * that the linker takes them in place of the library's.
 */
#include "tests/support/FakeMysql.h"

#include <mysql.h>

#include <cstdarg>
#include <cstring>

static FakeMysql g_fake;

/* A handle is the index of its connection plus one, disguised as a pointer; the engine
 * never looks inside a MYSQL. */
static MYSQL *to_handle(size_t index)
{
    return reinterpret_cast<MYSQL *>(index + 1);
}

static FakeConnection &connection_of(MYSQL *handle)
{
    return g_fake.connections.at(reinterpret_cast<size_t>(handle) - 1);
}

static std::string number_of(MYSQL *handle)
{
    return std::to_string(reinterpret_cast<size_t>(handle));
}

static std::optional<std::string> text_or_none(const char *s)
{
    return s ? std::optional<std::string>(s) : std::nullopt;
}

/* The error of the last failed call on each handle. */
struct LastError {
    unsigned number = 0;
    std::string message;
};
static std::vector<LastError> g_errors;
/* The result of the last statement on each handle, until it is stored. */
static std::vector<std::optional<FakeTable>> g_pending;

/* A stored result: the table and the client library's views of it. */
struct FakeResult {
    FakeTable table;
    std::vector<MYSQL_FIELD> fields;
    std::vector<std::vector<char *>> rows;
    size_t next = 0;
};

FakeMysql &fake_mysql()
{
    return g_fake;
}

void fake_mysql_reset()
{
    g_fake = FakeMysql();
    g_errors.clear();
    g_pending.clear();
}

std::vector<std::string> fake_mysql_statements()
{
    std::vector<std::string> all;
    for (const FakeConnection &c : g_fake.connections)
        all.insert(all.end(), c.statements.begin(), c.statements.end());
    return all;
}

/* The one row of the detection statement: a value for each column it names with AS. */
static FakeTable detection_answer(const std::string &statement)
{
    FakeTable table;
    table.rows.emplace_back();
    for (size_t at = statement.find(" AS "); at != std::string::npos;
         at = statement.find(" AS ", at + 4)) {
        size_t end = statement.find_first_of(", ", at + 4);
        std::string name = statement.substr(at + 4, end == std::string::npos ? end : end - at - 4);
        auto value = g_fake.detected.find(name);
        table.names.push_back(name);
        table.rows[0].push_back(value == g_fake.detected.end() ? "0" : value->second);
    }
    return table;
}

MYSQL *STDCALL mysql_init(MYSQL *mysql)
{
    (void)mysql;
    if (g_fake.init_fails) {
        g_fake.events.push_back("init failed");
        return nullptr;
    }
    g_fake.connections.emplace_back();
    g_errors.emplace_back();
    g_pending.emplace_back();
    g_fake.open_handles++;
    MYSQL *handle = to_handle(g_fake.connections.size() - 1);
    g_fake.events.push_back("init " + number_of(handle));
    return handle;
}

int STDCALL mysql_optionsv(MYSQL *mysql, enum mysql_option option, ...)
{
    FakeConnection &c = connection_of(mysql);
    va_list arguments;
    va_start(arguments, option);
    const void *arg = va_arg(arguments, const void *);
    va_end(arguments);
    std::optional<unsigned> *timeouts[] = {&c.connect_timeout, &c.read_timeout, &c.write_timeout};
    switch (option) {
    case MYSQL_OPT_CONNECT_TIMEOUT:
    case MYSQL_OPT_READ_TIMEOUT:
    case MYSQL_OPT_WRITE_TIMEOUT:
        *timeouts[option == MYSQL_OPT_CONNECT_TIMEOUT ? 0
                  : option == MYSQL_OPT_READ_TIMEOUT  ? 1
                                                      : 2] = *static_cast<const unsigned *>(arg);
        /* fall through */
    case MYSQL_OPT_PROTOCOL:
        c.options[option] = std::to_string(*static_cast<const unsigned *>(arg));
        break;
    case MYSQL_OPT_SSL_ENFORCE:
    case MYSQL_OPT_SSL_VERIFY_SERVER_CERT:
        c.options[option] = std::to_string(*static_cast<const my_bool *>(arg));
        break;
    default:
        c.options[option] = static_cast<const char *>(arg);
    }
    return 0;
}

char *STDCALL mysql_get_server_info(MYSQL *mysql)
{
    (void)connection_of(mysql); /* a valid handle */
    return const_cast<char *>(g_fake.server_info.c_str());
}

MYSQL *STDCALL mysql_real_connect(MYSQL *mysql, const char *host, const char *user,
                                  const char *passwd, const char *db, unsigned int port,
                                  const char *unix_socket, unsigned long clientflag)
{
    FakeConnection &c = connection_of(mysql);
    c.host = text_or_none(host);
    c.user = text_or_none(user);
    c.password = text_or_none(passwd);
    c.database = text_or_none(db);
    c.unix_socket = text_or_none(unix_socket);
    c.port = port;
    c.client_flags = clientflag;
    g_fake.events.push_back("connect " + number_of(mysql));
    g_fake.connects++;
    auto refused = user ? g_fake.refused_users.find(user) : g_fake.refused_users.end();
    bool fails = g_fake.connect_fails || g_fake.connects == g_fake.fail_connect;
    if (fails || refused != g_fake.refused_users.end()) {
        int number = fails ? g_fake.connect_errno : refused->second;
        g_errors.at(reinterpret_cast<size_t>(mysql) - 1) = {static_cast<unsigned>(number),
                                                            g_fake.connect_error};
        return nullptr;
    }
    c.connected = true;
    return mysql;
}

int STDCALL mysql_query(MYSQL *mysql, const char *q)
{
    FakeConnection &c = connection_of(mysql);
    c.statements.push_back(q);
    g_fake.events.push_back("query " + number_of(mysql) + " " + q);
    if (++g_fake.statements_sent == g_fake.fail_statement) {
        g_errors.at(reinterpret_cast<size_t>(mysql) -
                    1) = {static_cast<unsigned>(g_fake.statement_errno), g_fake.statement_error};
        return 1;
    }
    g_pending.at(reinterpret_cast<size_t>(mysql) - 1).reset();
    g_errors.at(reinterpret_cast<size_t>(mysql) - 1) = {}; /* as the library: a success clears it */
    FakeTable table;
    if (g_fake.results)
        table = g_fake.results(q);
    if (table.names.empty() && std::string(q).rfind("SELECT @@read_only", 0) == 0)
        table = detection_answer(q);
    if (!table.names.empty())
        g_pending.at(reinterpret_cast<size_t>(mysql) - 1) = table;
    return 0;
}

MYSQL_RES *STDCALL mysql_store_result(MYSQL *mysql)
{
    std::optional<FakeTable> &pending = g_pending.at(reinterpret_cast<size_t>(mysql) - 1);
    if (!pending)
        return nullptr;
    FakeResult *result = new FakeResult;
    result->table = *pending;
    pending.reset();
    for (std::string &name : result->table.names) {
        MYSQL_FIELD field{};
        field.name = name.data();
        result->fields.push_back(field);
    }
    for (auto &row : result->table.rows) {
        std::vector<char *> values;
        for (auto &value : row)
            values.push_back(value ? value->data() : nullptr);
        result->rows.push_back(values);
    }
    g_fake.results_open++;
    return reinterpret_cast<MYSQL_RES *>(result);
}

unsigned int STDCALL mysql_num_fields(MYSQL_RES *res)
{
    return static_cast<unsigned>(reinterpret_cast<FakeResult *>(res)->fields.size());
}

MYSQL_FIELD *STDCALL mysql_fetch_fields(MYSQL_RES *res)
{
    return reinterpret_cast<FakeResult *>(res)->fields.data();
}

MYSQL_ROW STDCALL mysql_fetch_row(MYSQL_RES *res)
{
    FakeResult *result = reinterpret_cast<FakeResult *>(res);
    if (result->next >= result->rows.size())
        return nullptr;
    return result->rows[result->next++].data();
}

void STDCALL mysql_free_result(MYSQL_RES *res)
{
    g_fake.results_open--;
    delete reinterpret_cast<FakeResult *>(res);
}

unsigned int STDCALL mysql_errno(MYSQL *mysql)
{
    return g_errors.at(reinterpret_cast<size_t>(mysql) - 1).number;
}

const char *STDCALL mysql_error(MYSQL *mysql)
{
    return g_errors.at(reinterpret_cast<size_t>(mysql) - 1).message.c_str();
}

void STDCALL mysql_close(MYSQL *sock)
{
    FakeConnection &c = connection_of(sock);
    c.closed = true;
    g_fake.open_handles--;
    g_fake.events.push_back("close " + number_of(sock));
}
