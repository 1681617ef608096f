/*
 * QVmalloc: guarded allocation and its failure-injection seam.
 *
 * The seam costs one relaxed atomic load per allocation while disarmed. When armed, a
 * countdown picks the allocation to fail; the counters are atomic because the thread
 * sanitizer tests allocate from several threads at once.
 */
#include "QVLib/QVmalloc.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"

static std::atomic<bool> g_armed{false};
static std::atomic<long> g_countdown{0}; /* allocations left before the one that fails */
static std::atomic<bool> g_persistent{false};
static std::atomic<unsigned long> g_injected{0};

void qv_malloc_fail_nth(unsigned long n, bool persistent)
{
    g_armed.store(false);
    g_injected.store(0);
    g_persistent.store(persistent);
    g_countdown.store(static_cast<long>(n));
    g_armed.store(n != 0);
}

unsigned long qv_malloc_injected_failures(void)
{
    return g_injected.load();
}

/* True when the seam fails this allocation. */
static bool injected_failure(void)
{
    if (!g_armed.load(std::memory_order_relaxed))
        return false;
    long left = g_countdown.fetch_sub(1) - 1;
    if (left == 0 || (left < 0 && g_persistent.load())) {
        g_injected.fetch_add(1);
        return true;
    }
    return false;
}

void *qv_raw_malloc(size_t size)
{
    if (injected_failure())
        return nullptr;
    return malloc(size);
}

void *qv_malloc(size_t size, const char *file, int line, int zero)
{
    if (size == 0) {
        qv_log_at(file, line, QV_LOG_ERROR, ": bad malloc size %d", 0);
        return nullptr;
    }
    void *block = qv_raw_malloc(size);
    if (block == nullptr) {
        qv_log_at(file, line, QV_LOG_ERROR, ": out of memory. Size requested = %d",
                  static_cast<int>(size));
        return nullptr;
    }
    if (zero)
        memset(block, 0, size);
    return block;
}
