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

/* Whether a refusal of a statement came from a password reuse policy: MariaDB's
 * password_reuse_check names itself in its message (1819); MySQL's history has an
 * error of its own (3638); MariaDB's ALTER USER says only 1396, which under that policy
 * (reuse_policy) is its refusal. */
static bool reuse_refusal(int number, const char *message, bool reuse_policy)
{
    return number == 3638 || (number == 1396 && reuse_policy) ||
           (number == 1819 && strstr(message, "password_reuse_check") != nullptr);
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
        const char *error = mysql_error(engine->connection);
        int phase = reader != nullptr                      ? QV_PHASE_READ
                    : strncmp(statement, "GRANT ", 6) == 0 ? QV_PHASE_GRANT
                                                           : QV_PHASE_WRITE;
        qv_DBEngine_note_failure(number, phase, reuse_refusal(number, error, reuse_policy));
        const char *secrets[] = {qv_string_or_null(&engine->settings.password), secret};
        char message[QV_MASKED_SIZE];
        char query[QV_MASKED_SIZE];
        qv_mask_passwords(error, secrets, 2, message, sizeof message);
        qv_mask_passwords(statement, secrets, 2, query, sizeof query);
        qv_log(QV_LOG_ERROR, "qv_mysql_s_query: errno: %d msg: %s query: %s", number, message,
               query);
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
