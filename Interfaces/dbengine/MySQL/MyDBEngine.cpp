/*
 * MyDBEngine: connection settings, the engine and its connection, and statements under
 * the engine's lock. The creation of accounts is AccountMaking's.
 *
 * Invariants: an engine's lock exists exactly when the engine is fully created; every
 * statement is sent and its outcome read under that lock; every connection that was
 * opened is closed by qv_DBEngine_finish (the connection itself is Connection's).
 * Passwords are replaced by "***" in every line this module logs, whatever the server's
 * message holds (Masking). Each failure of a client call is noted for the hint that ends
 * a failed account creation (Hints).
 */
#include "Interfaces/dbengine/MySQL/MyDBEngine.h"

#include <mysql.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "Interfaces/dbengine/MySQL/Masking.h"
#include "QVLib/QVmalloc.h"

static const char QV_FILE[] = "Interfaces/dbengine/MySQL/MyDBEngine";

/* ---- settings ---------------------------------------------------------------------- */

unsigned qv_DBEngine_settings_init(QVDBSettings *settings)
{
    unsigned status = qv_string_init_char(&settings->host, "localhost");
    QVstring *empty_texts[] = {&settings->user, &settings->password, &settings->spare,
                               &settings->unix_socket};
    for (size_t i = 0; status == 0 && i < 4; i++)
        status = qv_string_init_len(empty_texts[i]);
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return status;
    }
    settings->client_flags = 0;
    settings->port = 3306;
    return 0;
}

unsigned qv_DBEngine_settings_copy(const QVDBSettings *source, QVDBSettings *destination)
{
    const QVstring *from[] = {&source->host, &source->user, &source->password, &source->spare,
                              &source->unix_socket};
    QVstring *to[] = {&destination->host, &destination->user, &destination->password,
                      &destination->spare, &destination->unix_socket};
    for (size_t i = 0; i < 5; i++) {
        unsigned status = qv_string_init(to[i], from[i]);
        if (status != 0) {
            qv_log_trace(QV_FILE, __LINE__);
            return status;
        }
    }
    destination->client_flags = source->client_flags;
    destination->port = source->port;
    return 0;
}

void qv_DBEngine_settings_free(QVDBSettings *settings)
{
    if (settings == nullptr)
        return;
    qv_string_free(&settings->host);
    qv_string_free(&settings->user);
    qv_string_free(&settings->password);
    qv_string_free(&settings->spare);
    qv_string_free(&settings->unix_socket);
}

/* ---- error numbers --------------------------------------------------------------------- */

unsigned qv_mysql_errno_to_status(int number)
{
    if (number == 0)
        return 0;
    if (number == 1045)
        return 27;
    if (number >= 1000 && number <= 1999)
        return 28;
    if (number >= 2000 && number <= 2999)
        return 29;
    return 30;
}

unsigned qv_DBEngine_failure_status(int number)
{
    return number == 0 ? 30 : qv_mysql_errno_to_status(number);
}

/* ---- the engine -------------------------------------------------------------------- */

unsigned qv_DBEngine_init(QVDBEngine **ppDBEngine, const QVDBSettings *settings)
{
    if (ppDBEngine == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_DBEngine_init: ppDBEngine == NULL");
        return 1;
    }
    QVDBEngine *engine =
        static_cast<QVDBEngine *>(qv_malloc(sizeof(QVDBEngine), QV_FILE, __LINE__, 1));
    *ppDBEngine = engine;
    if (engine == nullptr)
        return 2;

    unsigned status = qv_DBEngine_settings_copy(settings, &engine->settings);
    if (status == 0) {
        engine->connection = nullptr;
        status = qv_DBEngine_connect(engine);
        if (status == 0) {
            status = qv_mutex_create(&engine->query_lock);
            if (status == 0)
                return 0;
        }
    }
    qv_log_trace(QV_FILE, __LINE__);
    qv_DBEngine_finish(ppDBEngine);
    *ppDBEngine = nullptr;
    return status;
}

void qv_DBEngine_finish(QVDBEngine **ppDBEngine)
{
    if (ppDBEngine == nullptr || *ppDBEngine == nullptr)
        return;
    QVDBEngine *engine = *ppDBEngine;
    if (engine->connection != nullptr) {
        /* Without a lock (its creation failed) nobody else can hold the connection:
         * close it all the same rather than leave it open until the process ends. */
        if (engine->query_lock.mutex != nullptr) {
            qv_mutex_lock(&engine->query_lock);
            mysql_close(engine->connection);
            qv_mutex_release(&engine->query_lock);
            qv_mutex_finish(&engine->query_lock);
        } else {
            mysql_close(engine->connection);
        }
        engine->connection = nullptr;
    }
    qv_DBEngine_settings_free(&engine->settings);
    free(engine);
    *ppDBEngine = nullptr;
}

/* Hands every row of the result of the statement just sent to reader. Returns false
 * when the result could not be read (the error is then on the connection). */
static bool read_rows(MYSQL *connection, const QVDBRowReader *reader)
{
    MYSQL_RES *result = mysql_store_result(connection);
    if (result == nullptr)
        return mysql_errno(connection) == 0; /* a statement without a result */
    unsigned count = mysql_num_fields(result);
    const MYSQL_FIELD *fields = mysql_fetch_fields(result);
    const char *names[QV_DB_MAX_COLUMNS];
    bool fits = count <= QV_DB_MAX_COLUMNS;
    for (unsigned i = 0; fits && i < count; i++)
        names[i] = fields[i].name;
    while (MYSQL_ROW row = mysql_fetch_row(result))
        if (fits && reader != nullptr && reader->row != nullptr)
            reader->row(reader->context, count, names, row);
    mysql_free_result(result);
    if (!fits)
        qv_log(QV_LOG_ERROR, "read_rows: %u columns, more than %d", count, QV_DB_MAX_COLUMNS);
    return fits && mysql_errno(connection) == 0;
}

/* What the server's warnings say of a statement it refused: the password policy plugins
 * that refused a password (each begins its warning with its name; the 1819 error names
 * it in parentheses), whether the error behind the failure was 1819 (MariaDB answers an
 * ALTER USER that a plugin refused with 1396, and says 1819 among the warnings), and the
 * warnings' messages. */
struct Warnings {
    int policies;
    bool refused_password;
    std::string messages;
};

/* The name of a plugin that opens message ("name: ...") or closes it ("... (name)"), or
 * "" when neither. */
static std::string plugin_named(const char *message, bool closing)
{
    static const char name_characters[] = "abcdefghijklmnopqrstuvwxyz_";
    size_t n = strlen(message);
    if (closing) {
        if (n < 3 || message[n - 1] != ')')
            return "";
        const char *open = strrchr(message, '(');
        size_t length = open ? static_cast<size_t>(message + n - 1 - (open + 1)) : 0;
        if (length == 0 || strspn(open + 1, name_characters) != length)
            return "";
        return std::string(open + 1, length);
    }
    size_t length = strspn(message, name_characters);
    return length > 0 && message[length] == ':' ? std::string(message, length) : "";
}

static void read_warning(void *context, unsigned count, const char *const names[],
                         const char *const values[])
{
    Warnings *w = static_cast<Warnings *>(context);
    const char *level = qv_row_column(count, names, values, "Level");
    const char *code = qv_row_column(count, names, values, "Code");
    const char *message = qv_row_column(count, names, values, "Message");
    if (level == nullptr || code == nullptr || message == nullptr)
        return;
    bool warning = strcmp(level, "Warning") == 0;
    bool refusal = strcmp(code, "1819") == 0;
    w->refused_password = w->refused_password || refusal;
    std::string plugin = plugin_named(message, !warning);
    if ((warning || refusal) && !plugin.empty())
        w->policies |= qv_DBEngine_policy_of(plugin.c_str());
    if (warning)
        w->messages += (w->messages.empty() ? "" : "; ") + std::string(message);
}

/* After a statement refused with 1396 or 1819: reads the server's warnings with one
 * SHOW WARNINGS on the same connection (its own failure is not noted: the statement's
 * is the one that counts), logs them, and returns what they say. */
static Warnings read_warnings(QVDBEngine *engine, const char *const secrets[])
{
    Warnings w{0, false, std::string()};
    QVDBRowReader reader = {&w, read_warning};
    try {
        if (mysql_query(engine->connection, "SHOW WARNINGS") != 0 ||
            !read_rows(engine->connection, &reader))
            return Warnings{0, false, std::string()};
    } catch (const std::exception &) { /* memory exhausted: the refusal stands alone */
        return Warnings{0, false, std::string()};
    }
    if (!w.messages.empty()) {
        char masked[QV_MASKED_SIZE];
        qv_mask_passwords(w.messages.c_str(), secrets, 2, masked, sizeof masked);
        qv_log(QV_LOG_ERROR, "qv_mysql_s_query: the server's warnings: %s", masked);
    }
    return w;
}

/* The phase of a statement that failed, for its hint. */
static int statement_phase(const char *statement, bool reading)
{
    if (reading)
        return QV_PHASE_READ;
    if (strncmp(statement, "GRANT ", 6) == 0)
        return QV_PHASE_GRANT;
    return strncmp(statement, "CREATE USER ", 12) == 0 ? QV_PHASE_CREATE : QV_PHASE_WRITE;
}

/* Notes a failed statement for its hint: by its phase, and by the password policy
 * plugins that refused it: those the warnings name, else MySQL's history (3638) or
 * MariaDB's password_reuse_check, which names itself in its 1819 and whose refusal of an
 * ALTER USER is 1396 alone on servers that give no warnings (reuse_policy: it is
 * active). Logs and reads the warnings of a 1396 or 1819. */
static void note_statement_failure(QVDBEngine *engine, const char *statement, int number,
                                   bool names_reuse_check, bool reading, bool reuse_policy,
                                   const char *const secrets[])
{
    int phase = statement_phase(statement, reading);
    Warnings w{0, false, std::string()};
    if (!reading && (number == 1396 || number == 1819))
        w = read_warnings(engine, secrets);
    int policies = w.policies;
    if (policies == 0 && (number == 3638 || (number == 1819 && names_reuse_check) ||
                          (number == 1396 && reuse_policy && !w.refused_password)))
        policies = QV_POLICY_REUSE;
    qv_DBEngine_note_failure(w.refused_password ? 1819 : number, phase, policies);
}

unsigned qv_DBEngine_send(QVDBEngine *engine, const char *statement, const char *secret,
                          const QVDBRowReader *reader, bool reuse_policy)
{
    unsigned status = qv_mutex_lock(&engine->query_lock);
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return status;
    }
    if (mysql_query(engine->connection, statement) != 0 ||
        (reader != nullptr && !read_rows(engine->connection, reader))) {
        int number = static_cast<int>(mysql_errno(engine->connection));
        const char *secrets[] = {qv_string_or_null(&engine->settings.password), secret};
        char message[QV_MASKED_SIZE];
        char query[QV_MASKED_SIZE];
        const char *error = mysql_error(engine->connection);
        bool names_reuse_check = strstr(error, "password_reuse_check") != nullptr;
        qv_mask_passwords(error, secrets, 2, message, sizeof message);
        qv_mask_passwords(statement, secrets, 2, query, sizeof query);
        qv_log(QV_LOG_ERROR, "qv_mysql_s_query: errno: %d msg: %s query: %s", number, message,
               query);
        note_statement_failure(engine, statement, number, names_reuse_check, reader != nullptr,
                               reuse_policy, secrets);
        status = qv_DBEngine_failure_status(number);
    }
    qv_mutex_release(&engine->query_lock);
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return status;
    }
    return 0;
}

unsigned qv_mysql_s_query(QVDBEngine *engine, const char *statement)
{
    return qv_DBEngine_send(engine, statement, nullptr);
}

unsigned qv_mysql_s_select(QVDBEngine *engine, const char *statement, const QVDBRowReader *reader)
{
    return qv_DBEngine_send(engine, statement, nullptr, reader);
}
