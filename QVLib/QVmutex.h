/*
 * QVmutex: the re-entrant lock of the whole system, and the calling thread's id.
 *
 * The platform mutex is taken once per holding thread; QVmutex adds the re-entrancy
 * with its owner and count: a thread that holds the lock only raises count, and the
 * platform mutex is given back when count returns to 0. owner is read by other threads
 * without the lock, so it is atomic. The platform side (MutexPosix, MutexWin32) supplies
 * the platform mutex and the thread id.
 *
 * A record without a lock object (mutex null) is "freed": before qv_mutex_create and
 * after qv_mutex_finish. Operations on it report "mutex already freed".
 */
#ifndef QVLIB_QVMUTEX_H
#define QVLIB_QVMUTEX_H

#include <atomic>
#include <cstdint>

#define QV_NO_OWNER 0xFFFFFFFFu

struct QVmutex {
    void *mutex;                 /* the platform mutex, or null */
    std::atomic<uint32_t> owner; /* thread id of the holder, QV_NO_OWNER when free */
    uint32_t count;              /* how many times the holder has taken it */
};

/* The calling thread's id (the kernel's or the system's), as printed in log lines. */
uint32_t qv_thread_id(void);

/* Creates the lock object. Returns 0 (owner none, count 0), or 2 when it cannot be
 * allocated ("qv_mutex_create: out of memory"; mutex stays null). m must not hold a
 * lock object already. */
unsigned qv_mutex_create(QVmutex *m);

/* Takes the lock, waiting unless the calling thread holds it already. Returns 0, or 1
 * for a record without lock object ("qv_mutex_lock: mutex already freed"). */
unsigned qv_mutex_lock(QVmutex *m);

/* Gives the lock back once; the platform mutex is released when the count reaches 0.
 * A record without lock object is reported; a release by a thread that does not hold
 * the lock is reported and ignored. */
void qv_mutex_release(QVmutex *m);

/* Destroys the lock object (which nobody may hold) and sets mutex to null; owner and
 * count are left alone. A record without lock object is reported. */
void qv_mutex_finish(QVmutex *m);

/* ---- the platform side, for QVmutex.cpp alone ------------------------------------ */

/* A new plain lock, not re-entrant and not held, from qv_raw_malloc's seam; null when
 * memory is exhausted (nothing logged). */
void *qv_plain_lock_new(void);

/* Takes the plain lock, waiting as long as another thread holds it. */
void qv_plain_lock_take(void *lock);

/* Gives back the plain lock, which the calling thread holds. */
void qv_plain_lock_give(void *lock);

/* Destroys a plain lock that nobody holds. */
void qv_plain_lock_delete(void *lock);

#endif
