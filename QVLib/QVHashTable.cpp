/*
 * QVHashTable: fixed-size bucket array with separate chaining.
 *
 * New nodes are appended at the end of their chain, so a chain lists its keys in the
 * order they were added, and the walk that looks for a duplicate ends exactly where the
 * new node goes. A table that creation left half-built (no lock object, or no bucket
 * array) has bucket_count 0: clear then visits no bucket, and destroy only releases what
 * exists.
 */
#include "QVLib/QVHashTable.h"

#include <cstdlib>
#include <new>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/QVmalloc.h"

static const char QV_FILE[] = "QVLib/QVHashTable";

unsigned qv_hash_table_create(QVHashTable **table, QVHashFreeValue free_value)
{
    if (table == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_hash_table_create: NULL parameter");
        return 1;
    }
    void *block = qv_malloc(sizeof(QVHashTable), QV_FILE, __LINE__, 1);
    if (block == nullptr)
        return 2;
    QVHashTable *created = new (block) QVHashTable{};
    created->entry_count = 0;
    created->free_value = free_value;
    created->free_value_data = nullptr;
    created->hash_key = nullptr;

    unsigned status = qv_mutex_create(&created->guard);
    if (status != 0) {
        qv_log_trace(QV_FILE, __LINE__);
        qv_hash_table_destroy(&created);
        return status;
    }
    created->buckets = static_cast<QVHashNode **>(
        qv_malloc(QV_HASH_TABLE_BUCKETS * sizeof(QVHashNode *), QV_FILE, __LINE__, 1));
    if (created->buckets == nullptr) {
        qv_hash_table_destroy(&created);
        return 2;
    }
    created->bucket_count = QV_HASH_TABLE_BUCKETS;
    *table = created;
    return 0;
}

/* The bucket whose chain holds key; the table must have buckets. */
static uint32_t bucket_of(const QVHashTable *table, uint32_t key)
{
    uint32_t hash = table->hash_key != nullptr ? table->hash_key(key) : key;
    return hash % table->bucket_count;
}

/* Appends a node for key at the end of its chain unless the key is present. The caller
 * holds the guard. Returns 0, 1 (present) or 2 (out of memory). */
static unsigned append_node(QVHashTable *table, uint32_t key, void *value)
{
    QVHashNode **link = &table->buckets[bucket_of(table, key)];
    for (; *link != nullptr; link = &(*link)->next) {
        if ((*link)->key == key) {
            qv_log(QV_LOG_ERROR, "qv_hash_table_add: key value %u already in table", key);
            return 1;
        }
    }
    QVHashNode *node =
        static_cast<QVHashNode *>(qv_malloc(sizeof(QVHashNode), QV_FILE, __LINE__, 0));
    if (node == nullptr)
        return 2;
    node->key = key;
    node->value = value;
    node->next = nullptr;
    *link = node;
    table->entry_count++;
    return 0;
}

unsigned qv_hash_table_add(QVHashTable *table, uint32_t key, void *value)
{
    if (table == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_hash_table_add: NULL parameter");
        return 1;
    }
    if (qv_mutex_lock(&table->guard) != 0) { /* the lock has logged "already freed" */
        qv_log_trace(QV_FILE, __LINE__);
        return 1;
    }
    unsigned result;
    if (table->bucket_count == 0) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_hash_table_add: table has no buckets");
        result = 1;
    } else {
        result = append_node(table, key, value);
    }
    qv_mutex_release(&table->guard);
    return result;
}

void *qv_hash_table_find(const QVHashTable *table, uint32_t key)
{
    if (table == nullptr || table->bucket_count == 0)
        return nullptr;
    for (const QVHashNode *node = table->buckets[bucket_of(table, key)]; node != nullptr;
         node = node->next) {
        if (node->key == key)
            return node->value;
    }
    return nullptr;
}

void qv_hash_table_clear(QVHashTable *table)
{
    if (table == nullptr)
        return;
    /* Without a lock object the lock operations report it; the work is done anyway. */
    qv_mutex_lock(&table->guard);
    for (uint32_t i = 0; i < table->bucket_count; i++) {
        QVHashNode *node = table->buckets[i];
        while (node != nullptr) {
            QVHashNode *next = node->next;
            if (node->value != nullptr && table->free_value != nullptr)
                table->free_value(node->value, table->free_value_data);
            free(node);
            table->entry_count--;
            node = next;
        }
        table->buckets[i] = nullptr;
    }
    qv_mutex_release(&table->guard);
}

void qv_hash_table_destroy(QVHashTable **table)
{
    if (table == nullptr || *table == nullptr)
        return;
    QVHashTable *doomed = *table;
    qv_mutex_lock(&doomed->guard);
    *table = nullptr; /* before anything is released */
    qv_hash_table_clear(doomed);
    qv_mutex_release(&doomed->guard);
    qv_mutex_finish(&doomed->guard);
    free(doomed->buckets);
    free(doomed);
}
