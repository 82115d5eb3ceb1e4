// Playback control values: the channel mask with its channel files, the requested time, the
// play mode and the two flags.
#include <algorithm>

#include "storage/api_state.h"

namespace {

bool stopped_or_paused(int32_t mode) { return mode == PM_STOP || mode == PM_PAUSE; }

// Opens channel c into slot s unless it is open already or holds nothing.
void open_slot(int32_t* slot, int32_t channel, int32_t trace_number) {
    if (*slot >= 0 || channel < 0 || backup_channel_size(channel) == 0) return;
    *slot = backup_open(channel);
    dvrfs_trace("backup_open %d => %d\n", trace_number, *slot);
    if (*slot < 0) *slot = -1;
}

void close_slot(int32_t* slot) {
    if (*slot >= 0) backup_close(*slot);
    *slot = -1;
}

}  // namespace

int32_t api_set_channel_mask(uint32_t mask) {
    ApiState& st = api_state();
    if (!stopped_or_paused(st.play_mode)) return kApiRefused;
    {
        std::lock_guard<std::mutex> guard(st.lock);
        const VolumeRecord* v = api_session();
        const int32_t count = v ? static_cast<int32_t>(v->channel_count) : 0;
        const int32_t shown = std::min(st.display_channels, static_cast<int32_t>(kVideoChannels));
        for (int32_t i = 0; i < shown; ++i) {
            const int32_t audio_slot = shown + i;
            const int32_t audio = audio_channel_of(i, count, shown);
            if (mask & (1u << i)) {
                if (st.slots[i] >= 0 || v == nullptr) continue;
                open_slot(&st.slots[i], i + 3, i);
                if (audio >= 0) open_slot(&st.slots[audio_slot], audio, audio_slot);
            } else {
                close_slot(&st.slots[i]);
                if (audio >= 0) close_slot(&st.slots[audio_slot]);
            }
        }
        st.channel_mask = mask;
    }
    if (mask == 0) api_clear_read_failures();
    api_wake();
    return static_cast<int32_t>(mask);
}

int32_t api_halt(int32_t mode) {
    if (!stopped_or_paused(mode)) return kApiRefused;
    ApiState& st = api_state();
    {
        std::lock_guard<std::mutex> guard(st.lock);
        st.play_mode = mode;
        for (int32_t i = 0; i < kPlaybackSlots; ++i) close_slot(&st.slots[i]);
        st.channel_mask = 0;
    }
    api_wake();
    return 0;
}

int32_t api_play_from(uint32_t time) {
    ApiState& st = api_state();
    if (st.channel_mask == 0) return kApiRefused;
    st.requested_time = time;  // before the request, so that the thread sees the new time
    st.reposition = 1;
    api_wake();
    return 0;
}

int32_t api_set_play_mode(int32_t mode) {
    ApiState& st = api_state();
    if (st.channel_mask == 0) return kApiRefused;
    st.play_mode = mode;
    api_wake();
    return mode;
}

int32_t api_play_mode() { return api_state().play_mode; }

uint64_t api_engine_passes() { return api_state().passes; }

void api_set_key_frame_only(int32_t on) { api_state().key_frame_only = on; }

uint8_t api_set_no_pacing(uint8_t off) {
    api_state().no_pacing = off;
    api_wake();
    return off;
}

int32_t play_mode_direction(int32_t mode) {
    switch (mode) {
        case PM_PLAY: case PM_FF_2: case PM_FRAME_F: case PM_MINUTE_F:
        case PM_FF_4: case PM_FF_8: case PM_FF_16: case PM_FF_32:
            return 1;
        case PM_STOP: case PM_PAUSE:
            return 0;
        default:
            return -1;
    }
}
