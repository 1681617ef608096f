/*
 * Tests of the catalogue's contents: every language's codes (families, numbers,
 * coverage and row order) against the family table below, the texts that are fixed
 * (the provisioning failure message, the status texts, the empty texts, the fixed
 * strings), and every language built under a UTF-8 locale with every text intact.
 *
 * Runs in a process of its own under the C.UTF-8 locale, so that converted texts equal
 * their UTF-8 sources. A message file edit that drops, duplicates, renames or moves a
 * row fails here.
 */
#include <gtest/gtest.h>

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "QVLib/GuiMessages.h"
#include "tests/support/LogCapture.h"

namespace
{

class Utf8Locale : public ::testing::Environment
{
  public:
    void SetUp() override
    {
        ASSERT_NE(nullptr, setlocale(LC_CTYPE, "C.UTF-8"));
        ASSERT_STREQ("UTF-8", nl_langinfo(CODESET));
        qv_gui_set_lang(0);
    }
};
::testing::Environment *const g_utf8_locale = ::testing::AddGlobalTestEnvironment(new Utf8Locale);

enum { EN_US, FR_FR, DE_DE, NL_NL, ES_ES, IT_IT, JA_JP };

/* ---- the family table ---------------------------------------------------------------- */

struct Span {
    unsigned first, last;
};
using Numbers = std::vector<Span>;

struct Family {
    const char *name;
    Numbers numbers; /* in "en-US" */
};

const Numbers kEventNumbers = {
    {0x00, 0x00}, {0x02, 0x04}, {0x08, 0x0c}, {0x11, 0x16}, {0x21, 0x2f}, {0x31, 0x32},
    {0x36, 0x47}, {0x51, 0x58}, {0x61, 0x69}, {0x71, 0x73}, {0x76, 0x77}, {0x81, 0x8b},
    {0x91, 0x94}, {0xa1, 0xad}, {0xb1, 0xb2}, {0xc0, 0xcd},
};
const Numbers kZoneNumbers = {{0x00, 0x20}};

/* In the order in which "en-US" stores them. */
const std::vector<Family> kFamilies = {
    {"GU",
     {{0x000, 0x185},
      {0x18c, 0x1a0},
      {0x1a2, 0x207},
      {0x220, 0x259},
      {0x26a, 0x2c7},
      {0x2cc, 0x2d8},
      {0x2db, 0x30d},
      {0x31a, 0x31a}}},
    {"EP", {{0x00, 0x19}}},
    {"CE", {{0x00, 0x1c}}},
    {"SE", {{0x00, 0x0c}}},
    {"SC", {{0x00, 0x0b}}},
    {"PM", {{0x01, 0x02}, {0x04, 0x04}, {0x08, 0x08}, {0x10, 0x10}, {0x20, 0x20}}},
    {"PN", {{0x01, 0x03}, {0x05, 0x06}, {0x7f, 0x80}, {0xff, 0xff}}},
    {"BA", {{0x00, 0x1e}, {0x20, 0x25}}},
    {"CN", {{0x00, 0x06}}},
    {"ES", kEventNumbers},
    {"EF", kEventNumbers},
    {"ED", kEventNumbers},
    {"OB", {{0x00, 0x05}}},
    {"ZN", kZoneNumbers},
    {"ZD", kZoneNumbers},
    {"AC", {{0x00, 0x03}}},
};

const Numbers kEverything = {{0x0000, 0xffff}};

/* Codes lacking compared with "en-US", by family. */
using Lacking = std::map<std::string, Numbers>;

/* The same seven in "fr-FR", "nl-NL", "es-ES" and "it-IT". */
const Lacking kLackingInFourLanguages = {
    {"GU", {{0x30c, 0x30d}, {0x31a, 0x31a}}},
    {"SE", {{0x0c, 0x0c}}},
    {"SC", {{0x0b, 0x0b}}},
    {"ZN", {{0x20, 0x20}}},
    {"ZD", {{0x20, 0x20}}},
};

const Numbers kEventsLackingInGerman = {
    {0x04, 0x04}, {0x0a, 0x0c}, {0x36, 0x39}, {0x43, 0x46}, {0x51, 0x55}, {0x57, 0x58},
    {0x71, 0x71}, {0x73, 0x73}, {0x76, 0x77}, {0x81, 0x84}, {0x86, 0x87}, {0x89, 0x89},
    {0x8b, 0x8b}, {0x91, 0x93}, {0xa1, 0xa2}, {0xa4, 0xac}, {0xc9, 0xcd},
};
const Numbers kZonesLackingInGerman = {{0x04, 0x04}, {0x07, 0x07}, {0x0a, 0x0b},
                                       {0x18, 0x19}, {0x1b, 0x1b}, {0x1e, 0x20}};

const Lacking kLackingInGerman = {
    {"GU", {{0x004, 0x004}, {0x006, 0x006}, {0x013, 0x013}, {0x053, 0x053}, {0x05a, 0x05a},
            {0x068, 0x068}, {0x06a, 0x06d}, {0x071, 0x073}, {0x096, 0x096}, {0x09d, 0x09d},
            {0x0a0, 0x0a0}, {0x0a7, 0x0a9}, {0x0b1, 0x0b1}, {0x0b4, 0x0b4}, {0x0c3, 0x0c3},
            {0x0ce, 0x0ce}, {0x0d2, 0x0d2}, {0x10e, 0x113}, {0x11c, 0x11c}, {0x136, 0x137},
            {0x15b, 0x15b}, {0x15d, 0x15d}, {0x160, 0x163}, {0x1b0, 0x1b0}, {0x1b4, 0x1b5},
            {0x1b8, 0x1b8}, {0x1c6, 0x1c7}, {0x1d3, 0x1d3}, {0x1d6, 0x1d7}, {0x1d9, 0x1d9},
            {0x1e1, 0x207}, {0x220, 0x257}, {0x26f, 0x2c7}, {0x2cc, 0x2d8}, {0x2db, 0x30d},
            {0x31a, 0x31a}}},
    {"EP", {{0x02, 0x02}, {0x07, 0x0a}, {0x0e, 0x0f}, {0x11, 0x12}, {0x14, 0x19}}},
    {"CE", {{0x19, 0x1c}}},
    {"SE", {{0x0c, 0x0c}}},
    {"SC", {{0x0b, 0x0b}}},
    {"PN", kEverything},
    {"BA", {{0x20, 0x25}}},
    {"ES", kEventsLackingInGerman},
    {"EF", kEventsLackingInGerman},
    {"ED", kEventsLackingInGerman},
    {"ZN", kZonesLackingInGerman},
    {"ZD", kZonesLackingInGerman},
    {"AC", kEverything},
};

bool contains(const Numbers &numbers, unsigned n)
{
    for (const Span &span : numbers)
        if (n >= span.first && n <= span.last)
            return true;
    return false;
}

/* The numbers of family that language holds, ascending. */
std::vector<unsigned> held_numbers(const Family &family, const Lacking &lacking)
{
    auto lack = lacking.find(family.name);
    std::vector<unsigned> held;
    for (const Span &span : family.numbers)
        for (unsigned n = span.first; n <= span.last; n++)
            if (lack == lacking.end() || !contains(lack->second, n))
                held.push_back(n);
    return held;
}

/* A code as the language writes it: lower-case hexadecimal, except "en-US"'s
 * "KTRGU030A" to "KTRGU030D". */
std::string code_of(int id, const std::string &family, unsigned n)
{
    bool upper = id == EN_US && family == "GU" && n >= 0x30a && n <= 0x30d;
    char text[16];
    snprintf(text, sizeof text, upper ? "KTR%s%04X" : "KTR%s%04x", family.c_str(), n);
    return text;
}

const Family &family_named(const std::string &name)
{
    for (const Family &family : kFamilies)
        if (name == family.name)
            return family;
    throw std::logic_error("no family " + name);
}

/* The codes of language id in the order it must store them. */
std::vector<std::string> expected_codes(int id)
{
    if (id == JA_JP)
        return {"KTRGU0000"};
    static const Lacking kNone;
    const Lacking &lacking =
        id == EN_US ? kNone : (id == DE_DE ? kLackingInGerman : kLackingInFourLanguages);
    bool blocks = id == DE_DE; /* else the event and zone families are interleaved */
    const std::vector<std::vector<std::string>> groups = {{"ES", "EF", "ED"}, {"ZN", "ZD"}};

    std::vector<std::string> codes;
    for (const Family &family : kFamilies) {
        const std::vector<std::string> *group = nullptr;
        for (const auto &g : groups)
            if (std::find(g.begin(), g.end(), family.name) != g.end())
                group = &g;
        if (group == nullptr) {
            for (unsigned n : held_numbers(family, lacking))
                codes.push_back(code_of(id, family.name, n));
        } else if (blocks) {
            for (unsigned n : held_numbers(family, lacking))
                codes.push_back(code_of(id, family.name, n));
        } else if (family.name == group->front()) {
            /* One number of each family of the group, then the next number. */
            for (unsigned n : held_numbers(family, {})) {
                for (const std::string &member : *group) {
                    std::vector<unsigned> held = held_numbers(family_named(member), lacking);
                    if (std::find(held.begin(), held.end(), n) != held.end())
                        codes.push_back(code_of(id, member, n));
                }
            }
        }
    }
    return codes;
}

std::vector<std::string> actual_codes(int id)
{
    std::vector<std::string> codes;
    for (size_t i = 0; qv_gui_langs[id].codes[i] != nullptr; i++)
        codes.push_back(qv_gui_langs[id].codes[i]);
    return codes;
}

std::vector<std::string> texts_of(int id)
{
    std::vector<std::string> texts;
    for (size_t i = 0; qv_gui_langs[id].codes[i] != nullptr; i++)
        texts.push_back(qv_gui_langs[id].texts[i]);
    return texts;
}

/* The stored text of the row of language id whose code gives code's key, or null. */
const char *source_text(int id, const char *code)
{
    uint32_t key = qv_gui_code_to_key(code);
    for (size_t i = 0; qv_gui_langs[id].codes[i] != nullptr; i++)
        if (qv_gui_code_to_key(qv_gui_langs[id].codes[i]) == key)
            return qv_gui_langs[id].texts[i];
    return nullptr;
}

/* ---- codes ------------------------------------------------------------------------- */

TEST(CatalogueCodes, EachLanguageAndFamilyHoldsItsCountOfCodes)
{
    /* The catalogue's own codes against counts written out from the message files, not
     * against the family table: a typing error in the table and the same error in a
     * message file cannot hide each other. */
    std::map<std::string, size_t> english, german;
    for (const std::string &code : actual_codes(EN_US))
        english[code.substr(3, 2)]++;
    for (const std::string &code : actual_codes(DE_DE))
        german[code.substr(3, 2)]++;
    EXPECT_EQ(730u, english["GU"]);
    EXPECT_EQ(116u, english["ES"]);
    EXPECT_EQ(37u, english["BA"]);
    EXPECT_EQ(8u, english["PN"]);
    EXPECT_EQ(298u, english["GU"] - german["GU"]);
    EXPECT_EQ(50u, english["ES"] - german["ES"]);
    const size_t rows[] = {1292, 1285, 785, 1285, 1285, 1285, 1};
    for (int id = 0; id < QV_GUI_LANG_COUNT; id++)
        EXPECT_EQ(rows[id], actual_codes(id).size()) << qv_langid2name(id);
}

TEST(CatalogueCodes, EveryLanguageHoldsExactlyItsCodesInOrder)
{
    for (int id = 0; id < QV_GUI_LANG_COUNT; id++) {
        SCOPED_TRACE(qv_langid2name(id));
        std::vector<std::string> expected = expected_codes(id);
        std::vector<std::string> actual = actual_codes(id);
        std::set<std::string> expected_set(expected.begin(), expected.end());
        std::set<std::string> actual_set(actual.begin(), actual.end());
        for (const std::string &code : expected_set)
            EXPECT_TRUE(actual_set.count(code)) << "missing " << code;
        for (const std::string &code : actual_set)
            EXPECT_TRUE(expected_set.count(code)) << "not in the family table: " << code;
        EXPECT_EQ(expected.size(), actual.size());
        for (size_t i = 0; i < std::min(expected.size(), actual.size()); i++) {
            if (expected[i] != actual[i]) {
                ADD_FAILURE() << "row " << i << " is " << actual[i] << ", expected " << expected[i];
                break;
            }
        }
    }
}

/* Malformed codes, codes that share a key and invalid UTF-8 are refused by the generator
 * (its own tests show that); here only what it cannot know. */
TEST(CatalogueCodes, EveryCodeIsKnownInEnglish)
{
    std::set<uint32_t> english_keys;
    for (const std::string &code : actual_codes(EN_US))
        english_keys.insert(qv_gui_code_to_key(code.c_str()));
    for (int id = 1; id < QV_GUI_LANG_COUNT; id++)
        for (const std::string &code : actual_codes(id))
            EXPECT_TRUE(english_keys.count(qv_gui_code_to_key(code.c_str())))
                << qv_langid2name(id) << ": " << code;
}

/* ---- texts ------------------------------------------------------------------------- */

TEST(CatalogueTexts, ShapeOfTheTexts)
{
    for (int id = 0; id < QV_GUI_LANG_COUNT; id++) {
        SCOPED_TRACE(qv_langid2name(id));
        std::vector<std::string> texts = texts_of(id);
        std::vector<std::string> codes = actual_codes(id);
        size_t with_cr = 0;
        std::set<std::string> empty;
        for (size_t i = 0; i < texts.size(); i++) {
            EXPECT_NE(0, texts[i].compare(0, 3, "\xEF\xBB\xBF")) << codes[i];
            with_cr += texts[i].find('\r') != std::string::npos;
            if (texts[i].empty())
                empty.insert(codes[i]);
            if (id == EN_US) {
                for (unsigned char c : texts[i])
                    ASSERT_LT(c, 0x80) << "not ASCII: " << codes[i];
            }
        }
        EXPECT_EQ(id == JA_JP ? 0u : 1u, with_cr);
        /* The three empty texts, and no other: a row whose text went missing shows. */
        std::set<std::string> expected_empty = {"KTRGU0000", "KTREP0000", "KTROB0003"};
        if (id == JA_JP)
            expected_empty = {"KTRGU0000"};
        EXPECT_EQ(expected_empty, empty);
    }
}

/* The named placeholders (%name%) of text, sorted, and its line-break count. */
std::pair<std::vector<std::string>, size_t> fill_ins(const std::string &text)
{
    std::vector<std::string> names;
    size_t at = 0;
    while ((at = text.find('%', at)) != std::string::npos) {
        size_t end = at + 1;
        while (end < text.size() && isalpha(static_cast<unsigned char>(text[end])))
            end++;
        if (end < text.size() && text[end] == '%' && end > at + 1) {
            names.push_back(text.substr(at, end - at + 1));
            at = end + 1;
        } else {
            at++;
        }
    }
    std::sort(names.begin(), names.end());
    return {names, static_cast<size_t>(std::count(text.begin(), text.end(), '\n'))};
}

TEST(CatalogueTexts, TranslationsKeepPlaceholdersAndLineBreaks)
{
    /* The program that shows a text fills in its placeholders by name: a translation
     * that loses or misspells one shows the raw name to the user. */
    for (int id = 1; id < QV_GUI_LANG_COUNT; id++) {
        const QVGuiLang &lang = qv_gui_langs[id];
        for (size_t i = 0; lang.codes[i] != nullptr; i++) {
            const char *english = source_text(EN_US, lang.codes[i]);
            ASSERT_NE(nullptr, english) << lang.codes[i];
            EXPECT_EQ(fill_ins(english), fill_ins(lang.texts[i]))
                << qv_langid2name(id) << ": " << lang.codes[i];
        }
    }
}

TEST(CatalogueTexts, StatusTextsOfFamilyBA)
{
    const std::map<unsigned, std::string> status = {
        {0x00, "Ok"},
        {0x01, "Bad Parameter"},
        {0x02, "Out of Memory"},
        {0x03, "Disk/File Input/Output error"},
        {0x04, "External"},
        {0x05, "Function Unavailable"},
        {0x06, "Unexpected math function result"},
        {0x07, "System"},
        {0x08, "Mutex already locked by current thread"},
        {0x09, "Timeout"},
        {0x0a, "Bad event type"},
        {0x11, "Lost Video"},
        {0x12, "End of File"},
        {0x13, "Output Buffer Full"},
        {0x14, "User is not authorized to make changes."},
        {0x15, "Bad Password"},
        {0x16, "Username already in use"},
        {0x17, "Requested data/image not found"},
        {0x18, "User not authorized for requested function"},
        {0x19, "DB connect init failed"},
        {0x1a, "DB Access Error"},
        {0x1b, "DB Server Error"},
        {0x1c, "DB Client Error"},
        {0x1d, "Other DB Error"},
        {0x1e, "Old configuration version. Update to latest version."},
        {0x20, "Bad Status value is passed"},
        {0x21, "No configured channels ready for processing."},
        {0x22, "Duplicate entry"},
        {0x24, "Too many entries"},
        {0x25, "Incorrect firewall setting detected"},
    };
    for (const auto &row : status) {
        std::string code = code_of(EN_US, "BA", row.first);
        const char *text = source_text(EN_US, code.c_str());
        ASSERT_NE(nullptr, text) << code;
        EXPECT_EQ(row.second, text) << code;
        EXPECT_EQ(row.second, qv_get_gui_message(EN_US, code.c_str())) << code;
    }
}

TEST(CatalogueTexts, ProvisioningFailureMessageInEveryLanguage)
{
    const char *expected[] = {
        "Error creating database users. See VADedeVeZovid.log.",
        "Erreur de cr\u00e9ation Base de donn\u00e9es Utilisateur. Voir les journaux "
        "VADedeVeZovid.log.",
        "Fehler beim Erstellen von Datenbankbenutzern. Weitere Informationen erhalten Sie "
        "in der Datei \"VADedeVeZovid.log\".",
        "Fout bij creatie databasegebruikers. Bekijk VADedeVeZovid.log.",
        "Error al crear usuarios de la base de datos. Consulte el archivo VADedeVeZovid.log.",
        "Errore durante la creazione di utenti del database. Vedere VADedeVeZovid.log.",
        "Error creating database users. See VADedeVeZovid.log.", /* ja-JP: no row */
    };
    EXPECT_EQ(nullptr, source_text(JA_JP, "KTRGU0079"));
    for (int id = 0; id < QV_GUI_LANG_COUNT; id++)
        EXPECT_STREQ(expected[id], qv_get_gui_message(id, "KTRGU0079")) << qv_langid2name(id);
}

TEST(CatalogueTexts, EmptyTextsAreFoundWithoutFallback)
{
    for (int id = 0; id < QV_GUI_LANG_COUNT; id++)
        for (const char *code : {"KTRGU0000", "KTREP0000", "KTROB0003"})
            if (source_text(id, code) != nullptr) {
                QVGuiEntry *entry = qv_get_gui_hash_data(id, code);
                ASSERT_NE(nullptr, entry) << code;
                EXPECT_STREQ("", entry->converted);
                EXPECT_STREQ("", qv_get_gui_message(id, code));
            }
}

TEST(CatalogueTexts, LookupsAcrossCaseAndFallback)
{
    EXPECT_STREQ(source_text(EN_US, "KTRGU030A"), qv_get_gui_message(EN_US, "KTRGU030a"));
    EXPECT_STREQ(source_text(EN_US, "KTRGU0004"), qv_get_gui_message(DE_DE, "KTRGU0004"));
    EXPECT_STREQ(source_text(EN_US, "KTRGU030C"), qv_get_gui_message(FR_FR, "KTRGU030C"));
    EXPECT_STREQ(source_text(FR_FR, "KTRGU030a"), qv_get_gui_message(FR_FR, "KTRGU030A"));
}

/* ---- every language built --------------------------------------------------------- */

TEST(CatalogueBuild, EveryLanguageBuildsCompleteWithEveryTextIntact)
{
    for (int id = 0; id < QV_GUI_LANG_COUNT; id++) {
        SCOPED_TRACE(qv_langid2name(id));
        bool built_before = qv_gui_langs[id].built.load() != 0;
        StderrCapture capture;
        qv_get_gui_hash_data(id, "KTRGU0000");
        auto lines = capture.finish();
        if (!built_before) { /* no duplicate, no failed conversion */
            std::string tag = qv_langid2name(id);
            EXPECT_EQ(
                (std::vector<std::string>{"INFO   : qv_make_gui_messages(" + tag + ") starting",
                                          "INFO   : qv_make_gui_messages(" + tag + ") ending"}),
                lines);
        }
        const QVGuiLang &lang = qv_gui_langs[id];
        ASSERT_EQ(1u, lang.built.load());
        EXPECT_EQ(actual_codes(id).size(), lang.table->entry_count);
        for (size_t i = 0; lang.codes[i] != nullptr; i++) {
            QVGuiEntry *entry = qv_get_gui_hash_data(id, lang.codes[i]);
            ASSERT_NE(nullptr, entry) << lang.codes[i];
            EXPECT_EQ(lang.texts[i], entry->source) << lang.codes[i];
            EXPECT_STREQ(lang.texts[i], entry->converted) << lang.codes[i];
        }
    }
    /* Every code of the catalogue is found in every language, itself or in English. */
    for (int id = 1; id < QV_GUI_LANG_COUNT; id++)
        for (const std::string &code : actual_codes(EN_US)) {
            const char *own = source_text(id, code.c_str());
            const char *text = qv_get_gui_message(id, code.c_str());
            EXPECT_STREQ(own != nullptr ? own : source_text(EN_US, code.c_str()), text)
                << qv_langid2name(id) << ": " << code;
        }
}

/* ---- fixed strings ------------------------------------------------------------------ */

TEST(CatalogueFixedStrings, TextsByNumber)
{
    const std::map<int, std::string> quoted = {
        {0, " %d: %s"},
        {1, "%s - %s"},
        {2, "%s"},
        {3, "(%d:%d)"},
        {4, "%.1f"},
        {5, "%d"},
        {6, "%d"},
        {7, "??"},
        {8, "??"},
        {9, "?? time ??"},
        {10, " "},
        {11, ""},
        {12, "hh:mm tt"},
        {13, "%d"},
        {14, "%s %d: %02d/%02d %02d:%02d"},
        {15, "%s %.2d:%.2d - %s %.2d:%.2d"},
        {16, "%s: %s %.2d:%.2d - %s %.2d:%.2d"},
        {17, "%s %.2d:%.2d:%.2d.%.3d"},
        {18, "%s %.2d:%.2d - %s %.2d:%.2d"},
        {19, "%s: %.s %.2d:%.2d - %s %.2d:%.2d"},
        {20, "%s %.2d:%.2d:%.2d.%.3d"},
        {21, "  %.2d/%.2d %.2d:%.2d"},
        {22, "%02d:%02d-%02d:%02d  "},
        {23, "%02d/%02d/%02d-%02d/%02d/%02d  "},
        {24, "%m/%d/%y %I:%M:%S %p"},
        {25, "X"},
        {26, " - "},
        {27, ".."},
        {28, " ... "},
        {29, "%4d   %s"},
        {30, "%s: %s"},
        {31, "%s %d"},
        {32, "%02d:%02d:%02d"},
        {33, "%dx%d"},
        {34, "1x1 @ "},
        {35, "2x2 @ "},
        {36, "3x3 @ "},
        {37, "3x2 @ "},
        {38, "4x4 @ "},
        {39, "4x3 @ "},
        {40, "4x2 @ "},
        {41, "%d - %d"},
        {42, "%d "},
        {43, "%s %s%s"},
        {44, "%s %s %s%s"},
        {70, "Internal error: Setup dialog initialization failed. "},
        {71, "Internal error: System setup dialog initialization failed. "},
        {72, "Internal error: Camera group dialog initialization failed. "},
        {73, "Internal error: Settings dialog initialization failed. "},
        {74, "Internal error: Calibration dialog initialization failed. "},
        {75, "Internal error: Scene-object dialog initialization failed."},
        {76, "Internal error: Zone dialog initialization failed."},
        {77, "Internal error: Performance settings dialog initialization failed."},
        {78, "Internal error: Map dialog initialization failed."},
        {79, "Internal error: Tamper Detection dialog initialization failed."},
        {80, "Internal error: Setting events dialog initialization failed."},
        {81, "Internal error: Unable to create alarm video dialog.  "},
        {82, "Internal error: Error initializing alarm video dialog.  "},
        {83, "Internal error: Unable to create zone map dialog.  "},
        {84, "Interanl error: Unable to create Live Monitoring Station dialog.  "},
        {85, "Internal error: Unable to create Retrieval dialog.  "},
        {86, "Internal error: Tamper Detection Properties dialog initialization failed."},
        {88, "Internal error: Alarm State dialog initialization failed. "},
        {90, "Invalid device context"},
        {91, "Invalid number of points"},
        {92, "Pen could not be created"},
        {93, "Brush could not be created"},
        {94, "Invalid selected point"},
        {95, "Could not create CWndBitmap"},
        {96, "Could not create CWndBitmap"},
        {97, "Bitmap structure not initialized"},
        {98, "Could not get bitmap information"},
        {99, "Bitmap file does not exist or could not be opened"},
        {100, "Bitmap handle is invalid"},
        {101, "Zoom factor can't be zero"},
        {102, "The function parameters are invalid"},
        {103, "This class requires a non-null parent window"},
        {104, "Menu could not be loaded"},
        {105, "Window does not exist"},
        {106, "Could not create tooltip"},
        {107, "Could not create a floorplan display object"},
        {108, "Object type is not valid"},
        {109, "Empty bitmap file"},
        {110, "Invalid bitmap file"},
        {111, "Unable to compress this DIB"},
        {112, "Driver can't do compression"},
        {113, "read error 1"},
        {114, "write error"},
        {115, "None"},
        {116, "Solid"},
        {117, "Crosshatch"},
        {118, "Horizontal hatch"},
        {119, "Vertical hatch"},
        {120, "Downward diagonal crosshatch"},
        {121, "Upward diagonal crosshatch"},
        {122, "Diagonal crosshatch"},
    };
    for (const auto &row : quoted)
        EXPECT_EQ(row.second, qv_gui_fixed_sources[row.first]) << "fixed string " << row.first;

    /* The ones of our own: ASCII, non-empty, each group in its neighbours' form. */
    for (int i = 45; i <= 89; i++) {
        if (quoted.count(i))
            continue;
        std::string text = qv_gui_fixed_sources[i];
        EXPECT_FALSE(text.empty()) << i;
        for (unsigned char c : text)
            EXPECT_TRUE(c >= 0x20 && c < 0x7F) << i;
    }
    for (int i = 46; i <= 50; i += 2) /* a pattern, then its extension */
        EXPECT_EQ('.', qv_gui_fixed_sources[i][0]) << i;
    std::set<std::string> modules(qv_gui_fixed_sources + 51, qv_gui_fixed_sources + 70);
    EXPECT_EQ(19u, modules.size());
    for (int i : {87, 89}) {
        std::string text = qv_gui_fixed_sources[i];
        EXPECT_EQ(0u, text.find("Internal error: ")) << i;
        EXPECT_NE(std::string::npos, text.find(" dialog initialization failed.")) << i;
    }
}

TEST(CatalogueFixedStrings, ConvertedByTheFirstBuild)
{
    qv_get_gui_message(JA_JP, "KTRGU0000"); /* some build of this process */
    ASSERT_NE(nullptr, qv_gui_fixed_strings);
    for (int i = 0; i < QV_GUI_FIXED_STRING_COUNT; i++) {
        ASSERT_NE(nullptr, qv_gui_fixed_strings[i]) << i;
        EXPECT_STREQ(qv_gui_fixed_sources[i], qv_gui_fixed_strings[i]) << i;
    }
}

} // namespace
