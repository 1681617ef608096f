/*
 * MyDBEngine: connection settings, the engine, statements under the engine's lock, and
 * the creation of one account at one of five privilege levels.
 *
 * Invariants: an engine's lock exists exactly when the engine is fully created; every
 * statement is sent and its outcome read under that lock; every connection that was
 * opened is closed by qv_DBEngine_finish. Passwords are replaced by "***" in every line
 * this module logs, whatever the server's message holds (Masking). Each failure of a
 * client call is noted for the hint that ends a failed account creation (Hints).
 */
#include "Interfaces/dbengine/MySQL/MyDBEngine.h"

#include <mysql.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "Interfaces/dbengine/MySQL/Masking.h"
#include "QVLib/QVmalloc.h"

static const char QV_FILE[] = "Interfaces/dbengine/MySQL/MyDBEngine";

/* Test seams; 0 selects the default. */
static std::atomic<unsigned> g_connect_timeout{0}, g_read_timeout{0}, g_write_timeout{0};
static std::atomic<int> g_forced_form{QV_FORM_BY_SERVER};

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

/* A failure whose error number reads 0 is still a failure. */
static unsigned failure_status(int number)
{
    return number == 0 ? 30 : qv_mysql_errno_to_status(number);
}

/* ---- the connection's options --------------------------------------------- */

static unsigned timeout_or_default(const std::atomic<unsigned> &seam, unsigned default_seconds)
{
    unsigned seconds = seam.load(std::memory_order_relaxed);
    return seconds != 0 ? seconds : default_seconds;
}

/* Has handle read the option file (when option_file is open) and bound every wait.
 * Returns false when the client library refuses an option (out of memory). */
static bool set_connection_options(MYSQL *handle, const QVUserFile *option_file)
{
    unsigned timeouts[] = {timeout_or_default(g_connect_timeout, QV_DB_CONNECT_TIMEOUT),
                           timeout_or_default(g_read_timeout, QV_DB_READ_TIMEOUT),
                           timeout_or_default(g_write_timeout, QV_DB_WRITE_TIMEOUT)};
    if (mysql_options(handle, MYSQL_OPT_CONNECT_TIMEOUT, &timeouts[0]) != 0 ||
        mysql_options(handle, MYSQL_OPT_READ_TIMEOUT, &timeouts[1]) != 0 ||
        mysql_options(handle, MYSQL_OPT_WRITE_TIMEOUT, &timeouts[2]) != 0)
        return false;
    /* The group is set only with the file: a group alone makes the library read the
     * system-wide files, whose socket would override MYSQL_UNIX_PORT. The library reads
     * the file while connecting, through the path of the descriptor opened here. */
    if (option_file->handle < 0)
        return true;
    return mysql_options(handle, MYSQL_READ_DEFAULT_FILE, option_file->read_path) == 0 &&
           mysql_options(handle, MYSQL_READ_DEFAULT_GROUP, QV_DB_OPTION_GROUP) == 0;
}

void qv_DBEngine_set_timeouts(unsigned connect_seconds, unsigned read_seconds,
                              unsigned write_seconds)
{
    g_connect_timeout = connect_seconds;
    g_read_timeout = read_seconds;
    g_write_timeout = write_seconds;
}

void qv_DBEngine_force_form(int form)
{
    g_forced_form = form;
}

/* ---- the engine -------------------------------------------------------------------- */

/* A new handle with the connection options set, or null after logging why. */
static MYSQL *new_handle(const QVUserFile *option_file)
{
    MYSQL *handle = mysql_init(nullptr);
    if (handle == nullptr) {
        qv_log(QV_LOG_ERROR, "%s", "do_connect: mysql_init() failed (probably out of memory)");
        return nullptr;
    }
    if (!set_connection_options(handle, option_file)) {
        qv_log(QV_LOG_ERROR, "%s", "do_connect: mysql_options() failed (probably out of memory)");
        mysql_close(handle);
        return nullptr;
    }
    return handle;
}

/* Logs in. The option file stays open while the library connects (it reads the file
 * then), and is closed once the login is done. */
static unsigned do_connect(QVDBEngine *engine, const char *host, const char *user,
                           const char *password, unsigned port, const char *unix_socket,
                           unsigned long client_flags)
{
    QVUserFile option_file;
    qv_DBEngine_open_option_file(&option_file); /* open only when it may be read */
    MYSQL *handle = new_handle(&option_file);
    engine->connection = nullptr;
    unsigned status = 26;
    if (handle != nullptr && mysql_real_connect(handle, host, user, password, "mysql", port,
                                                unix_socket, client_flags) != nullptr) {
        engine->connection = handle;
        status = 0;
    } else if (handle != nullptr) {
        int number = static_cast<int>(mysql_errno(handle));
        qv_DBEngine_note_failure(number, QV_PHASE_LOGIN, false);
        char message[QV_MASKED_SIZE];
        const char *secrets[] = {password};
        qv_mask_passwords(mysql_error(handle), secrets, 1, message, sizeof message);
        qv_log(QV_LOG_ERROR, "do_connect: errno: %d  msg: %s", number, message);
        mysql_close(handle);
        status = failure_status(number);
    }
    qv_user_file_close(&option_file);
    return status;
}

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
        const QVDBSettings *s = &engine->settings;
        engine->connection = nullptr;
        status = do_connect(engine, qv_string_or_null(&s->host), qv_string_or_null(&s->user),
                            qv_string_or_null(&s->password), s->port,
                            qv_string_or_null(&s->unix_socket), s->client_flags);
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

/* Sends statement under the engine's lock and, with a reader, reads its rows; a failure
 * is logged with the engine's password and the extra secret (a new account's password,
 * or null) masked, and noted for its hint: a reading statement's, a GRANT's, or another
 * writing statement's, refused under a password reuse policy when reuse_policy. */
static unsigned send_statement(QVDBEngine *engine, const char *statement, const char *secret,
                               const QVDBRowReader *reader = nullptr, bool reuse_policy = false)
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
        status = failure_status(number);
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
    return send_statement(engine, statement, nullptr);
}

unsigned qv_mysql_s_select(QVDBEngine *engine, const char *statement, const QVDBRowReader *reader)
{
    return send_statement(engine, statement, nullptr, reader);
}

/* ---- what the server is ------------------------------------------------------------- */

/* The answer to the detection statement: exactly one readable row. */
struct Detection {
    QVDBServerFacts *facts;
    unsigned rows;
    bool readable;
};

static void read_detection(void *context, unsigned count, const char *const names[],
                           const char *const values[])
{
    Detection *d = static_cast<Detection *>(context);
    d->rows++;
    d->readable = d->rows == 1 && qv_server_facts_read_row(d->facts, count, names, values);
}

/* Reads the server's kind and version from the connection, and the rest with the one
 * detection statement. Returns its status, or 30 when its answer cannot be read. */
static unsigned detect_server(QVDBEngine *engine, QVDBServerFacts *facts)
{
    *facts = QVDBServerFacts{};
    qv_server_facts_from_info(mysql_get_server_info(engine->connection), facts);
    char statement[QV_STATEMENT_SIZE];
    qv_server_facts_statement(facts, statement, sizeof statement); /* short: it fits */
    Detection detection = {facts, 0, false};
    QVDBRowReader reader = {&detection, read_detection};
    unsigned status = send_statement(engine, statement, nullptr, &reader);
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return status;
    }
    if (!detection.readable) {
        facts->detected = false;
        qv_log(QV_LOG_ERROR, "detect_server: not one row of numbers (%u rows) in answer to %s",
               detection.rows, statement);
        return 30;
    }
    return 0;
}

/* The form accounts are made in on the server of facts (or the form a test forced). */
static int account_form(const QVDBServerFacts *facts)
{
    int forced = g_forced_form.load(std::memory_order_relaxed);
    if (forced != QV_FORM_BY_SERVER)
        return forced;
    return qv_server_facts_set_once(facts) ? QV_FORM_CREATE_ALTER : QV_FORM_GRANT_IDENTIFIED;
}

/* ---- accounts ---------------------------------------------------------------------- */

/* Whether every statement that may make account name at level priv fits its buffer, in
 * either form: the form is known only once connected, and a cut statement could create
 * an account with a wrong name or password. */
static bool statements_fit(const char *name, const char *password, int priv)
{
    char statement[QV_STATEMENT_SIZE];
    bool fit = qv_form_read_forms(name, true, statement) >= 0;
    for (int form : {QV_FORM_GRANT_IDENTIFIED, QV_FORM_CREATE_ALTER}) {
        QVFragments f;
        fit = fit && qv_form_fragments(f, form, name, password);
        for (size_t i = 0; fit && i < qv_form_level_count(priv); i++)
            fit = qv_form_level_statement(priv, i, f, statement) >= 0;
        for (bool local : {false, true})
            fit = fit && qv_form_create_user(f, local, password, statement) >= 0 &&
                  qv_form_alter_user(f, local, true, password, statement) >= 0;
    }
    return fit;
}

/* Checks the arguments in order; logs the first that fails and returns false. A name
 * or password with a quote or backslash would break out of its quoted literal, and an
 * empty name would grant to the server's anonymous accounts. Every statement must fit
 * (statements_fit). */
static bool arguments_valid(const char *host, const char *newusername, const char *newuserpassword,
                            int priv)
{
    const char *problem = nullptr;
    if (host == nullptr)
        problem = "qv_DBEngine_add_user_with_host: !host";
    else if (newusername == nullptr)
        problem = "qv_DBEngine_add_user_with_host: !newusername";
    else if (newuserpassword == nullptr)
        problem = "qv_DBEngine_add_user_with_host: !newuserpassword";
    else if (priv < QV_PRIV_ALL_GRANT || priv > QV_PRIV_USAGE)
        problem = "qv_DBEngine_add_user_with_host: invalid priv";
    else if (newusername[0] == '\0')
        problem = "qv_DBEngine_add_user_with_host: empty newusername";
    else if (strpbrk(newusername, "'\\") != nullptr)
        problem = "qv_DBEngine_add_user_with_host: unsafe newusername";
    else if (strpbrk(newuserpassword, "'\\") != nullptr)
        problem = "qv_DBEngine_add_user_with_host: unsafe newuserpassword";
    if (problem == nullptr && !statements_fit(newusername, newuserpassword, priv))
        problem = "qv_DBEngine_add_user_with_host: statement too long";
    if (problem == nullptr)
        return true;
    qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", problem);
    return false;
}

/* Fills the call's own settings; returns the failing text's status. */
static unsigned make_call_settings(QVDBSettings *s, const char *host, const char *user,
                                   const char *password, uint32_t port, const char *unix_socket)
{
    unsigned status = qv_string_init_char(&s->host, host);
    if (status == 0) {
        if (user != nullptr) {
            status = qv_string_init_char(&s->user, user);
            if (status == 0)
                status = password ? qv_string_init_char(&s->password, password)
                                  : qv_string_init_len(&s->password);
        } else {
            /* No administrator named: root with an empty password, whatever was given. */
            status = qv_string_init_char(&s->user, "root");
            if (status == 0)
                status = qv_string_init_len(&s->password);
        }
    }
    if (status == 0)
        status = qv_string_init_len(&s->spare);
    if (status == 0)
        status = unix_socket ? qv_string_init_char(&s->unix_socket, unix_socket)
                             : qv_string_init_len(&s->unix_socket);
    s->client_flags = 0;
    s->port = port;
    return status;
}

static void read_stored_form(void *context, unsigned count, const char *const names[],
                             const char *const values[])
{
    qv_form_read_stored(static_cast<QVStoredForm *>(context), count, names, values);
}

/* The set-once form's account statements: reads what both forms hold, makes each form
 * that is missing with the password, and sets the password only on a form that holds
 * another (or one that cannot be verified, or one on a plugin the server no longer
 * runs). The level's GRANTs that follow carry no password: each password is set at most
 * once per form, and not at all where it holds already. */
static unsigned send_set_once(QVDBEngine *engine, const QVDBServerFacts *facts,
                              const QVFragments fragments, const char *name, const char *password)
{
    char statement[QV_STATEMENT_SIZE];
    QVStoredForm stored[2] = {};
    QVDBRowReader reader = {stored, read_stored_form};
    qv_form_read_forms(name, facts->mariadb, statement);
    unsigned status = send_statement(engine, statement, password, &reader);
    for (int local = 0; local < 2 && status == 0; local++) {
        qv_form_create_user(fragments, local, password, statement);
        status = send_statement(engine, statement, password, nullptr, facts->reuse_check);
    }
    for (int local = 0; local < 2 && status == 0; local++) {
        int set = qv_form_password_step(&stored[local], password, facts->native_password);
        if (set == QV_SET_NOTHING)
            continue;
        qv_form_alter_user(fragments, local, set == QV_SET_CACHING_SHA2, password, statement);
        status = send_statement(engine, statement, password, nullptr, facts->reuse_check);
    }
    if (status != 0)
        qv_log_trace(QV_FILE, __LINE__);
    return status;
}

/* The INFO line that names the account, the server and the form used. */
static void log_form(QVDBEngine *engine, const QVDBServerFacts *facts, const char *name, int form)
{
    const char *server = mysql_get_server_info(engine->connection);
    const char *how = "accounts made with GRANT ... IDENTIFIED BY";
    if (form == QV_FORM_CREATE_ALTER)
        how = facts->reuse_check
                  ? "password_reuse_check active, accounts made with CREATE USER IF NOT EXISTS, "
                    "each password set at most once and only where it differs, then GRANT"
                  : "MySQL 8.0 or later, accounts made with CREATE USER IF NOT EXISTS, each "
                    "password set at most once and only where it differs, then GRANT";
    qv_log(QV_LOG_INFO, "qv_DBEngine_add_user_with_host: %s on server %s: %s", name,
           server ? server : "(unknown)", how);
}

/* Makes the account on a connected engine: detects what the server is unless facts
 * holds it already, refuses a read-only server before any statement that writes, and
 * sends the level's sequence in the server's form: in the set-once form after its
 * account statements, with GRANTs that carry no password. Returns 0, 31 for a read-only
 * server, or the status of the statement that failed. */
static unsigned make_account(QVDBEngine *engine, QVDBServerFacts *facts, const char *name,
                             const char *password, int priv)
{
    unsigned status = facts->detected ? 0 : detect_server(engine, facts);
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return status;
    }
    if (facts->read_only) {
        qv_log(QV_LOG_ERROR,
               "qv_DBEngine_add_user_with_host: the server is read-only (read_only is on); "
               "%s was not made, nothing was written",
               name);
        qv_DBEngine_note_failure(0, QV_PHASE_READ_ONLY, false);
        return QV_DB_READ_ONLY;
    }
    int form = account_form(facts);
    log_form(engine, facts, name, form);
    QVFragments fragments;
    qv_form_fragments(fragments, form, name, password); /* they fit: checked */
    if (form == QV_FORM_CREATE_ALTER)
        status = send_set_once(engine, facts, fragments, name, password);
    char statement[QV_STATEMENT_SIZE];
    for (size_t i = 0; status == 0 && i < qv_form_level_count(priv); i++) {
        qv_form_level_statement(priv, i, fragments, statement);
        status = send_statement(engine, statement, password);
    }
    if (status != 0)
        qv_log_trace(QV_FILE, __LINE__);
    return status;
}

unsigned qv_DBEngine_add_user_with_facts(const char *host, const char *user, const char *password,
                                         uint32_t port, const char *unix_socket,
                                         const char *newusername, const char *newuserpassword,
                                         int priv, QVDBServerFacts *facts)
{
    qv_DBEngine_clear_failure();
    if (!arguments_valid(host, newusername, newuserpassword, priv))
        return 1;

    QVDBServerFacts own{};   /* a call without a record detects for itself */
    QVDBSettings settings{}; /* all texts absent */
    QVDBEngine *engine = nullptr;
    unsigned status = make_call_settings(&settings, host, user, password, port, unix_socket);
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
    } else {
        status = qv_DBEngine_init(&engine, &settings);
        if (status != 0)
            qv_log(QV_LOG_ERROR, "Cannot connect to %s", host);
        else
            status = make_account(engine, facts ? facts : &own, newusername, newuserpassword, priv);
    }
    qv_DBEngine_finish(&engine);
    qv_DBEngine_settings_free(&settings);

    /* The remedy comes last, after every line of the failure it answers. */
    if (status != 0)
        qv_DBEngine_log_hint(newusername);
    return status;
}

unsigned qv_DBEngine_add_user_with_host(const char *host, const char *user, const char *password,
                                        uint32_t port, const char *unix_socket,
                                        const char *newusername, const char *newuserpassword,
                                        int priv)
{
    return qv_DBEngine_add_user_with_facts(host, user, password, port, unix_socket, newusername,
                                           newuserpassword, priv, nullptr);
}
