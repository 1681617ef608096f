/*
 * Tests of the time record: the whole range day by day against an independent calendar
 * (Howard Hinnant's days_from_civil / civil_from_days), validation and its reports,
 * the conversions at their edges, clamping, shifts, qv_time_init_full's argument checks,
 * and the process-wide bound on invalid-time reports in progress.
 */
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/QVtime.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TimeRecords.h"

namespace
{

const int64_t TICKS_1970 = 116444736000000000;
const int64_t SECS_1601_TO_1970 = 11644473600;

/* ---- the reference calendar (proleptic Gregorian, day 0 = 1970-01-01) ---------------- */

static_assert(sizeof(int64_t) == 8, "days are counted in 64 bits");

/* Days since 1970-01-01 of y-m-d. */
int64_t days_from_civil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);            // [0, 399]
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1; // [0, 365]
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;           // [0, 146096]
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

struct Civil {
    int64_t year;
    unsigned month; // [1, 12]
    unsigned day;   // [1, 31]
};

Civil civil_from_days(int64_t z)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);               // [0, 146096]
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365; // [0, 399]
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);               // [0, 365]
    const unsigned mp = (5 * doy + 2) / 153;                                    // [0, 11]
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;                            // [1, 31]
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;                               // [1, 12]
    return Civil{static_cast<int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

/* 0 = Sunday. */
unsigned weekday_from_days(int64_t z)
{
    return static_cast<unsigned>(z >= -4 ? (z + 4) % 7 : (z + 5) % 7 + 6);
}

/* ---- helpers --------------------------------------------------------------------------- */

/* A record with the calendar fields set directly, bypassing qv_time_init_full. */
std::string show(const QVtime &t)
{
    return show_time(t) + " ticks " + std::to_string(t.ticks);
}

/* The record that the module must produce for the given instant. */
QVtime expected(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                unsigned second, unsigned millisecond)
{
    QVtime t = time_fields(year, month, day, hour, minute, second, millisecond);
    int64_t z = days_from_civil(year, month, day);
    t.weekday = static_cast<uint8_t>(weekday_from_days(z));
    int64_t secs = z * 86400 + hour * 3600 + minute * 60 + second;
    t.ticks = (secs + SECS_1601_TO_1970) * 10000000 + millisecond * 10000;
    return t;
}

QVtime epoch()
{
    return expected(1970, 1, 1, 0, 0, 0, 0);
}

QVtime last_second()
{
    return expected(2038, 1, 19, 3, 14, 7, 0);
}

bool same(const QVtime &a, const QVtime &b)
{
    return a.ticks == b.ticks && a.year == b.year && a.month == b.month && a.day == b.day &&
           a.weekday == b.weekday && a.hour == b.hour && a.minute == b.minute &&
           a.second == b.second && a.millisecond == b.millisecond;
}

#define EXPECT_TIME(want, got) EXPECT_TRUE(same(want, got)) << show(want) << " != " << show(got)

bool starts_with(const std::string &s, const std::string &prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool ends_with(const std::string &s, const std::string &suffix)
{
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

/* ---- the whole range ------------------------------------------------------------------ */

TEST(QVtimeRange, EveryDayConvertsToSecondsAndBack)
{
    const int64_t first = days_from_civil(1991, 1, 1);
    const int64_t last = days_from_civil(2038, 1, 19);
    int64_t previous_day = -1;
    unsigned previous_weekday = 0;
    for (int64_t z = first; z <= last; z++) {
        const Civil c = civil_from_days(z);
        const unsigned y = static_cast<unsigned>(c.year);
        /* Three times of day: midnight, one that moves with the day, the last second. */
        const unsigned times[3][3] = {
            {0, 0, 0},
            {static_cast<unsigned>(z % 24), static_cast<unsigned>(z * 7 % 60),
             static_cast<unsigned>(z * 13 % 60)},
            {23, 59, 59},
        };
        for (const auto &hms : times) {
            unsigned h = hms[0], mi = hms[1], s = hms[2];
            if (z == last && h * 3600 + mi * 60 + s > 3 * 3600 + 14 * 60 + 7) {
                h = 3, mi = 14, s = 7; /* the range ends at 03:14:07 */
            }
            const int64_t secs = z * 86400 + h * 3600 + mi * 60 + s;
            QVtime t = time_fields(y, c.month, c.day, h, mi, s);
            ASSERT_EQ(secs, qv_time_to_secs(&t)) << show(t);

            QVtime back{};
            ASSERT_EQ(0u, qv_time_from_secs(&back, secs)) << secs;
            const QVtime want = expected(y, c.month, c.day, h, mi, s, 0);
            ASSERT_TRUE(same(want, back)) << show(want) << " != " << show(back);

            const unsigned ms = static_cast<unsigned>((z * 37 + h) % 1000);
            QVtime built{};
            ASSERT_EQ(0u, qv_time_init_full(&built, static_cast<int32_t>(y), c.month, c.day, h, mi,
                                            s, ms));
            const QVtime want_ms = expected(y, c.month, c.day, h, mi, s, ms);
            ASSERT_TRUE(same(want_ms, built)) << show(want_ms) << " != " << show(built);
        }
        /* Day numbers rise by one and weekdays follow, independently of the reference. */
        QVtime midnight = time_fields(y, c.month, c.day);
        const int64_t day = qv_time_to_secs(&midnight) / 86400;
        QVtime back{};
        qv_time_from_secs(&back, day * 86400);
        if (z != first) {
            ASSERT_EQ(previous_day + 1, day) << show(midnight);
            ASSERT_EQ((previous_weekday + 1) % 7, back.weekday) << show(back);
        }
        previous_day = day;
        previous_weekday = back.weekday;
    }
    EXPECT_EQ(days_from_civil(2038, 1, 19), previous_day);
}

TEST(QVtimeRange, EveryMillisecondOfASecondKeepsItsTicks)
{
    for (int64_t ms = 0; ms < 1000; ms++) {
        QVtime t{};
        t.ticks = TICKS_1970 + 1241197279LL * 10000000 + ms * 10000 + 9999; /* + 0.9999 ms */
        ASSERT_EQ(0u, set_qv_time_from_int64(&t));
        ASSERT_EQ(ms, t.millisecond);
        ASSERT_EQ(TICKS_1970 + 1241197279LL * 10000000 + ms * 10000, t.ticks);
        ASSERT_EQ(19, t.second);
    }
}

/* ---- validation ----------------------------------------------------------------------- */

TEST(QVtimeValidity, ClearedRecordIsInvalidWithoutReport)
{
    QVtime zero{};
    StderrCapture capture;
    EXPECT_EQ(0, qv_time_is_valid(&zero));
    EXPECT_EQ(-1, qv_time_to_secs(&zero));
    EXPECT_TRUE(capture.finish().empty());
}

TEST(QVtimeValidity, EachFieldAtAndBeyondItsBounds)
{
    struct Case {
        QVtime t;
        int valid;
        const char *message; /* expected report, for the invalid ones */
    };
    const Case cases[] = {
        {time_fields(1991, 1, 1), 1, nullptr},
        {time_fields(65535, 12, 31, 23, 59, 59, 999), 1, nullptr},
        {time_fields(1990, 12, 31, 23, 59, 59), 0, "Invalid time: 12/31/1990 23:59:59.000"},
        {time_fields(2000, 0, 15), 0, "Invalid time: 0/15/2000 0:00:00.000"},
        {time_fields(2000, 13, 15), 0, "Invalid time: 13/15/2000 0:00:00.000"},
        {time_fields(2000, 2, 0), 0, "Invalid time: 2/0/2000 0:00:00.000"},
        {time_fields(2000, 2, 31), 1, nullptr}, /* not compared with the month's length */
        {time_fields(2000, 2, 32), 0, "Invalid time: 2/32/2000 0:00:00.000"},
        {time_fields(2000, 2, 3, 24), 0, "Invalid time: 2/3/2000 24:00:00.000"},
        {time_fields(2000, 2, 3, 1, 60), 0, "Invalid time: 2/3/2000 1:60:00.000"},
        {time_fields(2000, 2, 3, 1, 2, 60), 0, "Invalid time: 2/3/2000 1:02:60.000"},
        {time_fields(2000, 2, 3, 1, 2, 3, 1000), 0, "Invalid time: 2/3/2000 1:02:03.1000"},
    };
    for (const Case &c : cases) {
        StderrCapture capture;
        EXPECT_EQ(c.valid, qv_time_is_valid(&c.t)) << show(c.t);
        auto lines = capture.finish();
        if (c.valid) {
            EXPECT_TRUE(lines.empty()) << show(c.t);
            continue;
        }
        ASSERT_EQ(1u, lines.size()) << show(c.t);
        EXPECT_EQ(std::string("ERROR  : ") + c.message, lines[0]);
    }
}

TEST(QVtimeValidity, MessageNamesTheFieldsMonthFirst)
{
    QVtime t = time_fields(1985, 11, 22, 7, 5, 9, 42);
    t.weekday = 3;
    t.ticks = 12345;
    const QVtime before = t;
    StderrCapture capture;
    EXPECT_EQ(-1, qv_time_to_secs(&t));
    auto lines = capture.finish();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("ERROR  : Invalid time: 11/22/1985 7:05:09.042", lines[0]);
    EXPECT_TIME(before, t); /* neither validation nor conversion changes the record */
}

TEST(QVtimeValidity, WeekdayIsNeverChecked)
{
    QVtime t = time_fields(2009, 5, 1, 17, 1, 19);
    t.weekday = 200;
    EXPECT_EQ(1, qv_time_is_valid(&t));
    EXPECT_EQ(1241197279, qv_time_to_secs(&t));
}

/* A sink that holds the first four "Invalid time" lines until released, so that
 * reports stay in progress on several threads at once. */
struct HoldingSink {
    std::mutex lock;
    std::condition_variable changed;
    int held = 0;
    bool release = false;
    std::vector<std::string> lines;

    static unsigned write(void *context, const char *line)
    {
        HoldingSink *self = static_cast<HoldingSink *>(context);
        std::unique_lock<std::mutex> guard(self->lock);
        self->lines.push_back(without_thread_id(line));
        /* A fifth report is never held, so that a missing bound fails, not hangs. */
        if (strstr(line, "Invalid time") == nullptr || self->held == 4)
            return 0;
        self->held++;
        self->changed.notify_all();
        self->changed.wait(guard, [self] { return self->release; });
        self->held--;
        return 0;
    }
};

TEST(QVtimeValidity, AtMostFourReportsAreInProgress)
{
    HoldingSink holder;
    QVLogSink sink{&holder, HoldingSink::write, nullptr};
    qv_log_set_sink(&sink);
    {
        std::lock_guard<std::mutex> guard(holder.lock);
        holder.lines.clear(); /* the banner and report of the installation */
    }

    const QVtime bad = time_fields(1990, 1, 2, 3, 4, 5, 6);
    std::vector<std::thread> reporters;
    for (int i = 0; i < 4; i++)
        reporters.emplace_back([&bad] { EXPECT_EQ(0, qv_time_is_valid(&bad)); });
    {
        std::unique_lock<std::mutex> guard(holder.lock);
        holder.changed.wait(guard, [&holder] { return holder.held == 4; });
    }
    /* Four reports in progress: a fifth invalid record is rejected without one. */
    EXPECT_EQ(0, qv_time_is_valid(&bad));
    QVtime other = time_fields(1989, 1, 1);
    EXPECT_EQ(-1, qv_time_to_secs(&other));
    {
        std::lock_guard<std::mutex> guard(holder.lock);
        EXPECT_EQ(4u, holder.lines.size());
        holder.release = true;
        holder.changed.notify_all();
    }
    for (std::thread &t : reporters)
        t.join();

    /* With none in progress, reports are written again. */
    EXPECT_EQ(0, qv_time_is_valid(&other));
    {
        StderrCapture quiet; /* the removal's banner and report */
        qv_log_set_sink(nullptr);
    }
    ASSERT_EQ(5u, holder.lines.size());
    for (size_t i = 0; i < 4; i++)
        EXPECT_EQ("ERROR  : Invalid time: 1/2/1990 3:04:05.006", holder.lines[i]);
    EXPECT_EQ("ERROR  : Invalid time: 1/1/1989 0:00:00.000", holder.lines[4]);
}

/* ---- conversions ------------------------------------------------------------------------ */

TEST(QVtimeConversion, KnownInstants)
{
    QVtime t = time_fields(2009, 5, 1, 17, 1, 19);
    EXPECT_EQ(1241197279, qv_time_to_secs(&t));
    QVtime built{};
    ASSERT_EQ(0u, qv_time_init_full(&built, 2009, 5, 1, 17, 1, 19, 0));
    EXPECT_EQ(128856708790000000, built.ticks);
    EXPECT_EQ(5, built.weekday); /* Friday */

    QVtime leap = time_fields(2008, 2, 29, 23, 59, 59, 999);
    EXPECT_EQ(1204329599, qv_time_to_secs(&leap));
    ASSERT_EQ(0u, qv_time_init_full(&built, 2008, 2, 29, 23, 59, 59, 999));
    EXPECT_EQ(128488031999990000, built.ticks);
    EXPECT_EQ(5, built.weekday);
    EXPECT_EQ(999, built.millisecond);
}

TEST(QVtimeConversion, EdgesOfTheRange)
{
    QVtime first = time_fields(1991, 1, 1);
    EXPECT_EQ(662688000, qv_time_to_secs(&first));
    QVtime built{};
    ASSERT_EQ(0u, qv_time_init_full(&built, 1991, 1, 1, 0, 0, 0, 0));
    EXPECT_EQ(2, built.weekday); /* Tuesday */

    QVtime last = time_fields(2038, 1, 19, 3, 14, 7);
    EXPECT_EQ(2147483647, qv_time_to_secs(&last));
    QVtime end_of_2038 = time_fields(2038, 12, 31, 23, 59, 59);
    EXPECT_EQ(2177452799, qv_time_to_secs(&end_of_2038));

    QVtime after = time_fields(2039, 1, 1);
    StderrCapture capture;
    EXPECT_EQ(1, qv_time_is_valid(&after));
    EXPECT_EQ(-1, qv_time_to_secs(&after)); /* out of range, not invalid: no report */
    EXPECT_TRUE(capture.finish().empty());
}

TEST(QVtimeConversion, FromSecondsAcceptsOnlyThe32BitRange)
{
    QVtime t{};
    ASSERT_EQ(0u, qv_time_from_secs(&t, 0));
    EXPECT_TIME(epoch(), t);
    EXPECT_EQ(4, t.weekday); /* Thursday */
    EXPECT_EQ(TICKS_1970, t.ticks);

    ASSERT_EQ(0u, qv_time_from_secs(&t, 2147483647));
    EXPECT_TIME(last_second(), t);

    /* Refused counts leave the record alone: negative ones, and those past 2038 whose
     * year and ticks the record cannot carry (the largest would overflow the ticks). */
    QVtime kept = time_fields(2001, 2, 3, 4, 5, 6, 7);
    kept.weekday = 9;
    kept.ticks = 42;
    for (int64_t secs : {int64_t{-1}, INT64_MIN, int64_t{2147483648}, INT64_MAX}) {
        QVtime u = kept;
        StderrCapture capture;
        EXPECT_EQ(1u, qv_time_from_secs(&u, secs)) << secs;
        EXPECT_TRUE(capture.finish().empty());
        EXPECT_TIME(kept, u);
    }
}

TEST(QVtimeConversion, DayPastTheMonthEndRunsOn)
{
    QVtime feb31 = time_fields(2009, 2, 31);
    QVtime mar3 = time_fields(2009, 3, 3);
    EXPECT_EQ(qv_time_to_secs(&mar3), qv_time_to_secs(&feb31));

    QVtime t{};
    ASSERT_EQ(0u, qv_time_init_full(&t, 2009, 2, 31, 10, 20, 30, 400));
    EXPECT_TIME(expected(2009, 3, 3, 10, 20, 30, 400), t);
    EXPECT_EQ(2, t.weekday); /* Tuesday */

    ASSERT_EQ(0u, qv_time_init_full(&t, 2008, 2, 30, 0, 0, 0, 0)); /* leap year */
    EXPECT_TIME(expected(2008, 3, 1, 0, 0, 0, 0), t);
    ASSERT_EQ(0u, qv_time_init_full(&t, 2010, 12, 31, 0, 0, 0, 0));
    EXPECT_TIME(expected(2010, 12, 31, 0, 0, 0, 0), t);
    ASSERT_EQ(0u, qv_time_init_full(&t, 2010, 4, 31, 0, 0, 0, 0));
    EXPECT_TIME(expected(2010, 5, 1, 0, 0, 0, 0), t);
}

/* ---- ticks to calendar ------------------------------------------------------------------ */

TEST(QVtimeTicks, BeforeNineteenSeventyIsClamped)
{
    for (int64_t early : {int64_t{1}, int64_t{9999}}) {
        QVtime t{};
        t.ticks = TICKS_1970 - early; /* less than a millisecond early: truncated to 0 */
        EXPECT_EQ(0u, set_qv_time_from_int64(&t)) << early;
        EXPECT_TIME(epoch(), t);
    }
    for (int64_t ticks : {TICKS_1970 - 10000, int64_t{0}, INT64_MIN}) {
        QVtime t{};
        t.ticks = ticks;
        StderrCapture capture;
        EXPECT_EQ(1u, set_qv_time_from_int64(&t)) << ticks;
        EXPECT_TRUE(capture.finish().empty()); /* this clamp is silent */
        EXPECT_TIME(epoch(), t);
    }
}

TEST(QVtimeTicks, AfterTheLastSecondIsClampedWithAWarning)
{
    QVtime t{};
    t.ticks = last_second().ticks + 9999999; /* 03:14:07.9999999 */
    EXPECT_EQ(0u, set_qv_time_from_int64(&t));
    EXPECT_TIME(expected(2038, 1, 19, 3, 14, 7, 999), t);

    const struct {
        int64_t ticks;
        const char *warning;
    } cases[] = {
        {last_second().ticks + 10000000, "WARNING: set_qv_time_from_int64 bad secs 2147483648"},
        {INT64_MAX, "WARNING: set_qv_time_from_int64 bad secs 910692730085"},
    };
    for (const auto &c : cases) {
        t.ticks = c.ticks;
        StderrCapture capture;
        EXPECT_EQ(1u, set_qv_time_from_int64(&t));
        auto lines = capture.finish();
        ASSERT_EQ(1u, lines.size());
        EXPECT_EQ(c.warning, lines[0]);
        EXPECT_TIME(last_second(), t);
        EXPECT_EQ(2, t.weekday); /* Tuesday */
    }
}

/* ---- shifts ------------------------------------------------------------------------------- */

TEST(QVtimeShift, SubSecsCrossesTheYearEndInPlace)
{
    QVtime t{};
    ASSERT_EQ(0u, qv_time_init_full(&t, 2010, 12, 31, 23, 30, 0, 250));
    EXPECT_EQ(5, t.weekday); /* Friday */
    StderrCapture capture;
    EXPECT_EQ(0u, qv_time_sub_secs(&t, &t, -7200));
    EXPECT_TRUE(capture.finish().empty());
    EXPECT_TIME(expected(2011, 1, 1, 1, 30, 0, 250), t);
    EXPECT_EQ(6, t.weekday); /* Saturday */

    ASSERT_EQ(0u, qv_time_sub_secs(&t, &t, 7200)); /* and back */
    EXPECT_TIME(expected(2010, 12, 31, 23, 30, 0, 250), t);
}

TEST(QVtimeShift, AddMsMovesBothWaysAndLeavesTheSource)
{
    QVtime src{};
    ASSERT_EQ(0u, qv_time_init_full(&src, 2012, 3, 1, 0, 0, 0, 100));
    const QVtime before = src;
    QVtime dest{};
    EXPECT_EQ(0u, qv_time_add_ms(&dest, &src, -200)); /* back over a leap day's end */
    EXPECT_TIME(expected(2012, 2, 29, 23, 59, 59, 900), dest);
    EXPECT_TIME(before, src);
    EXPECT_EQ(0u, qv_time_add_ms(&dest, &src, INT32_MAX));
    EXPECT_TIME(expected(2012, 3, 25, 20, 31, 23, 747), dest);
    EXPECT_EQ(0u, qv_time_add_ms(&src, &src, 0));
    EXPECT_TIME(before, src);
}

TEST(QVtimeShift, ClampedShiftsLeaveTraceLines)
{
    QVtime t = last_second();
    StderrCapture capture;
    EXPECT_EQ(1u, qv_time_add_ms(&t, &t, 1000));
    auto lines = capture.finish();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("WARNING: set_qv_time_from_int64 bad secs 2147483648", lines[0]);
    EXPECT_TRUE(starts_with(lines[1], "STACK_TRACE at QVtime:")) << lines[1];
    EXPECT_TIME(last_second(), t);

    QVtime e = epoch();
    StderrCapture capture2;
    EXPECT_EQ(1u, qv_time_sub_secs(&e, &e, 1));
    auto lines2 = capture2.finish();
    ASSERT_EQ(2u, lines2.size()); /* one per level: the shift's and sub_secs's own */
    EXPECT_EQ(lines[1], lines2[0]);
    EXPECT_TRUE(starts_with(lines2[1], "STACK_TRACE at QVtime:")) << lines2[1];
    EXPECT_NE(lines2[0], lines2[1]);
    EXPECT_TIME(epoch(), e);
}

TEST(QVtimeShift, EverySecondsCountShiftsExactly)
{
    /* Beyond +-2147483 seconds a 32-bit millisecond product would overflow. */
    QVtime t = last_second();
    EXPECT_EQ(0u, qv_time_sub_secs(&t, &t, INT32_MAX));
    EXPECT_TIME(epoch(), t);

    QVtime start{};
    ASSERT_EQ(0u, qv_time_init_full(&start, 2000, 1, 1, 0, 0, 0, 0));
    EXPECT_EQ(0u, qv_time_sub_secs(&t, &start, -3000000)); /* 34 days 17:20:00 later */
    EXPECT_TIME(expected(2000, 2, 4, 17, 20, 0, 0), t);

    StderrCapture capture;
    EXPECT_EQ(1u, qv_time_sub_secs(&t, &start, INT32_MIN)); /* 2068: clamped */
    auto lines = capture.finish();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("WARNING: set_qv_time_from_int64 bad secs 3094168448", lines[0]);
    EXPECT_TIME(last_second(), t);
}

TEST(QVtimeShift, TicksAtTheEndsOfTheirRangeSaturate)
{
    QVtime t{};
    t.ticks = INT64_MAX - 5;
    StderrCapture capture;
    EXPECT_EQ(1u, qv_time_add_ms(&t, &t, 1000));
    EXPECT_TIME(last_second(), t);
    t.ticks = INT64_MIN + 5;
    EXPECT_EQ(1u, qv_time_sub_secs(&t, &t, 1));
    EXPECT_TIME(epoch(), t);
    capture.finish();
}

/* ---- building from fields ----------------------------------------------------------------- */

TEST(QVtimeInitFull, ArgumentsAreCheckedInOrder)
{
    struct Case {
        int32_t year;
        uint32_t month, day, hour, minute, second, millisecond;
        const char *message;
    };
    /* Each case breaks one argument and every one after it: the first is named. */
    const Case cases[] = {
        {0, 13, 32, 24, 60, 60, 1000, "qv_time_init_full: invalid year"},
        {-2009, 5, 1, 0, 0, 0, 0, "qv_time_init_full: invalid year"},
        {2009, 0, 32, 24, 60, 60, 1000, "qv_time_init_full: invalid month"},
        {2009, 13, 1, 0, 0, 0, 0, "qv_time_init_full: invalid month"},
        {2009, UINT32_MAX, 1, 0, 0, 0, 0, "qv_time_init_full: invalid month"},
        {2009, 5, 0, 24, 60, 60, 1000, "qv_time_init_full: invalid day"},
        {2009, 5, 32, 0, 0, 0, 0, "qv_time_init_full: invalid day"},
        {2009, 5, 1, 24, 60, 60, 1000, "qv_time_init_full: invalid hour"},
        {2009, 5, 1, 23, 60, 60, 1000, "qv_time_init_full: invalid minute"},
        {2009, 5, 1, 23, 59, 60, 1000, "qv_time_init_full: invalid second"},
        {2009, 5, 1, 23, 59, 59, 1000, "qv_time_init_full: invalid millisecond"},
        {2009, 5, 1, 23, 59, 59, UINT32_MAX, "qv_time_init_full: invalid millisecond"},
    };
    for (const Case &c : cases) {
        QVtime t;
        memset(&t, 0xA5, sizeof t);
        QVtime untouched;
        memset(&untouched, 0xA5, sizeof untouched);
        StderrCapture capture;
        EXPECT_EQ(1u, qv_time_init_full(&t, c.year, c.month, c.day, c.hour, c.minute, c.second,
                                        c.millisecond));
        auto lines = capture.finish();
        ASSERT_EQ(1u, lines.size()) << c.message;
        EXPECT_TRUE(starts_with(lines[0], "ERROR   at QVtime:")) << lines[0];
        EXPECT_TRUE(ends_with(lines[0], std::string(": ") + c.message)) << lines[0];
        EXPECT_EQ(0, memcmp(&t, &untouched, sizeof t)) << c.message;
    }

    /* The largest values of each argument are accepted. */
    QVtime t{};
    StderrCapture capture;
    EXPECT_EQ(0u, qv_time_init_full(&t, 2037, 12, 31, 23, 59, 59, 999));
    EXPECT_TRUE(capture.finish().empty());
    EXPECT_TIME(expected(2037, 12, 31, 23, 59, 59, 999), t);
}

TEST(QVtimeInitFull, YearsBefore1991ClampTo1970AfterTheInvalidTimeMessage)
{
    for (int32_t year : {1, 1970, 1985, 1990}) {
        QVtime t{};
        StderrCapture capture;
        EXPECT_EQ(1u, qv_time_init_full(&t, year, 6, 15, 12, 0, 0, 500));
        auto lines = capture.finish();
        ASSERT_EQ(2u, lines.size()) << year;
        EXPECT_EQ("ERROR  : Invalid time: 6/15/" + std::to_string(year) + " 12:00:00.500",
                  lines[0]);
        EXPECT_TRUE(starts_with(lines[1], "STACK_TRACE at QVtime:")) << lines[1];
        EXPECT_TIME(epoch(), t);
        EXPECT_EQ(TICKS_1970, t.ticks);
        EXPECT_EQ(4, t.weekday); /* Thursday */
    }
}

TEST(QVtimeInitFull, YearsAfter2038ClampTo1970WithATraceOnly)
{
    /* 67536 would read as 2000 if the year wrapped in its 16-bit field. */
    for (int32_t year : {2039, 2040, 65535, 67536, INT32_MAX}) {
        QVtime t{};
        StderrCapture capture;
        EXPECT_EQ(1u, qv_time_init_full(&t, year, 1, 1, 0, 0, 0, 999));
        auto lines = capture.finish();
        ASSERT_EQ(1u, lines.size()) << year;
        EXPECT_TRUE(starts_with(lines[0], "STACK_TRACE at QVtime:")) << lines[0];
        EXPECT_TIME(epoch(), t);
    }
}

TEST(QVtimeInitFull, LateIn2038ClampsToTheLastSecond)
{
    const struct {
        uint32_t month, day, hour, minute, second, millisecond;
        const char *warning;
    } cases[] = {
        {1, 19, 3, 14, 8, 0, "WARNING: set_qv_time_from_int64 bad secs 2147483648"},
        {12, 31, 23, 59, 59, 999, "WARNING: set_qv_time_from_int64 bad secs 2177452799"},
    };
    for (const auto &c : cases) {
        QVtime t{};
        StderrCapture capture;
        EXPECT_EQ(1u, qv_time_init_full(&t, 2038, c.month, c.day, c.hour, c.minute, c.second,
                                        c.millisecond));
        auto lines = capture.finish();
        ASSERT_EQ(2u, lines.size());
        EXPECT_EQ(c.warning, lines[0]);
        EXPECT_TRUE(starts_with(lines[1], "STACK_TRACE at QVtime:")) << lines[1];
        EXPECT_TIME(last_second(), t);
        EXPECT_EQ(2, t.weekday); /* Tuesday */
    }
    QVtime t{};
    EXPECT_EQ(0u, qv_time_init_full(&t, 2038, 1, 19, 3, 14, 7, 999));
    EXPECT_TIME(expected(2038, 1, 19, 3, 14, 7, 999), t);
}

} // namespace
