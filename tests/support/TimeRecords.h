/*
 * TimeRecords: time records for tests: built from calendar fields alone, and shown as
 * text in assertions.
 */
#ifndef TESTS_SUPPORT_TIMERECORDS_H
#define TESTS_SUPPORT_TIMERECORDS_H

#include <string>

#include "QVLib/QVtime.h"

/* A record holding only the given calendar fields (ticks and weekday 0). */
QVtime time_fields(unsigned year, unsigned month, unsigned day, unsigned hour = 0,
                   unsigned minute = 0, unsigned second = 0, unsigned millisecond = 0);

/* "YYYY-MM-DD hh:mm:ss.mmm wdN" */
std::string show_time(const QVtime &t);

#endif
