/*
 * GuiMessages: the message catalogue, the suite's user-visible texts by message code in
 * seven languages.
 *
 * The texts are static UTF-8 data, generated at build time from one file per language
 * (QVLib/messages/<tag>.msg). Nothing is converted until a language is first used: the
 * first lookup in a language builds its table, converting every text to the locale's
 * character set and storing it in a QVHashTable under the key of its message code.
 * Later lookups compute the key and search the table, without lock or allocation. A
 * code that the chosen language lacks is looked up in language 0 ("en-US"); failing
 * that the result is the empty text.
 *
 * Invariants: a language's table is complete before its built flag turns 1 (published
 * with release, read with acquire) and never changes again until the teardown; builds
 * are serialized by qv_gui_lock, which is taken before a table's own lock. The first
 * build of the process registers the teardown (qv_free_gui_messages) with atexit and
 * converts the fixed strings once. Texts handed out belong to the catalogue and live
 * until process exit.
 *
 * Calling order: qv_gui_set_lang first (it creates qv_gui_lock), then lookups from any
 * thread. Without the lock (before qv_gui_set_lang, after the teardown) a lookup in an
 * unbuilt language yields the empty text.
 */
#ifndef QVLIB_GUIMESSAGES_H
#define QVLIB_GUIMESSAGES_H

#include <atomic>
#include <cstdint>

#include "QVLib/QVmutex.h"
#include "QVLib/QVHashTable.h"
#include "QVLib/QVmalloc.h"

/* Language ids run from 0 ("en-US") to QV_GUI_LANG_COUNT - 1 ("ja-JP"). */
#define QV_GUI_LANG_COUNT 7
/* Characters of a message code: prefix (3), family (2), hexadecimal number (4). */
#define QV_GUI_CODE_LENGTH 9
/* The fixed strings, converted once per process into qv_gui_fixed_strings. */
#define QV_GUI_FIXED_STRING_COUNT 123

/* What a language table stores under each key. */
struct QVGuiEntry {
    const char *source; /* the static UTF-8 text, not owned */
    char *converted;    /* the text in the locale's character set, owned; null only when
                           even the empty text could not be allocated */
};

/* One language. */
struct QVGuiLang {
    QVHashTable *table;          /* null until built */
    const char *const *texts;    /* static UTF-8 texts, parallel to codes */
    const char *const *codes;    /* static message codes, ended by a null pointer */
    std::atomic<uint32_t> built; /* 1 once table is complete; written under qv_gui_lock */
};

/* The current language id, set by qv_gui_set_lang and read by the application. */
extern std::atomic<int> qv_gui_lang;
/* Serializes the building of language tables; created by qv_gui_set_lang, disposed of
 * by the teardown. */
extern QVmutex qv_gui_lock;
/* The seven languages, by id. */
extern QVGuiLang qv_gui_langs[QV_GUI_LANG_COUNT];
/* The fixed strings as stored (UTF-8), and their converted copies: null until the first
 * build of the process, then QV_GUI_FIXED_STRING_COUNT owned texts (a slot is null only
 * when its conversion could not even allocate the empty text). */
extern const char *const qv_gui_fixed_sources[QV_GUI_FIXED_STRING_COUNT];
extern char **qv_gui_fixed_strings;

/* Sets the current language to id and, when qv_gui_lock has no lock object, creates it
 * (a failure is logged; the language is set anyway). Ids outside 0 to 6 are stored as
 * given: lookups treat them as 0. Call it from one thread before any lookup. */
void qv_gui_set_lang(int id);

/* Returns the tag of language id ("en-US", ...), a static text; an id outside 0 to 6 is
 * logged and answered with "en-US". */
const char *qv_langid2name(int id);

/* Returns the text of code in language id, falling back to language 0 when the
 * language lacks the code: a text owned by the catalogue, never null, never to be
 * freed. The empty text when code is null (nothing is built then), unknown, shorter
 * than nine characters, or cannot be looked up. An id outside 0 to 6 is logged (for the
 * first 50 such calls of the process) and treated as 0. */
const char *qv_get_gui_message(int id, const char *code);

/* Returns the entry stored for code in language id, building the language on first
 * use, or null: for an id outside 0 to 6 (logged), when the language cannot be built
 * (logged), and for a code that is null, empty, shorter than nine characters or absent
 * (the language is built first even then). */
QVGuiEntry *qv_get_gui_hash_data(int id, const char *code);

/* Builds the table of language id (0 to 6). The caller holds qv_gui_lock and sets the
 * language's built flag afterwards. Returns 0; 1 for an id outside 0 to 6 or a language
 * that has a table already; 2 out of memory; or the status of the table's creation. A
 * failed build leaves no table behind, and a later call builds anew. */
unsigned qv_make_gui_messages(int id);

/* Returns the 32-bit key of a message code: its 4th and 5th characters as the high 16
 * bits, its 6th to 9th read as hexadecimal digits (either case) as the low 16 bits. The
 * first three characters and anything after the ninth do not count. A null code or one
 * shorter than nine characters gives 0, which no well-formed code yields (its family
 * letters are never zero bytes). Other characters in the digits' places are taken
 * unchecked (their byte value less '0', added with wrap-around), so a malformed code can
 * give the key of another code, or 0. */
uint32_t qv_gui_code_to_key(const char *code);

/* The release callback of catalogue tables: frees entry's converted text, then entry.
 * data is ignored; a null entry is ignored. */
void qv_free_gui_entry(void *entry, void *data);

/* The teardown, registered with atexit by the first build: destroys every built table,
 * disposes of qv_gui_lock and frees the fixed strings. */
void qv_free_gui_messages(void);

#endif
