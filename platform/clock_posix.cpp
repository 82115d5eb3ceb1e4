#include <ctime>

#include "platform/clock.h"

namespace platform {

// The trace stamps lines with the PC's own clock, not the recorder's.
void local_clock(int* hour, int* minute, int* second) {
    std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    *hour = tm.tm_hour;
    *minute = tm.tm_min;
    *second = tm.tm_sec;
}

}  // namespace platform
