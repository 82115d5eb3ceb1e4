#include <atomic>
#include <cstdio>

#include "disk/disk.h"
#include "disk/recorder_time.h"

const char* dvrfs_time_string(uint32_t time, int short_form) {
    // Eight results stay valid at once, so one trace line can carry several times.
    static char ring[8][30];
    static std::atomic<unsigned> next{0};
    char* out = ring[next.fetch_add(1, std::memory_order_relaxed) % 8];

    if (time == 0) {
        std::snprintf(out, 30, "NULL");
        return out;
    }
    CivilTime t = civil_from_recorder(time);
    if (short_form) {
        std::snprintf(out, 30, "%02d%02d%02d:%02d%02d%02d", t.year % 100, t.month, t.day, t.hour,
                      t.minute, t.second);
    } else {
        std::snprintf(out, 30, "%04d/%02d/%02d-%02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                      t.minute, t.second);
    }
    return out;
}
