#include "disk/recorder_time.h"

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back (era arithmetic).
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int* year, int* month, int* day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    *year = static_cast<int>(yoe + era * 400 + (m <= 2));
    *month = static_cast<int>(m);
    *day = static_cast<int>(d);
}

}  // namespace

CivilTime civil_from_recorder(uint32_t time) {
    CivilTime t{};
    const int64_t days = time / 86400;
    const int64_t secs = time % 86400;
    civil_from_days(days, &t.year, &t.month, &t.day);
    t.hour = static_cast<int>(secs / 3600);
    t.minute = static_cast<int>(secs / 60 % 60);
    t.second = static_cast<int>(secs % 60);
    t.day_of_week = static_cast<int>((days + 4) % 7);  // 1970-01-01 was a Thursday
    return t;
}

int64_t recorder_from_civil(int year, int month, int day, int hour, int minute, int second) {
    return days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}
