// api_init and api_exit: the buffers, the lock and the playback thread's start and stop.
#include <chrono>
#include <new>
#include <thread>

#include "storage/api_state.h"

namespace {

void free_buffers(ApiState& st) {
    st.video_buffer.reset();
    st.audio_buffer.reset();
    for (auto& b : st.frame_buffers) b.reset();
}

bool allocate_buffers(ApiState& st) {
    st.video_buffer.reset(new (std::nothrow) uint8_t[kVideoBufferSize]);
    st.audio_buffer.reset(new (std::nothrow) uint8_t[kAudioBufferSize]);
    if (!st.video_buffer || !st.audio_buffer) {
        free_buffers(st);
        return false;
    }
    for (auto& b : st.frame_buffers) {
        b.reset(new (std::nothrow) uint8_t[kFrameBufferSize]);
        if (!b) {
            free_buffers(st);
            return false;
        }
    }
    return true;
}

void clear_controls(ApiState& st) {
    st.channel_mask = 0;
    st.requested_time = 0;
    st.play_mode = PM_STOP;
    st.key_frame_only = 0;
}

}  // namespace

int32_t api_init(int32_t trace, FrameCallback on_frame, StatusCallback on_status) {
    ApiState& st = api_state();
    if (st.running) return kApiRefused;  // one playback thread per process
    st.trace = trace;
    dvrfs_set_trace(trace != 0);
    if (!allocate_buffers(st)) return kApiRefused;

    st.on_frame = on_frame;
    st.on_status = on_status;
    for (int32_t& s : st.slots) s = -1;
    clear_controls(st);
    st.no_pacing = 0;
    st.running = 1;
    // The thread clears the stopped flag itself; setting it here too closes the window in
    // which an immediate api_exit would not wait for a thread that has not yet run.
    st.playback_stopped = 0;
    std::thread(playback_thread_main).detach();
    dvrfs_trace("Init api.......\n");
    return 0;
}

int32_t api_exit() {
    ApiState& st = api_state();
    st.running = 0;
    api_wake();
    while (st.playback_stopped == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));

    clear_controls(st);
    for (int32_t& s : st.slots) {
        if (s >= 0) backup_close(s);
        s = -1;
    }
    free_buffers(st);
    backup_unmount_session();
    st.mounted_session = -1;
    dvrfs_trace("backup_unmount_disk nMountDiskId = %d", st.nMountDiskId);
    backup_unmount_disk();
    st.nMountDiskId = -1;
    return 0;
}
