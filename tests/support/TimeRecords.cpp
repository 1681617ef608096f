#include "tests/support/TimeRecords.h"

#include <cstdio>

QVtime time_fields(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                   unsigned second, unsigned millisecond)
{
    QVtime t{};
    t.year = static_cast<uint16_t>(year);
    t.month = static_cast<uint8_t>(month);
    t.day = static_cast<uint8_t>(day);
    t.hour = static_cast<uint8_t>(hour);
    t.minute = static_cast<uint8_t>(minute);
    t.second = static_cast<uint8_t>(second);
    t.millisecond = static_cast<uint16_t>(millisecond);
    return t;
}

std::string show_time(const QVtime &t)
{
    char text[64];
    snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u wd%u", t.year, t.month, t.day,
             t.hour, t.minute, t.second, t.millisecond, t.weekday);
    return text;
}
