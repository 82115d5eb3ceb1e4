// The recorded 15-second slots of one day as the day search gives them, one channel mask per
// slot, with the searches the transport makes in recorder time: where the next recording
// starts, where the previous one ends. The timeline paints the same map.
#pragma once

#include <array>
#include <cstdint>

namespace ui {

class DaySpans {
public:
    static constexpr int kSlots = 5760;
    static constexpr uint32_t kSlotSeconds = 15;
    static constexpr uint32_t kDaySeconds = 86400;
    using Masks = std::array<uint32_t, kSlots>;

    // The day's midnight and its slots; the masks are cleared.
    void reset(uint32_t midnight);
    uint32_t day() const { return day_; }
    Masks& masks() { return masks_; }
    const Masks& masks() const { return masks_; }
    bool empty() const;

    // Whether `time` lies on this day.
    bool on_day(uint32_t time) const;
    bool recorded_at(uint32_t time) const;
    // The first recorded second at or after `time` on this day: `time` itself when its slot is
    // recorded. 0 when nothing is recorded after it.
    uint32_t next_recorded(uint32_t time) const;
    // The last recorded second at or before `time`: `time` itself when its slot is recorded,
    // else the last second of the recorded slot before it. 0 when there is none.
    uint32_t previous_recorded(uint32_t time) const;
    uint32_t first_recorded() const { return next_recorded(day_); }

private:
    int slot_of(uint32_t time) const;
    uint32_t slot_start(int slot) const;

    uint32_t day_ = 0;
    Masks masks_{};
};

} // namespace ui
