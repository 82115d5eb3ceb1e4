// A recording played by the engine and read by the stream reader. The input supplies the bytes
// of video channel 1 and of its audio channel inside a recorder volume whose index channels
// are sound, so that the engine finds its way into the bytes at every index point.
//
// Input: 16 bytes of controls, then the video bytes (as many as the controls say), then the
// audio bytes.
//   [0]      bit 0 key frames only
//   [1]      where play starts: seconds from a little before the first index point
//   [2..5]   four play modes, each run for a bounded number of passes
//   [6..7]   length of the video bytes (little-endian)
//   [8..15]  stream reader commands: slot and command in the low bits, size in the high bits
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "disk/disk_i.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/recording_template.h"
#include "fuzz/harness/sparse_image.h"
#include "playback/engine.h"
#include "playback/stream_reader.h"
#include "storage/api.h"
#include "storage/api_state.h"

namespace fuzz {
namespace {

constexpr size_t kControlBytes = 16;
constexpr int kPassesPerMode = 300;

// Callbacks touch every byte they are given, so that a frame pointing outside its buffer shows.
uint32_t g_sum = 0;
int g_frames = 0, g_statuses = 0;
void on_frame(int32_t, uint32_t time, int32_t msec, const uint8_t* data, int32_t length, int32_t,
              uint32_t) {
    if (length < 0 || msec < 0 || msec > 999) std::abort();
    for (int32_t i = 0; i < length; ++i) g_sum += data[i];
    g_sum += time;
    ++g_frames;
}
void on_status(int32_t code, int32_t) {
    g_sum += static_cast<uint32_t>(code);
    ++g_statuses;
}

// The engine's buffers, allocated once per process and lent to the API state for each input.
struct Buffers {
    std::unique_ptr<uint8_t[]> video, audio;
    std::array<std::unique_ptr<uint8_t[]>, kVideoChannels> frames;
};

void swap_buffers(Buffers& b) {
    ApiState& st = api_state();
    st.video_buffer.swap(b.video);
    st.audio_buffer.swap(b.audio);
    for (int i = 0; i < kVideoChannels; ++i) st.frame_buffers[i].swap(b.frames[static_cast<size_t>(i)]);
}

Buffers& buffers() {
    static Buffers b = [] {
        Buffers n;
        n.video.reset(new uint8_t[kVideoBufferSize]);
        n.audio.reset(new uint8_t[kAudioBufferSize]);
        for (auto& f : n.frames) f.reset(new uint8_t[kFrameBufferSize]);
        return n;
    }();
    return b;
}

constexpr std::array<int32_t, 11> kVideoCommands = {
    PLAYBACK_VIDEO_READ, PLAYBACK_VIDEO_CRRUENT_GOP_HEADER, PLAYBACK_VIDEO_NEXT_FRAME,
    PLAYBACK_VIDEO_NEXT_FRAME_OF_TYPE_1, PLAYBACK_VIDEO_NEXT_FRAME_OF_TYPE_ANY,
    PLAYBACK_VIDEO_NEXT_FRAME_OF_TYPE_2, PLAYBACK_VIDEO_NEXT_GOP_HEADER,
    PLAYBACK_VIDEO_PREVIOUS_GOP_HEADER, PLAYBACK_VIDEO_SKIP_FRAME,
    PLAYBACK_VIDEO_BACK_TWO_FRAMES, PLAYBACK_VIDEO_GOP_DATA};
constexpr std::array<int32_t, 6> kAudioCommands = {
    PLAYBACK_AUDIO_READ, PLAYBACK_AUDIO_READ_2, PLAYBACK_AUDIO_HEADER,
    PLAYBACK_AUDIO_DATA, PLAYBACK_AUDIO_PREVIOUS_HEADER, PLAYBACK_AUDIO_DATA_2};
constexpr std::array<int32_t, 4> kSizes = {0, kGopHeaderSize, 4096, 0x7FFFFFFF};

void reader_commands(const uint8_t* script, int32_t audio_slot) {
    ApiState& st = api_state();
    std::lock_guard<std::mutex> guard(st.lock);
    for (size_t i = 0; i < 8; ++i) {
        const uint8_t c = script[i];
        int32_t size = kSizes[c >> 6];
        if ((c & 0x20) == 0) {
            // The buffer bounds what may be asked for.
            size = std::min(size, kVideoBufferSize);
            const int32_t command = kVideoCommands[(c & 0x1F) % kVideoCommands.size()];
            if ((c & 0x1F) == 0x1F) {
                search_video_start_gop(0, c >> 7);
            } else {
                getvideodata(0, command, st.video_buffer.get(), &size);
            }
        } else if (audio_slot >= 0) {
            size = std::min(size, kAudioBufferSize);
            if ((c & 0x1F) == 0x1F) {
                search_audio_start_gop(audio_slot, c >> 7);
            } else {
                getaudiodata(audio_slot, kAudioCommands[(c & 0x1F) % kAudioCommands.size()],
                             st.audio_buffer.get(), &size);
            }
        }
    }
}

void play(const uint8_t* controls) {
    ApiState& st = api_state();
    st.no_pacing = 1;
    st.key_frame_only = controls[0] & 1;
    st.requested_time = kRecordingStart - 8 + controls[1] % 96;
    st.reposition = 1;
    for (int m = 0; m < 4; ++m) {
        const int32_t mode = controls[2 + m] % (PM_REW_32 + 1);
        st.play_mode = mode;
        for (int pass = 0; pass < kPassesPerMode; ++pass) {
            const int32_t now = st.play_mode;
            {
                std::lock_guard<std::mutex> guard(st.lock);
                engine_pass(now, st.reposition != 0);
            }
            if (now == PM_STOP || now == PM_PAUSE) break;
            if (st.play_mode == PM_STOP || st.play_mode == PM_PAUSE) break;
        }
    }
}

}  // namespace

int recording(const uint8_t* data, size_t size) {
    const RecordingTemplate& tpl = recording_template();
    if (!tpl.ok || size < kControlBytes) return 0;
    const uint8_t* controls = data;
    const size_t video_length = std::min<size_t>(controls[6] | controls[7] << 8, size - kControlBytes);
    auto image = std::make_shared<SparseImage>(tpl.image);
    place_channel_bytes(tpl.video, data + kControlBytes, video_length, image.get());
    place_channel_bytes(tpl.audio, data + kControlBytes + video_length,
                        size - kControlBytes - video_length, image.get());

    AttachedImage attached(image);
    if (!attached.ok()) return 0;
    api_state_reset();
    engine_reset_for_tests();
    stream_reader_reset();
    swap_buffers(buffers());
    ApiState& st = api_state();
    st.on_frame = on_frame;
    st.on_status = on_status;

    g_frames = g_statuses = 0;
    DiskEntry table[kDiskTableSize];
    if (api_scan_disks(table) == 0 && api_disk_count() > 0 && api_mount_disk(0) == 0 &&
        api_mount_session(0) == 0 && api_set_channel_mask(1) == 1) {
        play(controls);
        st.play_mode = PM_STOP;
        const int32_t audio_slot = api_display_channels();
        reader_commands(controls + 8, audio_slot >= 0 && audio_slot < kPlaybackSlots ? audio_slot : -1);
    }

    if (std::getenv("QUILLON_FUZZ_VERBOSE") != nullptr) {
        std::fprintf(stderr, "recording: %d frames, %d status calls\n", g_frames, g_statuses);
    }
    swap_buffers(buffers());  // api_exit would free them
    api_exit();
    api_state_reset();
    engine_reset_for_tests();
    stream_reader_reset();
    return 0;
}

}  // namespace fuzz
