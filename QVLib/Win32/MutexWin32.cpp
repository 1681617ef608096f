/*
 * MutexWin32: the plain lock beneath QVmutex, a heap-allocated slim reader/writer lock
 * taken exclusively, and the system's thread id (GetCurrentThreadId).
 */
#include <windows.h>

#include <cstdlib>

#include "QVLib/QVmalloc.h"
#include "QVLib/QVmutex.h"

uint32_t qv_thread_id(void)
{
    return static_cast<uint32_t>(GetCurrentThreadId());
}

void *qv_plain_lock_new(void)
{
    SRWLOCK *lock = static_cast<SRWLOCK *>(qv_raw_malloc(sizeof(SRWLOCK)));
    if (lock != nullptr)
        InitializeSRWLock(lock);
    return lock;
}

void qv_plain_lock_take(void *lock)
{
    AcquireSRWLockExclusive(static_cast<SRWLOCK *>(lock));
}

void qv_plain_lock_give(void *lock)
{
    ReleaseSRWLockExclusive(static_cast<SRWLOCK *>(lock));
}

/* A slim lock needs no teardown: freeing its memory is all. */
void qv_plain_lock_delete(void *lock)
{
    free(lock);
}
