/*
 * The whole catalogue under the C locale, in a process of its own: every language
 * builds without a single failure, and each character outside ASCII reads as "?".
 */
#include <gtest/gtest.h>

#include <langinfo.h>
#include <locale.h>

#include <string>
#include <vector>

#include "QVLib/GuiMessages.h"
#include "tests/support/LogCapture.h"

namespace
{

/* text with every UTF-8 sequence outside ASCII replaced by one "?". */
std::string with_question_marks(const char *text)
{
    std::string out;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != 0; p++) {
        if (*p < 0x80)
            out += static_cast<char>(*p);
        else if ((*p & 0xC0) != 0x80) /* a lead byte; continuation bytes add nothing */
            out += '?';
    }
    return out;
}

TEST(GuiCLocale, AccentedLettersBecomeQuestionMarksAndNothingFails)
{
    ASSERT_NE(nullptr, setlocale(LC_CTYPE, "C"));
    ASSERT_STREQ("ANSI_X3.4-1968", nl_langinfo(CODESET));
    qv_gui_set_lang(0);

    StderrCapture capture;
    for (int id = 0; id < QV_GUI_LANG_COUNT; id++)
        qv_get_gui_hash_data(id, "KTRGU0000");
    auto lines = capture.finish();
    ASSERT_EQ(2u * QV_GUI_LANG_COUNT, lines.size()); /* the starting and ending lines */
    for (const std::string &line : lines)
        EXPECT_EQ(0u, line.find("INFO   : qv_make_gui_messages(")) << line;

    size_t replaced = 0;
    for (int id = 0; id < QV_GUI_LANG_COUNT; id++) {
        const QVGuiLang &lang = qv_gui_langs[id];
        ASSERT_EQ(1u, lang.built.load());
        for (size_t i = 0; lang.codes[i] != nullptr; i++) {
            QVGuiEntry *entry = qv_get_gui_hash_data(id, lang.codes[i]);
            ASSERT_NE(nullptr, entry);
            std::string expected = with_question_marks(lang.texts[i]);
            EXPECT_EQ(expected, entry->converted) << qv_langid2name(id) << " " << lang.codes[i];
            replaced += expected != lang.texts[i];
        }
    }
    EXPECT_GT(replaced, 2000u); /* the accented texts of five languages */

    EXPECT_STREQ("Erreur de cr?ation Base de donn?es Utilisateur. Voir les journaux "
                 "VADedeVeZovid.log.",
                 qv_get_gui_message(1, "KTRGU0079"));
    EXPECT_STREQ("Error creating database users. See VADedeVeZovid.log.",
                 qv_get_gui_message(6, "KTRGU0079"));
}

} // namespace
