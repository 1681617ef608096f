/*
 * OptionRules: the table of the option file's rules and what an option means to the
 * tool: its name compared as the mariadb client compares it, the row of the table that
 * lists it, and its value taken as the client would take it.
 *
 * Invariants: an option is used only when the table's first rows list its name (the
 * table is what README.md and the manual page show, so they cannot disagree with the
 * code); a value is taken whole or not at all (a cut password would be another one); a
 * later line overrides an earlier one, as in the client; no value reaches a log line.
 */
#include "Interfaces/dbengine/MySQL/OptionFile.h"

#include <cstring>
#include <initializer_list>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "Interfaces/dbengine/MySQL/ClientPlatform.h"
#include "Interfaces/dbengine/MySQL/MyDBEngine.h"
#include "Interfaces/dbengine/MySQL/OptionReader.h"

static const QVOptionRule g_rules[QV_RULE_COUNT] = {
    {qv_option_names_used, "used; of two lines that give one, the later wins"},
    {"connect-timeout", "used up to 30 seconds, the tool's own bound"},
    {"host, port, user", "not used: the tool logs in as root at localhost, port 3306"},
    {"plugin-dir, default-auth, init-command",
     "refused: they make the client load code or run SQL"},
    {"a used option without a value it can take", "ignored"},
    {"any other option", "ignored"},
    {"others can write it", "not used"},
    {"another user owns it", "not used"},
    {"others can read it, and it gives a password", "used"},
    {"not a regular file", "skipped"},
    {"it cannot be read", "skipped"},
    {"an included file is missing", "passed over, as by the mariadb client"},
    {"larger than 1 MiB", "skipped"},
    {"saved as UTF-16", "not used: save it as UTF-8"},
    {"a UTF-8 byte-order mark", qv_option_mark_rule},
    {"a line the mariadb client refuses",
     "the file is read no further, and a first file not at all, as by the client"},
    {"an include loop", "the repeated file skipped"},
    {"includes more than 10 deep", "skipped"},
    {"more than 64 files", "the others skipped"},
};

const QVOptionRule *qv_option_rules(size_t *count)
{
    *count = QV_RULE_COUNT;
    return g_rules;
}

/* How a used option's value is taken. */
enum { TEXT, SWITCH, SECONDS, PROTOCOL, PIPE };

static const struct {
    const char *name;
    int slot;
    int kind;
} g_used[] = {
    {"password", QV_OPT_PASSWORD, TEXT},
    {"socket", QV_OPT_SOCKET, TEXT},
    {"ssl-ca", QV_OPT_SSL_CA, TEXT},
    {"ssl-capath", QV_OPT_SSL_CAPATH, TEXT},
    {"ssl-cert", QV_OPT_SSL_CERT, TEXT},
    {"ssl-cipher", QV_OPT_SSL_CIPHER, TEXT},
    {"ssl-crl", QV_OPT_SSL_CRL, TEXT},
    {"ssl-crlpath", QV_OPT_SSL_CRLPATH, TEXT},
    {"ssl-key", QV_OPT_SSL_KEY, TEXT},
    {"tls-version", QV_OPT_TLS_VERSION, TEXT},
    {"ssl", QV_OPT_SSL, SWITCH},
    {"ssl-verify-server-cert", QV_OPT_SSL_VERIFY_SERVER_CERT, SWITCH},
    {"connect-timeout", QV_OPT_CONNECT_TIMEOUT, SECONDS},
    {"protocol", QV_OPT_PROTOCOL, PROTOCOL},
    {"pipe", QV_OPT_PROTOCOL, PIPE},
};

/* Whether text begins with prefix, without regard to case. */
static bool begins(const char *text, const char *prefix)
{
    while (*prefix != '\0' && qv_option_lower(*text) == *prefix)
        text++, prefix++;
    return *prefix == '\0';
}

bool qv_option_name_key(const char *name, char *key, size_t capacity)
{
    size_t i = 0;
    for (; name[i] != '\0'; i++) {
        if (i + 1 >= capacity)
            return false;
        key[i] = name[i] == '_' ? '-' : qv_option_lower(name[i]);
    }
    key[i] = '\0';
    if (begins(key, "loose-"))
        memmove(key, key + 6, i - 5);
    return true;
}

/* Whether key is one of the ", "-separated names of list. */
static bool listed(const char *list, const char *key)
{
    size_t length = strlen(key);
    for (const char *at = list; at != nullptr;
         at = strstr(at, ", ") ? strstr(at, ", ") + 2 : nullptr)
        if (strncmp(at, key, length) == 0 && (at[length] == ',' || at[length] == '\0'))
            return true;
    return false;
}

/* The rule of an option by its key; a switch's "skip-", "disable-" or "enable-" is
 * dropped from key, and *off says which. */
static int rule_of(char *key, int *off)
{
    static const char *const prefixes[] = {"skip-", "disable-", "enable-"};
    *off = -1;
    for (int i = 0; i < 3; i++)
        if (begins(key, prefixes[i]) &&
            (strcmp(key + strlen(prefixes[i]), "ssl") == 0 ||
             strcmp(key + strlen(prefixes[i]), "ssl-verify-server-cert") == 0)) {
            *off = i < 2;
            memmove(key, key + strlen(prefixes[i]), strlen(key) - strlen(prefixes[i]) + 1);
        }
    for (int rule = QV_RULE_USED; rule < QV_RULE_OTHER; rule++)
        if (rule != QV_RULE_BAD_VALUE && listed(g_rules[rule].when, key))
            return rule;
    return QV_RULE_OTHER;
}

/* Whether a and b are the same word, without regard to case. */
static bool same(const char *a, const char *b)
{
    return strlen(a) == strlen(b) && begins(a, b);
}

/* A number of seconds as the client reads one (digits, then K, M, G, T, P or E for
 * powers of 1024), held below 10^7; -1 when value is not one. */
static long seconds_of(const char *value)
{
    long n = 0;
    const char *p = value;
    for (; *p >= '0' && *p <= '9'; p++)
        n = n >= 1000000 ? n : n * 10 + (*p - '0');
    if (p == value ||
        (*p != '\0' && (p[1] != '\0' || strchr("kmgtpe", qv_option_lower(*p)) == nullptr)))
        return -1;
    return *p != '\0' && n > 0 ? 1000000 : n;
}

/* Takes value (null: none) as the option of kind wants it into out; a switch's prefix
 * gave off (1: skip- or disable-, 0: enable-, -1: none). Returns false when it cannot be
 * taken, with why. */
static bool take(int kind, int off, const char *value, char *out, const char **why)
{
    *why = "no value";
    if (kind == SWITCH) {
        *why = off >= 0 ? "a value after skip-, disable- or enable-"
                        : "not 1, 0, on, off, true or false";
        static const char *const words[] = {"0", "off", "false", "1", "on", "true"};
        int on = off >= 0 ? (value == nullptr ? 1 - off : -1) : value == nullptr ? 1 : -1;
        for (int i = 0; off < 0 && value != nullptr && i < 6; i++)
            on = same(value, words[i]) ? i / 3 : on;
        return on >= 0 && qv_snprintf(out, QV_OPTION_VALUE_SIZE, "%d", on) > 0;
    }
    if (kind == PIPE) {
        *why = "it takes no value";
        return value == nullptr && qv_snprintf(out, QV_OPTION_VALUE_SIZE, "pipe") > 0;
    }
    if (value == nullptr)
        return false;
    if (kind == SECONDS) {
        long n = seconds_of(value);
        *why = "not a number of seconds";
        if (n == 0 || n > QV_DB_CONNECT_TIMEOUT)
            n = QV_DB_CONNECT_TIMEOUT;
        return n > 0 && qv_snprintf(out, QV_OPTION_VALUE_SIZE, "%ld", n) > 0;
    }
    if (kind == PROTOCOL) {
        *why = "not tcp, socket, pipe or memory";
        for (const char *name : {"tcp", "socket", "pipe", "memory"})
            if (same(value, name))
                return qv_snprintf(out, QV_OPTION_VALUE_SIZE, "%s", name) > 0;
        return false;
    }
    *why = "longer than 1023 bytes";
    return qv_snprintf(out, QV_OPTION_VALUE_SIZE, "%s", value) >= 0;
}

/* Where the options go, and whether to say what happens to them. */
struct Taking {
    QVDBOptions *options;
    bool report;
};

static void take_option(void *context, const char *name, const char *value, const char *path,
                        unsigned line)
{
    Taking *t = static_cast<Taking *>(context);
    char key[64], shown[80], where[QV_OPTION_VALUE_SIZE + 100];
    int off = -1;
    int rule = qv_option_name_key(name, key, sizeof key) ? rule_of(key, &off) : QV_RULE_OTHER;
    qv_option_printable(name, shown, 64);
    qv_snprintf(where, sizeof where, "%s line %u: %s", path, line, shown);
    if (rule == QV_RULE_FIXED || rule == QV_RULE_OTHER || rule == QV_RULE_REFUSED) {
        int level = rule == QV_RULE_REFUSED ? QV_LOG_WARNING : QV_LOG_INFO;
        qv_option_tell(t->report, level, where, rule, nullptr, nullptr);
        return;
    }
    for (const auto &used : g_used) {
        if (strcmp(used.name, key) != 0)
            continue;
        char value_taken[QV_OPTION_VALUE_SIZE];
        const char *why;
        if (!take(used.kind, off, value, value_taken, &why)) {
            if (used.slot == QV_OPT_PASSWORD && value == nullptr)
                why = "the mariadb client would ask for it; the tool cannot ask";
            qv_option_tell(t->report, QV_LOG_WARNING, where, QV_RULE_BAD_VALUE, why, nullptr);
            return;
        }
        long given = used.kind == SECONDS ? seconds_of(value) : 1;
        if (given == 0 || given > QV_DB_CONNECT_TIMEOUT)
            qv_option_tell(t->report, QV_LOG_INFO, where, QV_RULE_TIMEOUT, value, nullptr);
        t->options->given[used.slot] = true;
        memcpy(t->options->value[used.slot], value_taken, sizeof value_taken);
        if (used.slot == QV_OPT_PASSWORD)
            qv_option_printable(path, t->options->password_file, sizeof t->options->password_file);
    }
}

static void forget_options(void *context)
{
    QVDBOptions *options = static_cast<Taking *>(context)->options;
    memset(options->given, 0, sizeof options->given);
}

void qv_DBEngine_read_options(QVDBOptions *options, bool report)
{
    char path[QV_PATH_SIZE];
    memset(options->given, 0, sizeof options->given);
    options->refusal[0] = '\0';
    if (!qv_DBEngine_option_file(path, sizeof path))
        return;
    Taking taking{options, report};
    QVOptionSink sink{&taking, take_option, forget_options};
    qv_option_files_read(path, report, &sink, options->refusal, sizeof options->refusal);
}

/* The report's reading, and the option file it began at ("" before any report). */
static QVDBOptions g_reported;
static char g_reported_from[QV_PATH_SIZE];

void qv_DBEngine_report_option_file(void)
{
    qv_DBEngine_read_options(&g_reported, true);
    if (!qv_DBEngine_option_file(g_reported_from, sizeof g_reported_from))
        g_reported_from[0] = '\0';
}

void qv_DBEngine_login_options(QVDBOptions *options)
{
    char path[QV_PATH_SIZE];
    if (g_reported_from[0] != '\0' && qv_DBEngine_option_file(path, sizeof path) &&
        strcmp(path, g_reported_from) == 0)
        *options = g_reported;
    else
        qv_DBEngine_read_options(options, false);
}
