/*
 * Tests of the dynamic string and of the guarded allocation beneath it.
 */
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "QVLib/QVmalloc.h"
#include "QVLib/QVstring.h"
#include "tests/support/LogCapture.h"

namespace
{

TEST(QVstring, InitOperationsStoreTextAndLength)
{
    QVstring a, b, c;
    ASSERT_EQ(0u, qv_string_init_char(&a, "camera"));
    EXPECT_EQ(6u, a.length);
    EXPECT_STREQ("camera", a.text);

    ASSERT_EQ(0u, qv_string_init_len(&b));
    EXPECT_EQ(0u, b.length);
    ASSERT_NE(nullptr, b.text);
    EXPECT_STREQ("", b.text);

    ASSERT_EQ(0u, qv_string_init(&c, &a));
    EXPECT_EQ(6u, c.length);
    EXPECT_STREQ("camera", c.text);
    EXPECT_NE(a.text, c.text);
    for (QVstring *s : {&a, &b, &c})
        qv_string_free(s);
}

TEST(QVstring, InitFromEmptyOrReleasedSource)
{
    QVstring empty, copy;
    ASSERT_EQ(0u, qv_string_init_len(&empty));
    copy.text = reinterpret_cast<char *>(0x1); /* overwritten, never released */
    ASSERT_EQ(0u, qv_string_init(&copy, &empty));
    EXPECT_EQ(0u, copy.length);
    EXPECT_EQ(nullptr, copy.text);

    /* A released string keeps its length: copying it must not read through null. */
    QVstring released;
    ASSERT_EQ(0u, qv_string_init_char(&released, "recorder"));
    qv_string_free(&released);
    EXPECT_EQ(8u, released.length);
    ASSERT_EQ(0u, qv_string_init(&copy, &released));
    ASSERT_NE(nullptr, copy.text);
    EXPECT_STREQ("", copy.text);
    EXPECT_EQ(8u, copy.length);
    qv_string_free(&copy);
    qv_string_free(&empty);
}

TEST(QVstring, InitCopiesOnlyUpToTheTerminator)
{
    QVstring s, copy;
    ASSERT_EQ(0u, qv_string_init_char(&s, "a long channel name"));
    ASSERT_EQ(0u, qv_string_copy_char(&s, "ch1"));
    EXPECT_EQ(19u, s.length); /* nothing lowers length */
    ASSERT_EQ(0u, qv_string_init(&copy, &s));
    EXPECT_EQ(19u, copy.length);
    EXPECT_STREQ("ch1", copy.text);
    qv_string_free(&s);
    qv_string_free(&copy);
}

TEST(QVstring, ReserveGrowsAndKeepsText)
{
    QVstring s;
    ASSERT_EQ(0u, qv_string_init_char(&s, "zone"));
    char *before = s.text;
    EXPECT_EQ(0u, qv_string_reserve(&s, 3)); /* room enough: nothing changes */
    EXPECT_EQ(before, s.text);
    EXPECT_EQ(4u, s.length);
    ASSERT_EQ(0u, qv_string_reserve(&s, 100));
    EXPECT_EQ(100u, s.length);
    EXPECT_STREQ("zone", s.text);
    qv_string_free(&s);

    QVstring none{5, nullptr};
    ASSERT_EQ(0u, qv_string_reserve(&none, 2)); /* no text: a new, empty buffer */
    ASSERT_NE(nullptr, none.text);
    EXPECT_STREQ("", none.text);
    EXPECT_EQ(2u, none.length);
    qv_string_free(&none);
}

TEST(QVstring, SizeThatWrapsIsRefused)
{
    QVstring s;
    ASSERT_EQ(0u, qv_string_init_char(&s, "x"));
    StderrCapture capture;
    EXPECT_EQ(2u, qv_string_reserve(&s, 0xFFFFFFFFu));
    auto lines = capture.finish();
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("ERROR   at QVstring:"));
    EXPECT_NE(std::string::npos, lines[0].find(": : bad malloc size 0"));
    EXPECT_EQ(1u, s.length);
    EXPECT_STREQ("x", s.text);
    qv_string_free(&s);
}

TEST(QVstring, CopyChar)
{
    QVstring s;
    ASSERT_EQ(0u, qv_string_init_len(&s));
    ASSERT_EQ(0u, qv_string_copy_char(&s, "root"));
    EXPECT_STREQ("root", s.text);
    EXPECT_EQ(4u, s.length);
    ASSERT_EQ(0u, qv_string_copy_char(&s, ""));
    EXPECT_STREQ("", s.text);
    EXPECT_EQ(4u, s.length);
    ASSERT_EQ(0u, qv_string_copy_char(&s, nullptr));
    EXPECT_EQ(nullptr, s.text);
    EXPECT_EQ(4u, s.length);
    ASSERT_EQ(0u, qv_string_copy_char(&s, "admin")); /* no text: reserve makes one */
    EXPECT_STREQ("admin", s.text);
    qv_string_free(&s);
    qv_string_free(nullptr);
}

TEST(QVstring, MissingArgumentsAreReportedByName)
{
    QVstring s{0, nullptr};
    StderrCapture capture;
    EXPECT_EQ(1u, qv_string_init(nullptr, &s));
    EXPECT_EQ(1u, qv_string_init(&s, nullptr));
    EXPECT_EQ(1u, qv_string_init_len(nullptr));
    EXPECT_EQ(1u, qv_string_init_char(&s, nullptr));
    EXPECT_EQ(1u, qv_string_init_char(nullptr, "x"));
    EXPECT_EQ(1u, qv_string_reserve(nullptr, 1));
    EXPECT_EQ(1u, qv_string_copy_char(nullptr, "x"));
    auto lines = capture.finish();
    const char *expected[] = {"qv_string_init",      "qv_string_init",      "qv_string_init_len",
                              "qv_string_init_char", "qv_string_init_char", "qv_string_reserve",
                              "qv_string_copy_char"};
    ASSERT_EQ(7u, lines.size());
    for (size_t i = 0; i < 7; i++) {
        EXPECT_EQ(0u, lines[i].find("ERROR   at QVstring:")) << lines[i];
        EXPECT_NE(std::string::npos,
                  lines[i].find(std::string(": ") + expected[i] + ": NULL parameter"))
            << lines[i];
    }
}

TEST(QVstring, AllocationFailureLeavesRecordsUsable)
{
    QVstring s{7, nullptr};
    StderrCapture capture;
    qv_malloc_fail_nth(1);
    EXPECT_EQ(2u, qv_string_init_char(&s, "storage"));
    EXPECT_EQ(nullptr, s.text);
    EXPECT_EQ(7u, s.length);

    ASSERT_EQ(0u, qv_string_init_char(&s, "ab"));
    qv_malloc_fail_nth(1);
    EXPECT_EQ(2u, qv_string_copy_char(&s, "a longer text"));
    EXPECT_STREQ("ab", s.text); /* unchanged */
    qv_malloc_fail_nth(0);
    auto lines = capture.finish();
    ASSERT_EQ(3u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find(": out of memory. Size requested = 8"));
    EXPECT_NE(std::string::npos, lines[1].find(": out of memory. Size requested = 14"));
    EXPECT_EQ(0u, lines[2].find("STACK_TRACE at QVstring:"));
    qv_string_free(&s);
}

TEST(QVmalloc, SeamFailsExactlyTheArmedAllocation)
{
    StderrCapture capture;
    qv_malloc_fail_nth(3);
    void *a = qv_malloc(4, "t", 1, 0);
    void *b = qv_malloc(4, "t", 2, 1);
    void *c = qv_malloc(4, "t", 3, 0);
    void *d = qv_malloc(4, "t", 4, 0);
    EXPECT_NE(nullptr, a);
    EXPECT_NE(nullptr, b);
    EXPECT_EQ(nullptr, c);
    EXPECT_NE(nullptr, d);
    EXPECT_EQ(1u, qv_malloc_injected_failures());
    EXPECT_EQ(0, memcmp(b, "\0\0\0\0", 4));

    qv_malloc_fail_nth(2, true);
    void *e = qv_malloc(4, "t", 5, 0);
    EXPECT_NE(nullptr, e);
    EXPECT_EQ(nullptr, qv_malloc(4, "t", 6, 0));
    EXPECT_EQ(nullptr, qv_malloc(4, "t", 7, 0));
    EXPECT_EQ(2u, qv_malloc_injected_failures());
    qv_malloc_fail_nth(0);
    EXPECT_EQ(nullptr, qv_malloc(0, "t", 8, 0));
    auto lines = capture.finish();
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("ERROR   at t:3: : out of memory. Size requested = 4", lines[0]);
    EXPECT_EQ("ERROR   at t:8: : bad malloc size 0", lines[3]);
    for (void *p : {a, b, d, e})
        free(p);
}

TEST(QVstring, BoundedCopy)
{
    char buffer[5];
    EXPECT_EQ(0u, qv_strlcpy(buffer, "abcd", sizeof buffer));
    EXPECT_STREQ("abcd", buffer);
    EXPECT_EQ(1u, qv_strlcpy(buffer, "abcdef", sizeof buffer));
    EXPECT_STREQ("abcd", buffer);
    EXPECT_EQ(1u, qv_strlcpy(buffer, "x", 1));
    EXPECT_STREQ("", buffer);
}

} // namespace
