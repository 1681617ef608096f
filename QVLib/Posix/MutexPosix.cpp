/*
 * MutexPosix: the re-entrant lock over a heap-allocated std::mutex, and the kernel
 * thread id (gettid).
 */
#include "QVLib/QVmutex.h"

#include <unistd.h>

#include <mutex>
#include <new>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/QVmalloc.h"

static const char QV_FILE[] = "MutexPosix";

uint32_t qv_thread_id(void)
{
    thread_local uint32_t id = static_cast<uint32_t>(gettid());
    return id;
}

unsigned qv_mutex_create(QVmutex *m)
{
    /* The lock reports its own failure in words of its own, hence the raw seam. */
    void *block = qv_raw_malloc(sizeof(std::mutex));
    if (block == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_mutex_create: out of memory");
        m->mutex = nullptr;
        return 2;
    }
    m->mutex = new (block) std::mutex;
    m->owner.store(QV_NO_OWNER);
    m->count = 0;
    return 0;
}

unsigned qv_mutex_lock(QVmutex *m)
{
    if (m->mutex == nullptr) {
        qv_log(QV_LOG_ERROR, "%s", "qv_mutex_lock: mutex already freed");
        return 1;
    }
    uint32_t self = qv_thread_id();
    if (m->owner.load() != self) {
        static_cast<std::mutex *>(m->mutex)->lock();
        m->owner.store(self);
    }
    m->count++;
    return 0;
}

void qv_mutex_release(QVmutex *m)
{
    if (m->mutex == nullptr) {
        qv_log(QV_LOG_ERROR, "%s", "qv_mutex_release: mutex already freed");
        return;
    }
    /* Unlocking a std::mutex that the thread does not hold is undefined: refuse it. */
    if (m->owner.load() != qv_thread_id() || m->count == 0) {
        qv_log(QV_LOG_ERROR, "%s", "qv_mutex_release: mutex not held by this thread");
        return;
    }
    if (--m->count == 0) {
        m->owner.store(QV_NO_OWNER);
        static_cast<std::mutex *>(m->mutex)->unlock();
    }
}

void qv_mutex_finish(QVmutex *m)
{
    if (m->mutex == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_mutex_finish: mutex already freed");
        return;
    }
    std::mutex *mutex = static_cast<std::mutex *>(m->mutex);
    mutex->~mutex();
    free(mutex);
    m->mutex = nullptr;
}
