/*
 * Tests of the re-entrant lock over each platform's plain lock: counting, the freed
 * record, refusals, and exclusion between threads (run under the thread sanitizer, and
 * under Wine in the Windows build, as well).
 */
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "QVLib/QVmutex.h"
#include "QVLib/QVmalloc.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestPlatform.h"

namespace
{

TEST(QVmutex, ReentrantTakingNeedsAsManyReleases)
{
    QVmutex m{};
    ASSERT_EQ(0u, qv_mutex_create(&m));
    EXPECT_EQ(QV_NO_OWNER, m.owner.load());
    EXPECT_EQ(0u, m.count);
    EXPECT_EQ(0u, qv_mutex_lock(&m));
    EXPECT_EQ(0u, qv_mutex_lock(&m)); /* the holder never waits */
    EXPECT_EQ(qv_thread_id(), m.owner.load());
    EXPECT_EQ(2u, m.count);
    qv_mutex_release(&m);
    EXPECT_EQ(qv_thread_id(), m.owner.load());
    qv_mutex_release(&m);
    EXPECT_EQ(QV_NO_OWNER, m.owner.load());
    EXPECT_EQ(0u, m.count);
    qv_mutex_finish(&m);
    EXPECT_EQ(nullptr, m.mutex);
}

TEST(QVmutex, ThreadIdIsTheSystems)
{
    EXPECT_EQ(system_thread_id(), qv_thread_id());
    uint32_t other = 0;
    std::thread([&] { other = qv_thread_id(); }).join();
    EXPECT_NE(other, qv_thread_id());
}

TEST(QVmutex, FreedRecordIsReported)
{
    QVmutex m{nullptr, {QV_NO_OWNER}, 0};
    StderrCapture capture;
    EXPECT_EQ(1u, qv_mutex_lock(&m));
    qv_mutex_release(&m);
    qv_mutex_finish(&m);
    auto lines = capture.finish();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("ERROR  : qv_mutex_lock: mutex already freed", lines[0]);
    EXPECT_EQ("ERROR  : qv_mutex_release: mutex already freed", lines[1]);
    EXPECT_EQ(0u, lines[2].find("ERROR   at QVmutex:"));
    EXPECT_NE(std::string::npos, lines[2].find(": qv_mutex_finish: mutex already freed"));
}

TEST(QVmutex, CreationFailureLeavesNoLockObject)
{
    QVmutex m{};
    StderrCapture capture;
    qv_malloc_fail_nth(1);
    EXPECT_EQ(2u, qv_mutex_create(&m));
    qv_malloc_fail_nth(0);
    auto lines = capture.finish();
    EXPECT_EQ(nullptr, m.mutex);
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("at QVmutex:"));
    EXPECT_NE(std::string::npos, lines[0].find(": qv_mutex_create: out of memory"));
}

TEST(QVmutex, ReleaseByANonHolderIsRefused)
{
    QVmutex m{};
    ASSERT_EQ(0u, qv_mutex_create(&m));
    qv_mutex_lock(&m);
    StderrCapture capture;
    std::thread([&] { qv_mutex_release(&m); }).join();
    auto lines = capture.finish();
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("qv_mutex_release: mutex not held"));
    EXPECT_EQ(1u, m.count);
    qv_mutex_release(&m);
    qv_mutex_finish(&m);
}

TEST(QVmutex, ExcludesOtherThreadsUntilTheLastRelease)
{
    QVmutex m{};
    ASSERT_EQ(0u, qv_mutex_create(&m));
    std::atomic<bool> other_inside{false};
    std::atomic<uint32_t> other_id{0};
    qv_mutex_lock(&m);
    qv_mutex_lock(&m);
    std::thread other([&] {
        other_id = system_thread_id();
        qv_mutex_lock(&m);
        other_inside = true;
        qv_mutex_release(&m);
    });
    qv_mutex_release(&m); /* still held once */
    while (other_id.load() == 0)
        std::this_thread::yield();
    /* The other thread waits for the lock, however slowly it got there. */
    EXPECT_TRUE(wait_until_blocked(other_id.load()));
    EXPECT_FALSE(other_inside.load());
    qv_mutex_release(&m);
    other.join();
    EXPECT_TRUE(other_inside.load());
    qv_mutex_finish(&m);
}

TEST(QVmutex, NestedSectionsFromManyThreadsStaySerialised)
{
    QVmutex m{};
    ASSERT_EQ(0u, qv_mutex_create(&m));
    long counter = 0; /* guarded by m only: the thread sanitizer checks that */
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; i++) {
                qv_mutex_lock(&m);
                qv_mutex_lock(&m);
                counter++;
                qv_mutex_release(&m);
                long seen = counter;
                std::this_thread::yield(); /* the others try their luck in between */
                counter = seen + 1;
                qv_mutex_release(&m);
            }
        });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(16000, counter);
    qv_mutex_finish(&m);
}

} // namespace
