#include "ui/transport_rules.h"

#include <array>

#include "storage/api.h"

namespace ui {
namespace {

constexpr std::array<int32_t, 5> kForward = {PM_FF_2, PM_FF_4, PM_FF_8, PM_FF_16, PM_FF_32};
constexpr std::array<int32_t, 6> kRewind = {PM_REW_1, PM_REW_2, PM_REW_4,
                                            PM_REW_8, PM_REW_16, PM_REW_32};

template <size_t N>
int index_in(const std::array<int32_t, N>& cycle, int32_t mode) {
    for (size_t i = 0; i < N; ++i)
        if (cycle[i] == mode)
            return static_cast<int>(i);
    return -1;
}

template <size_t N>
int32_t next_in(const std::array<int32_t, N>& cycle, int32_t mode) {
    const int i = index_in(cycle, mode);
    return cycle[static_cast<size_t>(i + 1) % N];
}

constexpr int32_t kLastMinuteStart = 23 * 3600 + 59 * 60;

} // namespace

int32_t next_forward_speed(int32_t mode) { return next_in(kForward, mode); }
int32_t next_rewind_speed(int32_t mode) { return next_in(kRewind, mode); }
bool is_forward_speed(int32_t mode) { return index_in(kForward, mode) >= 0; }
bool is_rewind_speed(int32_t mode) { return index_in(kRewind, mode) >= 0; }

QString speed_tooltip(int32_t mode) {
    if (const int i = index_in(kForward, mode); i >= 0)
        return QStringLiteral("%1X").arg(2 << i);
    if (const int i = index_in(kRewind, mode); i >= 0)
        return QStringLiteral("%1X").arg(1 << i);
    return {};
}

std::optional<int32_t> minute_jump(int32_t second_of_day, bool forward, bool thumb_at_day_end) {
    if (forward && second_of_day >= kLastMinuteStart)
        return std::nullopt;
    if (!forward && second_of_day < 60)
        return std::nullopt;
    if (thumb_at_day_end)
        return kLastMinuteStart;
    return second_of_day + (forward ? 60 : -60);
}

bool HoldOff::accept(int64_t now_ms) {
    if (last_ms_ && now_ms - *last_ms_ < interval_ms_)
        return false;
    last_ms_ = now_ms;
    return true;
}

} // namespace ui
