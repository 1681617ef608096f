/*
 * TimePosix: clock_gettime and the C library's time zone behind the time record.
 *
 * The clock is CLOCK_REALTIME broken down as UTC. The offset at an instant comes from
 * the C library's time-zone state (TZ, or /etc/localtime), which is re-read whenever TZ
 * has changed, so that a change of TZ takes effect at once.
 *
 * The local offset is -tm_gmtoff of localtime_r at the instant, which is right in every
 * zone, including those whose daylight saving is not one hour. Where no instant can be
 * converted, and for a clock before 1970, the zone's standard offset (timezone, after
 * tzset) stands in. The zone is re-read whenever TZ changes; what notices the change
 * lives in storage that outlives exit handlers.
 */
#include "QVLib/QVclock.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>

static const char QV_FILE[] = "TimePosix";

static_assert(sizeof(time_t) >= 8, "instants after 2038 need a 64-bit time_t");

/* The first and last seconds of the years 1 and 9999: a reading beyond them (which no
 * system clock gives) is taken as the nearer one, so that qv_time_init_full always
 * accepts the clock's fields and the record is always complete. */
static const time_t FIRST_READING = -62135596800;
static const time_t LAST_READING = 253402300799;

static std::atomic<QVClockReader> g_clock_reader{nullptr};

void qv_time_set_clock_reader(QVClockReader reader)
{
    g_clock_reader.store(reader);
}

static void read_clock(struct timespec *now)
{
    QVClockReader reader = g_clock_reader.load();
    if (reader != nullptr) {
        reader(now);
    } else if (clock_gettime(CLOCK_REALTIME, now) != 0) {
        now->tv_sec = 0;
        now->tv_nsec = 0;
    }
}

void qv_time_now(QVtime *t)
{
    struct timespec now;
    read_clock(&now);
    time_t secs = now.tv_sec < FIRST_READING  ? FIRST_READING
                  : now.tv_sec > LAST_READING ? LAST_READING
                                              : now.tv_sec;
    long ms = now.tv_nsec / 1000000;
    ms = ms < 0 ? 0 : ms > 999 ? 999 : ms;
    struct tm utc;
    gmtime_r(&secs, &utc); /* cannot fail for years 1 to 9999 */
    unsigned status =
        qv_time_init_full(t, utc.tm_year + 1900, static_cast<uint32_t>(utc.tm_mon + 1),
                          static_cast<uint32_t>(utc.tm_mday), static_cast<uint32_t>(utc.tm_hour),
                          static_cast<uint32_t>(utc.tm_min), static_cast<uint32_t>(utc.tm_sec),
                          static_cast<uint32_t>(ms));
    if (status != 0)
        qv_time_report_trace(QV_FILE, __LINE__);
}

/* The TZ value this thread last handed to tzset(), kept in plain storage without a
 * destructor: lines logged from exit handlers (the catalogue's teardown) read it after
 * the thread's objects with destructors are gone. A longer value is never kept, and
 * tzset() then runs on every call. */
#define QV_TZ_KEPT_SIZE 256

/* Re-reads the zone when TZ has changed since this thread last looked. tzset() itself
 * would stat /etc/localtime on every call, once per line written to the log file. */
static void update_zone(void)
{
    enum { UNKNOWN, UNSET, KEPT };
    thread_local int known = UNKNOWN;
    thread_local char last_tz[QV_TZ_KEPT_SIZE];
    const char *tz = getenv("TZ");
    if (tz == nullptr ? known == UNSET : known == KEPT && strcmp(last_tz, tz) == 0)
        return;
    tzset();
    known = UNKNOWN;
    if (tz == nullptr) {
        known = UNSET;
    } else if (strlen(tz) < sizeof last_tz) {
        strcpy(last_tz, tz);
        known = KEPT;
    }
}

int32_t qv_time_local_offset(const QVtime *t)
{
    update_zone();
    const int32_t standard = static_cast<int32_t>(timezone);
    time_t instant;
    if (t != nullptr) {
        /* The C library converts instants before 1970 as well: an invalid or
         * out-of-range record must be caught here. */
        int64_t secs = qv_time_to_secs(t);
        if (secs == -1)
            return standard;
        instant = static_cast<time_t>(secs);
    } else {
        /* A clock before 1970 is outside what the offset is defined for, as an invalid
         * record is: the zone's offsets of that time were often not today's. */
        struct timespec now;
        read_clock(&now);
        if (now.tv_sec < 0)
            return standard;
        instant = now.tv_sec;
    }
    struct tm local;
    if (localtime_r(&instant, &local) == nullptr)
        return standard;
    return static_cast<int32_t>(-local.tm_gmtoff);
}
