/*
 * Several threads making the first lookups of several languages at once, in a process
 * of its own (and under the thread sanitizer in its build): each language is built
 * exactly once, the one-time step runs once, every thread gets the right texts, and the
 * wrong-language reports stop at 50.
 */
#include <gtest/gtest.h>

#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "QVLib/GuiMessages.h"
#include "tests/support/LogCapture.h"

namespace
{

/* The stored text of code in language id, or null. */
const char *source_text(int id, const char *code)
{
    for (size_t i = 0; qv_gui_langs[id].codes[i] != nullptr; i++)
        if (strcmp(qv_gui_langs[id].codes[i], code) == 0)
            return qv_gui_langs[id].texts[i];
    return nullptr;
}

TEST(GuiThreads, FirstLookupsOfSeveralLanguagesAtOnce)
{
    ASSERT_NE(nullptr, setlocale(LC_CTYPE, "C.UTF-8"));
    qv_gui_set_lang(0);
    const char *codes[] = {"KTRGU0079", "KTRGU0004", "KTRBA0014", "KTRZD0020", "KTRGU0000"};
    const int kThreads = 8;

    std::atomic<int> waiting{kThreads};
    std::vector<std::vector<std::string>> results(kThreads);
    std::vector<std::thread> threads;
    StderrCapture capture;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([&, t] {
            waiting--;
            while (waiting.load() > 0) /* start together */
                std::this_thread::yield();
            for (int round = 0; round < 3; round++)
                for (int k = 0; k < 2; k++) {
                    int id = (t + 3 * k) % QV_GUI_LANG_COUNT;
                    for (const char *code : codes)
                        results[t].push_back(qv_get_gui_message(id, code));
                }
            for (int i = 0; i < 10; i++)
                qv_get_gui_message(7, nullptr);
        });
    for (std::thread &thread : threads)
        thread.join();
    auto lines = capture.finish();

    std::map<std::string, int> counts;
    for (const std::string &line : lines)
        counts[line]++;
    for (int id = 0; id < QV_GUI_LANG_COUNT; id++) {
        std::string tag = qv_langid2name(id);
        EXPECT_EQ(1, counts["INFO   : qv_make_gui_messages(" + tag + ") starting"]) << tag;
        EXPECT_EQ(1, counts["INFO   : qv_make_gui_messages(" + tag + ") ending"]) << tag;
        EXPECT_EQ(1u, qv_gui_langs[id].built.load()) << tag;
    }
    EXPECT_EQ(50, counts["ERROR  : qv_get_gui_message: Language ID = [7] is wrong"]);
    EXPECT_EQ(2u * QV_GUI_LANG_COUNT + 50, lines.size());

    for (int t = 0; t < kThreads; t++) {
        size_t at = 0;
        for (int round = 0; round < 3; round++)
            for (int k = 0; k < 2; k++) {
                int id = (t + 3 * k) % QV_GUI_LANG_COUNT;
                for (const char *code : codes) {
                    const char *own = source_text(id, code);
                    std::string expected = own != nullptr ? own : source_text(0, code);
                    EXPECT_EQ(expected, results[t][at++]) << qv_langid2name(id) << " " << code;
                }
            }
    }
    ASSERT_NE(nullptr, qv_gui_fixed_strings);
    for (int i = 0; i < QV_GUI_FIXED_STRING_COUNT; i++)
        EXPECT_STREQ(qv_gui_fixed_sources[i], qv_gui_fixed_strings[i]);
}

} // namespace
