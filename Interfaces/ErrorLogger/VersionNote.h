/*
 * VersionNote: the program's version record, carried in its executable as an ELF note,
 * and the reader that takes it back out of an executable file. On Windows the record
 * is the executable's version resource, and the three calls below are the system's
 * (VersionWin32); the records and flags are a version resource's there too.
 *
 * The build embeds one note (owner QV_VERSION_NOTE_OWNER, type QV_VERSION_NOTE_TYPE)
 * whose contents hold what a version resource holds: a fixed record (versions, flags),
 * a translation table and string values. The contents are laid out as
 *
 *     QVVersionNoteHead                       fixed record, translation count, strings size
 *     QVVersionTranslation[translation_count] language and code page pairs
 *     char strings[strings_size]              pairs of zero-terminated texts: a query path
 *                                             such as "\\StringFileInfo\\040904b0\\FileVersion"
 *                                             and its value; an empty path ends the list
 *
 * in the machine's byte order, every field at its natural alignment. The writer (the
 * program's own sources) and the reader share these records, so they cannot drift apart.
 *
 * The reader trusts nothing in the file: a file that is not a regular file, not 64-bit
 * little-endian ELF, truncated, or whose offsets, sizes or counts point outside the file
 * or the note yields no note. Every bound is checked with arithmetic that cannot wrap.
 */
#ifndef INTERFACES_ERRORLOGGER_VERSIONNOTE_H
#define INTERFACES_ERRORLOGGER_VERSIONNOTE_H

#include <cstddef>
#include <cstdint>

/* The note's owner name (its terminator counts in the note's name size) and type. */
#define QV_VERSION_NOTE_OWNER "Quorvane"
#define QV_VERSION_NOTE_TYPE 0x5156u
/* The section the writer puts the note in; the reader looks at every note section. */
#define QV_VERSION_NOTE_SECTION ".note.quorvane.version"

/* The first word of the fixed record, and the record's layout version. */
#define QV_VERSION_SIGNATURE 0xFEEF04BDu
#define QV_VERSION_LAYOUT 0x00010000u

/* Contents larger than this are not a version record that a build makes: ignored. */
#define QV_VERSION_NOTE_MAX 65536u

/* File flag bits, as in a version resource. */
#define QV_VERSION_FLAG_DEBUG 0x01u
#define QV_VERSION_FLAG_PRERELEASE 0x02u
#define QV_VERSION_FLAG_PATCHED 0x04u
#define QV_VERSION_FLAG_PRIVATEBUILD 0x08u
#define QV_VERSION_FLAG_INFOINFERRED 0x10u
#define QV_VERSION_FLAG_SPECIALBUILD 0x20u
#define QV_VERSION_FLAGS_MASK 0x3Fu

/* The fixed version record: versions as two words each, major << 16 | minor in the
 * high word, build << 16 | revision in the low one. */
struct QVVersionFixed {
    uint32_t signature; /* QV_VERSION_SIGNATURE */
    uint32_t layout;    /* QV_VERSION_LAYOUT */
    uint32_t file_version_ms;
    uint32_t file_version_ls;
    uint32_t product_version_ms;
    uint32_t product_version_ls;
    uint32_t file_flags_mask; /* which bits of file_flags mean something */
    uint32_t file_flags;
};

struct QVVersionNoteHead {
    QVVersionFixed fixed;
    uint32_t translation_count; /* entries of the translation table that follows */
    uint32_t strings_size;      /* bytes of string pairs after the table */
};

struct QVVersionTranslation {
    uint16_t language;  /* e.g. 0x0409 */
    uint16_t code_page; /* e.g. 0x04B0 */
};

static_assert(sizeof(QVVersionFixed) == 32, "the fixed record is eight words");
static_assert(sizeof(QVVersionNoteHead) == 40, "the head is ten words");
static_assert(sizeof(QVVersionTranslation) == 4, "a translation is two half-words");

/* Finds the version note in the executable file at path. Returns the size of its
 * contents in bytes, or 0 when the file cannot be read, is no 64-bit little-endian ELF
 * file, is damaged, or carries no such note (or one larger than QV_VERSION_NOTE_MAX). */
uint32_t qv_version_note_size(const char *path);

/* Reads the contents of the version note of the file at path into block, which has
 * room for size bytes, as qv_version_note_size reported them. Returns 0; 1 when the
 * file no longer carries a note of that size; 3 when it cannot be opened or read. */
unsigned qv_version_note_read(const char *path, uint32_t size, void *block);

/* Looks up a value in the note contents held in block (size bytes). query is "\\" for
 * the fixed record, "\\VarFileInfo\\Translation" for the translation table, or a string
 * path "\\StringFileInfo\\<language><code page>\\<key>" (eight lower-case hexadecimal
 * digits). Returns true and sets *value (pointing into block) and *length (bytes for the
 * records, characters without the terminator for a string) when the value is present;
 * false when it is not, or when the contents are malformed. block may be unaligned. */
bool qv_version_note_query(const void *block, uint32_t size, const char *query, const void **value,
                           uint32_t *length);

#endif
