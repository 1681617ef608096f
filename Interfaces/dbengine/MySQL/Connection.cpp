/*
 * Connection: an engine's connection to the server: the client library's handle, the
 * options it gets, the login, and what a refused login is noted as for its hint.
 *
 * Invariants: the library reads no option file and loads no plugin of a file's
 * choosing: it gets values only (OptionFile read them), through mysql_optionsv; every
 * connection allows only the platform's login methods (ClientPlatform) and bounds every
 * wait; a handle that did not become the engine's connection is closed before the call
 * returns.
 */
#include <mysql.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "Interfaces/dbengine/MySQL/ClientPlatform.h"
#include "Interfaces/dbengine/MySQL/Masking.h"
#include "Interfaces/dbengine/MySQL/MyDBEngine.h"

/* The library's error for a login method outside the allowed list (errmsg.h of
 * Connector/C 3.3). */
#define QV_CR_PLUGIN_NOT_ALLOWED 5010

/* Test seams; 0 selects the default. */
static std::atomic<unsigned> g_connect_timeout{0}, g_read_timeout{0}, g_write_timeout{0};

void qv_DBEngine_set_timeouts(unsigned connect_seconds, unsigned read_seconds,
                              unsigned write_seconds)
{
    g_connect_timeout = connect_seconds;
    g_read_timeout = read_seconds;
    g_write_timeout = write_seconds;
}

static unsigned timeout_or_default(const std::atomic<unsigned> &seam, unsigned default_seconds)
{
    unsigned seconds = seam.load(std::memory_order_relaxed);
    return seconds != 0 ? seconds : default_seconds;
}

/* The options of the files that are texts, and the library's options they set. */
static const struct {
    int slot;
    enum mysql_option option;
} g_texts[] = {
    {QV_OPT_PASSWORD, MARIADB_OPT_PASSWORD}, {QV_OPT_SOCKET, MARIADB_OPT_UNIXSOCKET},
    {QV_OPT_SSL_CA, MYSQL_OPT_SSL_CA},       {QV_OPT_SSL_CAPATH, MYSQL_OPT_SSL_CAPATH},
    {QV_OPT_SSL_CERT, MYSQL_OPT_SSL_CERT},   {QV_OPT_SSL_CIPHER, MYSQL_OPT_SSL_CIPHER},
    {QV_OPT_SSL_CRL, MYSQL_OPT_SSL_CRL},     {QV_OPT_SSL_CRLPATH, MYSQL_OPT_SSL_CRLPATH},
    {QV_OPT_SSL_KEY, MYSQL_OPT_SSL_KEY},     {QV_OPT_TLS_VERSION, MARIADB_OPT_TLS_VERSION},
};

/* Hands the file's switches and protocol to handle. Returns false when the library
 * refuses one. */
static bool set_switches(MYSQL *handle, const QVDBOptions *options)
{
    const struct {
        int slot;
        enum mysql_option option;
    } switches[] = {{QV_OPT_SSL, MYSQL_OPT_SSL_ENFORCE},
                    {QV_OPT_SSL_VERIFY_SERVER_CERT, MYSQL_OPT_SSL_VERIFY_SERVER_CERT}};
    for (const auto &s : switches) {
        my_bool on = options->value[s.slot][0] == '1';
        if (options->given[s.slot] && mysql_optionsv(handle, s.option, &on) != 0)
            return false;
    }
    if (!options->given[QV_OPT_PROTOCOL])
        return true;
    static const char *const names[] = {"tcp", "socket", "pipe", "memory"};
    static const unsigned protocols[] = {MYSQL_PROTOCOL_TCP, MYSQL_PROTOCOL_SOCKET,
                                         MYSQL_PROTOCOL_PIPE, MYSQL_PROTOCOL_MEMORY};
    for (size_t i = 0; i < 4; i++)
        if (strcmp(options->value[QV_OPT_PROTOCOL], names[i]) == 0)
            return mysql_optionsv(handle, MYSQL_OPT_PROTOCOL, &protocols[i]) == 0;
    return true;
}

/* Bounds every wait of handle, allows only the platform's login methods and their
 * plugins, and hands it what the option files give. Returns false when the library
 * refuses an option (out of memory). */
static bool set_connection_options(MYSQL *handle, const QVDBOptions *options)
{
    unsigned timeouts[] = {timeout_or_default(g_connect_timeout, QV_DB_CONNECT_TIMEOUT),
                           timeout_or_default(g_read_timeout, QV_DB_READ_TIMEOUT),
                           timeout_or_default(g_write_timeout, QV_DB_WRITE_TIMEOUT)};
    if (options->given[QV_OPT_CONNECT_TIMEOUT] &&
        static_cast<unsigned>(atoi(options->value[QV_OPT_CONNECT_TIMEOUT])) < timeouts[0])
        timeouts[0] = static_cast<unsigned>(atoi(options->value[QV_OPT_CONNECT_TIMEOUT]));
    char plugins[4096];
    if (mysql_optionsv(handle, MYSQL_OPT_CONNECT_TIMEOUT, &timeouts[0]) != 0 ||
        mysql_optionsv(handle, MYSQL_OPT_READ_TIMEOUT, &timeouts[1]) != 0 ||
        mysql_optionsv(handle, MYSQL_OPT_WRITE_TIMEOUT, &timeouts[2]) != 0 ||
        mysql_optionsv(handle, MARIADB_OPT_RESTRICTED_AUTH, qv_login_methods) != 0 ||
        (qv_client_plugin_dir(plugins, sizeof plugins) &&
         mysql_optionsv(handle, MYSQL_PLUGIN_DIR, plugins) != 0))
        return false;
    for (const auto &text : g_texts)
        if (options->given[text.slot] &&
            mysql_optionsv(handle, text.option, options->value[text.slot]) != 0)
            return false;
    return set_switches(handle, options);
}

/* A new handle with the connection options set, or null after logging why. */
static MYSQL *new_handle(const QVDBOptions *options)
{
    MYSQL *handle = mysql_init(nullptr);
    if (handle == nullptr) {
        qv_log(QV_LOG_ERROR, "%s", "do_connect: mysql_init() failed (probably out of memory)");
        return nullptr;
    }
    if (!set_connection_options(handle, options)) {
        qv_log(QV_LOG_ERROR, "%s", "do_connect: mysql_options() failed (probably out of memory)");
        mysql_close(handle);
        return nullptr;
    }
    return handle;
}

/* Notes a refused login for its hint: a refused password names the option file that
 * gave it, or else the first one not used and why; a login method the tool does not
 * allow is named (as the library's message quotes it, in printable characters only: the
 * server chose it). */
static void note_login_failure(int number, const char *message, const QVDBOptions *options,
                               bool password_given)
{
    char subject[QV_OPTION_REFUSAL_SIZE] = "";
    int phase = QV_PHASE_LOGIN;
    const char *quote = strchr(message, '\'');
    const char *end = quote ? strchr(quote + 1, '\'') : nullptr;
    if (number == QV_CR_PLUGIN_NOT_ALLOWED && end != nullptr) {
        size_t length = static_cast<size_t>(end - quote + 1);
        qv_option_printable(quote, subject, length < 64 ? length + 1 : 64);
    } else if (number == 1045 && options->given[QV_OPT_PASSWORD] && !password_given) {
        phase |= QV_PHASE_FILE_PASSWORD;
        qv_snprintf(subject, sizeof subject, "%s", options->password_file);
    } else if (number == 1045 && options->refusal[0] != '\0') {
        phase |= QV_PHASE_FILE_REFUSED;
        qv_snprintf(subject, sizeof subject, "%s", options->refusal);
    }
    qv_DBEngine_note_failure(number, phase, QV_POLICY_NONE, subject[0] ? subject : nullptr);
}

unsigned qv_DBEngine_connect(QVDBEngine *engine)
{
    const QVDBSettings *s = &engine->settings;
    const char *password = qv_string_or_null(&s->password);
    QVDBOptions options;
    qv_DBEngine_login_options(&options);
    MYSQL *handle = new_handle(&options);
    engine->connection = nullptr;
    unsigned status = 26;
    if (handle != nullptr &&
        mysql_real_connect(handle, qv_string_or_null(&s->host), qv_string_or_null(&s->user),
                           password, "mysql", s->port, qv_string_or_null(&s->unix_socket),
                           s->client_flags) != nullptr) {
        engine->connection = handle;
        status = 0;
    } else if (handle != nullptr) {
        int number = static_cast<int>(mysql_errno(handle));
        note_login_failure(number, mysql_error(handle), &options, password != nullptr);
        char message[QV_MASKED_SIZE];
        const char *secrets[] = {
            password, options.given[QV_OPT_PASSWORD] ? options.value[QV_OPT_PASSWORD] : nullptr};
        qv_mask_passwords(mysql_error(handle), secrets, 2, message, sizeof message);
        qv_log(QV_LOG_ERROR, "do_connect: errno: %d  msg: %s", number, message);
        mysql_close(handle);
        status = qv_DBEngine_failure_status(number);
    }
    return status;
}
