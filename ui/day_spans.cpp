#include "ui/day_spans.h"

#include <cstddef>

namespace ui {

void DaySpans::reset(uint32_t midnight) {
    day_ = midnight;
    masks_.fill(0);
}

bool DaySpans::empty() const {
    for (uint32_t mask : masks_)
        if (mask != 0)
            return false;
    return true;
}

bool DaySpans::on_day(uint32_t time) const {
    return day_ != 0 && time >= day_ && time - day_ < kDaySeconds;
}

int DaySpans::slot_of(uint32_t time) const {
    return static_cast<int>((time - day_) / kSlotSeconds);
}

uint32_t DaySpans::slot_start(int slot) const {
    return day_ + static_cast<uint32_t>(slot) * kSlotSeconds;
}

bool DaySpans::recorded_at(uint32_t time) const {
    return on_day(time) && masks_[static_cast<std::size_t>(slot_of(time))] != 0;
}

uint32_t DaySpans::next_recorded(uint32_t time) const {
    if (day_ == 0)
        return 0;
    if (time < day_)
        time = day_;
    if (!on_day(time))
        return 0;
    for (int slot = slot_of(time); slot < kSlots; ++slot) {
        if (masks_[static_cast<std::size_t>(slot)] != 0)
            return slot == slot_of(time) ? time : slot_start(slot);
    }
    return 0;
}

uint32_t DaySpans::previous_recorded(uint32_t time) const {
    if (day_ == 0 || time < day_)
        return 0;
    if (!on_day(time))
        time = day_ + kDaySeconds - 1;
    for (int slot = slot_of(time); slot >= 0; --slot) {
        if (masks_[static_cast<std::size_t>(slot)] != 0)
            return slot == slot_of(time) ? time : slot_start(slot) + kSlotSeconds - 1;
    }
    return 0;
}

} // namespace ui
