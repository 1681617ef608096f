/*
 * TimeWin32: the system clock (GetSystemTime) and the C runtime's time zone behind the
 * time record.
 *
 * The local offset at an instant is the runtime's standard offset (_timezone, what
 * _get_timezone reads), plus the zone's daylight-saving bias whenever _localtime64_s
 * says daylight saving is in effect then. The bias is the zone's own (_dstbias: an hour
 * in ordinary zones, half an hour on Lord Howe Island), so the offset is right wherever
 * the runtime knows the zone. The runtime refuses instants before 1970: there, and for
 * an invalid record, the standard offset stands. msvcrt.dll, the runtime MinGW links,
 * exports the variables on every Windows version but _get_timezone and _get_dstbias
 * only on some: the variables are read, once the runtime has read the zone (_tzset).
 *
 * The runtime takes the zone from TZ when it is set, in its own form ("CET-1CEST",
 * "EST5EDT"), else from the system's time-zone settings.
 *
 * The clock seam's reading is turned into the same SYSTEMTIME fields as the clock's, so
 * that both take one path into the record.
 */
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>

#include "QVLib/QVclock.h"

static const char QV_FILE[] = "TimeWin32";

/* 100 ns intervals from 1601-01-01 to 1970-01-01, and the last second of the year
 * 9999: a seam reading beyond the system's range is taken as the nearer end. */
static const int64_t QV_EPOCH_1970_SECS = 11644473600;
static const int64_t QV_LAST_READING = 253402300799;
static const int64_t QV_TICKS_PER_SEC = 10000000;
static const int64_t QV_TICKS_PER_MS = 10000;

static std::atomic<QVClockReader> g_clock_reader{nullptr};

void qv_time_set_clock_reader(QVClockReader reader)
{
    g_clock_reader.store(reader);
}

/* A seam reading as the system clock would give it. */
static void reading_to_system_time(const struct timespec &reading, SYSTEMTIME *now)
{
    int64_t secs = reading.tv_sec < -QV_EPOCH_1970_SECS ? -QV_EPOCH_1970_SECS
                   : reading.tv_sec > QV_LAST_READING   ? QV_LAST_READING
                                                        : reading.tv_sec;
    long ms = reading.tv_nsec / 1000000;
    ms = ms < 0 ? 0 : ms > 999 ? 999 : ms;
    uint64_t ticks = static_cast<uint64_t>((secs + QV_EPOCH_1970_SECS) * QV_TICKS_PER_SEC +
                                           ms * QV_TICKS_PER_MS);
    FILETIME file_time;
    file_time.dwLowDateTime = static_cast<DWORD>(ticks);
    file_time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    FileTimeToSystemTime(&file_time, now); /* cannot fail for years 1601 to 9999 */
}

void qv_time_now(QVtime *t)
{
    SYSTEMTIME now;
    QVClockReader reader = g_clock_reader.load();
    if (reader != nullptr) {
        struct timespec reading;
        reader(&reading);
        reading_to_system_time(reading, &now);
    } else {
        GetSystemTime(&now);
    }
    unsigned status = qv_time_init_full(t, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                                        now.wSecond, now.wMilliseconds);
    if (status != 0)
        qv_time_report_trace(QV_FILE, __LINE__);
}

/* The current instant in seconds since 1970, from the seam when one is in place. */
static __time64_t current_instant(void)
{
    QVClockReader reader = g_clock_reader.load();
    if (reader == nullptr)
        return _time64(nullptr);
    struct timespec reading;
    reader(&reading);
    return reading.tv_sec;
}

int32_t qv_time_local_offset(const QVtime *t)
{
    /* An invalid record gives -1, which the runtime refuses like any instant before
     * 1970. */
    __time64_t instant = t != nullptr ? qv_time_to_secs(t) : current_instant();
    static std::once_flag zone_read;
    std::call_once(zone_read, _tzset);
    struct tm local;
    errno_t converted = _localtime64_s(&local, &instant);
    long standard = _timezone;
    if (converted == 0 && local.tm_isdst > 0)
        return static_cast<int32_t>(standard + _dstbias);
    return static_cast<int32_t>(standard);
}
