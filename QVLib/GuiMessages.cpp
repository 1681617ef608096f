/*
 * GuiMessages: the catalogue's languages, lazy per-language builds, lookups with
 * fallback to "en-US", and the teardown at process exit.
 *
 * The per-language code and text arrays are generated from QVLib/messages/<tag>.msg at
 * build time (see QVLib/CMakeLists.txt); the generator has checked that every code has
 * nine characters and every text is valid UTF-8.
 *
 * Only builds take qv_gui_lock. A lookup reads the language's built flag with acquire
 * ordering and, once it is 1, searches a table that nobody changes any more; the flag is
 * written with release ordering after the table is complete. The one-time flag and the
 * wrong-language counter are atomic so that lookups from several threads stay race-free.
 */
#include "QVLib/GuiMessages.h"

#include <cstdlib>
#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/QVutf.h"

static const char QV_FILE[] = "QVLib/GuiMessages";

/* At most this many wrong language ids are reported per process. */
#define QV_GUI_WRONG_LANG_REPORTS 50

/* The generated tables, one pair per language: codes ended by a null pointer, texts of
 * the same length. */
#define QV_GUI_DECLARE_LANGUAGE(ident)                                                             \
    extern const char *const qv_gui_codes_##ident[];                                               \
    extern const char *const qv_gui_texts_##ident[]
QV_GUI_DECLARE_LANGUAGE(en_US);
QV_GUI_DECLARE_LANGUAGE(fr_FR);
QV_GUI_DECLARE_LANGUAGE(de_DE);
QV_GUI_DECLARE_LANGUAGE(nl_NL);
QV_GUI_DECLARE_LANGUAGE(es_ES);
QV_GUI_DECLARE_LANGUAGE(it_IT);
QV_GUI_DECLARE_LANGUAGE(ja_JP);

/* Each tag in a fixed slot of 6 characters, terminator included. */
static const char g_lang_tags[QV_GUI_LANG_COUNT][6] = {
    "en-US", "fr-FR", "de-DE", "nl-NL", "es-ES", "it-IT", "ja-JP",
};

std::atomic<int> qv_gui_lang{0};
QVmutex qv_gui_lock{nullptr, {QV_NO_OWNER}, 0};
QVGuiLang qv_gui_langs[QV_GUI_LANG_COUNT] = {
    {nullptr, qv_gui_texts_en_US, qv_gui_codes_en_US, {0}},
    {nullptr, qv_gui_texts_fr_FR, qv_gui_codes_fr_FR, {0}},
    {nullptr, qv_gui_texts_de_DE, qv_gui_codes_de_DE, {0}},
    {nullptr, qv_gui_texts_nl_NL, qv_gui_codes_nl_NL, {0}},
    {nullptr, qv_gui_texts_es_ES, qv_gui_codes_es_ES, {0}},
    {nullptr, qv_gui_texts_it_IT, qv_gui_codes_it_IT, {0}},
    {nullptr, qv_gui_texts_ja_JP, qv_gui_codes_ja_JP, {0}},
};
char **qv_gui_fixed_strings = nullptr;

/* Set when the first build of the process starts; never cleared. */
static std::atomic<bool> g_first_build_started{false};
/* Wrong language ids reported so far by qv_get_gui_message. */
static std::atomic<unsigned> g_wrong_lang_reports{0};

static const char g_empty_text[] = "";

/* Formats, literals, layouts, file names, optional modules, dialog failures, drawing
 * errors and hatch styles shared by the suite's programs, by number. Several rows repeat
 * another row's text, and some dialog messages end in blanks: both as the suite uses
 * them. */
const char *const qv_gui_fixed_sources[QV_GUI_FIXED_STRING_COUNT] = {
    /* 0-11: formats and short literals */
    " %d: %s",
    "%s - %s",
    "%s",
    "(%d:%d)",
    "%.1f",
    "%d",
    "%d",
    "??",
    "??",
    "?? time ??",
    " ",
    "",
    /* 12-24: time and date formats */
    "hh:mm tt",
    "%d",
    "%s %d: %02d/%02d %02d:%02d",
    "%s %.2d:%.2d - %s %.2d:%.2d",
    "%s: %s %.2d:%.2d - %s %.2d:%.2d",
    "%s %.2d:%.2d:%.2d.%.3d",
    "%s %.2d:%.2d - %s %.2d:%.2d",
    "%s: %.s %.2d:%.2d - %s %.2d:%.2d",
    "%s %.2d:%.2d:%.2d.%.3d",
    "  %.2d/%.2d %.2d:%.2d",
    "%02d:%02d-%02d:%02d  ",
    "%02d/%02d/%02d-%02d/%02d/%02d  ",
    "%m/%d/%y %I:%M:%S %p",
    /* 25-44: separators, counts and layouts */
    "X",
    " - ",
    "..",
    " ... ",
    "%4d   %s",
    "%s: %s",
    "%s %d",
    "%02d:%02d:%02d",
    "%dx%d",
    "1x1 @ ",
    "2x2 @ ",
    "3x3 @ ",
    "3x2 @ ",
    "4x4 @ ",
    "4x3 @ ",
    "4x2 @ ",
    "%d - %d",
    "%d ",
    "%s %s%s",
    "%s %s %s%s",
    /* 45-50: stored images, raw frames and video clips: file-name pattern, extension */
    "IMG_%s_%04d%02d%02d_%02d%02d%02d",
    ".jpg",
    "RAW_%s_%06d",
    ".yuv",
    "CLIP_%s_%04d%02d%02d_%02d%02d%02d",
    ".avi",
    /* 51-69: optional modules */
    "Video Analytics",
    "License Plate Recognition",
    "Face Detection",
    "People Counting",
    "Object Tracking",
    "Perimeter Protection",
    "Left Object Detection",
    "Camera Tamper Detection",
    "Crowd Detection",
    "Loitering Detection",
    "Map Viewer",
    "Alarm Station",
    "Remote Playback",
    "Video Export",
    "Web Client",
    "Mobile Client",
    "Failover Recording",
    "Audio Recording",
    "POS Integration",
    /* 70-89: dialog failures */
    "Internal error: Setup dialog initialization failed. ",
    "Internal error: System setup dialog initialization failed. ",
    "Internal error: Camera group dialog initialization failed. ",
    "Internal error: Settings dialog initialization failed. ",
    "Internal error: Calibration dialog initialization failed. ",
    "Internal error: Scene-object dialog initialization failed.",
    "Internal error: Zone dialog initialization failed.",
    "Internal error: Performance settings dialog initialization failed.",
    "Internal error: Map dialog initialization failed.",
    "Internal error: Tamper Detection dialog initialization failed.",
    "Internal error: Setting events dialog initialization failed.",
    "Internal error: Unable to create alarm video dialog.  ",
    "Internal error: Error initializing alarm video dialog.  ",
    "Internal error: Unable to create zone map dialog.  ",
    "Interanl error: Unable to create Live Monitoring Station dialog.  ",
    "Internal error: Unable to create Retrieval dialog.  ",
    "Internal error: Tamper Detection Properties dialog initialization failed.",
    "Internal error: Recording Schedule dialog initialization failed.",
    "Internal error: Alarm State dialog initialization failed. ",
    "Internal error: Video Export dialog initialization failed. ",
    /* 90-114: drawing and bitmap errors */
    "Invalid device context",
    "Invalid number of points",
    "Pen could not be created",
    "Brush could not be created",
    "Invalid selected point",
    "Could not create CWndBitmap",
    "Could not create CWndBitmap",
    "Bitmap structure not initialized",
    "Could not get bitmap information",
    "Bitmap file does not exist or could not be opened",
    "Bitmap handle is invalid",
    "Zoom factor can't be zero",
    "The function parameters are invalid",
    "This class requires a non-null parent window",
    "Menu could not be loaded",
    "Window does not exist",
    "Could not create tooltip",
    "Could not create a floorplan display object",
    "Object type is not valid",
    "Empty bitmap file",
    "Invalid bitmap file",
    "Unable to compress this DIB",
    "Driver can't do compression",
    "read error 1",
    "write error",
    /* 115-122: hatch styles */
    "None",
    "Solid",
    "Crosshatch",
    "Horizontal hatch",
    "Vertical hatch",
    "Downward diagonal crosshatch",
    "Upward diagonal crosshatch",
    "Diagonal crosshatch",
};

static bool valid_lang(int id)
{
    return id >= 0 && id < QV_GUI_LANG_COUNT;
}

void qv_gui_set_lang(int id)
{
    qv_gui_lang.store(id);
    if (qv_gui_lock.mutex == nullptr && qv_mutex_create(&qv_gui_lock) != 0)
        qv_log(QV_LOG_ERROR, "%s", "qv_gui_set_lang: Failed to create mutex");
}

const char *qv_langid2name(int id)
{
    if (!valid_lang(id)) {
        qv_log(QV_LOG_ERROR, "qv_langid2name: Called with an Invalig Language: %d", id);
        id = 0;
    }
    return g_lang_tags[id];
}

/* A character of the number part: 'a'-'f' and 'A'-'F' count 10 to 15, anything else its
 * byte value minus '0' (unchecked, wrapping in unsigned arithmetic). */
static uint32_t code_digit(unsigned char c)
{
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10u;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10u;
    return static_cast<uint32_t>(c) - static_cast<uint32_t>('0');
}

/* True when code has at least the nine characters a key is made of; reads no further
 * than its terminator. */
static bool full_length_code(const char *code)
{
    return code != nullptr && strnlen(code, QV_GUI_CODE_LENGTH) == QV_GUI_CODE_LENGTH;
}

uint32_t qv_gui_code_to_key(const char *code)
{
    if (!full_length_code(code))
        return 0;
    const unsigned char *c = reinterpret_cast<const unsigned char *>(code);
    uint32_t key = (static_cast<uint32_t>(c[3]) * 256u + c[4]) << 16; /* "KTRGU0079": 0x4755 */
    key += code_digit(c[5]) << 12;
    key += code_digit(c[6]) << 8;
    key += code_digit(c[7]) << 4;
    key += code_digit(c[8]);
    return key;
}

void qv_free_gui_entry(void *entry, void *data)
{
    (void)data;
    QVGuiEntry *gui_entry = static_cast<QVGuiEntry *>(entry);
    if (gui_entry == nullptr)
        return;
    free(gui_entry->converted);
    free(gui_entry);
}

/* The first build of the process registers the teardown and converts the fixed strings.
 * Returns 0, or 2 when the fixed-strings array cannot be allocated; the step is never
 * repeated, not even then. */
static unsigned first_build_step(void)
{
    if (g_first_build_started.exchange(true))
        return 0;
    if (atexit(qv_free_gui_messages) != 0)
        qv_log(QV_LOG_WARNING, "%s", "qv_make_gui_messages: cannot register the teardown");
    if (qv_gui_fixed_strings != nullptr)
        return 0;
    char **fixed = static_cast<char **>(
        qv_malloc(QV_GUI_FIXED_STRING_COUNT * sizeof(char *), QV_FILE, __LINE__, 1));
    if (fixed == nullptr)
        return 2;
    /* A failed conversion leaves the empty text in its slot; nothing reads them here. */
    for (int i = 0; i < QV_GUI_FIXED_STRING_COUNT; i++)
        qv_utf_convert(qv_gui_fixed_sources[i], &fixed[i]);
    qv_gui_fixed_strings = fixed;
    return 0;
}

/* Adds one entry per row of language id to its (new, empty) table. Returns 0 when every
 * row was stored or skipped, else the status that stopped it (2: out of memory). */
static unsigned fill_table(int id, QVGuiLang *lang)
{
    for (size_t i = 0; lang->codes[i] != nullptr; i++) {
        const char *code = lang->codes[i];
        if (code[0] == '\0')
            continue;
        if (!full_length_code(code)) {
            qv_log(QV_LOG_WARNING, "Malformed code:%s for lang:%s skipped", code,
                   qv_langid2name(id));
            continue;
        }
        QVGuiEntry *entry =
            static_cast<QVGuiEntry *>(qv_malloc(sizeof(QVGuiEntry), QV_FILE, __LINE__, 0));
        if (entry == nullptr)
            return 2;
        entry->source = lang->texts[i];
        entry->converted = nullptr;
        /* A text that cannot be converted is kept as the empty text (logged there). */
        qv_utf_convert(entry->source, &entry->converted);
        unsigned status = qv_hash_table_add(lang->table, qv_gui_code_to_key(code), entry);
        if (status == 0)
            continue;
        qv_free_gui_entry(entry, nullptr);
        if (status == 1) {
            qv_log(QV_LOG_WARNING, "Duplicate strings with Gcode:%s for lang:%s", code,
                   qv_langid2name(id));
            continue;
        }
        qv_log_trace(QV_FILE, __LINE__);
        return status;
    }
    return 0;
}

/* The build proper, between the starting and ending lines. */
static unsigned build_table(int id, QVGuiLang *lang)
{
    unsigned status = first_build_step();
    if (status != 0)
        return status;
    status = qv_hash_table_create(&lang->table, qv_free_gui_entry);
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        return status;
    }
    status = fill_table(id, lang);
    if (status != 0) /* the next build starts with a new table */
        qv_hash_table_destroy(&lang->table);
    return status;
}

unsigned qv_make_gui_messages(int id)
{
    if (!valid_lang(id)) {
        qv_log(QV_LOG_ERROR, "qv_make_gui_messages: Called with an invalid language: %d", id);
        return 1;
    }
    QVGuiLang *lang = &qv_gui_langs[id];
    /* A published table is searched without a lock: it must never be replaced. */
    if (lang->table != nullptr) {
        qv_log(QV_LOG_ERROR, "qv_make_gui_messages(%s): table exists already", qv_langid2name(id));
        return 1;
    }
    qv_log(QV_LOG_INFO, "qv_make_gui_messages(%s) starting", qv_langid2name(id));
    unsigned status = build_table(id, lang);
    qv_log(QV_LOG_INFO, "qv_make_gui_messages(%s) ending", qv_langid2name(id));
    return status;
}

/* Builds language id under qv_gui_lock unless another thread has done so meanwhile.
 * Returns true when the language is built. */
static bool build_language(int id, QVGuiLang *lang)
{
    if (qv_mutex_lock(&qv_gui_lock) != 0) {
        qv_log(QV_LOG_ERROR, "%s", "qv_get_gui_hash_data: Failed to lock mutex");
        return false;
    }
    if (lang->built.load(std::memory_order_acquire) == 0) {
        if (qv_make_gui_messages(id) != 0) {
            qv_log(QV_LOG_ERROR, "%s", "qv_get_gui_hash_data: Failed to create msg table");
            qv_mutex_release(&qv_gui_lock);
            return false;
        }
        lang->built.store(1, std::memory_order_release);
    }
    qv_mutex_release(&qv_gui_lock);
    return lang->built.load(std::memory_order_acquire) != 0;
}

QVGuiEntry *qv_get_gui_hash_data(int id, const char *code)
{
    if (static_cast<unsigned>(id) >= QV_GUI_LANG_COUNT) {
        qv_log(QV_LOG_ERROR, "qv_get_gui_hash_data: Called with an Invalig Language: %d", id);
        return nullptr;
    }
    QVGuiLang *lang = &qv_gui_langs[id];
    if (lang->built.load(std::memory_order_acquire) == 0 && !build_language(id, lang))
        return nullptr;
    if (!full_length_code(code))
        return nullptr;
    return static_cast<QVGuiEntry *>(qv_hash_table_find(lang->table, qv_gui_code_to_key(code)));
}

/* True while fewer than QV_GUI_WRONG_LANG_REPORTS reports were made; counts this one. */
static bool take_wrong_lang_report(void)
{
    unsigned made = g_wrong_lang_reports.load();
    while (made < QV_GUI_WRONG_LANG_REPORTS) {
        if (g_wrong_lang_reports.compare_exchange_weak(made, made + 1))
            return true;
    }
    return false;
}

const char *qv_get_gui_message(int id, const char *code)
{
    if (!valid_lang(id)) {
        if (take_wrong_lang_report())
            qv_log(QV_LOG_ERROR, "qv_get_gui_message: Language ID = [%d] is wrong", id);
        id = 0;
    }
    if (code == nullptr)
        return g_empty_text;
    QVGuiEntry *entry = qv_get_gui_hash_data(id, code);
    if (entry == nullptr && id != 0)
        entry = qv_get_gui_hash_data(0, code);
    if (entry == nullptr || entry->converted == nullptr)
        return g_empty_text;
    return entry->converted;
}

void qv_free_gui_messages(void)
{
    /* Without a lock object the lock operations report it; the teardown goes on. */
    qv_mutex_lock(&qv_gui_lock);
    for (QVGuiLang &lang : qv_gui_langs) {
        if (lang.built.load(std::memory_order_acquire) != 0) {
            lang.built.store(0, std::memory_order_release);
            qv_hash_table_destroy(&lang.table);
        }
    }
    qv_mutex_release(&qv_gui_lock);
    qv_mutex_finish(&qv_gui_lock);
    if (qv_gui_fixed_strings != nullptr) {
        for (int i = 0; i < QV_GUI_FIXED_STRING_COUNT; i++)
            free(qv_gui_fixed_strings[i]);
        free(qv_gui_fixed_strings);
        qv_gui_fixed_strings = nullptr;
    }
}
