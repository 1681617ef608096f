/*
 * TimePosix: clock_gettime and the C library's time zone behind the time record.
 *
 * The local offset is -tm_gmtoff of localtime_r at the instant, which is right in every
 * zone, including those whose daylight saving is not one hour. Where no instant can be
 * converted, the zone's standard offset (timezone, after tzset) stands in.
 */
#include "QVLib/Posix/TimePosix.h"

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <string>

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

/* Re-reads the zone when TZ has changed since this thread last looked. tzset() itself
 * would stat /etc/localtime on every call, once per line written to the log file. */
static void update_zone(void)
{
    thread_local bool known = false;
    thread_local bool had_tz = false;
    thread_local std::string last_tz;
    const char *tz = getenv("TZ");
    if (known && had_tz == (tz != nullptr) && (tz == nullptr || last_tz == tz))
        return;
    tzset();
    had_tz = tz != nullptr;
    last_tz = tz ? tz : "";
    known = true;
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
        struct timespec now;
        read_clock(&now);
        instant = now.tv_sec;
    }
    struct tm local;
    if (localtime_r(&instant, &local) == nullptr)
        return standard;
    return static_cast<int32_t>(-local.tm_gmtoff);
}
