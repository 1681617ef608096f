/*
 * QVclock: the system clock read into a QVtime, and the local-time offset: the
 * platform side of the time subsystem (TimePosix, TimeWin32).
 *
 * The clock reads UTC; tests may put a reader of their own in its place. The offset at
 * an instant comes from the platform's time-zone state (TZ, or the system's zone).
 *
 * A clock outside the time record's range gives a clamped but complete record and its
 * reports; qv_time_now entered again while they are written (the log file stamps each
 * line with the clock) computes the same record silently. Neither operation keeps
 * state of its own beyond the clock seam.
 */
#ifndef QVLIB_QVCLOCK_H
#define QVLIB_QVCLOCK_H

#include <cstdint>
#include <ctime>

#include "QVLib/QVtime.h"

/* Fills t with the current UTC time, in whole milliseconds. Outside the record's range
 * (before 1991, or after 2038-01-19 03:14:07) t is clamped as qv_time_init_full does,
 * after its reports and a STACK_TRACE line of the platform module. */
void qv_time_now(QVtime *t);

/* Returns UTC minus local civil time, in seconds (positive west of Greenwich), in effect
 * at the instant of t, whose calendar fields are read as UTC; with t null, at the
 * current instant of the clock. An invalid or out-of-range record (reported as by
 * qv_time_to_secs), a clock before 1970 or an instant the platform cannot convert gives
 * the zone's standard offset. */
int32_t qv_time_local_offset(const QVtime *t);

/* Test seam for the clock: a reader that fills the current UTC time (seconds and
 * nanoseconds since 1970-01-01 00:00:00 UTC). */
typedef void (*QVClockReader)(struct timespec *now);

/* Makes qv_time_now and qv_time_local_offset(null) read the clock through reader; null
 * restores the system clock. Safe while other threads read the clock. */
void qv_time_set_clock_reader(QVClockReader reader);

#endif
