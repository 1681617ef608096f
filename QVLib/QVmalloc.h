/*
 * QVmalloc: the one guarded heap allocation of the system.
 *
 * Every block that the foundation library, the log sink, the hash table, the message
 * catalogue and the database engine take from the heap comes from here, so that a size
 * of 0 (usually a size that wrapped around) and an exhausted heap are reported the same
 * way everywhere, and so that a test can make any one allocation fail: the test seam
 * counts allocations and fails the n-th one from the moment it is armed. Blocks are
 * released with free().
 */
#ifndef QVLIB_QVMALLOC_H
#define QVLIB_QVMALLOC_H

#include <cstddef>

/* Allocates size bytes, zero-filled when zero is non-zero. Returns the block, owned by
 * the caller, or null: a size of 0 is refused with ": bad malloc size %d" and a failed
 * allocation reports ": out of memory. Size requested = %d", both at level ERROR with
 * the caller's source position (file, line). The caller answers status 2. */
void *qv_malloc(size_t size, const char *file, int line, int zero);

/* The seam beneath qv_malloc, for the few callers that report a failure in words of
 * their own: malloc(size), or null when the test seam fails this allocation. Logs
 * nothing. */
void *qv_raw_malloc(size_t size);

/* Test seam. Arms the allocation counter: the n-th allocation from now fails (n = 1:
 * the next one); with persistent set, that one and every later one fail. n = 0 disarms
 * it. Counting is process-wide and thread-safe. */
void qv_malloc_fail_nth(unsigned long n, bool persistent = false);

/* Test seam. Returns how many allocations the seam has failed since it was last armed. */
unsigned long qv_malloc_injected_failures(void);

#endif
