// The timeline's arithmetic: slots, positions and times, and the searches of the span map.
#include "ui/controls/search_slider.h"

#include <algorithm>

namespace ui {

int SearchSlider::first_slot() const { return scale_ == 0 ? 0 : shown_hour_ * kSlotsPerHour; }

int SearchSlider::end_slot() const {
    return scale_ == 0 ? kSlots : (shown_hour_ + 1) * kSlotsPerHour;
}

int SearchSlider::slot_position(int slot) const {
    return position_of_seconds(slot * 15);
}

int SearchSlider::seconds_of_position(int p) const {
    const int64_t clamped = std::clamp(p, 0, range_);
    if (scale_ == 0)
        return static_cast<int>(clamped * 86400 / range_);
    return shown_hour_ * 3600 + static_cast<int>(clamped * 3600 / range_);
}

int SearchSlider::position_of_seconds(int second_of_day) const {
    const int64_t second = std::clamp(second_of_day, 0, 86399);
    if (scale_ == 0)
        return static_cast<int>(second * range_ / 86400);
    const int64_t in_hour = std::clamp<int64_t>(second - int64_t{shown_hour_} * 3600, 0, 3600);
    return static_cast<int>(in_hour * range_ / 3600);
}

void SearchSlider::mark_unreadable(int first_slot, int last_slot) {
    for (int slot = std::max(0, first_slot); slot <= std::min(last_slot, kSlots - 1); ++slot)
        unreadable_[static_cast<size_t>(slot)] = true;
    update();
}

void SearchSlider::clear_unreadable() {
    unreadable_.fill(false);
    update();
}

bool SearchSlider::unreadable(int slot) const {
    return slot >= 0 && slot < kSlots && unreadable_[static_cast<size_t>(slot)];
}

// The first slot of the shown hours that shares a bit with `mask` and lies at or after the
// thumb; -1 when there is none. Several slots share a pixel, so "at or after" compares
// positions, not times: a search never lands before the thumb.
int SearchSlider::search_forward(uint32_t mask) const {
    for (int slot = first_slot(); slot < end_slot(); ++slot) {
        if ((span_map_[static_cast<size_t>(slot)] & mask) != 0 &&
            slot_position(slot) >= position_)
            return slot;
    }
    return -1;
}

int SearchSlider::next_recorded_position() const {
    const int slot = search_forward(filter_);
    return slot < 0 ? -1 : slot_position(slot);
}

int SearchSlider::previous_recorded_position() const {
    for (int slot = end_slot() - 1; slot >= first_slot(); --slot) {
        if ((span_map_[static_cast<size_t>(slot)] & filter_) != 0 &&
            slot_position(slot) <= position_)
            return slot_position(slot);
    }
    return -1;
}

bool SearchSlider::channel_recorded_at_thumb(int channel) const {
    if (channel < 0 || channel > 31)
        return false;
    const int slot = search_forward(1u << channel);
    if (slot < 0)
        return false;
    const int distance = slot_position(slot) - position_;
    return scale_ == 0 ? distance == 0 : distance <= 3;
}

} // namespace ui
