#include "playback/engine.h"

#include <algorithm>

#include "storage/api_state.h"

EngineState& engine_state() {
    static EngineState state;
    return state;
}

void engine_reset_for_tests() { engine_state() = EngineState{}; }

void add_milliseconds(PlayTime* t, int64_t ms) {
    const int64_t total = t->sec * 1000 + t->msec + ms;
    // Floor division keeps milliseconds in 0..999 also for times going back.
    t->sec = total >= 0 ? total / 1000 : (total - 999) / 1000;
    t->msec = static_cast<int32_t>(total - t->sec * 1000);
}

PlayTime header_time(uint32_t time, uint32_t msec, uint32_t step) {
    PlayTime t{time, 0};
    add_milliseconds(&t, int64_t{msec} + step);
    return t;
}

bool reached(const PlayTime& clock, const PlayTime& t) {
    return clock.sec > t.sec || (clock.sec == t.sec && clock.msec >= t.msec);
}

int32_t video_slot_count() {
    return std::clamp(api_state().display_channels, 0, static_cast<int32_t>(kVideoChannels));
}

int32_t audio_slot_first() { return video_slot_count(); }

bool slot_open(int32_t slot) {
    return slot >= 0 && slot < kPlaybackSlots && api_state().slots[slot] >= 0;
}

void notify_status(int32_t code, int32_t slot) {
    if (StatusCallback cb = api_state().on_status) cb(code, slot);
}

void deliver_frame(int32_t slot, const PlayTime& t, const uint8_t* data, int32_t length,
                   int32_t kind, uint32_t picture_size) {
    if (kind == FRAME_KIND_VIDEO && slot >= 0 && slot < video_slot_count()) {
        engine_state().slots[slot].shown = t;
    }
    if (FrameCallback cb = api_state().on_frame) {
        cb(slot, static_cast<uint32_t>(t.sec), t.msec, data, length, kind, picture_size);
    }
}
