/*
 * MyDBEngine: connection settings, the engine, statements under the engine's lock, and
 * the creation of one account at one of five privilege levels.
 *
 * Invariants: an engine's lock exists exactly when the engine is fully created; every
 * statement is sent and its outcome read under that lock; every connection that was
 * opened is closed by qv_DBEngine_finish. Passwords are replaced by "***" in every line
 * this module logs, whatever the server's message holds. The last failure of a client
 * call is kept per thread, in plain storage (no destructor), for the hint that ends a
 * failed account creation.
 */
#include "Interfaces/dbengine/MySQL/MyDBEngine.h"

#include <mysql.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
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
/* Room for a hint and for the option file's path. */
#define QV_HINT_SIZE 512
#define QV_PATH_SIZE 4096

/* The last failure of a client call on this thread: its error number (0 none) and
 * whether the failing statement was a GRANT. */
struct LastFailure {
    int number;
    bool grant;
};
static thread_local LastFailure t_failure;
static thread_local char t_hint[QV_HINT_SIZE];

/* Test seams; 0 selects the default. */
static std::atomic<unsigned> g_connect_timeout{0}, g_read_timeout{0}, g_write_timeout{0};
static std::atomic<int> g_forced_form{QV_FORM_BY_SERVER};

/* ---- passwords out of log lines ---------------------------------------------------- */

/* Marks in hidden (one byte per byte of text, zeroed) what must not be shown: with 1
 * every byte of a literal after "IDENTIFIED BY '" (up to its closing quote) and every
 * byte of every occurrence of a non-empty secret, overlaps included; with 2 the quote
 * that ends a marker, after which "***" stands even for an empty literal. */
static void mark_hidden(const char *text, size_t n, const char *const secrets[],
                        size_t secret_count, unsigned char *hidden)
{
    static const char marker[] = "IDENTIFIED BY '";
    const size_t marker_length = sizeof marker - 1;
    for (size_t i = 0; i < n; i++) {
        if (n - i >= marker_length && memcmp(text + i, marker, marker_length) == 0) {
            hidden[i + marker_length - 1] |= 2;
            for (size_t j = i + marker_length; j < n && text[j] != '\''; j++)
                hidden[j] |= 1;
        }
        for (size_t k = 0; k < secret_count; k++) {
            size_t m = secrets[k] ? strlen(secrets[k]) : 0;
            if (m > 0 && m <= n - i && memcmp(text + i, secrets[k], m) == 0)
                for (size_t j = i; j < i + m; j++)
                    hidden[j] |= 1;
        }
    }
}

void qv_mask_passwords(const char *text, const char *const secrets[], size_t secret_count,
                       char *out, size_t capacity)
{
    size_t used = 0;
    auto put = [&](const char *s, size_t n) {
        size_t room = capacity - 1 - used;
        size_t k = n < room ? n : room;
        memcpy(out + used, s, k);
        used += k;
    };
    /* Masking happens where a failure is being logged: no allocation for the texts the
     * engine meets (statements and server messages are far shorter). */
    size_t n = strlen(text);
    unsigned char local[QV_MASKED_SIZE] = {};
    unsigned char *hidden = n <= sizeof local
                                ? local
                                : static_cast<unsigned char *>(qv_malloc(n, QV_FILE, __LINE__, 1));
    if (hidden == nullptr) {
        put("***", 3); /* nothing can be shown safely */
        out[used] = '\0';
        return;
    }
    mark_hidden(text, n, secrets, secret_count, hidden);
    for (size_t i = 0; i < n;) {
        if ((hidden[i] & 1) != 0) {
            put("***", 3); /* one for each hidden run */
            while (i < n && (hidden[i] & 1) != 0)
                i++;
            continue;
        }
        put(text + i, 1);
        bool marker_end = (hidden[i] & 2) != 0;
        i++;
        if (marker_end && (i >= n || (hidden[i] & 1) == 0))
            put("***", 3);
    }
    out[used] = '\0';
    if (hidden != local)
        free(hidden);
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

/* ---- the option file and the time-outs --------------------------------------------- */

bool qv_DBEngine_option_file(char *path, size_t capacity)
{
    const char *home = getenv("HOME");
    struct passwd entry, *found = nullptr;
    char buffer[QV_PATH_SIZE];
    if (home == nullptr || home[0] == '\0') {
        /* No HOME (a service manager's environment): the account's own home. */
        if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr)
            return false;
        home = found->pw_dir;
    }
    return home != nullptr && home[0] != '\0' &&
           qv_snprintf(path, capacity, "%s/%s", home, QV_DB_OPTION_FILE) >= 0;
}

void qv_DBEngine_report_option_file(void)
{
    char path[QV_PATH_SIZE];
    struct stat st;
    if (!qv_DBEngine_option_file(path, sizeof path) || stat(path, &st) != 0)
        return;
    qv_log(QV_LOG_INFO, "qv_DBEngine_report_option_file: client options are read from %s", path);
    if ((st.st_mode & 077) != 0)
        qv_log(QV_LOG_WARNING,
               "qv_DBEngine_report_option_file: %s can be read by other users (mode %03o); it "
               "holds root's password: chmod 600 it",
               path, static_cast<unsigned>(st.st_mode & 0777));
}

static unsigned timeout_or_default(const std::atomic<unsigned> &seam, unsigned default_seconds)
{
    unsigned seconds = seam.load(std::memory_order_relaxed);
    return seconds != 0 ? seconds : default_seconds;
}

/* Has handle read the option file and bound every wait. Returns false when the client
 * library refuses an option (out of memory). */
static bool set_connection_options(MYSQL *handle)
{
    unsigned timeouts[] = {timeout_or_default(g_connect_timeout, QV_DB_CONNECT_TIMEOUT),
                           timeout_or_default(g_read_timeout, QV_DB_READ_TIMEOUT),
                           timeout_or_default(g_write_timeout, QV_DB_WRITE_TIMEOUT)};
    if (mysql_options(handle, MYSQL_OPT_CONNECT_TIMEOUT, &timeouts[0]) != 0 ||
        mysql_options(handle, MYSQL_OPT_READ_TIMEOUT, &timeouts[1]) != 0 ||
        mysql_options(handle, MYSQL_OPT_WRITE_TIMEOUT, &timeouts[2]) != 0)
        return false;
    /* The group is set only with the file: a group alone makes the library read the
     * system-wide files, whose socket would override MYSQL_UNIX_PORT. */
    char path[QV_PATH_SIZE];
    if (!qv_DBEngine_option_file(path, sizeof path))
        return true;
    return mysql_options(handle, MYSQL_READ_DEFAULT_FILE, path) == 0 &&
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

/* A new handle with the connection options set, or null after logging why (as the
 * caller named by who). */
static MYSQL *new_handle(const char *who)
{
    MYSQL *handle = mysql_init(nullptr);
    if (handle == nullptr) {
        qv_log(QV_LOG_ERROR, "%s: mysql_init() failed (probably out of memory)", who);
        return nullptr;
    }
    if (!set_connection_options(handle)) {
        qv_log(QV_LOG_ERROR, "%s: mysql_options() failed (probably out of memory)", who);
        mysql_close(handle);
        return nullptr;
    }
    return handle;
}

static unsigned do_connect(QVDBEngine *engine, const char *host, const char *user,
                           const char *password, unsigned port, const char *unix_socket,
                           unsigned long client_flags)
{
    MYSQL *handle = new_handle("do_connect");
    if (handle == nullptr)
        return 26;
    engine->connection = nullptr;
    if (mysql_real_connect(handle, host, user, password, "mysql", port, unix_socket,
                           client_flags) != nullptr) {
        engine->connection = handle;
        return 0;
    }
    int number = static_cast<int>(mysql_errno(handle));
    t_failure = {number, false};
    char message[QV_MASKED_SIZE];
    const char *secrets[] = {password};
    qv_mask_passwords(mysql_error(handle), secrets, 1, message, sizeof message);
    qv_log(QV_LOG_ERROR, "do_connect: errno: %d  msg: %s", number, message);
    mysql_close(handle);
    return failure_status(number);
}

int qv_DBEngine_try_login(const char *host, const char *user, const char *password, uint32_t port,
                          const char *unix_socket)
{
    MYSQL *handle = new_handle("qv_DBEngine_try_login");
    if (handle == nullptr)
        return -1;
    int number = 0;
    if (mysql_real_connect(handle, host, user, password, nullptr, port, unix_socket, 0) ==
        nullptr) {
        number = static_cast<int>(mysql_errno(handle));
        if (number == 0)
            number = -1;
    }
    mysql_close(handle);
    return number;
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

/* Sends statement under the engine's lock and, with a reader, reads its rows; a failure
 * is logged with the engine's password and the extra secret (a new account's password,
 * or null) masked. */
static unsigned send_statement(QVDBEngine *engine, const char *statement, const char *secret,
                               const QVDBRowReader *reader = nullptr)
{
    unsigned status = qv_mutex_lock(&engine->query_lock);
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return status;
    }
    if (mysql_query(engine->connection, statement) != 0 ||
        (reader != nullptr && !read_rows(engine->connection, reader))) {
        int number = static_cast<int>(mysql_errno(engine->connection));
        t_failure = {number, strncmp(statement, "GRANT ", 6) == 0};
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

unsigned qv_mysql_s_select(QVDBEngine *engine, const char *statement, const QVDBRowReader *reader)
{
    return send_statement(engine, statement, nullptr, reader);
}

/* ---- the server's form ------------------------------------------------------------ */

int qv_DBEngine_account_form(QVDBEngine *engine)
{
    int forced = g_forced_form.load(std::memory_order_relaxed);
    if (forced != QV_FORM_BY_SERVER)
        return forced;
    const char *info = mysql_get_server_info(engine->connection);
    bool mariadb = info != nullptr && strstr(info, "MariaDB") != nullptr;
    return !mariadb && mysql_get_server_version(engine->connection) >= 80000
               ? QV_FORM_CREATE_ALTER
               : QV_FORM_GRANT_IDENTIFIED;
}

/* ---- hints ------------------------------------------------------------------------- */

const char *qv_DBEngine_hint(int number, bool grant, const char *account, char *out,
                             size_t capacity)
{
    const char *remedy = nullptr;
    switch (number) {
    case 2002:
    case 2003:
        remedy = "no database server answers on this machine; start it, or name its socket in "
                 "MYSQL_UNIX_PORT or in ~/.my.cnf";
        break;
    case 1045:
        remedy = "the server refused root's password; put it in the [client] group of ~/.my.cnf "
                 "(mode 600) and run again";
        break;
    case 1698:
        remedy = "the server admits root only for the system's root user; run the tool as root, "
                 "for example with sudo";
        break;
    case 1819:
        qv_snprintf(out, capacity,
                    "the server's password policy refused the built-in password of %s; relax the "
                    "policy while the suite is installed (accounts made before stay), then run "
                    "again",
                    account ? account : "an account");
        return out;
    case 1290:
        remedy = "the server runs with --skip-grant-tables or read-only and cannot create "
                 "accounts; restart it normally";
        break;
    case 1044:
    case 1142:
    case 1227:
    case 1410:
        remedy = "root lacks the privileges to grant these; it needs ALL PRIVILEGES WITH GRANT "
                 "OPTION";
        break;
    case 2006:
    case 2013:
        remedy = "the server stopped answering (a lock held by another session, such as a "
                 "backup's FLUSH TABLES WITH READ LOCK, or a restart); run again when it answers";
        break;
    case 1064:
        if (grant)
            remedy = "the server does not accept this statement form; see the supported servers "
                     "in VADedeVeZovid(8)";
        break;
    }
    if (remedy == nullptr)
        return nullptr;
    qv_snprintf(out, capacity, "%s", remedy);
    return out;
}

const char *qv_DBEngine_last_hint(void)
{
    return t_hint;
}

void qv_DBEngine_clear_failure(void)
{
    t_failure = {0, false};
    t_hint[0] = '\0';
}

void qv_DBEngine_log_hint(const char *account)
{
    char hint[QV_HINT_SIZE];
    t_hint[0] = '\0';
    if (t_failure.number == 0 ||
        qv_DBEngine_hint(t_failure.number, t_failure.grant, account, hint, sizeof hint) == nullptr)
        return;
    qv_log(QV_LOG_ERROR, "hint: %s", hint);
    memcpy(t_hint, hint, sizeof hint);
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
    IDENTIFIED_ANY, /* the account with its password, for CREATE USER and ALTER USER */
    IDENTIFIED_LOCAL,
    FRAGMENT_COUNT,
    NO_PRIVS = -1
};

/* Which pair of account fragments a statement names. */
enum AccountPart { ACCOUNT_TO, ACCOUNT_FROM, ACCOUNT_IDENTIFIED };

/* One statement of a level's sequence. It is sent twice in a row: for the name alone,
 * then for the name at localhost. Its format takes the privilege fragment (unless
 * privs is NO_PRIVS) and then the account fragment. */
struct PairedStatement {
    const char *format;
    int privs;
    AccountPart account;
};

static const PairedStatement level_all_grant[] = {
    {"GRANT ALL ON *.* %s WITH GRANT OPTION", NO_PRIVS, ACCOUNT_TO},
};
static const PairedStatement level_all[] = {
    {"GRANT ALL ON *.* %s", NO_PRIVS, ACCOUNT_TO},
    {"REVOKE GRANT OPTION ON *.* %s", NO_PRIVS, ACCOUNT_FROM},
};
static const PairedStatement level_data[] = {
    {"GRANT %s ON *.* %s", DATA_PRIVS, ACCOUNT_TO},
    {"REVOKE GRANT OPTION ON *.* %s", NO_PRIVS, ACCOUNT_FROM},
    {"REVOKE %s ON *.* %s", ADMIN_PRIVS, ACCOUNT_FROM},
};
static const PairedStatement level_data_reload[] = {
    {"GRANT %s ON *.* %s", DATA_PRIVS, ACCOUNT_TO},
    {"REVOKE GRANT OPTION ON *.* %s", NO_PRIVS, ACCOUNT_FROM},
    {"REVOKE %s ON *.* %s", ADMIN_PRIVS, ACCOUNT_FROM},
    {"GRANT RELOAD ON *.* %s", NO_PRIVS, ACCOUNT_TO},
};
static const PairedStatement level_usage[] = {
    {"GRANT %s ON *.* %s", USAGE_PRIVS, ACCOUNT_TO},
    {"REVOKE GRANT OPTION ON *.* %s", NO_PRIVS, ACCOUNT_FROM},
    {"REVOKE %s ON *.* %s", ADMIN_PRIVS, ACCOUNT_FROM},
    {"REVOKE %s ON *.* %s", DATA_PRIVS, ACCOUNT_FROM},
};
/* On MySQL 8.0 and later, GRANT neither creates an account nor sets a password: every
 * level's sequence is preceded by these, so that an existing account's password is
 * reset as on the other servers. */
static const PairedStatement create_alter_prologue[] = {
    {"CREATE USER IF NOT EXISTS %s", NO_PRIVS, ACCOUNT_IDENTIFIED},
    {"ALTER USER %s", NO_PRIVS, ACCOUNT_IDENTIFIED},
};

struct StatementList {
    const PairedStatement *steps;
    size_t count;
};

#define QV_LIST(steps)                                                                             \
    {                                                                                              \
        steps, sizeof steps / sizeof steps[0]                                                      \
    }
static const StatementList g_levels[] = {
    QV_LIST(level_all_grant),   QV_LIST(level_all),   QV_LIST(level_data),
    QV_LIST(level_data_reload), QV_LIST(level_usage),
};
static const StatementList g_prologue = QV_LIST(create_alter_prologue);

/* A level's sequence in one form: the prologue's statements (none in the GRANT form),
 * then the level's, each list sent pair by pair. */
struct Sequence {
    StatementList prologue;
    StatementList level;
};

static Sequence sequence_of(int priv, int form)
{
    StatementList none = {nullptr, 0};
    return {form == QV_FORM_CREATE_ALTER ? g_prologue : none, g_levels[priv]};
}

static size_t statement_count(const Sequence &sequence)
{
    return 2 * (sequence.prologue.count + sequence.level.count);
}

typedef char Fragments[FRAGMENT_COUNT][QV_STATEMENT_SIZE];

/* Forms the fragments of form; returns false when one does not fit its buffer. In the
 * CREATE USER form the GRANTs name the account without its password. */
static bool build_fragments(Fragments f, int form, const char *name, const char *password)
{
    bool identified_grants = form != QV_FORM_CREATE_ALTER;
    int results[] = {
        qv_snprintf(f[USAGE_PRIVS], QV_STATEMENT_SIZE, "USAGE"),
        qv_snprintf(f[DATA_PRIVS], QV_STATEMENT_SIZE,
                    "ALTER,CREATE,DELETE,DROP,INDEX,INSERT,REFERENCES,SELECT,UPDATE"),
        qv_snprintf(f[ADMIN_PRIVS], QV_STATEMENT_SIZE, "FILE,PROCESS,RELOAD,SHUTDOWN"),
        identified_grants ? qv_snprintf(f[TO_ANY], QV_STATEMENT_SIZE, "TO '%s' IDENTIFIED BY '%s'",
                                        name, password)
                          : qv_snprintf(f[TO_ANY], QV_STATEMENT_SIZE, "TO '%s'", name),
        identified_grants
            ? qv_snprintf(f[TO_LOCAL], QV_STATEMENT_SIZE, "TO '%s'@'localhost' IDENTIFIED BY '%s'",
                          name, password)
            : qv_snprintf(f[TO_LOCAL], QV_STATEMENT_SIZE, "TO '%s'@'localhost'", name),
        qv_snprintf(f[FROM_ANY], QV_STATEMENT_SIZE, "FROM '%s'", name),
        qv_snprintf(f[FROM_LOCAL], QV_STATEMENT_SIZE, "FROM '%s'@'localhost'", name),
        qv_snprintf(f[IDENTIFIED_ANY], QV_STATEMENT_SIZE, "'%s' IDENTIFIED BY '%s'", name,
                    password),
        qv_snprintf(f[IDENTIFIED_LOCAL], QV_STATEMENT_SIZE, "'%s'@'localhost' IDENTIFIED BY '%s'",
                    name, password),
    };
    for (int result : results)
        if (result < 0)
            return false;
    return true;
}

/* Forms statement number index (from 0) of sequence into statement; returns the
 * qv_snprintf result (negative when it did not fit). */
static int format_statement(const Sequence &sequence, size_t index, const Fragments f,
                            char *statement)
{
    size_t pair = index / 2;
    const PairedStatement *step = pair < sequence.prologue.count
                                      ? &sequence.prologue.steps[pair]
                                      : &sequence.level.steps[pair - sequence.prologue.count];
    bool local = index % 2 == 1;
    static const Fragment parts[][2] = {
        {TO_ANY, TO_LOCAL}, {FROM_ANY, FROM_LOCAL}, {IDENTIFIED_ANY, IDENTIFIED_LOCAL}};
    const char *account = f[parts[step->account][local ? 1 : 0]];
    if (step->privs == NO_PRIVS)
        return qv_snprintf(statement, QV_STATEMENT_SIZE, step->format, account);
    return qv_snprintf(statement, QV_STATEMENT_SIZE, step->format, f[step->privs], account);
}

/* Checks the arguments in order; logs the first that fails and returns false. A name
 * or password with a quote or backslash would break out of its quoted literal, and an
 * empty name would grant to the server's anonymous accounts. Every statement of both
 * forms must fit: the form is known only once connected, and a cut statement could
 * create an account with a wrong name or password. */
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
    const int forms[] = {QV_FORM_GRANT_IDENTIFIED, QV_FORM_CREATE_ALTER};
    for (size_t k = 0; k < 2 && problem == nullptr; k++) {
        Fragments fragments;
        char statement[QV_STATEMENT_SIZE];
        Sequence sequence = sequence_of(priv, forms[k]);
        if (!build_fragments(fragments, forms[k], newusername, newuserpassword))
            problem = "qv_DBEngine_add_user_with_host: statement too long";
        for (size_t i = 0; i < statement_count(sequence) && problem == nullptr; i++)
            if (format_statement(sequence, i, fragments, statement) < 0)
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

/* Sends the sequence of level priv in the form the engine's server takes, after one
 * INFO line that names the account, the server and the form. Returns the status of the
 * first statement that fails, or 0. */
static unsigned send_sequence(QVDBEngine *engine, const char *newusername,
                              const char *newuserpassword, int priv)
{
    int form = qv_DBEngine_account_form(engine);
    const char *server = mysql_get_server_info(engine->connection);
    qv_log(QV_LOG_INFO, "qv_DBEngine_add_user_with_host: %s on server %s: %s", newusername,
           server ? server : "(unknown)",
           form == QV_FORM_CREATE_ALTER
               ? "MySQL 8.0 or later, accounts made with CREATE USER and ALTER USER, then GRANT"
               : "accounts made with GRANT ... IDENTIFIED BY");

    Fragments fragments;
    build_fragments(fragments, form, newusername, newuserpassword); /* they fit: checked */
    Sequence sequence = sequence_of(priv, form);
    char statement[QV_STATEMENT_SIZE];
    for (size_t i = 0; i < statement_count(sequence); i++) {
        format_statement(sequence, i, fragments, statement);
        unsigned status = send_statement(engine, statement, newuserpassword);
        if (status != 0) {
            qv_log_trace(QV_FILE, __LINE__);
            return status;
        }
    }
    return 0;
}

unsigned qv_DBEngine_add_user_with_host(const char *host, const char *user, const char *password,
                                        uint32_t port, const char *unix_socket,
                                        const char *newusername, const char *newuserpassword,
                                        int priv)
{
    qv_DBEngine_clear_failure();
    if (!arguments_valid(host, newusername, newuserpassword, priv))
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
        else
            status = send_sequence(engine, newusername, newuserpassword, priv);
    }
    qv_DBEngine_finish(&engine);
    qv_DBEngine_settings_free(&settings);

    /* The remedy comes last, after every line of the failure it answers. */
    if (status != 0)
        qv_DBEngine_log_hint(newusername);
    return status;
}
