// The storage API's process-wide state, shared by its files, the playback engine and tests.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "storage/api.h"

struct ApiState {
    std::atomic<int32_t> running{0};
    std::atomic<int32_t> playback_stopped{1};
    int32_t trace = 0;
    FrameCallback on_frame = nullptr;
    StatusCallback on_status = nullptr;

    int32_t nMountDiskId = -1;
    int32_t mounted_session = -1;
    int32_t display_channels = -1;
    int32_t slots[kPlaybackSlots];  // playback channel table: descriptors, -1 when closed
    std::atomic<uint32_t> channel_mask{0};

    // Control values written by the UI thread and polled by the playback thread.
    std::atomic<uint32_t> requested_time{0};
    std::atomic<int32_t> reposition{0};
    std::atomic<int32_t> play_mode{PM_STOP};
    std::atomic<int32_t> key_frame_only{0};
    std::atomic<uint8_t> no_pacing{0};
    std::atomic<int32_t> search_busy{0};
    // Passes the playback thread has finished; lets a caller wait until the thread has seen a
    // new play mode.
    std::atomic<uint64_t> passes{0};

    std::unique_ptr<uint8_t[]> video_buffer;
    std::unique_ptr<uint8_t[]> audio_buffer;
    std::unique_ptr<uint8_t[]> frame_buffers[kVideoChannels];

    // Guards the playback channel table, the channel mask and every channel operation the
    // playback thread or a reader runs.
    std::mutex lock;
    // Cuts the playback thread's sleeps short when a control value changes.
    std::mutex wake_mutex;
    std::condition_variable wake;

    ApiState() {
        for (int32_t& s : slots) s = -1;
    }
};

ApiState& api_state();
// Back to the state at program start (tests only; the playback thread must have stopped).
void api_state_reset();
// Tells the playback thread that a control value changed.
void api_wake();
// Sleeps up to ms milliseconds, or until api_wake.
void api_nap(int ms);

// Read failures met during play: the engine adds them (the oldest are dropped when the queue
// is full), api_set_channel_mask(0) and a reset clear them.
void api_push_read_failure(const PlaybackReadFailure& failure);
void api_clear_read_failures();

// The playback thread's body; started by api_init, returns when the running flag clears.
void playback_thread_main();

// The mounted session's volume record, nullptr when none is mounted.
const VolumeRecord* api_session();

// Channel numbers by the volume's channel count (15, 27 or 29); -1 when the count has none.
int32_t capture_image_channel(int32_t channel_count);
int32_t audio_channel_of(int32_t video, int32_t channel_count, int32_t display_channels);
inline int32_t event_log_channel(int32_t count) { return count - 3; }
inline int32_t capture_log_channel(int32_t count) { return count - 2; }
inline int32_t system_log_channel(int32_t count) { return count - 1; }
