/*
 * QVmutex: the re-entrant lock, over the platform's plain lock (MutexPosix,
 * MutexWin32). Only the holder changes count; owner is what other threads look at.
 */
#include "QVLib/QVmutex.h"

#include "Interfaces/ErrorLogger/ErrorLogger.h"

static const char QV_FILE[] = "QVmutex";

unsigned qv_mutex_create(QVmutex *m)
{
    m->mutex = qv_plain_lock_new();
    if (m->mutex == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s", "qv_mutex_create: out of memory");
        return 2;
    }
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
        qv_plain_lock_take(m->mutex);
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
    /* A plain lock given back by a thread that does not hold it is undefined on every
     * platform: refuse it. */
    if (m->owner.load() != qv_thread_id() || m->count == 0) {
        qv_log(QV_LOG_ERROR, "%s", "qv_mutex_release: mutex not held by this thread");
        return;
    }
    if (--m->count == 0) {
        m->owner.store(QV_NO_OWNER);
        qv_plain_lock_give(m->mutex);
    }
}

void qv_mutex_finish(QVmutex *m)
{
    if (m->mutex == nullptr) {
        qv_log_at(QV_FILE, __LINE__, QV_LOG_ERROR, "%s",
                  "qv_mutex_finish: mutex already freed");
        return;
    }
    qv_plain_lock_delete(m->mutex);
    m->mutex = nullptr;
}
