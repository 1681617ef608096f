/*
 * QVtime: conversions between calendar fields, seconds since 1970 and ticks.
 *
 * Anchors: 1970-01-01 00:00:00 is second 0 here, 11644473600 seconds after the tick
 * epoch 1601-01-01 00:00:00, and day 25567 counted from 1900-01-01. 1970-01-01 was a
 * Thursday. Within the years accepted (1991 to 2038) every fourth year is a leap year,
 * so the century rule never applies.
 *
 * Invariants: all arithmetic is integer arithmetic and free of signed overflow for any
 * argument; every record written is normalised from a seconds count in 0..2147483647.
 */
#include "QVLib/QVtime.h"

#include <atomic>
#include <cinttypes>
#include <cstring>

#include "Interfaces/ErrorLogger/ErrorLogger.h"

static const char QV_FILE[] = "QVLib/QVtime";

static const int64_t TICKS_PER_SECOND = 10000000;
static const int64_t TICKS_PER_MS = 10000;
static const int64_t SECS_1601_TO_1970 = 11644473600;
static const int64_t TICKS_1970 = 116444736000000000; /* SECS_1601_TO_1970 * TICKS_PER_SECOND */
static const int64_t DAYS_1900_TO_1970 = 25567;
static const int64_t SECS_PER_CYCLE = 126230400; /* four years, one of them leap: 1461 days */
static const int64_t SECS_PER_COMMON_YEAR = 31536000;
static const int64_t SECS_PER_LEAP_YEAR = 31622400;
static const int64_t SECS_PER_DAY = 86400;
static const int64_t LAST_SECS = 2147483647;    /* 2038-01-19 03:14:07 */
static const int64_t LAST_YEAR_FROM_1900 = 138; /* 2038 */

static_assert(TICKS_1970 == SECS_1601_TO_1970 * TICKS_PER_SECOND, "tick epoch");
static_assert(SECS_PER_CYCLE == 3 * SECS_PER_COMMON_YEAR + SECS_PER_LEAP_YEAR, "cycle");

/* Day of the year (from 0) of the last day of month m, per kind of year; entry 0 is -1
 * so that entry[m - 1] + 1 is the first day of month m. */
static const int32_t g_month_end[2][13] = {
    {-1, 30, 58, 89, 119, 150, 180, 211, 242, 272, 303, 333, 364},
    {-1, 30, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
};

/* Invalid-time reports in progress, process-wide. */
static std::atomic<int32_t> g_report_depth{0};

/* Set while this thread writes a report of the time module: the log line it writes is
 * stamped with the clock, which lands here again, and must not report in turn. */
static thread_local bool t_reporting = false;

/* ---- reports ----------------------------------------------------------------------- */

/* True when the calling thread may report now; it is then marked as reporting until
 * end_report. */
static bool begin_report(void)
{
    if (t_reporting)
        return false;
    t_reporting = true;
    return true;
}

static void end_report(void)
{
    t_reporting = false;
}

void qv_time_report_trace(const char *file, int line)
{
    if (!begin_report())
        return;
    qv_log_trace(file, line);
    end_report();
}

static void report_error(int line, const char *message)
{
    if (!begin_report())
        return;
    qv_log_at(QV_FILE, line, QV_LOG_ERROR, "%s", message);
    end_report();
}

static void report_invalid(const QVtime *t)
{
    if (!begin_report())
        return;
    if (g_report_depth.fetch_add(1) + 1 < 5)
        qv_log(QV_LOG_ERROR, "Invalid time: %d/%d/%d %d:%02d:%02d.%03d", t->month, t->day, t->year,
               t->hour, t->minute, t->second, t->millisecond);
    g_report_depth.fetch_sub(1);
    end_report();
}

static void report_bad_secs(int64_t secs)
{
    if (!begin_report())
        return;
    qv_log(QV_LOG_WARNING, "set_qv_time_from_int64 bad secs %" PRId64, secs);
    end_report();
}

/* ---- conversions ------------------------------------------------------------------- */

int qv_time_is_valid(const QVtime *t)
{
    if (t->year > 1990 && t->month >= 1 && t->month <= 12 && t->day >= 1 && t->day <= 31 &&
        t->hour < 24 && t->minute < 60 && t->second < 60 && t->millisecond < 1000)
        return 1;
    if (t->year != 0)
        report_invalid(t);
    return 0;
}

int64_t qv_time_to_secs(const QVtime *t)
{
    if (!qv_time_is_valid(t))
        return -1;
    int64_t y = static_cast<int64_t>(t->year) - 1900; /* [91, 65535 - 1900] */
    if (y > LAST_YEAR_FROM_1900)
        return -1;
    /* From here y is in [91, 138], so nothing below can overflow; the checks keep the
     * function safe should the range ever be widened. */
    int64_t leap_day = (y % 4 == 0 && t->month > 2) ? 1 : 0;
    int64_t days, secs;
    bool overflow = __builtin_mul_overflow(y, 365, &days);
    overflow |= __builtin_add_overflow(
        days, (y - 1) / 4 + g_month_end[0][t->month - 1] + leap_day - DAYS_1900_TO_1970, &days);
    overflow |= __builtin_add_overflow(days, static_cast<int64_t>(t->day), &days);
    /* days: [7670, 25201] days since 1970-01-01 */
    overflow |= __builtin_mul_overflow(days, 24, &secs);
    overflow |= __builtin_add_overflow(secs, static_cast<int64_t>(t->hour), &secs);
    overflow |= __builtin_mul_overflow(secs, 60, &secs);
    overflow |= __builtin_add_overflow(secs, static_cast<int64_t>(t->minute), &secs);
    overflow |= __builtin_mul_overflow(secs, 60, &secs);
    overflow |= __builtin_add_overflow(secs, static_cast<int64_t>(t->second), &secs);
    return overflow ? -1 : secs;
}

unsigned qv_time_from_secs(QVtime *t, int64_t secs)
{
    /* Beyond LAST_SECS the year would leave the four-year rule and the ticks the 64-bit
     * range; the clamping callers never pass such counts. */
    if (secs < 0 || secs > LAST_SECS)
        return 1;
    int64_t cycles = secs / SECS_PER_CYCLE;     /* [0, 17] */
    int64_t r = secs - cycles * SECS_PER_CYCLE; /* [0, SECS_PER_CYCLE) */
    int64_t year = 1970 + 4 * cycles;
    int leap = 0;
    /* The years of a cycle from 1970 have 365, 365, 366 and 365 days. */
    if (r >= SECS_PER_COMMON_YEAR) {
        r -= SECS_PER_COMMON_YEAR;
        year++;
        if (r >= SECS_PER_COMMON_YEAR) {
            r -= SECS_PER_COMMON_YEAR;
            year++;
            if (r < SECS_PER_LEAP_YEAR) {
                leap = 1;
            } else {
                r -= SECS_PER_LEAP_YEAR;
                year++;
            }
        }
    }
    int64_t yday = r / SECS_PER_DAY;     /* [0, 365] */
    int64_t s = r - SECS_PER_DAY * yday; /* [0, 86399] */
    const int32_t *month_end = g_month_end[leap];
    int month = 1;
    while (month_end[month] < yday) /* ends at 12 at the latest: entry 12 is the last day */
        month++;

    t->year = static_cast<uint16_t>(year);
    t->month = static_cast<uint8_t>(month);
    t->day = static_cast<uint8_t>(yday - month_end[month - 1]);
    t->weekday = static_cast<uint8_t>((secs / SECS_PER_DAY + 4) % 7);
    t->hour = static_cast<uint8_t>(s / 3600);
    t->minute = static_cast<uint8_t>((s - 3600 * t->hour) / 60);
    t->second = static_cast<uint8_t>(s - 3600 * t->hour - 60 * t->minute);
    t->millisecond = 0;
    t->ticks = (secs + SECS_1601_TO_1970) * TICKS_PER_SECOND;
    return 0;
}

unsigned set_qv_time_from_int64(QVtime *t)
{
    unsigned status = 0;
    int64_t since_1970;
    int64_t ms = -1;
    /* Ticks so far before 1601 that the difference overflows are simply before 1970. */
    if (!__builtin_sub_overflow(t->ticks, TICKS_1970, &since_1970))
        ms = since_1970 / TICKS_PER_MS; /* truncates toward zero */
    if (ms < 0) {
        ms = 0;
        status = 1;
    }
    int64_t secs = ms / 1000;
    int64_t fraction = ms % 1000;
    if (secs > LAST_SECS) {
        report_bad_secs(secs);
        secs = LAST_SECS;
        fraction = 0;
        status = 1;
    }
    qv_time_from_secs(t, secs); /* secs is in range: cannot fail */
    t->millisecond = static_cast<uint16_t>(fraction);
    t->ticks += fraction * TICKS_PER_MS;
    return status;
}

/* Shifts src by ms milliseconds into dest; the 64-bit body of qv_time_add_ms, which
 * qv_time_sub_secs shares so that no 32-bit product can overflow. */
static unsigned add_ms(QVtime *dest, const QVtime *src, int64_t ms)
{
    int64_t delta = ms * TICKS_PER_MS; /* |ms| <= 2^31 * 1000: fits easily */
    int64_t ticks;
    if (__builtin_add_overflow(src->ticks, delta, &ticks))
        ticks = delta > 0 ? INT64_MAX : INT64_MIN; /* clamped like any out-of-range time */
    dest->ticks = ticks;
    unsigned status = set_qv_time_from_int64(dest);
    if (status != 0)
        qv_time_report_trace(QV_FILE, __LINE__);
    return status;
}

unsigned qv_time_add_ms(QVtime *dest, const QVtime *src, int32_t ms)
{
    return add_ms(dest, src, ms);
}

unsigned qv_time_sub_secs(QVtime *dest, const QVtime *src, int32_t secs)
{
    unsigned status = add_ms(dest, src, -static_cast<int64_t>(secs) * 1000);
    if (status != 0)
        qv_time_report_trace(QV_FILE, __LINE__);
    return status;
}

unsigned qv_time_init_full(QVtime *t, int32_t year, uint32_t month, uint32_t day, uint32_t hour,
                           uint32_t minute, uint32_t second, uint32_t millisecond)
{
    if (year < 1) {
        report_error(__LINE__, "qv_time_init_full: invalid year");
        return 1;
    }
    if (month < 1 || month > 12) {
        report_error(__LINE__, "qv_time_init_full: invalid month");
        return 1;
    }
    if (day < 1 || day > 31) {
        report_error(__LINE__, "qv_time_init_full: invalid day");
        return 1;
    }
    if (hour > 23) {
        report_error(__LINE__, "qv_time_init_full: invalid hour");
        return 1;
    }
    if (minute > 59) {
        report_error(__LINE__, "qv_time_init_full: invalid minute");
        return 1;
    }
    if (second > 59) {
        report_error(__LINE__, "qv_time_init_full: invalid second");
        return 1;
    }
    if (millisecond > 999) {
        report_error(__LINE__, "qv_time_init_full: invalid millisecond");
        return 1;
    }
    memset(t, 0, sizeof *t);
    /* A year the field cannot hold would wrap into the range; 65535 is as far out of
     * it as that year, and is treated alike. */
    t->year = static_cast<uint16_t>(year > UINT16_MAX ? UINT16_MAX : year);
    t->month = static_cast<uint8_t>(month);
    t->day = static_cast<uint8_t>(day);
    t->hour = static_cast<uint8_t>(hour);
    t->minute = static_cast<uint8_t>(minute);
    t->second = static_cast<uint8_t>(second);
    t->millisecond = static_cast<uint16_t>(millisecond);
    /* Out of range, the -1 of qv_time_to_secs lands a second before 1970 plus the
     * milliseconds: still before 1970, so the record is clamped to its start. */
    t->ticks = (qv_time_to_secs(t) + SECS_1601_TO_1970) * TICKS_PER_SECOND +
               static_cast<int64_t>(millisecond) * TICKS_PER_MS;
    unsigned status = set_qv_time_from_int64(t);
    if (status != 0) {
        qv_time_report_trace(QV_FILE, __LINE__);
        return status;
    }
    return 0;
}
