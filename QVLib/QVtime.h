/*
 * QVtime: the time record of the system and its calendar arithmetic.
 *
 * A QVtime carries one point in time twice: as calendar fields and as ticks, 100 ns
 * intervals since 1601-01-01 00:00:00 on the same time scale (UTC when read from the
 * clock, local time once shifted). Every record that leaves this module has its fields
 * recomputed from a count of seconds since 1970-01-01, so it is normalised and carries
 * its weekday.
 *
 * The range is bounded twice: the calendar side accepts the years 1991 to 2038, and the
 * seconds side a count that fits a signed 32-bit integer (up to 2038-01-19 03:14:07).
 * Ticks outside the range are clamped to 1970-01-01 00:00:00.000 or to 2038-01-19
 * 03:14:07.000 and the clamp is reported with status 1; the record is complete anyway.
 * Every fourth year is a leap year, which is exact within the range.
 *
 * Reports: the log file stamps each line it writes with the clock, so a report written
 * by this module makes the log call back into it. While a thread writes one report of
 * the time module (including its platform side, QVclock), every time operation that
 * thread enters computes its result silently; one written line therefore costs a fixed
 * number of report lines, never an endless chain. Invalid-time messages are further
 * bounded by a process-wide report depth: at most four are in progress at once.
 *
 * The module allocates nothing; records belong to their callers. Operations do not
 * check for a null record.
 */
#ifndef QVLIB_QVTIME_H
#define QVLIB_QVTIME_H

#include <cstdint>

struct QVtime {
    int64_t ticks;        /* 100 ns intervals since 1601-01-01 00:00:00 */
    uint16_t year;        /* 0 marks a cleared record: invalid without a report */
    uint8_t month;        /* 1..12 */
    uint8_t day;          /* 1..31 */
    uint8_t weekday;      /* 0 = Sunday .. 6 = Saturday; derived, never validated */
    uint8_t hour;         /* 0..23 */
    uint8_t minute;       /* 0..59 */
    uint8_t second;       /* 0..59 */
    uint16_t millisecond; /* 0..999 */
};

/* Returns 1 when the calendar fields are valid: year after 1990, month 1..12, day 1..31
 * (not compared with the month's length), hour, minute, second and millisecond within
 * their ranges. Otherwise 0: silently for year 0, else after the ERROR line
 * "Invalid time: %d/%d/%d %d:%02d:%02d.%03d" (month, day, year, hour, minute, second,
 * millisecond), unless four such reports are in progress already. */
int qv_time_is_valid(const QVtime *t);

/* Returns the seconds since 1970-01-01 00:00:00 of the calendar fields (weekday,
 * millisecond and ticks ignored; a day past the month's end runs on into the next
 * month), or -1 for an invalid record (reported as by qv_time_is_valid) or a year
 * after 2038 (silently). The record is not changed. */
int64_t qv_time_to_secs(const QVtime *t);

/* Sets every field of t from secs, seconds since 1970-01-01 00:00:00, with millisecond
 * 0 and ticks on the whole second. Returns 0, or 1 with t unchanged when secs lies
 * outside 0..2147483647 (silently). */
unsigned qv_time_from_secs(QVtime *t, int64_t secs);

/* Recomputes every calendar field of t from its ticks, keeping whole milliseconds only
 * (ticks is cut to the millisecond). Returns 0, or 1 when ticks lay outside the range
 * and t was clamped: to 1970-01-01 00:00:00.000 when a millisecond or more before 1970
 * (silently), to 2038-01-19 03:14:07.000 after 03:14:07 that day (WARNING line
 * "set_qv_time_from_int64 bad secs <seconds>"). */
unsigned set_qv_time_from_int64(QVtime *t);

/* Makes dest the time ms milliseconds after src (before it when negative). dest may be
 * src. Returns the status of set_qv_time_from_int64, after a STACK_TRACE line when 1;
 * ticks that would leave the 64-bit range are clamped like any other. */
unsigned qv_time_add_ms(QVtime *dest, const QVtime *src, int32_t ms);

/* Makes dest the time secs seconds before src (after it when negative); dest may be
 * src. Used with a local offset to turn UTC into local time. Every 32-bit count is
 * shifted exactly. Returns the status of qv_time_add_ms, after a STACK_TRACE line of
 * its own when 1 (a failure leaves two). */
unsigned qv_time_sub_secs(QVtime *dest, const QVtime *src, int32_t secs);

/* Builds t from its seven calendar fields. The arguments are checked in order (year at
 * least 1, month 1..12, day 1..31, hour to 23, minute and second to 59, millisecond to
 * 999); the first bad one is reported as "qv_time_init_full: invalid <field>" and the
 * result is 1 with t unchanged. Otherwise t is always filled and normalised: a day past
 * the month's end runs on into the next month. The result is 1 (after a STACK_TRACE
 * line) when the time lies outside the range: 1970-01-01 00:00:00.000 for a year before
 * 1991 (after the invalid-time message) or after 2038, 2038-01-19 03:14:07.000 for a
 * later time in 2038 (after the bad secs warning). Otherwise 0. */
unsigned qv_time_init_full(QVtime *t, int32_t year, uint32_t month, uint32_t day, uint32_t hour,
                           uint32_t minute, uint32_t second, uint32_t millisecond);

/* Writes the STACK_TRACE line of a time operation at file:line, unless the calling
 * thread is writing a report of the time module already: then nothing. The platform
 * side of the module reports through it so that it shares the module's bound. */
void qv_time_report_trace(const char *file, int line);

#endif
