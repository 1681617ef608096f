/*
 * Tests of the message catalogue that can share a process: keys, tags, lookups with and
 * without fallback, builds on first use, duplicates and failed conversions in a
 * language's rows, a missing lock, allocation failures during a build, and the
 * conversion to the locale's character set.
 *
 * Each test starts from a catalogue with nothing built (the teardown is called
 * directly, then the lock is made again). What happens once per process (the one-time
 * step, the exit handler, the wrong-language report limit, several threads' first
 * lookups, whole-catalogue runs under a chosen locale) is tested in processes of its own.
 */
#include <gtest/gtest.h>

#include <langinfo.h>
#include <locale.h>
#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "QVLib/GuiMessages.h"
#include "QVLib/QVutf.h"
#include "QVLib/QVmalloc.h"
#include "tests/support/LogCapture.h"

#if defined(__SANITIZE_ADDRESS__)
/* The address sanitizer's count of the heap in use (its allocator leaves malloc's own
 * figures empty). */
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#endif

namespace
{

const char kEnglish0079[] = "Error creating database users. See VADedeVeZovid.log.";

/* Returns the catalogue to "no language built", with its lock. The first call also lets
 * the one-time step of the process happen, so that every build in these tests does the
 * same work. */
void reset_catalogue()
{
    qv_malloc_fail_nth(0);
    StderrCapture quiet;
    qv_gui_set_lang(0);
    qv_get_gui_hash_data(6, "KTRGU0000");
    qv_free_gui_messages();
    qv_gui_set_lang(0);
}

/* The stored UTF-8 text of code in language id, or null when the language lacks it. */
const char *source_text(int id, const char *code)
{
    const QVGuiLang &lang = qv_gui_langs[id];
    for (size_t i = 0; lang.codes[i] != nullptr; i++)
        if (strcmp(lang.codes[i], code) == 0)
            return lang.texts[i];
    return nullptr;
}

size_t row_count(int id)
{
    size_t n = 0;
    while (qv_gui_langs[id].codes[n] != nullptr)
        n++;
    return n;
}

std::vector<int> built_languages()
{
    std::vector<int> ids;
    for (int id = 0; id < QV_GUI_LANG_COUNT; id++)
        if (qv_gui_langs[id].built.load() != 0)
            ids.push_back(id);
    return ids;
}

/* Lines of a capture that are not INFO lines. */
std::vector<std::string> problems(const std::vector<std::string> &lines)
{
    std::vector<std::string> kept;
    for (const std::string &line : lines)
        if (line.compare(0, 4, "INFO") != 0)
            kept.push_back(line);
    return kept;
}

class Catalogue : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        reset_catalogue();
    }
    void TearDown() override
    {
        reset_catalogue();
    }
};

/* Puts rows of the test's own in place of language id's for the test's duration. */
class ReplacedLanguage
{
  public:
    ReplacedLanguage(int id, const char *const *codes, const char *const *texts)
        : id_(id), codes_(qv_gui_langs[id].codes), texts_(qv_gui_langs[id].texts)
    {
        qv_gui_langs[id].codes = codes;
        qv_gui_langs[id].texts = texts;
    }
    ~ReplacedLanguage()
    {
        reset_catalogue();
        qv_gui_langs[id_].codes = codes_;
        qv_gui_langs[id_].texts = texts_;
    }

  private:
    int id_;
    const char *const *codes_;
    const char *const *texts_;
};

/* Makes the calling thread convert to the character set of locale name until the
 * object goes; the process's locale stays as it is. */
class ThreadLocale
{
  public:
    explicit ThreadLocale(const char *name)
        : locale_(newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0)))
    {
        if (locale_ != static_cast<locale_t>(0))
            previous_ = uselocale(locale_);
    }
    ~ThreadLocale()
    {
        if (locale_ != static_cast<locale_t>(0)) {
            uselocale(previous_);
            freelocale(locale_);
        }
    }
    bool ok() const
    {
        return locale_ != static_cast<locale_t>(0);
    }

  private:
    locale_t locale_;
    locale_t previous_ = LC_GLOBAL_LOCALE;
};

/* ---- keys and tags ------------------------------------------------------------------ */

TEST(GuiCodeToKey, FamilyLettersHighAndHexNumberLow)
{
    EXPECT_EQ(1196753017u, qv_gui_code_to_key("KTRGU0079"));
    EXPECT_EQ(0x47550079u, qv_gui_code_to_key("KTRGU0079"));
    EXPECT_EQ(0x4241001Eu, qv_gui_code_to_key("KTRBA001e"));
    EXPECT_EQ(0x5A44FFFFu, qv_gui_code_to_key("KTRZDffff"));
    /* Hexadecimal letters in either case; the prefix and what follows the ninth
     * character do not count. */
    EXPECT_EQ(qv_gui_code_to_key("KTRGU030A"), qv_gui_code_to_key("KTRGU030a"));
    EXPECT_EQ(0x4755030Au, qv_gui_code_to_key("KTRGU030a"));
    EXPECT_EQ(qv_gui_code_to_key("KTRGU0079"), qv_gui_code_to_key("XYZGU0079"));
    EXPECT_EQ(qv_gui_code_to_key("KTRGU0079"), qv_gui_code_to_key("KTRGU0079 and more"));
}

TEST(GuiCodeToKey, ShortCodesGiveZeroAndAreNotReadPastTheirEnd)
{
    EXPECT_EQ(0u, qv_gui_code_to_key(nullptr));
    EXPECT_EQ(0u, qv_gui_code_to_key(""));
    const char full[] = "KTRGU0079";
    for (size_t length = 1; length < 9; length++) {
        /* A heap block of exactly the code's size: the address sanitizer sees any read
         * beyond the terminator. */
        char *code = static_cast<char *>(malloc(length + 1));
        memcpy(code, full, length);
        code[length] = '\0';
        EXPECT_EQ(0u, qv_gui_code_to_key(code)) << code;
        free(code);
    }
}

TEST(GuiLangNames, TagsByIdAndEnglishForWrongIds)
{
    const char *tags[] = {"en-US", "fr-FR", "de-DE", "nl-NL", "es-ES", "it-IT", "ja-JP"};
    for (int id = 0; id < 7; id++)
        EXPECT_STREQ(tags[id], qv_langid2name(id));
    StderrCapture capture;
    EXPECT_STREQ("en-US", qv_langid2name(7));
    EXPECT_STREQ("en-US", qv_langid2name(-1));
    auto lines = capture.finish();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("ERROR  : qv_langid2name: Called with an Invalig Language: 7", lines[0]);
    EXPECT_EQ("ERROR  : qv_langid2name: Called with an Invalig Language: -1", lines[1]);
}

TEST(GuiSetLang, StoresTheLanguageAndKeepsOneLock)
{
    qv_gui_set_lang(0);
    void *lock = qv_gui_lock.mutex;
    ASSERT_NE(nullptr, lock);
    qv_gui_set_lang(3);
    EXPECT_EQ(3, qv_gui_lang.load());
    EXPECT_EQ(lock, qv_gui_lock.mutex);
    qv_gui_set_lang(0);
    EXPECT_EQ(0, qv_gui_lang.load());
}

/* ---- lookups ------------------------------------------------------------------------ */

TEST_F(Catalogue, FirstLookupBuildsThatLanguageOnce)
{
    StderrCapture capture;
    const char *text = qv_get_gui_message(0, "KTRGU0079");
    auto lines = capture.finish();
    EXPECT_STREQ(kEnglish0079, text);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("INFO   : qv_make_gui_messages(en-US) starting", lines[0]);
    EXPECT_EQ("INFO   : qv_make_gui_messages(en-US) ending", lines[1]);
    EXPECT_EQ(std::vector<int>{0}, built_languages());
    EXPECT_EQ(1292u, qv_gui_langs[0].table->entry_count);

    StderrCapture again;
    EXPECT_EQ(text, qv_get_gui_message(0, "KTRGU0079")); /* the same stored text */
    EXPECT_TRUE(again.finish().empty());

    QVGuiEntry *entry = qv_get_gui_hash_data(0, "KTRGU0079");
    ASSERT_NE(nullptr, entry);
    EXPECT_EQ(source_text(0, "KTRGU0079"), entry->source);
    EXPECT_EQ(text, entry->converted);
}

TEST_F(Catalogue, LanguagesLackingACodeFallBackToEnglish)
{
    /* de-DE lacks KTRGU0004, fr-FR lacks KTRGU030C, ja-JP has only KTRGU0000. */
    ASSERT_EQ(nullptr, source_text(2, "KTRGU0004"));
    EXPECT_STREQ(source_text(0, "KTRGU0004"), qv_get_gui_message(2, "KTRGU0004"));
    EXPECT_EQ((std::vector<int>{0, 2}), built_languages());
    EXPECT_STREQ(source_text(0, "KTRGU030C"), qv_get_gui_message(1, "KTRGU030C"));
    EXPECT_STREQ(kEnglish0079, qv_get_gui_message(6, "KTRGU0079"));
    EXPECT_EQ(nullptr, qv_get_gui_hash_data(6, "KTRGU0079"));
}

TEST_F(Catalogue, AnEmptyTextIsFoundAndNotReplacedByEnglish)
{
    /* ja-JP's only row has the empty text: found, so English is not even built. */
    const char *text = qv_get_gui_message(6, "KTRGU0000");
    EXPECT_STREQ("", text);
    EXPECT_EQ(std::vector<int>{6}, built_languages());
    EXPECT_STREQ("", qv_get_gui_message(2, "KTROB0003"));
    EXPECT_STREQ("", qv_get_gui_message(4, "KTREP0000"));
    EXPECT_EQ((std::vector<int>{2, 4, 6}), built_languages());
}

TEST_F(Catalogue, UnknownCodesGiveTheEmptyText)
{
    EXPECT_STREQ("", qv_get_gui_message(0, "KTRGU0186")); /* a gap in family GU */
    EXPECT_EQ(std::vector<int>{0}, built_languages());    /* no further fallback */
    EXPECT_STREQ("", qv_get_gui_message(3, "KTRQQ0001"));
    EXPECT_EQ((std::vector<int>{0, 3}), built_languages());
}

TEST_F(Catalogue, HexLettersMatchInEitherCaseAndThePrefixDoesNotCount)
{
    const char *upper = qv_get_gui_message(0, "KTRGU030A");
    EXPECT_STREQ(source_text(0, "KTRGU030A"), upper);
    EXPECT_EQ(upper, qv_get_gui_message(0, "KTRGU030a"));
    EXPECT_EQ(qv_get_gui_message(3, "KTRGU030b"), qv_get_gui_message(3, "KTRGU030B"));
    EXPECT_EQ(qv_get_gui_message(0, "KTRGU0079"), qv_get_gui_message(0, "QVXGU0079"));
}

TEST_F(Catalogue, NullCodeBuildsNothingButAnEmptyCodeBuilds)
{
    StderrCapture capture;
    EXPECT_STREQ("", qv_get_gui_message(2, nullptr));
    EXPECT_TRUE(capture.finish().empty());
    EXPECT_TRUE(built_languages().empty());

    EXPECT_EQ(nullptr, qv_get_gui_hash_data(5, ""));
    EXPECT_EQ(std::vector<int>{5}, built_languages());
    EXPECT_STREQ("", qv_get_gui_message(2, "")); /* de-DE, then the fallback, are built */
    EXPECT_EQ((std::vector<int>{0, 2, 5}), built_languages());
}

TEST_F(Catalogue, CodesShorterThanNineCharactersAreNotFound)
{
    const char full[] = "KTRGU0079";
    for (size_t length = 1; length < 9; length++) {
        char *code = static_cast<char *>(malloc(length + 1)); /* exactly sized */
        memcpy(code, full, length);
        code[length] = '\0';
        EXPECT_STREQ("", qv_get_gui_message(1, code)) << code;
        EXPECT_EQ(nullptr, qv_get_gui_hash_data(0, code)) << code;
        free(code);
    }
}

TEST_F(Catalogue, WrongLanguageIds)
{
    StderrCapture capture;
    EXPECT_EQ(nullptr, qv_get_gui_hash_data(7, "KTRGU0079"));
    EXPECT_EQ(nullptr, qv_get_gui_hash_data(-1, "KTRGU0079"));
    auto lines = capture.finish();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("ERROR  : qv_get_gui_hash_data: Called with an Invalig Language: 7", lines[0]);
    EXPECT_EQ("ERROR  : qv_get_gui_hash_data: Called with an Invalig Language: -1", lines[1]);
    EXPECT_TRUE(built_languages().empty());

    /* qv_get_gui_message treats them as language 0 (its report limit is tested in a
     * process of its own). */
    EXPECT_STREQ(kEnglish0079, qv_get_gui_message(7, "KTRGU0079"));
    EXPECT_STREQ(kEnglish0079, qv_get_gui_message(-100, "KTRGU0079"));
    EXPECT_EQ(std::vector<int>{0}, built_languages());
}

TEST_F(Catalogue, WithoutTheLockNothingIsBuilt)
{
    qv_free_gui_messages(); /* as after the teardown: no lock object */
    ASSERT_EQ(nullptr, qv_gui_lock.mutex);
    StderrCapture capture;
    EXPECT_STREQ("", qv_get_gui_message(0, "KTRGU0079"));
    auto lines = capture.finish();
    EXPECT_EQ((std::vector<std::string>{"ERROR  : qv_mutex_lock: mutex already freed",
                                        "ERROR  : qv_get_gui_hash_data: Failed to lock mutex"}),
              lines);
    StderrCapture other;
    EXPECT_STREQ("", qv_get_gui_message(2, "KTRGU0079")); /* its own try and English's */
    lines = other.finish();
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ(lines[0], lines[2]);
    EXPECT_EQ(lines[1], lines[3]);
    EXPECT_TRUE(built_languages().empty());

    qv_gui_set_lang(0);
    EXPECT_STREQ(kEnglish0079, qv_get_gui_message(0, "KTRGU0079"));
}

TEST_F(Catalogue, FailedBuildLeavesTheLanguageUnbuiltAndIsRetried)
{
    StderrCapture capture;
    qv_malloc_fail_nth(1); /* the table's record */
    EXPECT_STREQ("", qv_get_gui_message(0, "KTRGU0079"));
    qv_malloc_fail_nth(0);
    auto lines = problems(capture.finish());
    ASSERT_EQ(3u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("at QVHashTable:"));
    EXPECT_NE(std::string::npos, lines[0].find("out of memory"));
    EXPECT_EQ(0u, lines[1].find("STACK_TRACE at GuiMessages:"));
    EXPECT_EQ("ERROR  : qv_get_gui_hash_data: Failed to create msg table", lines[2]);
    EXPECT_TRUE(built_languages().empty());
    EXPECT_EQ(nullptr, qv_gui_langs[0].table);

    EXPECT_STREQ(kEnglish0079, qv_get_gui_message(0, "KTRGU0079"));
    EXPECT_EQ(1292u, qv_gui_langs[0].table->entry_count);
}

TEST_F(Catalogue, BuildingAnExistingTableIsRefused)
{
    qv_get_gui_message(0, "KTRGU0079");
    QVHashTable *table = qv_gui_langs[0].table;
    StderrCapture capture;
    ASSERT_EQ(0u, qv_mutex_lock(&qv_gui_lock));
    EXPECT_EQ(1u, qv_make_gui_messages(0));
    EXPECT_EQ(1u, qv_make_gui_messages(7));
    qv_mutex_release(&qv_gui_lock);
    auto lines = capture.finish();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("ERROR  : qv_make_gui_messages(en-US): table exists already", lines[0]);
    EXPECT_EQ(table, qv_gui_langs[0].table);
}

/* ---- rows of a language ------------------------------------------------------------- */

TEST_F(Catalogue, DuplicateKeysKeepTheFirstRowAndSkippedRows)
{
    static const char *const codes[] = {"KTRGU0001", "",        "KTRGU0001", "KTRGU000a",
                                        "KTRGU000A", "KTRGU01", "KTRGU0002", nullptr};
    static const char *const texts[] = {"first", "skipped", "second", "lower",
                                        "upper", "short",   "third",  nullptr};
    ReplacedLanguage replaced(6, codes, texts);
    StderrCapture capture;
    EXPECT_STREQ("first", qv_get_gui_message(6, "KTRGU0001"));
    auto lines = problems(capture.finish());
    EXPECT_EQ((std::vector<std::string>{
                  "ERROR  : qv_hash_table_add: key value 1196752897 already in table",
                  "WARNING: Duplicate strings with Gcode:KTRGU0001 for lang:ja-JP",
                  "ERROR  : qv_hash_table_add: key value 1196752906 already in table",
                  "WARNING: Duplicate strings with Gcode:KTRGU000A for lang:ja-JP",
                  "WARNING: Malformed code:KTRGU01 for lang:ja-JP skipped",
              }),
              lines);
    EXPECT_EQ(3u, qv_gui_langs[6].table->entry_count);
    EXPECT_STREQ("lower", qv_get_gui_message(6, "KTRGU000A"));
    EXPECT_STREQ("third", qv_get_gui_message(6, "KTRGU0002"));
    EXPECT_EQ(std::vector<int>{6}, built_languages());
}

TEST_F(Catalogue, TextThatFailsConversionIsStoredAsTheEmptyText)
{
    /* A lone lead byte, and a sequence cut short at the end of the text. */
    static const char *const codes[] = {"KTRGU0079", "KTRGU0001", "KTRGU0002", nullptr};
    static const char *const texts[] = {"Fout \xC3( bij", "ok", "end \xE2\x82", nullptr};
    ReplacedLanguage replaced(3, codes, texts);
    StderrCapture capture;
    const char *text = qv_get_gui_message(3, "KTRGU0079");
    auto lines = problems(capture.finish());
    EXPECT_STREQ("", text); /* found: no fallback to English */
    EXPECT_EQ((std::vector<std::string>{
                  "ERROR  : Error 84 getting size needed to convert from CP 65001 to UTF-16",
                  "ERROR  : Error 22 getting size needed to convert from CP 65001 to UTF-16",
              }),
              lines);
    EXPECT_STREQ("ok", qv_get_gui_message(3, "KTRGU0001"));
    EXPECT_STREQ("", qv_get_gui_message(3, "KTRGU0002"));
    EXPECT_EQ(std::vector<int>{3}, built_languages());
}

TEST_F(Catalogue, EntryWithoutAConvertedTextReadsAsEmpty)
{
    /* What a lasting memory shortage leaves: not even the empty text was allocated. */
    QVGuiEntry *entry = qv_get_gui_hash_data(0, "KTRGU0079");
    ASSERT_NE(nullptr, entry);
    char *converted = entry->converted;
    entry->converted = nullptr;
    EXPECT_STREQ("", qv_get_gui_message(0, "KTRGU0079"));
    EXPECT_STREQ("", qv_get_gui_message(6, "KTRGU0079"));
    entry->converted = converted;
}

/* Bytes the heap has handed out and not got back. The thread sanitizer's allocator keeps
 * no exact count: 0 there. */
long long heap_in_use()
{
#if defined(__SANITIZE_ADDRESS__)
    return static_cast<long long>(__sanitizer_get_current_allocated_bytes());
#elif defined(__SANITIZE_THREAD__)
    return 0;
#else
    return static_cast<long long>(mallinfo2().uordblks);
#endif
}

TEST_F(Catalogue, ReleasingAnEntryReleasesItsConvertedText)
{
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "no exact heap figures under the thread sanitizer";
#endif
    /* Blocks too large for the allocator's per-thread caches, so that their release
     * shows in the heap's figures. The source text is static: never released. */
    QVGuiEntry *entry = static_cast<QVGuiEntry *>(malloc(4096));
    entry->source = "static text";
    entry->converted = static_cast<char *>(malloc(8192));
    long long before = heap_in_use();
    qv_free_gui_entry(entry, reinterpret_cast<void *>(0x1)); /* the datum is ignored */
    EXPECT_GE(before - heap_in_use(), 4096 + 8192);

    entry = static_cast<QVGuiEntry *>(malloc(4096));
    entry->converted = nullptr;
    before = heap_in_use();
    qv_free_gui_entry(entry, nullptr);
    EXPECT_GE(before - heap_in_use(), 4096);

    before = heap_in_use();
    qv_free_gui_entry(nullptr, nullptr);
    EXPECT_EQ(before, heap_in_use());
}

/* ---- allocation failures during a build ---------------------------------------------- */

/* Makes the n-th allocation from now fail during a lookup of code in language id, from
 * a catalogue with nothing built. Returns how many allocations the seam failed (0 or
 * 1), and the log lines. */
unsigned long lookup_failing_at(unsigned long n, int id, const char *code,
                                std::vector<std::string> *lines = nullptr)
{
    reset_catalogue();
    StderrCapture capture;
    qv_malloc_fail_nth(n);
    qv_get_gui_hash_data(id, code);
    unsigned long failed = qv_malloc_injected_failures();
    qv_malloc_fail_nth(0);
    auto captured = capture.finish();
    if (lines != nullptr)
        *lines = captured;
    return failed;
}

/* The number of allocations that building language id makes. */
unsigned long allocations_of_build(int id, const char *code)
{
    unsigned long low = 0, high = 1; /* allocation low fails, high is past the end */
    while (lookup_failing_at(high, id, code) != 0) {
        low = high;
        high *= 2;
    }
    while (high - low > 1) {
        unsigned long middle = low + (high - low) / 2;
        (lookup_failing_at(middle, id, code) != 0 ? low : high) = middle;
    }
    return low;
}

/* Checks the intended outcome of a build of language id in which allocation n failed:
 * either the build failed (language unbuilt, and the next lookup builds it), or a
 * text's conversion failed and that one entry holds the empty text. Texts are
 * compared with their sources: the language's texts must be ASCII. */
void check_build_failing_at(unsigned long n, int id, const char *code)
{
    SCOPED_TRACE("allocation " + std::to_string(n));
    std::vector<std::string> lines;
    ASSERT_EQ(1u, lookup_failing_at(n, id, code, &lines));
    ASSERT_TRUE(any_line_contains(lines, "out of memory"));
    QVGuiLang &lang = qv_gui_langs[id];
    if (any_line_contains(lines, "qv_get_gui_hash_data: Failed to create msg table")) {
        EXPECT_EQ(0u, lang.built.load());
        EXPECT_EQ(nullptr, lang.table);
        StderrCapture quiet;
        ASSERT_NE(nullptr, qv_get_gui_hash_data(id, code)); /* built anew */
        EXPECT_EQ(1u, lang.built.load());
        EXPECT_EQ(row_count(id), lang.table->entry_count);
        return;
    }
    /* The build went through: a conversion ran out of memory. */
    EXPECT_TRUE(any_line_contains(lines, "at UtfPosix:"));
    ASSERT_EQ(1u, lang.built.load());
    ASSERT_EQ(row_count(id), lang.table->entry_count);
    int emptied = 0;
    for (size_t i = 0; lang.codes[i] != nullptr; i++) {
        auto *entry = static_cast<QVGuiEntry *>(
            qv_hash_table_find(lang.table, qv_gui_code_to_key(lang.codes[i])));
        ASSERT_NE(nullptr, entry);
        ASSERT_NE(nullptr, entry->converted);
        if (strcmp(entry->converted, entry->source) != 0) {
            EXPECT_STREQ("", entry->converted);
            emptied++;
        }
    }
    EXPECT_LE(emptied, 1);
}

TEST_F(Catalogue, EveryAllocationOfASmallBuildFailingInTurn)
{
    /* ja-JP: the table (record, lock, buckets), then per row the entry, the converted
     * empty text and the node. */
    unsigned long total = allocations_of_build(6, "KTRGU0000");
    EXPECT_EQ(6u, total);
    for (unsigned long n = 1; n <= total; n++)
        check_build_failing_at(n, 6, "KTRGU0000");
}

TEST_F(Catalogue, AllocationsOfTheEnglishBuildFailingInTurn)
{
    unsigned long total = allocations_of_build(0, "KTRGU0079");
    ASSERT_GT(total, 3 * 1292u);
    /* Every allocation of the first and the last rows, and a stride through the rest
     * (a row takes four: entry, UTF-32 buffer, converted text, node). */
    std::vector<unsigned long> picks;
    for (unsigned long n = 1; n <= 40; n++)
        picks.push_back(n);
    for (unsigned long n = 41; n < total - 40; n += 29) /* 29 % 4: every kind in turn */
        picks.push_back(n);
    for (unsigned long n = total - 40; n <= total; n++)
        picks.push_back(n);
    for (unsigned long n : picks) {
        check_build_failing_at(n, 0, "KTRGU0079");
        if (HasFatalFailure())
            return;
    }
}

/* ---- conversion to the locale's character set --------------------------------------- */

TEST(UtfConvert, MissingAndEmptyTexts)
{
    StderrCapture capture;
    EXPECT_EQ(1u, qv_utf_convert("x", nullptr));
    auto lines = capture.finish();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(0u, lines[0].find("ERROR   at UtfPosix:"));
    EXPECT_NE(std::string::npos, lines[0].find(": qv_utf_convert: NULL output pointer"));

    char *out = reinterpret_cast<char *>(0x1);
    EXPECT_EQ(0u, qv_utf_convert(nullptr, &out));
    EXPECT_EQ(nullptr, out);

    char *first = nullptr, *second = nullptr;
    EXPECT_EQ(0u, qv_utf_convert("", &first));
    EXPECT_EQ(0u, qv_utf_convert("", &second));
    ASSERT_NE(nullptr, first);
    EXPECT_STREQ("", first);
    EXPECT_NE(first, second); /* each a block of its own */
    free(first);
    free(second);
}

TEST(UtfConvert, AsciiPassesUnchanged)
{
    std::string text = "Line one\nline two\r\n\t%chanId% \"quoted\" \\ end";
    char *out = nullptr;
    ASSERT_EQ(0u, qv_utf_convert(text.c_str(), &out));
    EXPECT_EQ(text, out);
    free(out);
    std::string longer(5000, 'k'); /* beyond the measuring pass's scratch buffer */
    ASSERT_EQ(0u, qv_utf_convert(longer.c_str(), &out));
    EXPECT_EQ(longer, out);
    free(out);
}

TEST(UtfConvert, UnderAUtf8LocaleEveryCharacterIsKept)
{
    ThreadLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.ok());
    ASSERT_STREQ("UTF-8", nl_langinfo(CODESET));
    const char *texts[] = {"création données", "Straße \"VADedeVeZovid.log\"", "日本語",
                           "a\xF0\x9F\x93\xB7z"};
    for (const char *text : texts) {
        char *out = nullptr;
        ASSERT_EQ(0u, qv_utf_convert(text, &out));
        EXPECT_STREQ(text, out);
        free(out);
    }
}

TEST(UtfConvert, UnderTheCLocaleEachUnrepresentableCharacterBecomesAQuestionMark)
{
    ThreadLocale ascii("C");
    ASSERT_TRUE(ascii.ok());
    struct {
        const char *in, *out;
    } cases[] = {
        {"création données", "cr?ation donn?es"},
        {"日本語", "???"},
        {"a\xF0\x9F\x93\xB7z", "a?z"},
        {"é", "?"},
    };
    StderrCapture capture;
    for (const auto &each : cases) {
        char *out = nullptr;
        ASSERT_EQ(0u, qv_utf_convert(each.in, &out));
        EXPECT_STREQ(each.out, out);
        free(out);
    }
    std::string many;
    for (int i = 0; i < 300; i++)
        many += "ü";
    char *out = nullptr;
    ASSERT_EQ(0u, qv_utf_convert(many.c_str(), &out));
    EXPECT_EQ(std::string(300, '?'), out);
    free(out);
    EXPECT_TRUE(capture.finish().empty());
}

TEST(UtfConvert, InvalidUtf8GivesTheEmptyTextAndStatus1)
{
    const char *bad[] = {"\xC3(", "\xE2\x82", "\xED\xA0\x80", "\xC0\xAF", "ok \xFF"};
    for (const char *text : bad) {
        StderrCapture capture;
        char *out = nullptr;
        EXPECT_EQ(1u, qv_utf_convert(text, &out));
        auto lines = capture.finish();
        ASSERT_NE(nullptr, out);
        EXPECT_STREQ("", out);
        free(out);
        ASSERT_EQ(1u, lines.size());
        EXPECT_NE(std::string::npos,
                  lines[0].find("getting size needed to convert from CP 65001 to UTF-16"));
    }
}

TEST(UtfConvert, AllocationFailures)
{
    struct {
        unsigned long n;
        bool persistent;
        std::vector<std::string> sizes; /* of the out-of-memory lines, in order */
        bool has_text;
    } cases[] = {
        {1, false, {"8"}, true},                /* the UTF-32 buffer of "ab" */
        {2, false, {"3"}, true},                /* the converted text */
        {1, true, {"8", "1", "1", "1"}, false}, /* and the empty text, three times */
        {2, true, {"3", "1", "1", "1"}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.n);
        StderrCapture capture;
        char *out = reinterpret_cast<char *>(0x1);
        qv_malloc_fail_nth(c.n, c.persistent);
        unsigned status = qv_utf_convert("ab", &out);
        qv_malloc_fail_nth(0);
        auto lines = capture.finish();
        EXPECT_EQ(2u, status);
        if (c.has_text) {
            ASSERT_NE(nullptr, out);
            EXPECT_STREQ("", out);
        } else {
            EXPECT_EQ(nullptr, out);
        }
        free(out);
        ASSERT_EQ(c.sizes.size(), lines.size());
        for (size_t i = 0; i < lines.size(); i++) {
            EXPECT_EQ(0u, lines[i].find("ERROR   at UtfPosix:")) << lines[i];
            EXPECT_NE(std::string::npos,
                      lines[i].find(": : out of memory. Size requested = " + c.sizes[i]))
                << lines[i];
        }
    }
}

TEST(UtfConvert, EmptyTextIsRetriedWhenItsByteCannotBeAllocated)
{
    StderrCapture capture;
    char *out = nullptr;
    qv_malloc_fail_nth(1);
    EXPECT_EQ(2u, qv_utf_convert("", &out));
    qv_malloc_fail_nth(0);
    auto lines = capture.finish();
    ASSERT_NE(nullptr, out);
    EXPECT_STREQ("", out);
    free(out);
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("out of memory. Size requested = 1"));
}

} // namespace
