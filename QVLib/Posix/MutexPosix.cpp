/*
 * MutexPosix: the plain lock beneath QVmutex, a heap-allocated std::mutex, and the
 * kernel thread id (gettid).
 */
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <new>

#include "QVLib/QVmalloc.h"
#include "QVLib/QVmutex.h"

uint32_t qv_thread_id(void)
{
    thread_local uint32_t id = static_cast<uint32_t>(gettid());
    return id;
}

void *qv_plain_lock_new(void)
{
    void *block = qv_raw_malloc(sizeof(std::mutex));
    return block != nullptr ? new (block) std::mutex : nullptr;
}

void qv_plain_lock_take(void *lock)
{
    static_cast<std::mutex *>(lock)->lock();
}

void qv_plain_lock_give(void *lock)
{
    static_cast<std::mutex *>(lock)->unlock();
}

void qv_plain_lock_delete(void *lock)
{
    std::mutex *mutex = static_cast<std::mutex *>(lock);
    mutex->~mutex();
    free(mutex);
}
