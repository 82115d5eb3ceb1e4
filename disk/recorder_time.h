// Calendar fields of a recorder time stamp. The recorder's clock is a wall clock with no zone:
// it is broken down as UTC, over the whole unsigned 32-bit range (up to the year 2106).
#pragma once

#include <cstdint>

struct CivilTime {
    int year;
    int month;        // 1..12
    int day;          // 1..31
    int hour;
    int minute;
    int second;
    int day_of_week;  // 0 = Sunday
};

CivilTime civil_from_recorder(uint32_t time);

// Seconds since 1970 of a calendar time; fields must be in range (month 1..12, day 1..31).
int64_t recorder_from_civil(int year, int month, int day, int hour, int minute, int second);
