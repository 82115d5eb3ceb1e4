// Recorder time stamps and their broken-down and FILETIME forms. The recorder's clock has no
// zone: every conversion is the plain UTC arithmetic, whatever the PC's zone.
#include "disk/recorder_time.h"
#include "storage/api_state.h"

namespace {

constexpr int64_t kFiletimeEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01
constexpr int64_t kTicksPerSecond = 10000000;

}  // namespace

// Times after January 2038 stay after it: the stamp is unsigned.
void time_to_filetime(uint32_t time, uint64_t* filetime) {
    *filetime = static_cast<uint64_t>((int64_t{time} + kFiletimeEpochSeconds) * kTicksPerSecond);
}

void filetime_to_time(uint64_t filetime, uint32_t* time) {
    const int64_t t = (static_cast<int64_t>(filetime) - kFiletimeEpochSeconds * kTicksPerSecond) /
                      kTicksPerSecond;
    *time = static_cast<uint32_t>(t);
}

// Fields out of range, or a date outside the recorder clock's span, give 0 (no time).
void systemtime_to_time(const DateTime* st, uint32_t* time) {
    *time = 0;
    if (st->month < 1 || st->month > 12 || st->day < 1 || st->day > 31 || st->hour > 23 ||
        st->minute > 59 || st->second > 59) {
        return;
    }
    const int64_t t = recorder_from_civil(st->year, st->month, st->day, st->hour, st->minute,
                                          st->second);
    if (t >= 0 && t <= int64_t{UINT32_MAX}) *time = static_cast<uint32_t>(t);
}

void time_to_systemtime(uint32_t time, DateTime* st) {
    const CivilTime c = civil_from_recorder(time);
    *st = DateTime{static_cast<uint16_t>(c.year),   static_cast<uint16_t>(c.month),
                   static_cast<uint16_t>(c.day_of_week), static_cast<uint16_t>(c.day),
                   static_cast<uint16_t>(c.hour),   static_cast<uint16_t>(c.minute),
                   static_cast<uint16_t>(c.second), 0};
}

uint32_t api_align_time(uint32_t time, int32_t clamp) {
    const VolumeRecord* v = api_session();
    if (v == nullptr) return 0;
    // Times before the oldest one but within its index interval can still be located.
    const uint32_t first = volume_first_indexed_time(*v);
    if (!clamp && (time < first || time > v->newest)) return 0;
    if (time > v->newest) time = v->newest;
    if (time < first) time = first;
    // Down to the quarter minute: seconds 0, 15, 30 or 45 of the same minute.
    const uint32_t second = time % 60;
    return time - second % 15;
}
