/*
 * Tests of the catalogue's behaviour that happens once per process: lookups before the
 * lock exists, the wrong-language report limit, the one-time step of the first build
 * (fixed strings converted once, the teardown registered), its allocation failures, and
 * the teardown at exit with the lookups that come after it.
 *
 * Each scenario runs in a child process of its own (a death test that exits), since the
 * parent never touches the catalogue; the child reports what failed on standard error
 * and exits with 1, or prints "<scenario>: ok" and exits normally, so that its exit
 * handlers (and, in the address-sanitizer build, the leak check) run.
 */
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "QVLib/GuiMessages.h"
#include "QVLib/QVmalloc.h"
#include "tests/support/LogCapture.h"

namespace
{

std::vector<std::string> g_failures;

#define CHILD_CHECK(condition)                                                                     \
    do {                                                                                           \
        if (!(condition))                                                                          \
            g_failures.push_back(std::to_string(__LINE__) + ": " #condition);                      \
    } while (0)

/* Ends the child: exit code 1 with the failures listed, else "<name>: ok" and a normal
 * exit (exit handlers run). */
[[noreturn]] void finish_child(const char *name)
{
    for (const std::string &failure : g_failures)
        fprintf(stderr, "check failed at line %s\n", failure.c_str());
    if (!g_failures.empty())
        _exit(1);
    fprintf(stderr, "%s: ok\n", name);
    exit(0);
}

const char kEnglish0079[] = "Error creating database users. See VADedeVeZovid.log.";
const char kGerman0079[] = "Fehler beim Erstellen von Datenbankbenutzern. Weitere Informationen "
                           "erhalten Sie in der Datei \"VADedeVeZovid.log\".";

bool nothing_built()
{
    for (const QVGuiLang &lang : qv_gui_langs)
        if (lang.built.load() != 0 || lang.table != nullptr)
            return false;
    return true;
}

const std::vector<std::string> kNoLock = {"ERROR  : qv_mutex_lock: mutex already freed",
                                          "ERROR  : qv_get_gui_hash_data: Failed to lock mutex"};

/* Lookups in language 0 and 2 without a lock object: the empty text, each try logged. */
void check_lookups_without_lock()
{
    StderrCapture capture;
    const char *english = qv_get_gui_message(0, "KTRGU0079");
    auto lines = capture.finish();
    CHILD_CHECK(strcmp("", english) == 0);
    CHILD_CHECK(lines == kNoLock);

    StderrCapture other;
    const char *german = qv_get_gui_message(2, "KTRGU0079");
    lines = other.finish();
    CHILD_CHECK(strcmp("", german) == 0);
    std::vector<std::string> twice = kNoLock;
    twice.insert(twice.end(), kNoLock.begin(), kNoLock.end());
    CHILD_CHECK(lines == twice);
    CHILD_CHECK(nothing_built());
}

std::vector<std::string> build_lines(const char *tag)
{
    return {std::string("INFO   : qv_make_gui_messages(") + tag + ") starting",
            std::string("INFO   : qv_make_gui_messages(") + tag + ") ending"};
}

void first_use_of_the_process()
{
    /* Before qv_gui_set_lang there is no lock, and nothing can be built. */
    CHILD_CHECK(qv_gui_lock.mutex == nullptr);
    check_lookups_without_lock();
    CHILD_CHECK(qv_gui_fixed_strings == nullptr);

    /* Wrong language ids: reported for the first 50 calls only. */
    StderrCapture wrong;
    for (int i = 0; i < 70; i++)
        qv_get_gui_message(i % 2 ? 7 : -1, nullptr);
    auto lines = wrong.finish();
    CHILD_CHECK(lines.size() == 50);
    CHILD_CHECK(!lines.empty() &&
                lines[0] == "ERROR  : qv_get_gui_message: Language ID = [-1] is wrong");
    CHILD_CHECK(lines.size() > 1 &&
                lines[1] == "ERROR  : qv_get_gui_message: Language ID = [7] is wrong");

    qv_gui_set_lang(0);
    CHILD_CHECK(qv_gui_lock.mutex != nullptr);
    CHILD_CHECK(nothing_built());

    /* The first build, here of de-DE, converts the fixed strings, silently. */
    StderrCapture first;
    const char *german = qv_get_gui_message(2, "KTRGU0079");
    lines = first.finish();
    CHILD_CHECK(strcmp(kGerman0079, german) == 0);
    CHILD_CHECK(lines == build_lines("de-DE"));
    char **fixed = qv_gui_fixed_strings;
    CHILD_CHECK(fixed != nullptr);
    std::vector<char *> slots;
    for (int i = 0; fixed != nullptr && i < QV_GUI_FIXED_STRING_COUNT; i++) {
        CHILD_CHECK(fixed[i] != nullptr && strcmp(qv_gui_fixed_sources[i], fixed[i]) == 0);
        slots.push_back(fixed[i]);
    }

    /* Later builds leave them alone. */
    StderrCapture second;
    const char *english = qv_get_gui_message(0, "KTRGU0079");
    lines = second.finish();
    CHILD_CHECK(strcmp(kEnglish0079, english) == 0);
    CHILD_CHECK(lines == build_lines("en-US"));
    CHILD_CHECK(qv_gui_fixed_strings == fixed);
    for (int i = 0; fixed != nullptr && i < QV_GUI_FIXED_STRING_COUNT; i++)
        CHILD_CHECK(fixed[i] == slots[i]);

    StderrCapture again;
    CHILD_CHECK(qv_get_gui_message(2, "KTRGU0079") == german);
    CHILD_CHECK(qv_get_gui_message(0, "KTRGU0079") == english);
    CHILD_CHECK(again.finish().empty());
    finish_child("first use");
}

TEST(GuiProcess, FirstUseOfTheProcess)
{
    EXPECT_EXIT(first_use_of_the_process(), ::testing::ExitedWithCode(0), "first use: ok");
}

void fixed_strings_array_cannot_be_allocated()
{
    qv_gui_set_lang(0);
    StderrCapture capture;
    qv_malloc_fail_nth(1); /* the first allocation of the first build: the array */
    const char *text = qv_get_gui_message(0, "KTRGU0079");
    qv_malloc_fail_nth(0);
    auto lines = capture.finish();
    CHILD_CHECK(strcmp("", text) == 0);
    CHILD_CHECK(lines.size() == 4);
    if (lines.size() == 4) {
        CHILD_CHECK(lines[0] == build_lines("en-US")[0]);
        CHILD_CHECK(lines[1].find("ERROR   at GuiMessages:") == 0);
        CHILD_CHECK(lines[1].find(": : out of memory. Size requested = " +
                                  std::to_string(123 * sizeof(char *))) != std::string::npos);
        CHILD_CHECK(lines[2] == build_lines("en-US")[1]);
        CHILD_CHECK(lines[3] == "ERROR  : qv_get_gui_hash_data: Failed to create msg table");
    }
    CHILD_CHECK(nothing_built());
    CHILD_CHECK(qv_gui_fixed_strings == nullptr);

    /* The next lookup builds the language; the one-time step is not repeated. */
    StderrCapture retry;
    text = qv_get_gui_message(0, "KTRGU0079");
    lines = retry.finish();
    CHILD_CHECK(strcmp(kEnglish0079, text) == 0);
    CHILD_CHECK(lines == build_lines("en-US"));
    CHILD_CHECK(qv_gui_fixed_strings == nullptr);
    qv_get_gui_message(2, "KTRGU0079");
    CHILD_CHECK(qv_gui_fixed_strings == nullptr);
    finish_child("fixed strings array");
}

TEST(GuiProcess, FixedStringsArrayCannotBeAllocated)
{
    EXPECT_EXIT(fixed_strings_array_cannot_be_allocated(), ::testing::ExitedWithCode(0),
                "fixed strings array: ok");
}

void fixed_string_conversion_runs_out_of_memory()
{
    qv_gui_set_lang(0);
    StderrCapture capture;
    qv_malloc_fail_nth(2); /* after the array: the first fixed string's UTF-32 buffer */
    const char *text = qv_get_gui_message(0, "KTRGU0079");
    qv_malloc_fail_nth(0);
    auto lines = capture.finish();
    CHILD_CHECK(strcmp(kEnglish0079, text) == 0); /* the build itself goes on */
    CHILD_CHECK(lines.size() == 3 && lines[1].find("ERROR   at UtfPosix:") == 0);
    CHILD_CHECK(qv_gui_fixed_strings != nullptr);
    if (qv_gui_fixed_strings != nullptr) {
        CHILD_CHECK(qv_gui_fixed_strings[0] != nullptr && qv_gui_fixed_strings[0][0] == '\0');
        for (int i = 1; i < QV_GUI_FIXED_STRING_COUNT; i++)
            CHILD_CHECK(strcmp(qv_gui_fixed_sources[i], qv_gui_fixed_strings[i]) == 0);
    }
    finish_child("fixed string conversion");
}

TEST(GuiProcess, FixedStringConversionRunsOutOfMemory)
{
    EXPECT_EXIT(fixed_string_conversion_runs_out_of_memory(), ::testing::ExitedWithCode(0),
                "fixed string conversion: ok");
}

StderrCapture *g_teardown_capture = nullptr;

/* Registered before the first build, so it runs after the catalogue's teardown. */
void after_teardown()
{
    auto lines = g_teardown_capture->finish(); /* what the teardown logged */
    CHILD_CHECK(lines.empty());
    CHILD_CHECK(qv_gui_lock.mutex == nullptr);
    CHILD_CHECK(nothing_built());
    CHILD_CHECK(qv_gui_fixed_strings == nullptr);
    check_lookups_without_lock();
    for (const std::string &failure : g_failures)
        fprintf(stderr, "check failed at line %s\n", failure.c_str());
    if (!g_failures.empty())
        _exit(1);
    fprintf(stderr, "after teardown: ok\n");
    /* The leak check of the address-sanitizer build follows. */
}

void teardown_at_exit()
{
    qv_gui_set_lang(0);
    atexit(after_teardown);
    for (int id = 0; id < QV_GUI_LANG_COUNT; id++)
        qv_get_gui_message(id, "KTRGU0079");
    for (const QVGuiLang &lang : qv_gui_langs)
        CHILD_CHECK(lang.built.load() == 1);
    for (const std::string &failure : g_failures)
        fprintf(stderr, "check failed at line %s\n", failure.c_str());
    if (!g_failures.empty())
        _exit(1);
    g_teardown_capture = new StderrCapture; /* deliberately never deleted */
    exit(0);
}

TEST(GuiProcess, TeardownAtExitReleasesEverything)
{
    EXPECT_EXIT(teardown_at_exit(), ::testing::ExitedWithCode(0), "after teardown: ok");
}

void lock_kept()
{
    /* No build started: no teardown was registered, so the lock is never disposed of. */
    fprintf(stderr, "lock %s\n", qv_gui_lock.mutex != nullptr ? "kept" : "disposed of");
}

void process_without_a_build()
{
    qv_gui_set_lang(0);
    atexit(lock_kept);
    CHILD_CHECK(strcmp("", qv_get_gui_message(0, nullptr)) == 0);
    finish_child("no build");
}

TEST(GuiProcess, ProcessWithoutABuildHasNoTeardown)
{
    EXPECT_EXIT(process_without_a_build(), ::testing::ExitedWithCode(0), "no build: ok\nlock kept");
}

} // namespace
