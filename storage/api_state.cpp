#include "storage/api_state.h"

#include <chrono>

#include "disk/disk.h"

ApiState& api_state() {
    static ApiState state;
    return state;
}

void api_wake() {
    ApiState& st = api_state();
    { std::lock_guard<std::mutex> guard(st.wake_mutex); }
    st.wake.notify_all();
}

void api_nap(int ms) {
    ApiState& st = api_state();
    std::unique_lock<std::mutex> guard(st.wake_mutex);
    st.wake.wait_for(guard, std::chrono::milliseconds(ms));
}

const VolumeRecord* api_session() {
    const ApiState& st = api_state();
    if (st.mounted_session < 0 || backup_selected_volume() == nullptr) return nullptr;
    return backup_selected_volume();
}

int32_t capture_image_channel(int32_t count) {
    if (count == 15) return 11;
    if (count == 27 || count == 29) return 23;
    return -1;
}

int32_t audio_channel_of(int32_t video, int32_t count, int32_t display_channels) {
    if (video < 0 || video >= kAudioChannels || count > 29) return -1;
    if (count == 15) return display_channels + video + 3;
    return 19 + video;
}

void api_state_reset() {
    ApiState& st = api_state();
    st.running = 0;
    st.playback_stopped = 1;
    st.trace = 0;
    st.on_frame = nullptr;
    st.on_status = nullptr;
    st.nMountDiskId = -1;
    st.mounted_session = -1;
    st.display_channels = -1;
    for (int32_t& s : st.slots) s = -1;
    st.channel_mask = 0;
    st.requested_time = 0;
    st.reposition = 0;
    st.play_mode = PM_STOP;
    st.key_frame_only = 0;
    st.no_pacing = 0;
    st.search_busy = 0;
    st.video_buffer.reset();
    st.audio_buffer.reset();
    for (auto& b : st.frame_buffers) b.reset();
    api_clear_read_failures();
}
