// The transport buttons' rules that need no window: the speed cycles with their tooltips, the
// minute jumps within a day, and the hold-off that ignores a button pressed again too soon.
#pragma once

#include <cstdint>
#include <optional>

#include <QString>

namespace ui {

// The next fast-forward speed: 2X, 4X, 8X, 16X, 32X, then 2X again; 2X from any other mode.
int32_t next_forward_speed(int32_t mode);
// The next rewind speed: 1X, 2X, 4X, 8X, 16X, 32X, then 1X again; 1X from any other mode.
int32_t next_rewind_speed(int32_t mode);
// "2X" .. "32X" for a fast-forward speed, "1X" .. "32X" for a rewind speed, "" otherwise.
QString speed_tooltip(int32_t mode);
bool is_forward_speed(int32_t mode);
bool is_rewind_speed(int32_t mode);

// One minute forward or back from `second_of_day`, staying within the day: nothing out of the
// day's last minute going forward or out of its first going back. With the thumb on the last
// position of the 24-hour scale the result is 23:59:00.
std::optional<int32_t> minute_jump(int32_t second_of_day, bool forward, bool thumb_at_day_end);

// Ignores presses that come within `interval_ms` of the previous accepted one.
class HoldOff {
public:
    explicit HoldOff(int64_t interval_ms) : interval_ms_(interval_ms) {}
    bool accept(int64_t now_ms);

private:
    int64_t interval_ms_;
    std::optional<int64_t> last_ms_;
};

inline constexpr int64_t kPlayHoldOffMs = 400;
inline constexpr int64_t kSpeedHoldOffMs = 500;
inline constexpr int64_t kMinuteHoldOffMs = 1000;

} // namespace ui
