/*
 * MyDBEngine: connection settings, the engine, statements under the engine's lock, and
 * the creation of one account at one of five privilege levels.
 *
 * Invariants: an engine's lock exists exactly when the engine is fully created; every
 * statement is sent and its outcome read under that lock; every connection that was
 * opened is closed by qv_DBEngine_finish. Passwords are replaced by "***" in every line
 * this module logs, whatever the server's message holds.
 */
#include "Interfaces/dbengine/MySQL/MyDBEngine.h"

#include <mysql.h>

#include <cstdlib>
#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/QVmalloc.h"

static const char QV_FILE[] = "Interfaces/dbengine/MySQL/MyDBEngine";

/* Statements and their fragments are formed in buffers of this size. */
#define QV_STATEMENT_SIZE 1024
/* Room for a logged statement or message once passwords are masked ("***" may be
 * longer than what it hides). */
#define QV_MASKED_SIZE 4096

/* ---- passwords out of log lines ---------------------------------------------------- */

void qv_mask_passwords(const char *text, const char *const secrets[], size_t secret_count,
                           char *out, size_t capacity)
{
    static const char marker[] = "IDENTIFIED BY '";
    const size_t marker_length = sizeof marker - 1;
    size_t used = 0;
    auto put = [&](const char *s, size_t n) {
        size_t room = capacity - 1 - used;
        size_t k = n < room ? n : room;
        memcpy(out + used, s, k);
        used += k;
    };

    const char *p = text;
    while (*p != '\0') {
        if (strncmp(p, marker, marker_length) == 0) {
            put(marker, marker_length);
            p += marker_length;
            while (*p != '\0' && *p != '\'')
                p++;
            put("***", 3);
            continue;
        }
        size_t longest = 0;
        for (size_t i = 0; i < secret_count; i++) {
            const char *secret = secrets[i];
            size_t n = secret ? strlen(secret) : 0;
            if (n > longest && strncmp(p, secret, n) == 0)
                longest = n;
        }
        if (longest > 0) {
            put("***", 3);
            p += longest;
        } else {
            put(p, 1);
            p++;
        }
    }
    out[used] = '\0';
}

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

/* ---- the engine -------------------------------------------------------------------- */

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

static unsigned do_connect(QVDBEngine *engine, const char *host, const char *user,
                           const char *password, unsigned port, const char *unix_socket,
                           unsigned long client_flags)
{
    MYSQL *handle = mysql_init(nullptr);
    if (handle == nullptr) {
        qv_log(QV_LOG_ERROR, "%s", "do_connect: mysql_init() failed (probably out of memory)");
        return 26;
    }
    engine->connection = nullptr;
    if (mysql_real_connect(handle, host, user, password, "mysql", port, unix_socket,
                           client_flags) != nullptr) {
        engine->connection = handle;
        return 0;
    }
    int number = static_cast<int>(mysql_errno(handle));
    char message[QV_MASKED_SIZE];
    const char *secrets[] = {password};
    qv_mask_passwords(mysql_error(handle), secrets, 1, message, sizeof message);
    qv_log(QV_LOG_ERROR, "do_connect: errno: %d  msg: %s", number, message);
    mysql_close(handle);
    return failure_status(number);
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

/* Sends statement under the engine's lock; a failure is logged with the engine's
 * password and the extra secret (a new account's password, or null) masked. */
static unsigned send_statement(QVDBEngine *engine, const char *statement, const char *secret)
{
    unsigned status = qv_mutex_lock(&engine->query_lock);
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return status;
    }
    if (mysql_query(engine->connection, statement) != 0) {
        int number = static_cast<int>(mysql_errno(engine->connection));
        const char *secrets[] = {qv_string_or_null(&engine->settings.password), secret};
        char message[QV_MASKED_SIZE];
        char query[QV_MASKED_SIZE];
        qv_mask_passwords(mysql_error(engine->connection), secrets, 2, message, sizeof message);
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

/* ---- accounts ---------------------------------------------------------------------- */

enum Fragment {
    USAGE_PRIVS,
    DATA_PRIVS,
    ADMIN_PRIVS,
    TO_ANY,
    TO_LOCAL,
    FROM_ANY,
    FROM_LOCAL,
    FRAGMENT_COUNT,
    NO_PRIVS = -1
};

/* One statement of a level's sequence. It is sent twice in a row: for the name alone,
 * then for the name at localhost. Its format takes the privilege fragment (unless
 * privs is NO_PRIVS) and then the account fragment, TO (with the password) for a
 * GRANT, FROM for a REVOKE. */
struct PairedStatement {
    const char *format;
    int privs;
    bool grant;
};

static const PairedStatement level_all_grant[] = {
    {"GRANT ALL ON *.* %s WITH GRANT OPTION", NO_PRIVS, true},
};
static const PairedStatement level_all[] = {
    {"GRANT ALL ON *.* %s", NO_PRIVS, true},
    {"REVOKE GRANT OPTION ON *.* %s", NO_PRIVS, false},
};
static const PairedStatement level_data[] = {
    {"GRANT %s ON *.* %s", DATA_PRIVS, true},
    {"REVOKE GRANT OPTION ON *.* %s", NO_PRIVS, false},
    {"REVOKE %s ON *.* %s", ADMIN_PRIVS, false},
};
static const PairedStatement level_data_reload[] = {
    {"GRANT %s ON *.* %s", DATA_PRIVS, true},
    {"REVOKE GRANT OPTION ON *.* %s", NO_PRIVS, false},
    {"REVOKE %s ON *.* %s", ADMIN_PRIVS, false},
    {"GRANT RELOAD ON *.* %s", NO_PRIVS, true},
};
static const PairedStatement level_usage[] = {
    {"GRANT %s ON *.* %s", USAGE_PRIVS, true},
    {"REVOKE GRANT OPTION ON *.* %s", NO_PRIVS, false},
    {"REVOKE %s ON *.* %s", ADMIN_PRIVS, false},
    {"REVOKE %s ON *.* %s", DATA_PRIVS, false},
};

struct LevelSequence {
    const PairedStatement *steps;
    size_t count;
};

#define QV_SEQUENCE(steps)                                                                         \
    {                                                                                              \
        steps, sizeof steps / sizeof steps[0]                                                      \
    }
static const LevelSequence g_levels[] = {
    QV_SEQUENCE(level_all_grant),   QV_SEQUENCE(level_all),   QV_SEQUENCE(level_data),
    QV_SEQUENCE(level_data_reload), QV_SEQUENCE(level_usage),
};

typedef char Fragments[FRAGMENT_COUNT][QV_STATEMENT_SIZE];

/* Forms the fragments; returns false when one does not fit its buffer. */
static bool build_fragments(Fragments f, const char *name, const char *password)
{
    int results[] = {
        qv_snprintf(f[USAGE_PRIVS], QV_STATEMENT_SIZE, "USAGE"),
        qv_snprintf(f[DATA_PRIVS], QV_STATEMENT_SIZE,
                    "ALTER,CREATE,DELETE,DROP,INDEX,INSERT,REFERENCES,SELECT,UPDATE"),
        qv_snprintf(f[ADMIN_PRIVS], QV_STATEMENT_SIZE, "FILE,PROCESS,RELOAD,SHUTDOWN"),
        qv_snprintf(f[TO_ANY], QV_STATEMENT_SIZE, "TO '%s' IDENTIFIED BY '%s'", name, password),
        qv_snprintf(f[TO_LOCAL], QV_STATEMENT_SIZE, "TO '%s'@'localhost' IDENTIFIED BY '%s'", name,
                    password),
        qv_snprintf(f[FROM_ANY], QV_STATEMENT_SIZE, "FROM '%s'", name),
        qv_snprintf(f[FROM_LOCAL], QV_STATEMENT_SIZE, "FROM '%s'@'localhost'", name),
    };
    for (int result : results)
        if (result < 0)
            return false;
    return true;
}

/* Forms statement number index (from 0) of level priv into statement; returns the
 * qv_snprintf result (negative when it did not fit). */
static int format_statement(int priv, size_t index, const Fragments f, char *statement)
{
    const PairedStatement *step = &g_levels[priv].steps[index / 2];
    bool local = index % 2 == 1;
    const char *account =
        step->grant ? f[local ? TO_LOCAL : TO_ANY] : f[local ? FROM_LOCAL : FROM_ANY];
    if (step->privs == NO_PRIVS)
        return qv_snprintf(statement, QV_STATEMENT_SIZE, step->format, account);
    return qv_snprintf(statement, QV_STATEMENT_SIZE, step->format, f[step->privs], account);
}

/* Checks the arguments in order; logs the first that fails and returns false. A name
 * or password with a quote or backslash would break out of its quoted literal, and an
 * empty name would grant to the server's anonymous accounts. */
static bool arguments_valid(const char *host, const char *newusername, const char *newuserpassword,
                            int priv, Fragments fragments)
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
    else if (!build_fragments(fragments, newusername, newuserpassword))
        problem = "qv_DBEngine_add_user_with_host: statement too long";
    else {
        /* A cut statement could create an account with a wrong name or password. */
        char statement[QV_STATEMENT_SIZE];
        for (size_t i = 0; i < 2 * g_levels[priv].count && problem == nullptr; i++)
            if (format_statement(priv, i, fragments, statement) < 0)
                problem = "qv_DBEngine_add_user_with_host: statement too long";
    }
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

unsigned qv_DBEngine_add_user_with_host(const char *host, const char *user, const char *password,
                                        uint32_t port, const char *unix_socket,
                                        const char *newusername, const char *newuserpassword,
                                        int priv)
{
    Fragments fragments;
    if (!arguments_valid(host, newusername, newuserpassword, priv, fragments))
        return 1;

    QVDBSettings settings{}; /* all texts absent */
    QVDBEngine *engine = nullptr;
    unsigned status = make_call_settings(&settings, host, user, password, port, unix_socket);
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
    } else {
        status = qv_DBEngine_init(&engine, &settings);
        if (status != 0)
            qv_log(QV_LOG_ERROR, "Cannot connect to %s", host);
    }

    char statement[QV_STATEMENT_SIZE];
    for (size_t i = 0; status == 0 && i < 2 * g_levels[priv].count; i++) {
        format_statement(priv, i, fragments, statement);
        status = send_statement(engine, statement, newuserpassword);
        if (status != 0)
            qv_log_trace(QV_FILE, __LINE__);
    }

    qv_DBEngine_finish(&engine);
    qv_DBEngine_settings_free(&settings);
    return status;
}
