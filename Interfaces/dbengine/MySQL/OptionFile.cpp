/*
 * OptionFile: the option files walked as the mariadb client walks them, each file
 * examined before a byte of it is read: where the first file is, the checks on every
 * file, the encodings, and the includes (a file, or a folder's files in the client's
 * byte order).
 *
 * Invariants: no file is read that the platform did not open as a regular file of at
 * most QV_OPTION_MAX_SIZE bytes, that no one but its owner can write and whose owner is
 * the user (or root; on Windows the Administrators or the token's default owner); at
 * most QV_OPTION_MAX_FILES files are read, none twice on one include chain; what is read
 * goes through the same handle that was examined. A file is read to its end unless the
 * client stops too, and the options of a first file the client would refuse are
 * forgotten.
 */
#include "Interfaces/dbengine/MySQL/OptionFile.h"

#include <cstdlib>
#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "Interfaces/ErrorLogger/ReportLines.h"
#include "Interfaces/dbengine/MySQL/ClientPlatform.h"
#include "Interfaces/dbengine/MySQL/OptionReader.h"
#include "QVLib/QVmalloc.h"
#include "QVLib/QVuserfile.h"

/* A path as long as the client's limit allows (it passes over longer ones without a
 * word). */
#define QV_CLIENT_PATH_LIMIT 509
/* Room for a name in a folder. */
#define QV_DIR_NAME_SIZE 260

const char *const qv_option_groups[] = {"client", "client-server", "client-mariadb",
                                        QV_DB_OPTION_GROUP, nullptr};

static const char QV_FILE[] = "Interfaces/dbengine/MySQL/OptionFile";
static const char QV_WHO[] = "qv_DBEngine_report_option_file";

bool qv_DBEngine_option_file(char *path, size_t capacity)
{
    return qv_user_home_path(QV_DB_OPTION_FILE, path, capacity);
}

void qv_option_printable(const char *text, char *out, size_t capacity)
{
    qv_snprintf(out, capacity, "%s", text);
    qv_report_printable(out);
}

void qv_option_tell(bool report, int level, const char *where, int rule, const char *detail,
                    const char *remedy)
{
    size_t count;
    const QVOptionRule *row = &qv_option_rules(&count)[rule];
    char head[2 * QV_PATH_SIZE];
    if (!report)
        return;
    /* Where an option is named, its name says the case. */
    if (rule < QV_RULE_WRITABLE)
        qv_snprintf(head, sizeof head, "%s", where);
    else
        qv_snprintf(head, sizeof head, "%s: %s", where, row->when);
    qv_log(level, "%s: %s%s%s%s: %s%s%s", QV_WHO, head, detail ? " (" : "", detail ? detail : "",
           detail ? ")" : "", row->what, remedy ? "; " : "", remedy ? remedy : "");
}

/* The walk over the files: where the options go, and what was read so far. */
struct Walk {
    const QVOptionSink *sink;
    bool report;
    char *refusal; /* the first file not used, and why */
    size_t refusal_capacity;
    unsigned files;
    unsigned long long chain[QV_OPTION_MAX_DEPTH + 1][2]; /* the files being read, by depth */
};

/* One file being read. */
struct Reading {
    Walk *walk;
    QVUserFile *file;
    const char *path; /* printable */
    unsigned depth;
    unsigned long offset;
    bool gave_password;
};

static void read_one(Walk *walk, const char *path, unsigned depth);

/* Tells the rule, and keeps it as the reason the first file not used was not used. */
static void refuse(Walk *walk, const char *path, int rule, const char *detail,
                   const char *remedy = nullptr)
{
    qv_option_tell(walk->report, QV_LOG_WARNING, path, rule, detail, remedy);
    size_t count;
    if (walk->refusal[0] == '\0')
        qv_snprintf(walk->refusal, walk->refusal_capacity, "%s was not used: %s%s%s%s", path,
                    qv_option_rules(&count)[rule].when, detail ? " (" : "", detail ? detail : "",
                    detail ? ")" : "");
}

static long read_bytes(void *context, char *buffer, size_t capacity)
{
    Reading *r = static_cast<Reading *>(context);
    /* A file that grew since it was examined is read no further than the bound. */
    if (r->offset >= QV_OPTION_MAX_SIZE)
        return 0;
    if (capacity > QV_OPTION_MAX_SIZE - r->offset)
        capacity = QV_OPTION_MAX_SIZE - r->offset;
    long n = qv_user_file_read(r->file, r->offset, buffer, capacity);
    if (n > 0)
        r->offset += static_cast<unsigned long>(n);
    return n;
}

static void on_option(void *context, const char *name, const char *value, unsigned line)
{
    Reading *r = static_cast<Reading *>(context);
    char key[64];
    r->gave_password =
        r->gave_password || (value != nullptr && qv_option_name_key(name, key, sizeof key) &&
                             strcmp(key, "password") == 0);
    r->walk->sink->option(r->walk->sink->context, name, value, r->path, line);
}

static void on_refused(void *context, const char *why, unsigned line)
{
    Reading *r = static_cast<Reading *>(context);
    char detail[128];
    qv_snprintf(detail, sizeof detail, "line %u: %s", line, why);
    /* Only a first file goes unused: the client uses what came before in another. */
    if (r->depth == 0)
        refuse(r->walk, r->path, QV_RULE_LINE, detail);
    else
        qv_option_tell(r->walk->report, QV_LOG_WARNING, r->path, QV_RULE_LINE, detail, nullptr);
}

/* A folder's files that an !includedir reads: the first ones in the client's order
 * (bytewise), as many as may still be read. */
struct Folder {
    char names[QV_OPTION_MAX_FILES][QV_DIR_NAME_SIZE];
    unsigned count, room, more; /* kept, room for, and those past the room */
};

static void on_entry(void *context, const char *name)
{
    Folder *f = static_cast<Folder *>(context);
    const char *dot = strrchr(name, '.');
    bool read = false;
    for (size_t i = 0; dot != nullptr && qv_option_dir_endings[i] != nullptr; i++)
        read = read || strcmp(dot, qv_option_dir_endings[i]) == 0;
    if (!read || strlen(name) >= QV_DIR_NAME_SIZE)
        return;
    unsigned at = f->count;
    while (at > 0 && strcmp(name, f->names[at - 1]) < 0)
        at--;
    if (at >= f->room) {
        f->more++;
        return;
    }
    if (f->count == f->room)
        f->more++; /* the last one drops out */
    else
        f->count++;
    memmove(f->names[at + 1], f->names[at], (f->count - 1 - at) * sizeof f->names[0]);
    qv_snprintf(f->names[at], sizeof f->names[at], "%s", name);
}

static bool on_include(void *context, const char *path, bool dir, unsigned line)
{
    Reading *r = static_cast<Reading *>(context);
    char where[QV_PATH_SIZE], full[QV_PATH_SIZE], error[128];
    qv_snprintf(where, sizeof where, "%s line %u", r->path, line);
    if (path == nullptr) {
        qv_option_tell(r->walk->report, QV_LOG_WARNING, where, QV_RULE_DEPTH, nullptr, nullptr);
        return true;
    }
    /* "~/" is the home folder, as the client has it. */
    if (strncmp(path, "~/", 2) != 0 || !qv_user_home_path(path + 2, full, sizeof full))
        qv_snprintf(full, sizeof full, "%s", path);
    if (!dir) {
        read_one(r->walk, full, r->depth + 1);
        return true;
    }
    Folder *folder = static_cast<Folder *>(qv_malloc(sizeof(Folder), QV_FILE, __LINE__, 0));
    if (folder != nullptr) {
        folder->count = folder->more = 0;
        folder->room = QV_OPTION_MAX_FILES - r->walk->files;
    }
    if (folder == nullptr || !qv_user_dir_list(full, on_entry, folder, error, sizeof error)) {
        char shown[QV_PATH_SIZE];
        qv_option_printable(full, shown, sizeof shown);
        qv_option_tell(r->walk->report, QV_LOG_WARNING, shown, QV_RULE_UNREADABLE,
                       folder ? error : "out of memory", nullptr);
        on_refused(r, "!includedir of a folder that cannot be listed", line);
        free(folder);
        return false;
    }
    for (unsigned i = 0; i < folder->count; i++) {
        char file[QV_PATH_SIZE];
        qv_snprintf(file, sizeof file, "%s%c%s", full, qv_user_path_separator, folder->names[i]);
        read_one(r->walk, file, r->depth + 1);
    }
    if (folder->more > 0)
        qv_option_tell(r->walk->report, QV_LOG_WARNING, where, QV_RULE_MANY, nullptr, nullptr);
    free(folder);
    return true;
}

/* What a file that is not read is, in words. */
static const char *kind_words(int kind)
{
    switch (kind) {
    case QV_USER_FILE_DIRECTORY:
        return "a directory";
    case QV_USER_FILE_FIFO:
        return "a FIFO";
    case QV_USER_FILE_CHARACTER_DEVICE:
        return "a character device";
    case QV_USER_FILE_BLOCK_DEVICE:
        return "a block device";
    case QV_USER_FILE_SOCKET:
        return "a socket";
    default:
        return "something other than a file";
    }
}

/* Whether the open file may be read, telling why not when it may not; a file that is
 * read from an offset (past a byte-order mark) gets it in *offset. */
static bool may_read(Walk *walk, const char *path, QVUserFile *file, unsigned depth,
                     unsigned long *offset)
{
    char detail[256], remedy[QV_PATH_SIZE + 64];
    for (unsigned i = 0; i < depth; i++)
        if (walk->chain[i][0] == file->identity[0] && walk->chain[i][1] == file->identity[1]) {
            qv_option_tell(walk->report, QV_LOG_WARNING, path, QV_RULE_LOOP, nullptr, nullptr);
            return false;
        }
    if (file->writable_by_others || !file->owned_by_user) {
        bool writable = file->writable_by_others;
        qv_user_file_mend(writable ? QV_MEND_PRIVATE : QV_MEND_OWNER, path, remedy,
                          sizeof remedy);
        if (writable)
            qv_snprintf(detail, sizeof detail, "%s", file->permissions);
        else
            qv_snprintf(detail, sizeof detail, "%s, not %s", file->owner, file->user);
        refuse(walk, path, writable ? QV_RULE_WRITABLE : QV_RULE_OWNER, detail, remedy);
        return false;
    }
    if (file->size > QV_OPTION_MAX_SIZE) {
        qv_snprintf(detail, sizeof detail, "%llu bytes", file->size);
        refuse(walk, path, QV_RULE_TOO_LARGE, detail);
        return false;
    }
    unsigned char head[3] = {0, 0, 0};
    long n = qv_user_file_read(file, 0, reinterpret_cast<char *>(head), sizeof head);
    *offset = 0;
    if (n >= 2 && ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF))) {
        refuse(walk, path, QV_RULE_UTF16, nullptr);
        return false;
    }
    if (n == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
        if (!qv_option_mark_skipped) {
            refuse(walk, path, QV_RULE_MARK, nullptr);
            return false;
        }
        *offset = 3;
    }
    return true;
}

/* Reads the file at path, include depth depth, if it may be read. */
static void read_one(Walk *walk, const char *path, unsigned depth)
{
    char shown[QV_PATH_SIZE];
    qv_option_printable(path, shown, sizeof shown);
    if (walk->files >= QV_OPTION_MAX_FILES) {
        qv_option_tell(walk->report, QV_LOG_WARNING, shown, QV_RULE_MANY, nullptr, nullptr);
        return;
    }
    QVUserFile file;
    qv_user_file_open(path, &file);
    if (file.kind == QV_USER_FILE_MISSING || (depth > 0 && strlen(path) >= QV_CLIENT_PATH_LIMIT)) {
        if (depth > 0)
            qv_option_tell(walk->report, QV_LOG_INFO, shown, QV_RULE_MISSING, nullptr, nullptr);
        qv_user_file_close(&file);
        return;
    }
    if (file.kind != QV_USER_FILE_REGULAR) {
        bool unreadable = file.kind == QV_USER_FILE_UNREADABLE;
        refuse(walk, shown, unreadable ? QV_RULE_UNREADABLE : QV_RULE_NOT_FILE,
               unreadable ? file.error : kind_words(file.kind));
        return;
    }
    Reading reading{walk, &file, shown, depth, 0, false};
    if (!may_read(walk, shown, &file, depth, &reading.offset)) {
        qv_user_file_close(&file);
        return;
    }
    walk->files++;
    walk->chain[depth][0] = file.identity[0];
    walk->chain[depth][1] = file.identity[1];
    if (walk->report)
        qv_log(QV_LOG_INFO, "%s: client options are read from %s", QV_WHO, shown);
    QVOptionSource source{&reading, read_bytes};
    QVOptionEvents events{&reading, on_option, on_include, on_refused};
    if (!qv_option_read(&source, qv_option_groups, depth, &events) && depth == 0)
        walk->sink->forget(walk->sink->context); /* the client uses nothing then */
    if (file.readable_by_others && reading.gave_password) {
        char remedy[QV_PATH_SIZE + 64];
        qv_user_file_mend(QV_MEND_PRIVATE, shown, remedy, sizeof remedy);
        qv_option_tell(walk->report, QV_LOG_WARNING, shown, QV_RULE_READABLE, file.permissions,
                       remedy);
    }
    qv_user_file_close(&file);
}

void qv_option_files_read(const char *path, bool report, const QVOptionSink *sink, char *refusal,
                          size_t capacity)
{
    refusal[0] = '\0';
    Walk walk{sink, report, refusal, capacity, 0, {}};
    read_one(&walk, path, 0);
}
