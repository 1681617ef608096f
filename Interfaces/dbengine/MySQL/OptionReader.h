/*
 * OptionReader: one option file read as the mariadb command-line client reads it, so
 * that a file an administrator has tried with that client means the same to the tool.
 * The client's parser (MariaDB's, which my_print_defaults runs too) is the reference,
 * its quirks included:
 *
 *   - a line is read in pieces of at most QV_OPTION_PIECE bytes, each piece a line of its
 *     own, and ends at a zero byte;
 *   - blanks are those of Latin-1 (tab, line feed, vertical tab, form feed, carriage
 *     return, space, no-break space); a line that begins with "#" or ";" is a comment;
 *   - "[name]" opens a group (its name compared without regard to case, blanks before
 *     "]" dropped, anything after "]" ignored); an option line before any group, or a
 *     "[" without "]", stops the file;
 *   - in an option line "#" begins a comment unless it stands inside quotes (a quote
 *     after a backslash opens them too, but does not close them); the name is
 *     what comes before "=", the value what follows it, both without blanks around; a
 *     value that begins and ends with the same quote loses both; in a value "\n", "\t",
 *     "\r", "\b", "\s", "\"", "\'" and "\\" are a line feed, a tab, a carriage return, a
 *     backspace, a space, the quotes and one backslash, and a backslash before anything
 *     else (or at the value's end) stays;
 *   - "!include PATH" and "!includedir PATH" name other files, whatever the group; the
 *     path runs to the line's end, whose last character is always dropped (the client
 *     takes it for the line feed); a directive without a path stops the file; at
 *     QV_OPTION_MAX_DEPTH includes deep every directive is skipped.
 *
 * The reader only reads: following a directive, and what an option means, are the
 * caller's (OptionFile).
 */
#ifndef INTERFACES_DBENGINE_MYSQL_OPTIONREADER_H
#define INTERFACES_DBENGINE_MYSQL_OPTIONREADER_H

#include <cstddef>

/* The longest piece of a line the client reads at once; longer lines go on as new
 * lines. */
#define QV_OPTION_PIECE 4094
/* How deep the client follows includes: the directives of a file this deep are skipped. */
#define QV_OPTION_MAX_DEPTH 10

/* Where the bytes of a file come from. */
struct QVOptionSource {
    void *context; /* handed back to read, unchanged */
    /* Reads up to capacity bytes into buffer; returns the count, 0 at the end, -1 on an
     * error (which ends the file, as the client's reading does). */
    long (*read)(void *context, char *buffer, size_t capacity);
};

/* What the reader finds, in the file's order. Each text is valid during the call only. */
struct QVOptionEvents {
    void *context; /* handed back to every call, unchanged */
    /* An option of a named group: its name, its value (null for a line without "=") and
     * the line it stands on. */
    void (*option)(void *context, const char *name, const char *value, unsigned line);
    /* "!include path" (dir false) or "!includedir path" (dir true); path is null for a
     * directive beyond QV_OPTION_MAX_DEPTH, which is skipped. Returns false when the
     * reading of this file is to stop there (the client stops at a folder it cannot
     * list). */
    bool (*include)(void *context, const char *path, bool dir, unsigned line);
    /* A line the client refuses, and why; the reading of the file stops there. */
    void (*refused)(void *context, const char *why, unsigned line);
};

/* Reads one file from source, at include depth depth (0 for the first file), and hands
 * what it finds to events; only the options of the groups named in groups (a list ended
 * by null) are handed on. Returns true when the file was read to its end (or to a read
 * error), false when a line or an include stopped it. */
bool qv_option_read(const QVOptionSource *source, const char *const groups[], unsigned depth,
                    const QVOptionEvents *events);

/* Whether c is a blank as the client's Latin-1 rules have it. */
bool qv_option_blank(char c);

/* c in lower case if it is an ASCII capital, whatever the locale: every name the tool
 * knows is ASCII, and no other letter folds to one. */
char qv_option_lower(char c);

#endif
