#include "playback/pacing.h"

#include "storage/api.h"

namespace {

// Divisor of a fast mode's sleep: the speed, 0 for modes that are not fast.
int fast_forward_speed(int32_t mode) {
    switch (mode) {
        case PM_FF_2: return 2;
        case PM_FF_4: return 4;
        case PM_FF_8: return 8;
        case PM_FF_16: return 16;
        case PM_FF_32: return 32;
        default: return 0;
    }
}

int rewind_speed(int32_t mode) {
    switch (mode) {
        case PM_REW_2: return 2;
        case PM_REW_4: return 4;
        case PM_REW_8: return 8;
        case PM_REW_16: return 16;
        case PM_REW_32: return 32;
        default: return 0;
    }
}

}  // namespace

int pacing_sleep_ms(int32_t mode, int64_t elapsed, int32_t interval, bool key_frames_only) {
    if (mode == PM_PLAY) return elapsed < interval ? static_cast<int>(interval - elapsed) : 0;
    if (mode == PM_REW_1) return elapsed <= 500 ? static_cast<int>(500 - elapsed) : 0;
    if (mode == PM_FRAME_F || mode == PM_FRAME_B) return 10;
    if (int speed = fast_forward_speed(mode)) {
        const int64_t period = key_frames_only ? 500 : interval;
        return elapsed < period ? static_cast<int>((period - elapsed) / speed) : 0;
    }
    if (int speed = rewind_speed(mode)) {
        return elapsed < 500 ? static_cast<int>((500 - elapsed) / speed) : 0;
    }
    return 0;
}
