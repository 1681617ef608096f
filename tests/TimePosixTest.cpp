/*
 * Tests of the clock and the local offset: the clock seam, clocks outside the time
 * record's range, offsets under several time zones on both sides of their changes, the
 * local time stamp of a log line across midnight and the year's end, and the bound on
 * reports while a log line is stamped with a clock outside the range.
 *
 * Each test that sets TZ restores it when it ends, and leaves re-reading the zone to the
 * module; each test that sets the clock seam restores the system clock.
 */
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "Interfaces/ErrorLogger/ErrorLogger.h"
#include "QVLib/QVclock.h"
#include "QVLib/QVtime.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TimeRecords.h"

namespace
{

/* ---- helpers ---------------------------------------------------------------------------- */

/* Sets TZ for its lifetime, without calling tzset(): the time module must notice a
 * change of TZ on its own. */
class Zone : public ScopedEnv
{
  public:
    explicit Zone(const char *tz) : ScopedEnv("TZ", tz)
    {
    }
};

/* The reading that the seam hands out; only the test's own thread sets it. */
struct timespec g_reading;

void seam_reader(struct timespec *now)
{
    *now = g_reading;
}

struct timespec utc(int year, int month, int day, int hour, int minute, int second,
                    long millisecond = 0)
{
    struct tm fields = {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    return timespec{timegm(&fields), millisecond * 1000000};
}

/* Puts the seam in place with a fixed reading for its lifetime. */
class FixedClock
{
  public:
    explicit FixedClock(const struct timespec &reading)
    {
        set(reading);
        qv_time_set_clock_reader(seam_reader);
    }
    ~FixedClock()
    {
        qv_time_set_clock_reader(nullptr);
    }
    void set(const struct timespec &reading)
    {
        g_reading = reading;
    }
    FixedClock(const FixedClock &) = delete;
    FixedClock &operator=(const FixedClock &) = delete;
};

/* The ticks of a UTC reading, whole milliseconds. */
int64_t ticks_of(const struct timespec &reading)
{
    return (static_cast<int64_t>(reading.tv_sec) + 11644473600) * 10000000 +
           reading.tv_nsec / 1000000 * 10000;
}

/* The local time stamp of a log line, as the log file takes it: the clock read as UTC,
 * shifted by the offset in effect at that instant. */
QVtime local_stamp(void)
{
    QVtime t;
    qv_time_now(&t);
    qv_time_sub_secs(&t, &t, qv_time_local_offset(&t));
    return t;
}

bool starts_with(const std::string &s, const std::string &prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

/* ---- the clock -------------------------------------------------------------------------- */

TEST(QVtimeNow, ReadsTheClockAsUtc)
{
    Zone zone("Europe/Berlin"); /* the zone must not matter */
    const struct timespec reading = {utc(2009, 5, 1, 15, 1, 19).tv_sec, 250999999};
    FixedClock clock(reading);
    QVtime t;
    StderrCapture capture;
    qv_time_now(&t);
    EXPECT_TRUE(capture.finish().empty());
    EXPECT_EQ("2009-05-01 15:01:19.250 wd5", show_time(t));
    EXPECT_EQ(ticks_of(reading), t.ticks);
}

TEST(QVtimeNow, WithoutASeamReadsTheSystemClock)
{
    {
        FixedClock clock(utc(1999, 1, 1, 0, 0, 0));
    }
    struct timespec before, after;
    QVtime t;
    clock_gettime(CLOCK_REALTIME, &before);
    qv_time_now(&t);
    clock_gettime(CLOCK_REALTIME, &after);
    EXPECT_LE(ticks_of(before), t.ticks);
    EXPECT_GE(ticks_of(after), t.ticks);
    EXPECT_EQ(1, qv_time_is_valid(&t));
}

TEST(QVtimeNow, ClockBefore1991GivesTheClampedRecordAndItsReports)
{
    FixedClock clock(utc(1985, 6, 15, 12, 0, 0, 500));
    QVtime t;
    StderrCapture capture;
    qv_time_now(&t);
    auto lines = capture.finish();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("ERROR  : Invalid time: 6/15/1985 12:00:00.500", lines[0]);
    EXPECT_TRUE(starts_with(lines[1], "STACK_TRACE at QVtime:")) << lines[1];
    EXPECT_TRUE(starts_with(lines[2], "STACK_TRACE at TimePosix:")) << lines[2];
    EXPECT_EQ("1970-01-01 00:00:00.000 wd4", show_time(t));
    EXPECT_EQ(116444736000000000, t.ticks);
}

TEST(QVtimeNow, ClockAfterTheLastSecondGivesTheClampedRecordAndItsReports)
{
    FixedClock clock(utc(2038, 6, 1, 0, 0, 0));
    QVtime t;
    StderrCapture capture;
    qv_time_now(&t);
    auto lines = capture.finish();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("WARNING: set_qv_time_from_int64 bad secs 2158963200", lines[0]);
    EXPECT_TRUE(starts_with(lines[1], "STACK_TRACE at QVtime:")) << lines[1];
    EXPECT_TRUE(starts_with(lines[2], "STACK_TRACE at TimePosix:")) << lines[2];
    EXPECT_EQ("2038-01-19 03:14:07.000 wd2", show_time(t));

    /* After 2038 the calendar side gives up first: the record falls back to 1970. */
    clock.set(utc(2040, 3, 1, 0, 0, 0));
    StderrCapture capture2;
    qv_time_now(&t);
    lines = capture2.finish();
    ASSERT_EQ(2u, lines.size());
    EXPECT_TRUE(starts_with(lines[0], "STACK_TRACE at QVtime:")) << lines[0];
    EXPECT_TRUE(starts_with(lines[1], "STACK_TRACE at TimePosix:")) << lines[1];
    EXPECT_EQ("1970-01-01 00:00:00.000 wd4", show_time(t));
}

TEST(QVtimeNow, ImpossibleReadingsStillGiveACompleteRecord)
{
    const struct timespec readings[] = {
        {INT64_MIN, 0},
        {INT64_MAX, 999999999},
        {-1, 0},
    };
    FixedClock clock(readings[0]);
    for (const struct timespec &reading : readings) {
        clock.set(reading);
        QVtime t;
        memset(&t, 0xA5, sizeof t);
        StderrCapture capture;
        qv_time_now(&t);
        capture.finish();
        EXPECT_EQ("1970-01-01 00:00:00.000 wd4", show_time(t)) << reading.tv_sec;
        EXPECT_EQ(116444736000000000, t.ticks);
    }
    const struct {
        long nanoseconds;
        const char *expected;
    } fractions[] = {
        {-1, "2009-05-01 15:01:19.000 wd5"},
        {999999999, "2009-05-01 15:01:19.999 wd5"},
        {5000000000, "2009-05-01 15:01:19.999 wd5"},
    };
    for (const auto &f : fractions) {
        clock.set({utc(2009, 5, 1, 15, 1, 19).tv_sec, f.nanoseconds});
        QVtime t;
        qv_time_now(&t);
        EXPECT_EQ(f.expected, show_time(t)) << f.nanoseconds;
    }
}

void reader_2009(struct timespec *now)
{
    *now = {1241190079, 0};
}

void reader_2010(struct timespec *now)
{
    *now = {1262304000, 0};
}

TEST(QVtimeNow, TheSeamCanChangeWhileOtherThreadsReadTheClock)
{
    /* The seam keeps changing until every reader has read both clocks many times, so
     * that reads and changes do overlap (a reader that never ran would prove nothing). */
    qv_time_set_clock_reader(reader_2009);
    const int kReaders = 3, kReadsOfEach = 1000;
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::atomic<int> readers_done{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < kReaders; i++)
        readers.emplace_back([&] {
            int seen[2] = {0, 0};
            bool done = false;
            while (!stop.load()) {
                QVtime t;
                qv_time_now(&t);
                if (t.year != 2009 && t.year != 2010)
                    wrong++;
                else
                    seen[t.year - 2009]++;
                if (!done && seen[0] >= kReadsOfEach && seen[1] >= kReadsOfEach) {
                    done = true;
                    readers_done++;
                }
            }
        });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int i = 0; readers_done.load() < kReaders && std::chrono::steady_clock::now() < deadline;
         i++)
        qv_time_set_clock_reader(i % 2 ? reader_2009 : reader_2010);
    stop = true;
    for (std::thread &t : readers)
        t.join();
    qv_time_set_clock_reader(nullptr);
    EXPECT_EQ(kReaders, readers_done.load());
    EXPECT_EQ(0, wrong.load());
}

/* ---- local offsets ------------------------------------------------------------------------ */

TEST(LocalOffset, ZonesWithoutDaylightSaving)
{
    const struct {
        const char *tz;
        int32_t offset;
    } zones[] = {
        {"UTC", 0},
        {"Asia/Tokyo", -32400},
        {"Asia/Kolkata", -19800}, /* half an hour */
        {"America/Bogota", 18000},
    };
    for (const auto &z : zones) {
        Zone zone(z.tz);
        for (const QVtime &t :
             {time_fields(2009, 1, 15, 12, 0, 0), time_fields(2009, 7, 15, 12, 0, 0),
              time_fields(2037, 12, 31, 23, 59, 59)})
            EXPECT_EQ(z.offset, qv_time_local_offset(&t)) << z.tz << " " << show_time(t);
    }
}

/* Offsets one second before and at each change of 2009, read as UTC. */
struct Change {
    QVtime before, after;
    int32_t offset_before, offset_after;
};

void expect_changes(const char *tz, std::initializer_list<Change> changes)
{
    Zone zone(tz);
    for (const Change &c : changes) {
        EXPECT_EQ(c.offset_before, qv_time_local_offset(&c.before))
            << tz << " " << show_time(c.before);
        EXPECT_EQ(c.offset_after, qv_time_local_offset(&c.after))
            << tz << " " << show_time(c.after);
    }
}

TEST(LocalOffset, EastOfUtcWithDaylightSaving)
{
    expect_changes(
        "Europe/Berlin",
        {{time_fields(2009, 3, 29, 0, 59, 59), time_fields(2009, 3, 29, 1, 0, 0), -3600, -7200},
         {time_fields(2009, 10, 25, 0, 59, 59), time_fields(2009, 10, 25, 1, 0, 0), -7200, -3600}});
}

TEST(LocalOffset, WestOfUtcWithDaylightSaving)
{
    expect_changes(
        "America/New_York",
        {{time_fields(2009, 3, 8, 6, 59, 59), time_fields(2009, 3, 8, 7, 0, 0), 18000, 14400},
         {time_fields(2009, 11, 1, 5, 59, 59), time_fields(2009, 11, 1, 6, 0, 0), 14400, 18000}});
}

TEST(LocalOffset, HalfHourZoneWithDaylightSaving)
{
    /* Southern hemisphere: daylight saving spans the year's end. */
    expect_changes("Australia/Adelaide", {{time_fields(2009, 4, 4, 16, 29, 59),
                                           time_fields(2009, 4, 4, 16, 30, 0), -37800, -34200},
                                          {time_fields(2009, 10, 3, 16, 29, 59),
                                           time_fields(2009, 10, 3, 16, 30, 0), -34200, -37800}});
}

TEST(LocalOffset, DaylightSavingOfHalfAnHour)
{
    /* Lord Howe Island moves by 30 minutes, not by an hour. */
    expect_changes("Australia/Lord_Howe", {{time_fields(2009, 4, 4, 14, 59, 59),
                                            time_fields(2009, 4, 4, 15, 0, 0), -39600, -37800},
                                           {time_fields(2009, 10, 3, 15, 29, 59),
                                            time_fields(2009, 10, 3, 15, 30, 0), -37800, -39600}});
}

TEST(LocalOffset, RecordsOutsideTheRangeGiveTheStandardOffset)
{
    Zone zone("America/New_York");
    QVtime cleared{};
    QVtime summer_1970 = time_fields(1970, 7, 1, 12, 0, 0);
    QVtime summer_2040 = time_fields(2040, 7, 1, 12, 0, 0);
    StderrCapture capture;
    EXPECT_EQ(18000, qv_time_local_offset(&cleared));
    EXPECT_EQ(18000, qv_time_local_offset(&summer_2040)); /* out of range: silently */
    auto lines = capture.finish();
    EXPECT_TRUE(lines.empty());

    StderrCapture capture2;
    EXPECT_EQ(18000, qv_time_local_offset(&summer_1970)); /* invalid: reported */
    lines = capture2.finish();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("ERROR  : Invalid time: 7/1/1970 12:00:00.000", lines[0]);

    Zone berlin("Europe/Berlin");
    EXPECT_EQ(-3600, qv_time_local_offset(&summer_2040));

    /* Singapore kept +7:30 until 1982: an out-of-range record must not be converted as
     * the instant -1 (1969), whose offset was not today's standard one. */
    Zone singapore("Asia/Singapore");
    EXPECT_EQ(-28800, qv_time_local_offset(&summer_2040));
}

TEST(LocalOffset, WithoutARecordTheCurrentInstantCounts)
{
    /* Singapore kept +7:30 until 1982, today +8: a clock before 1970 gives today's
     * standard offset, not the one of its time; 1970 itself converts. */
    const struct {
        const char *tz;
        struct timespec reading;
        int32_t offset;
    } cases[] = {
        {"Europe/Berlin", utc(2009, 7, 1, 12, 0, 0), -7200},
        {"Europe/Berlin", utc(2009, 1, 15, 12, 0, 0), -3600},
        {"Asia/Singapore", utc(1960, 7, 1, 12, 0, 0), -28800},
        {"Asia/Singapore", utc(1969, 12, 31, 23, 59, 59), -28800},
        {"Asia/Singapore", utc(1970, 1, 1, 0, 0, 0), -27000},
    };
    for (const auto &c : cases) {
        Zone zone(c.tz);
        FixedClock clock(c.reading);
        EXPECT_EQ(c.offset, qv_time_local_offset(nullptr)) << c.tz << " " << c.reading.tv_sec;
    }
}

/* An exit handler that reads the offset, as a line logged from a teardown at exit does,
 * after the zone has changed: the module's zone state must still be there. */
void offset_at_exit()
{
    setenv("TZ", "America/Argentina/Buenos_Aires", 1);
    QVtime winter = time_fields(2009, 7, 15, 12, 0, 0);
    int32_t offset = qv_time_local_offset(&winter);
    fprintf(stderr, "offset at exit: %d\n", static_cast<int>(offset));
}

void exit_after_reading_the_offset()
{
    /* Names longer than a short string's inline room, so that they live on the heap. */
    setenv("TZ", "America/Argentina/Cordoba", 1);
    QVtime winter = time_fields(2009, 7, 15, 12, 0, 0);
    if (qv_time_local_offset(&winter) != 10800)
        _exit(2);
    atexit(offset_at_exit);
    exit(0);
}

TEST(LocalOffset, TheZoneStateOutlivesExitHandlers)
{
    EXPECT_EXIT(exit_after_reading_the_offset(), ::testing::ExitedWithCode(0),
                "offset at exit: 10800");
}

TEST(LocalOffset, SystemClockAndARecordOfItAgree)
{
    Zone zone("America/New_York");
    QVtime now;
    qv_time_now(&now);
    int32_t from_record = qv_time_local_offset(&now);
    EXPECT_TRUE(from_record == 18000 || from_record == 14400) << from_record;
    EXPECT_EQ(from_record, qv_time_local_offset(nullptr));
}

/* ---- the local time stamp of a log line -------------------------------------------------- */

TEST(LocalStamp, DaylightSavingEastOfUtc)
{
    Zone zone("Europe/Berlin");
    FixedClock clock(utc(2009, 5, 1, 15, 1, 19, 250));
    EXPECT_EQ("2009-05-01 17:01:19.250 wd5", show_time(local_stamp()));
    clock.set(utc(2009, 3, 28, 23, 30, 0)); /* the night of the change: still standard */
    EXPECT_EQ("2009-03-29 00:30:00.000 wd0", show_time(local_stamp()));
    clock.set(utc(2009, 3, 29, 22, 30, 0));
    EXPECT_EQ("2009-03-30 00:30:00.000 wd1", show_time(local_stamp()));
}

TEST(LocalStamp, AcrossMidnightAndTheYearsEnd)
{
    const struct {
        const char *tz;
        struct timespec reading;
        const char *local;
    } cases[] = {
        /* one hour east, no daylight saving: forward into the new year */
        {"Africa/Lagos", utc(2009, 12, 31, 23, 30, 5, 250), "2010-01-01 00:30:05.250 wd5"},
        {"<+01>-1", utc(2009, 12, 31, 23, 30, 5, 250), "2010-01-01 00:30:05.250 wd5"},
        /* west: back into the old year */
        {"America/New_York", utc(2010, 1, 1, 3, 0, 0), "2009-12-31 22:00:00.000 wd4"},
        /* half an hour */
        {"Asia/Kolkata", utc(2009, 12, 31, 18, 45, 0), "2010-01-01 00:15:00.000 wd5"},
        {"Australia/Adelaide", utc(2009, 12, 31, 13, 29, 59, 999), "2009-12-31 23:59:59.999 wd4"},
        {"Australia/Adelaide", utc(2009, 12, 31, 13, 30, 0), "2010-01-01 00:00:00.000 wd5"},
        {"UTC", utc(2009, 12, 31, 23, 59, 59, 999), "2009-12-31 23:59:59.999 wd4"},
    };
    for (const auto &c : cases) {
        Zone zone(c.tz);
        FixedClock clock(c.reading);
        EXPECT_EQ(c.local, show_time(local_stamp())) << c.tz;
    }
}

/* ---- reports while a log line is stamped -------------------------------------------------- */

/* A stand-in for the log file: it records each line and stamps it with the local time,
 * as the log file does, so that reports of the time module made while stamping come
 * back into it as new lines. Chains deeper than eight lines are cut here, so that an
 * unbounded chain fails the test rather than the stack. */
struct StampingSink {
    std::vector<std::string> lines;
    std::vector<std::string> stamps; /* of the outermost lines */
    bool stamping = false;
    int depth = 0;
    int deepest = 0;

    static unsigned write(void *context, const char *line)
    {
        StampingSink *self = static_cast<StampingSink *>(context);
        self->lines.push_back(without_thread_id(line));
        if (!self->stamping || self->depth >= 8)
            return 0;
        self->depth++;
        if (self->depth > self->deepest)
            self->deepest = self->depth;
        QVtime stamp = local_stamp();
        if (self->depth == 1)
            self->stamps.push_back(show_time(stamp));
        self->depth--;
        return 0;
    }
};

/* Installs a StampingSink for its lifetime, with the lines of the installation dropped. */
class Installed
{
  public:
    Installed() : log_{&sink_, StampingSink::write, nullptr}
    {
        qv_log_set_sink(&log_);
        sink_.lines.clear();
        sink_.stamping = true;
    }
    ~Installed()
    {
        sink_.stamping = false;
        StderrCapture quiet; /* the removal's banner and report */
        qv_log_set_sink(nullptr);
    }
    StampingSink &sink()
    {
        return sink_;
    }
    Installed(const Installed &) = delete;
    Installed &operator=(const Installed &) = delete;

  private:
    StampingSink sink_;
    QVLogSink log_;
};

/* The lines that one logged line brings: the line itself, then every report made while
 * stamping it. Each report line is stamped in turn, silently, so the chain never goes
 * deeper than the report lines of one stamp. */
TEST(StampReports, EachLoggedLineBringsABoundedSetOfReports)
{
    const struct {
        const char *tz;
        struct timespec reading;
        std::vector<std::string> lines; /* prefixes */
        const char *stamp;
    } cases[] = {
        {"Asia/Tokyo",
         utc(2009, 5, 1, 15, 1, 19, 250),
         {"INFO   : camera 7 recording"},
         "2009-05-02 00:01:19.250 wd6"},
        /* before 1991: qv_time_now's three lines; the clamped record is invalid to the
         * offset, which reports it too */
        {"UTC",
         utc(1985, 6, 15, 12, 0, 0, 500),
         {"INFO   : camera 7 recording", "ERROR  : Invalid time: 6/15/1985 12:00:00.500",
          "STACK_TRACE at QVtime:", "STACK_TRACE at TimePosix:",
          "ERROR  : Invalid time: 1/1/1970 0:00:00.000"},
         "1970-01-01 00:00:00.000 wd4"},
        /* west of UTC, the shift of the clamped record clamps again: two traces more */
        {"America/New_York",
         utc(1985, 6, 15, 12, 0, 0, 500),
         {"INFO   : camera 7 recording", "ERROR  : Invalid time: 6/15/1985 12:00:00.500",
          "STACK_TRACE at QVtime:", "STACK_TRACE at TimePosix:",
          "ERROR  : Invalid time: 1/1/1970 0:00:00.000",
          "STACK_TRACE at QVtime:", "STACK_TRACE at QVtime:"},
         "1970-01-01 00:00:00.000 wd4"},
        {"Europe/Berlin",
         utc(2040, 7, 1, 12, 0, 0),
         {"INFO   : camera 7 recording", "STACK_TRACE at QVtime:", "STACK_TRACE at TimePosix:",
          "ERROR  : Invalid time: 1/1/1970 0:00:00.000"},
         "1970-01-01 01:00:00.000 wd4"},
        /* the clock in range, but east of UTC its local time is not */
        {"Europe/Berlin",
         utc(2038, 1, 19, 3, 14, 7, 250),
         {"INFO   : camera 7 recording", "WARNING: set_qv_time_from_int64 bad secs 2147487247",
          "STACK_TRACE at QVtime:", "STACK_TRACE at QVtime:"},
         "2038-01-19 03:14:07.000 wd2"},
    };
    for (const auto &c : cases) {
        Zone zone(c.tz);
        FixedClock clock(c.reading);
        Installed installed;
        StampingSink &sink = installed.sink();
        /* Twice: logging goes on, and costs the same each time. */
        qv_log(QV_LOG_INFO, "%s", "camera 7 recording");
        qv_log(QV_LOG_INFO, "%s", "camera 7 recording");
        const size_t n = c.lines.size();
        ASSERT_EQ(2 * n, sink.lines.size()) << c.tz << " " << c.stamp;
        for (size_t i = 0; i < 2 * n; i++)
            EXPECT_TRUE(starts_with(sink.lines[i], c.lines[i % n]))
                << c.tz << " line " << i << ": " << sink.lines[i];
        EXPECT_EQ(n > 1 ? 2 : 1, sink.deepest) << c.tz;
        ASSERT_EQ(2u, sink.stamps.size());
        EXPECT_EQ(c.stamp, sink.stamps[0]) << c.tz;
        EXPECT_EQ(c.stamp, sink.stamps[1]) << c.tz;
    }
}

TEST(StampReports, AReportWrittenOutsideAStampIsStampedSilently)
{
    Zone zone("America/New_York");
    FixedClock clock(utc(1985, 6, 15, 12, 0, 0));
    Installed installed;
    StampingSink &sink = installed.sink();
    QVtime t;
    qv_time_now(&t); /* its reports are lines of their own, each stamped */
    ASSERT_EQ(3u, sink.lines.size());
    EXPECT_EQ("ERROR  : Invalid time: 6/15/1985 12:00:00.000", sink.lines[0]);
    EXPECT_TRUE(starts_with(sink.lines[1], "STACK_TRACE at QVtime:"));
    EXPECT_TRUE(starts_with(sink.lines[2], "STACK_TRACE at TimePosix:"));
    EXPECT_EQ(1, sink.deepest);
    EXPECT_EQ("1970-01-01 00:00:00.000 wd4", show_time(t));
}

} // namespace
