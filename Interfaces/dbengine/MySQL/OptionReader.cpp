/*
 * OptionReader: the client's reading of one option file, line piece by line piece, with
 * one step per kind of line (comment, directive, group, option).
 *
 * Invariants: a piece is at most QV_OPTION_PIECE bytes and is zero-terminated, so that
 * every scan of it ends; nothing reads before the start of a piece (where the client's
 * own loops would, the outcome is the one they reach when they stop there: an empty
 * name); no value is changed after it was handed on.
 */
#include "Interfaces/dbengine/MySQL/OptionReader.h"

#include <cstring>

bool qv_option_blank(char c)
{
    unsigned char u = static_cast<unsigned char>(c);
    return u == ' ' || (u >= '\t' && u <= '\r') || u == 0xA0;
}

/* The file's bytes, cut into pieces as fgets cuts them: up to and with a line feed, at
 * most QV_OPTION_PIECE bytes. */
struct PieceReader {
    const QVOptionSource *source;
    char buffer[4096];
    size_t start, end;
    bool over; /* the source has nothing more */
};

/* Reads the next piece into piece (QV_OPTION_PIECE + 1 bytes), zero-terminated. Returns
 * its length in bytes (zero bytes in it count), 0 when the file is over. */
static size_t next_piece(PieceReader *r, char *piece)
{
    size_t length = 0;
    while (length < QV_OPTION_PIECE) {
        if (r->start == r->end) {
            long n = r->over ? 0 : r->source->read(r->source->context, r->buffer, sizeof r->buffer);
            if (n <= 0) {
                r->over = true;
                break;
            }
            r->start = 0;
            r->end = static_cast<size_t>(n);
        }
        char c = r->buffer[r->start++];
        piece[length++] = c;
        if (c == '\n')
            break;
    }
    piece[length] = '\0';
    return length;
}

static const char *skip_blanks(const char *p)
{
    while (qv_option_blank(*p))
        p++;
    return p;
}

/* Cuts the option line at a "#" that stands outside quotes (inside quotes a backslash
 * keeps the quote after it from closing them; outside, it keeps nothing from opening). */
static void cut_comment(char *p)
{
    char quote = 0;
    bool escaped = false;
    for (; *p; p++) {
        if ((*p == '\'' || *p == '"') && !escaped) {
            if (!quote)
                quote = *p;
            else if (quote == *p)
                quote = 0;
        }
        if (!quote && *p == '#') {
            *p = '\0';
            return;
        }
        escaped = quote && *p == '\\' && !escaped;
    }
}

/* The path of a directive, from p on (just after its keyword); null when there is none.
 * The line's last character goes, whatever it is; then the blanks before it. */
static char *directive_path(char *p)
{
    p = const_cast<char *>(skip_blanks(p));
    size_t length = strlen(p);
    if (length < 2)
        return nullptr;
    char *end = p + length - 1;
    while (end > p + 1 && qv_option_blank(end[-1]))
        end--;
    *end = '\0';
    return p;
}

char qv_option_lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

/* Whether name is one of groups, without regard to case. */
static bool named_group(const char *name, const char *const groups[])
{
    for (size_t i = 0; groups[i] != nullptr; i++) {
        size_t j = 0;
        while (name[j] != '\0' && qv_option_lower(name[j]) == qv_option_lower(groups[i][j]))
            j++;
        if (name[j] == '\0' && groups[i][j] == '\0')
            return true;
    }
    return false;
}

/* Takes the value that follows "=" at value (zero-terminated) as the client does: blanks
 * around it dropped, one pair of enclosing quotes dropped, escapes turned into what they
 * stand for; writes it to out (room for the value). */
static void take_value(const char *value, char *out)
{
    value = skip_blanks(value);
    const char *end = value + strlen(value);
    while (end > value && qv_option_blank(end[-1]))
        end--;
    if ((*value == '"' || *value == '\'') && value + 1 < end && *value == end[-1]) {
        value++;
        end--;
    }
    static const char from[] = "ntrbs\"'\\", to[] = "\n\t\r\b \"'\\";
    for (; value < end; value++) {
        const char *known;
        if (*value != '\\' || value == end - 1) {
            *out++ = *value;
        } else if ((known = strchr(from, *++value)) != nullptr) {
            *out++ = to[known - from];
        } else {
            *out++ = '\\';
            *out++ = *value;
        }
    }
    *out = '\0';
}

/* Hands on the option of the line at p (its first character not blank). */
static void read_option(char *p, unsigned line, const QVOptionEvents *events)
{
    char name[QV_OPTION_PIECE + 1], value[QV_OPTION_PIECE + 1];
    cut_comment(p);
    char *equals = strchr(p, '=');
    char *end = equals ? equals : p + strlen(p);
    while (end > p && qv_option_blank(end[-1]))
        end--;
    memcpy(name, p, static_cast<size_t>(end - p));
    name[end - p] = '\0';
    if (equals)
        take_value(equals + 1, value);
    events->option(events->context, name, equals ? value : nullptr, line);
}

/* Follows the directive at p (just after "!"). Returns false when the file stops here. */
static bool read_directive(char *p, unsigned depth, unsigned line, const QVOptionEvents *events)
{
    if (depth >= QV_OPTION_MAX_DEPTH) {
        events->include(events->context, nullptr, false, line);
        return true;
    }
    p = const_cast<char *>(skip_blanks(p));
    bool dir = strncmp(p, "includedir", 10) == 0 && qv_option_blank(p[10]);
    if (!dir && !(strncmp(p, "include", 7) == 0 && qv_option_blank(p[7])))
        return true; /* an unknown directive is passed over */
    char *path = directive_path(p + (dir ? 10 : 7));
    if (path == nullptr) {
        events->refused(events->context,
                        dir ? "!includedir without a folder" : "!include without a file", line);
        return false;
    }
    /* A file that cannot be included is passed over; a folder that cannot be listed
     * stops the file. */
    return events->include(events->context, path, dir, line) || !dir;
}

bool qv_option_read(const QVOptionSource *source, const char *const groups[], unsigned depth,
                    const QVOptionEvents *events)
{
    enum { NO_GROUP, NAMED, OTHER } group = NO_GROUP;
    PieceReader reader{source, {}, 0, 0, false};
    char piece[QV_OPTION_PIECE + 1];
    unsigned line = 0;
    while (next_piece(&reader, piece) > 0) {
        line++;
        char *p = const_cast<char *>(skip_blanks(piece));
        if (*p == '#' || *p == ';' || *p == '\0')
            continue;
        if (*p == '!') {
            if (!read_directive(p + 1, depth, line, events))
                return false;
            continue;
        }
        if (*p == '[') {
            char *end = strchr(p + 1, ']');
            if (end == nullptr) {
                events->refused(events->context, "a group without its closing \"]\"", line);
                return false;
            }
            while (qv_option_blank(end[-1]))
                end--; /* stops at "[" at the latest */
            *end = '\0';
            group = named_group(p + 1, groups) ? NAMED : OTHER;
            continue;
        }
        if (group == NO_GROUP) {
            events->refused(events->context, "an option before any group", line);
            return false;
        }
        if (group == NAMED)
            read_option(p, line, events);
    }
    return true;
}
