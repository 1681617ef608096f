/*
 * Tests of the keyed hash table: chaining and insertion order, duplicates, clearing,
 * the value-release callback, the freed lock, allocation failures, and adds and finds
 * from several threads (run under the thread sanitizer as well).
 */
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "QVLib/QVHashTable.h"
#include "QVLib/QVmalloc.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestPlatform.h"

namespace
{

/* Records every release: which value, with which datum. */
struct Releases {
    std::vector<void *> values;
    std::vector<void *> data;
};
Releases g_releases;

void record_release(void *value, void *data)
{
    g_releases.values.push_back(value);
    g_releases.data.push_back(data);
}

class HashTable : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        g_releases = Releases{};
        ASSERT_EQ(0u, qv_hash_table_create(&table_, record_release));
    }
    void TearDown() override
    {
        qv_malloc_fail_nth(0);
        qv_hash_table_destroy(&table_);
    }
    /* The keys of bucket b's chain, in chain order. */
    std::vector<uint32_t> chain(uint32_t b) const
    {
        std::vector<uint32_t> keys;
        for (const QVHashNode *n = table_->buckets[b]; n != nullptr; n = n->next)
            keys.push_back(n->key);
        return keys;
    }
    QVHashTable *table_ = nullptr;
    int values_[8] = {};
};

TEST_F(HashTable, ANewTableFindsNoKeyAndReleasesNothing)
{
    /* a key of every bucket */
    for (uint32_t key = 0; key < QV_HASH_TABLE_BUCKETS; key++)
        ASSERT_EQ(nullptr, qv_hash_table_find(table_, key)) << key;
    EXPECT_EQ(nullptr, qv_hash_table_find(table_, 0xFFFFFFFFu));
    qv_hash_table_clear(table_);
    EXPECT_TRUE(g_releases.values.empty());
    ASSERT_EQ(0u, qv_hash_table_add(table_, 7, &values_[0]));
    EXPECT_EQ(&values_[0], qv_hash_table_find(table_, 7));
}

TEST_F(HashTable, KeysInOneBucketKeepTheirOrderAndAreAllFound)
{
    /* 5, 2652 and 5299 all lie in bucket 5; 2647 and 0 in bucket 0. */
    ASSERT_EQ(0u, qv_hash_table_add(table_, 2652, &values_[0]));
    ASSERT_EQ(0u, qv_hash_table_add(table_, 5, &values_[1]));
    ASSERT_EQ(0u, qv_hash_table_add(table_, 5299, &values_[2]));
    ASSERT_EQ(0u, qv_hash_table_add(table_, 2647, &values_[3]));
    ASSERT_EQ(0u, qv_hash_table_add(table_, 0, &values_[4])); /* key 0 is ordinary */
    ASSERT_EQ(0u, qv_hash_table_add(table_, 0xFFFFFFFFu, &values_[5]));
    EXPECT_EQ(6u, table_->entry_count);
    EXPECT_EQ((std::vector<uint32_t>{2652, 5, 5299}), chain(5));
    EXPECT_EQ((std::vector<uint32_t>{2647, 0}), chain(0));
    EXPECT_EQ((std::vector<uint32_t>{0xFFFFFFFFu}), chain(0xFFFFFFFFu % 2647));
    EXPECT_EQ(&values_[0], qv_hash_table_find(table_, 2652));
    EXPECT_EQ(&values_[1], qv_hash_table_find(table_, 5));
    EXPECT_EQ(&values_[2], qv_hash_table_find(table_, 5299));
    EXPECT_EQ(&values_[3], qv_hash_table_find(table_, 2647));
    EXPECT_EQ(&values_[4], qv_hash_table_find(table_, 0));
    EXPECT_EQ(&values_[5], qv_hash_table_find(table_, 0xFFFFFFFFu));
    EXPECT_EQ(nullptr, qv_hash_table_find(table_, 7946)); /* bucket 5, absent */
    EXPECT_EQ(nullptr, qv_hash_table_find(table_, 1));
}

TEST_F(HashTable, DuplicateKeyIsRefusedAndTheFirstValueStays)
{
    ASSERT_EQ(0u, qv_hash_table_add(table_, 4000000000u, &values_[0]));
    StderrCapture capture;
    EXPECT_EQ(1u, qv_hash_table_add(table_, 4000000000u, &values_[1]));
    auto lines = capture.finish();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("ERROR  : qv_hash_table_add: key value 4000000000 already in table", lines[0]);
    EXPECT_EQ(1u, table_->entry_count);
    EXPECT_EQ(&values_[0], qv_hash_table_find(table_, 4000000000u));
    /* The refused value is still the caller's: destroying the table releases only the
     * stored one. */
    qv_hash_table_destroy(&table_);
    EXPECT_EQ((std::vector<void *>{&values_[0]}), g_releases.values);
}

TEST_F(HashTable, ClearReleasesEveryValueAndTheTableCanBeReused)
{
    int datum = 0;
    table_->free_value_data = &datum;
    ASSERT_EQ(0u, qv_hash_table_add(table_, 5, &values_[0]));
    ASSERT_EQ(0u, qv_hash_table_add(table_, 2652, nullptr)); /* freed without a callback */
    ASSERT_EQ(0u, qv_hash_table_add(table_, 17, &values_[1]));
    qv_hash_table_clear(table_);
    EXPECT_EQ(0u, table_->entry_count);
    /* Buckets are visited from 0 up, each chain from its head. */
    EXPECT_EQ((std::vector<void *>{&values_[0], &values_[1]}), g_releases.values);
    EXPECT_EQ((std::vector<void *>{&datum, &datum}), g_releases.data);
    for (uint32_t key : {5u, 2652u, 17u})
        EXPECT_EQ(nullptr, qv_hash_table_find(table_, key));
    EXPECT_EQ(QV_NO_OWNER, table_->guard.owner.load());
    EXPECT_EQ(0u, table_->guard.count);

    ASSERT_EQ(0u, qv_hash_table_add(table_, 2652, &values_[2]));
    EXPECT_EQ(&values_[2], qv_hash_table_find(table_, 2652));
    EXPECT_EQ(1u, table_->entry_count);
}

TEST_F(HashTable, ClearOfAnEmptyTableWaitsForTheLockAndReleasesNothing)
{
    /* This thread holds the lock: clear, on another thread, must wait for it and not get
     * past it before the lock is given back. */
    std::atomic<bool> cleared{false};
    std::atomic<uint32_t> clearer_id{0};
    StderrCapture capture;
    qv_mutex_lock(&table_->guard);
    std::thread clearer([&] {
        clearer_id = system_thread_id();
        qv_hash_table_clear(table_);
        cleared = true;
    });
    while (clearer_id.load() == 0)
        std::this_thread::yield();
    EXPECT_TRUE(wait_until_blocked(clearer_id.load()));
    EXPECT_FALSE(cleared.load()) << "clear did not wait for the lock";
    qv_mutex_release(&table_->guard);
    clearer.join();
    EXPECT_TRUE(cleared.load());
    EXPECT_TRUE(capture.finish().empty());
    EXPECT_TRUE(g_releases.values.empty());
    EXPECT_EQ(0u, table_->entry_count);
    EXPECT_EQ(QV_NO_OWNER, table_->guard.owner.load()); /* given back as often as taken */
    EXPECT_EQ(0u, table_->guard.count);
}

TEST_F(HashTable, KeyHashCallbackChoosesTheBucket)
{
    table_->hash_key = [](uint32_t key) { return key / 1000; };
    ASSERT_EQ(0u, qv_hash_table_add(table_, 7001, &values_[0]));
    ASSERT_EQ(0u, qv_hash_table_add(table_, 7999, &values_[1]));
    EXPECT_EQ((std::vector<uint32_t>{7001, 7999}), chain(7));
    EXPECT_EQ(&values_[1], qv_hash_table_find(table_, 7999));
    EXPECT_EQ(nullptr, qv_hash_table_find(table_, 7000));
}

TEST_F(HashTable, DestroyReleasesValuesAndClearsThePointer)
{
    ASSERT_EQ(0u, qv_hash_table_add(table_, 1, &values_[0]));
    ASSERT_EQ(0u, qv_hash_table_add(table_, 2648, &values_[1]));
    QVHashTable *copy = table_;
    qv_hash_table_destroy(&table_);
    EXPECT_EQ(nullptr, table_);
    EXPECT_NE(nullptr, copy);
    EXPECT_EQ((std::vector<void *>{&values_[0], &values_[1]}), g_releases.values);

    StderrCapture capture; /* none is accepted silently */
    qv_hash_table_destroy(&table_);
    qv_hash_table_destroy(nullptr);
    qv_hash_table_clear(nullptr);
    EXPECT_EQ(nullptr, qv_hash_table_find(nullptr, 1));
    EXPECT_TRUE(capture.finish().empty());
}

TEST_F(HashTable, AddFromInsideTheHeldGuard)
{
    ASSERT_EQ(0u, qv_mutex_lock(&table_->guard));
    EXPECT_EQ(0u, qv_hash_table_add(table_, 9, &values_[0]));
    EXPECT_EQ(1u, table_->guard.count); /* taken and given back once by add */
    qv_mutex_release(&table_->guard);
    EXPECT_EQ(&values_[0], qv_hash_table_find(table_, 9));
}

TEST_F(HashTable, TableWhoseLockIsGoneRefusesAddsButStillClears)
{
    ASSERT_EQ(0u, qv_hash_table_add(table_, 3, &values_[0]));
    qv_mutex_finish(&table_->guard);
    StderrCapture capture;
    EXPECT_EQ(1u, qv_hash_table_add(table_, 4, &values_[1]));
    auto lines = capture.finish();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("ERROR  : qv_mutex_lock: mutex already freed", lines[0]);
    EXPECT_EQ(0u, lines[1].find("STACK_TRACE at QVHashTable:"));
    EXPECT_EQ(1u, table_->entry_count);
    EXPECT_EQ(nullptr, qv_hash_table_find(table_, 4));

    StderrCapture clear_capture;
    qv_hash_table_clear(table_);
    lines = clear_capture.finish();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("ERROR  : qv_mutex_lock: mutex already freed", lines[0]);
    EXPECT_EQ("ERROR  : qv_mutex_release: mutex already freed", lines[1]);
    EXPECT_EQ((std::vector<void *>{&values_[0]}), g_releases.values);
    EXPECT_EQ(0u, table_->entry_count);

    StderrCapture destroy_capture;
    qv_hash_table_destroy(&table_);
    lines = destroy_capture.finish();
    EXPECT_EQ(nullptr, table_);
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ("ERROR  : qv_mutex_lock: mutex already freed", lines[0]);
    EXPECT_NE(std::string::npos, lines[4].find("at QVmutex:"));
    EXPECT_NE(std::string::npos, lines[4].find("qv_mutex_finish: mutex already freed"));
}

TEST(HashTableCreate, RecordAllocationFailure)
{
    QVHashTable *table = reinterpret_cast<QVHashTable *>(0x1); /* must stay untouched */
    StderrCapture capture;
    qv_malloc_fail_nth(1);
    EXPECT_EQ(2u, qv_hash_table_create(&table, nullptr));
    qv_malloc_fail_nth(0);
    auto lines = capture.finish();
    EXPECT_EQ(reinterpret_cast<QVHashTable *>(0x1), table);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(0u, lines[0].find("ERROR   at QVHashTable:"));
    EXPECT_NE(std::string::npos, lines[0].find(": : out of memory. Size requested = " +
                                               std::to_string(sizeof(QVHashTable))));
}

TEST(HashTableCreate, LockCreationFailureDestroysTheHalfBuiltTable)
{
    QVHashTable *table = nullptr;
    StderrCapture capture;
    qv_malloc_fail_nth(2);
    EXPECT_EQ(2u, qv_hash_table_create(&table, nullptr));
    qv_malloc_fail_nth(0);
    auto lines = capture.finish();
    EXPECT_EQ(nullptr, table);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(std::string::npos, lines[0].find("qv_mutex_create: out of memory"));
    EXPECT_EQ(0u, lines[1].find("STACK_TRACE at QVHashTable:"));
    /* The rest reports the missing lock object while the record is released: the
     * address sanitizer checks that nothing is left behind. */
}

TEST(HashTableCreate, BucketArrayAllocationFailure)
{
    QVHashTable *table = nullptr;
    StderrCapture capture;
    qv_malloc_fail_nth(3);
    EXPECT_EQ(2u, qv_hash_table_create(&table, nullptr));
    qv_malloc_fail_nth(0);
    auto lines = capture.finish();
    EXPECT_EQ(nullptr, table);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(0u, lines[0].find("ERROR   at QVHashTable:"));
    EXPECT_NE(std::string::npos, lines[0].find("out of memory. Size requested = " +
                                               std::to_string(2647 * sizeof(QVHashNode *))));
}

TEST_F(HashTable, NodeAllocationFailureLeavesTheTableUnchanged)
{
    ASSERT_EQ(0u, qv_hash_table_add(table_, 5, &values_[0]));
    StderrCapture capture;
    qv_malloc_fail_nth(1);
    EXPECT_EQ(2u, qv_hash_table_add(table_, 2652, &values_[1]));
    qv_malloc_fail_nth(0);
    auto lines = capture.finish();
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("out of memory. Size requested = " +
                                               std::to_string(sizeof(QVHashNode))));
    EXPECT_EQ(1u, table_->entry_count);
    EXPECT_EQ((std::vector<uint32_t>{5}), chain(5));
    EXPECT_EQ(nullptr, qv_hash_table_find(table_, 2652));
    EXPECT_EQ(0u, table_->guard.count);
    EXPECT_EQ(0u, qv_hash_table_add(table_, 2652, &values_[1])); /* the next add works */
}

TEST_F(HashTable, ArgumentsThatAreMissing)
{
    StderrCapture capture;
    EXPECT_EQ(1u, qv_hash_table_create(nullptr, nullptr));
    EXPECT_EQ(1u, qv_hash_table_add(nullptr, 1, nullptr));
    auto lines = capture.finish();
    ASSERT_EQ(2u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("qv_hash_table_create: NULL parameter"));
    EXPECT_NE(std::string::npos, lines[1].find("qv_hash_table_add: NULL parameter"));
}

TEST_F(HashTable, AddsFromSeveralThreadsAreSerialized)
{
    const uint32_t per_thread = 1500;
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < 4; t++)
        threads.emplace_back([this, t, per_thread] {
            /* Interleaved keys put every thread's nodes into the same chains. */
            for (uint32_t i = 0; i < per_thread; i++)
                qv_hash_table_add(table_, i * 4 + t, &values_[t]);
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(4 * per_thread, table_->entry_count);

    /* Finds alone may run in parallel. */
    std::vector<std::thread> readers;
    std::vector<int> missing(4, 0);
    for (uint32_t t = 0; t < 4; t++)
        readers.emplace_back([this, t, per_thread, &missing] {
            for (uint32_t key = 0; key < 4 * per_thread; key++)
                if (qv_hash_table_find(table_, key) != &values_[key % 4])
                    missing[t]++;
        });
    for (std::thread &reader : readers)
        reader.join();
    EXPECT_EQ((std::vector<int>{0, 0, 0, 0}), missing);
}

} // namespace
