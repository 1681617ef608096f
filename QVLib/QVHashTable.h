/*
 * QVHashTable: a table of untyped values under unsigned 32-bit keys.
 *
 * A fixed number of buckets (QV_HASH_TABLE_BUCKETS, never resized) with separate chaining.
 * Invariants: a key occurs at most once; a node lies in the chain of bucket
 * hash(key) % bucket_count, where hash is hash_key(key) when that callback is set and the
 * key itself otherwise; each chain keeps its nodes in insertion order; entry_count is the
 * number of nodes.
 *
 * Ownership: the table owns its record, bucket array and nodes. A value becomes the
 * table's only once an add has returned 0; from then on it is released only through
 * free_value, by clear or destroy. A failed add leaves the value with the caller.
 *
 * Locking: add and clear (and so destroy) serialize on the table's re-entrant guard. Find
 * takes no lock: it may run alongside other finds, never alongside add, clear or destroy
 * of the same table. Whoever shares a table between threads must fill it completely and
 * publish it (with release/acquire ordering) before other threads search it.
 */
#ifndef QVLIB_QVHASHTABLE_H
#define QVLIB_QVHASHTABLE_H

#include <cstdint>

#include "QVLib/QVmutex.h"

/* The bucket count of every table: a prime, ample for the largest catalogue language
 * (1292 entries), so chains stay short without rehashing. */
#define QV_HASH_TABLE_BUCKETS 2647u

/* Releases one stored value; data is the table's free_value_data. */
typedef void (*QVHashFreeValue)(void *value, void *data);
/* Maps a key to the hash that picks its bucket. */
typedef uint32_t (*QVHashKeyFunction)(uint32_t key);

struct QVHashNode {
    uint32_t key;
    void *value;      /* may be null: clear then calls no free_value for it */
    QVHashNode *next; /* the next node of the same chain, null at its end */
};

struct QVHashTable {
    QVmutex guard;              /* serializes add and clear */
    uint32_t bucket_count;      /* QV_HASH_TABLE_BUCKETS once created, 0 before */
    uint32_t entry_count;       /* number of nodes */
    QVHashNode **buckets;       /* owned, bucket_count chain heads */
    QVHashFreeValue free_value; /* called by clear for every value that is not null */
    void *free_value_data;      /* second argument of free_value */
    QVHashKeyFunction hash_key; /* null: the key is its own hash */
};

/* Creates an empty table whose values are released through free_value (which may be
 * null when the values need no release), with no free_value_data and no hash_key.
 * Returns 0 and stores the table in *table; 1 when table is null; 2 out of memory; or
 * the failure status of the lock's creation. On failure *table is left untouched and
 * nothing stays allocated. */
unsigned qv_hash_table_create(QVHashTable **table, QVHashFreeValue free_value);

/* Stores value under key. Returns 0 when stored; 1 when the key is present already
 * (logged with the key; the table is unchanged), when table is null, or when its lock
 * no longer exists; 2 out of memory. On any result but 0 the value stays the caller's. */
unsigned qv_hash_table_add(QVHashTable *table, uint32_t key, void *value);

/* Returns the value stored under key, or null when the key is absent (or table is
 * null). Takes no lock and allocates nothing. */
void *qv_hash_table_find(const QVHashTable *table, uint32_t key);

/* Releases every value (through free_value) and node; the table stays usable and empty.
 * A null table is ignored. */
void qv_hash_table_clear(QVHashTable *table);

/* Sets *table to null, then clears the table and releases its lock and memory. Accepts
 * a null address or a null *table (nothing to do). The table may be one that creation
 * left half-built. */
void qv_hash_table_destroy(QVHashTable **table);

#endif
