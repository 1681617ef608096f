/*
 * OptionFile: the administrator's own option file, ~/.my.cnf, and the files it
 * includes, read by the tool itself as the mariadb client reads them (OptionReader),
 * and what the tool takes from them: root's password, the socket, TLS and the connect
 * time-out. The client library is handed those values only, never a file to read, so
 * that nothing in a file can make it run code or SQL.
 *
 * Every file, the first and each included one, is opened without waiting and examined
 * as opened: only a regular file of at most QV_OPTION_MAX_SIZE bytes is read, and only
 * when no one but its owner can write it and its owner is the user the tool runs as (or
 * root; on Windows the Administrators group or the token's default owner). Includes are
 * followed at most QV_OPTION_MAX_DEPTH deep and to at most QV_OPTION_MAX_FILES files; a
 * loop is cut. Whatever is not used is named in the log with the reason, and the run
 * goes on without it. The log never says what a file holds.
 *
 * The rules, as the tool applies them, are one table (qv_option_rules) that README.md
 * and the manual page show.
 */
#ifndef INTERFACES_DBENGINE_MYSQL_OPTIONFILE_H
#define INTERFACES_DBENGINE_MYSQL_OPTIONFILE_H

#include <cstddef>

/* The option file: "$HOME/.my.cnf" (the home directory of the user the tool runs as when
 * HOME is not set; %USERPROFILE%\.my.cnf on Windows), and the tool's own group. */
#define QV_DB_OPTION_FILE ".my.cnf"
#define QV_DB_OPTION_GROUP "VADedeVeZovid"

/* The bounds on what is read. */
#define QV_OPTION_MAX_SIZE (1024 * 1024)
#define QV_OPTION_MAX_FILES 64
/* The longest value taken, terminator included. */
#define QV_OPTION_VALUE_SIZE 1024
/* Room for why a file was not used. */
#define QV_OPTION_REFUSAL_SIZE 512
/* Room for a path. */
#define QV_PATH_SIZE 4096

/* The groups read, null-ended: [client], [client-server], [client-mariadb] and
 * [VADedeVeZovid]. */
extern const char *const qv_option_groups[];

/* The options the tool hands the client library. The switches hold "1" or "0". */
enum {
    QV_OPT_PASSWORD,
    QV_OPT_SOCKET,
    QV_OPT_SSL_CA,
    QV_OPT_SSL_CAPATH,
    QV_OPT_SSL_CERT,
    QV_OPT_SSL_CIPHER,
    QV_OPT_SSL_CRL,
    QV_OPT_SSL_CRLPATH,
    QV_OPT_SSL_KEY,
    QV_OPT_TLS_VERSION,
    QV_OPT_SSL,                    /* switch */
    QV_OPT_SSL_VERIFY_SERVER_CERT, /* switch */
    QV_OPT_CONNECT_TIMEOUT,        /* whole seconds, at most the tool's bound */
    QV_OPT_PROTOCOL,               /* "tcp", "socket", "pipe" or "memory" (Windows) */
    QV_OPT_COUNT
};

/* What the option files give a connection. */
struct QVDBOptions {
    bool given[QV_OPT_COUNT];
    char value[QV_OPT_COUNT][QV_OPTION_VALUE_SIZE];
    /* Why a file was not used ("~/.my.cnf was not used: others can write it (mode
     * 666)"), for the hint on a refused password; empty when every file was used. */
    char refusal[QV_OPTION_REFUSAL_SIZE];
    /* The file that gave the password, where one did. */
    char password_file[QV_OPTION_REFUSAL_SIZE];
};

/* The rules, in the table's order: what the tool does with an option, then with a file. */
enum {
    QV_RULE_USED,
    QV_RULE_TIMEOUT,
    QV_RULE_FIXED,
    QV_RULE_REFUSED,
    QV_RULE_BAD_VALUE,
    QV_RULE_OTHER,
    QV_RULE_WRITABLE,
    QV_RULE_OWNER,
    QV_RULE_READABLE,
    QV_RULE_NOT_FILE,
    QV_RULE_UNREADABLE,
    QV_RULE_MISSING,
    QV_RULE_TOO_LARGE,
    QV_RULE_UTF16,
    QV_RULE_MARK,
    QV_RULE_LINE,
    QV_RULE_LOOP,
    QV_RULE_DEPTH,
    QV_RULE_MANY,
    QV_RULE_COUNT
};

/* One rule of the table: the case, and what the tool does then. */
struct QVOptionRule {
    const char *when;
    const char *what;
};

/* The table of rules, in README's order; *count receives its length. Static data. */
const QVOptionRule *qv_option_rules(size_t *count);

/* Forms the option file's path into path (capacity bytes). Returns false when there is
 * no home directory or the path does not fit; the file need not exist. */
bool qv_DBEngine_option_file(char *path, size_t capacity);

/* Fills options from the option file and what it includes. With report, logs (never a
 * value) each file read (INFO), each file or option not used and why (WARNING, or INFO
 * for the options the tool keeps fixed or does not know). Without a file, options is
 * left empty. */
void qv_DBEngine_read_options(QVDBOptions *options, bool report);

/* qv_DBEngine_read_options with report, for the run's log: once per run, before the
 * first connection. The reading is kept for the logins that follow. */
void qv_DBEngine_report_option_file(void);

/* Fills options for a login: the reading the report kept, where it began at the option
 * file that qv_DBEngine_option_file names now (what the log says is what the logins
 * get, and the files are walked once); else a reading made now, quietly. */
void qv_DBEngine_login_options(QVDBOptions *options);

/* Where the options of the files go, in the files' order (the tool's own rules, or a
 * test's collection). Texts are valid during the call only. */
struct QVOptionSink {
    void *context;
    /* An option: its name and value as the client reads them (value null without "="),
     * and where it stands. */
    void (*option)(void *context, const char *name, const char *value, const char *path,
                   unsigned line);
    /* Forget every option handed on: the first file is not used after all (the client
     * refuses a file whose line it refuses). */
    void (*forget)(void *context);
};

/* Reads the file at path and what it includes, each examined as above, handing their
 * options to sink; with report, logs what it finds. Writes into refusal (capacity
 * bytes) why the first file not used was not used, or "". */
void qv_option_files_read(const char *path, bool report, const QVOptionSink *sink, char *refusal,
                          size_t capacity);

/* For OptionFile's own files. */

/* Forms into key (capacity bytes) an option's name as the client compares it: lower
 * case, "_" as "-", without a "loose-" in front. Returns false when it does not fit
 * (no option the tool knows has such a name). */
bool qv_option_name_key(const char *name, char *key, size_t capacity);

/* Copies text into out (capacity bytes), control characters as "?", cut to fit: a path
 * or a name from a file, fit for a log line. */
void qv_option_printable(const char *text, char *out, size_t capacity);

/* Logs, when report, one line at level about where (a path, or "path line N: name") by
 * rule: "<where>: <case> (<detail>): <what the tool does>; <remedy>", detail and remedy
 * where given. */
void qv_option_tell(bool report, int level, const char *where, int rule, const char *detail,
                    const char *remedy);

#endif
