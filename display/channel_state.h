// One video channel inside the display: its frame queue, its decoder and converter, the two
// images it converts into (one shown, one being filled) and its last decoded picture at full
// size for capture. The playback thread pushes, one decoding worker at a time decodes, the UI
// thread paints and captures. A frame push takes no lock at all: it never waits for a paint,
// a decode or a worker that lost its core.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "decode/channel_decoder.h"
#include "decode/rgb_converter.h"
#include "display/frame_queue.h"

struct AVFrame;

namespace display {

// Targets of the conversion: nothing (the channel is not on screen), the decoded size (single
// view) or a tile's size, (width << 16) | height.
inline constexpr uint32_t kTargetHidden = 0;
inline constexpr uint32_t kTargetDecodedSize = 0xFFFFFFFFu;

inline constexpr uint32_t pack_size(int width, int height) {
    return (static_cast<uint32_t>(width) << 16) | static_cast<uint32_t>(height);
}

struct ChannelStats {
    uint64_t queued = 0;         // frames taken into the queue
    uint64_t dropped = 0;        // frames the full queue dropped, up to the next key frame
    uint64_t stale = 0;          // queued frames a clear made worthless, passed over
    uint64_t decoded = 0;        // frames handed to the decoder
    uint64_t preroll = 0;        // of those, frames decoded for their successors, never shown
    uint64_t pictures = 0;       // pictures that came out
    uint64_t failed = 0;         // frames that did not decode
    uint64_t before_key = 0;     // frames passed over while waiting for a key frame
    uint64_t refused = 0;        // empty or too long frames, impossible picture sizes
    uint64_t opens = 0;          // decoder opens
};

class ChannelState {
public:
    explicit ChannelState(std::atomic<bool>* changed);
    ~ChannelState();
    ChannelState(const ChannelState&) = delete;
    ChannelState& operator=(const ChannelState&) = delete;

    // Playback thread. True when the channel must be handed to a worker. A frame pushed with
    // `show` false is decoded, since the frames after it refer to it, and its picture is never
    // shown (the frames a step back needs before the one it shows).
    bool push(const uint8_t* data, size_t length, uint32_t picture_size, decode::FrameTime time,
              bool show = true);

    // Decoding worker: up to `max_frames` frames. True when frames are still waiting (the
    // channel stays the caller's), false once it found none (it is handed back).
    bool decode_some(int max_frames);

    // UI thread: drops the pictures at once and every queued frame (the worker passes them
    // over undecoded); the decoder restarts at the next key frame.
    void clear();
    // UI thread: how the channel is shown from its next picture on.
    void set_view(uint32_t target, bool skip_loop_filter);

    // Calls f(const decode::RgbImage&) with the shown image under the picture lock; false when
    // the channel shows nothing.
    template <class F>
    bool with_picture(F&& f) const {
        std::lock_guard<std::mutex> guard(picture_mutex_);
        if (!has_picture_) return false;
        f(images_[shown_]);
        return true;
    }

    // A new reference to the last decoded picture at its full size, for capture. False when
    // there is none.
    bool last_frame(AVFrame* out, decode::FrameTime* time) const;

    ChannelStats stats() const;

private:
    void publish(const decode::DecodedPicture& picture, uint64_t epoch);
    bool pop_current();
    bool release();
    void count_decoder();

    std::atomic<bool>* changed_;

    // Queue side.
    FrameQueue queue_;
    std::atomic<bool> scheduled_{false};  // in the pool's ring or held by a worker
    std::atomic<uint64_t> epoch_{0};      // clears so far

    // Worker side: touched only by the worker that holds the channel.
    decode::ChannelDecoder decoder_;
    decode::RgbConverter converter_;
    QueuedFrame work_;
    uint64_t decoder_epoch_ = 0;

    // Picture side.
    mutable std::mutex picture_mutex_;
    std::array<decode::RgbImage, 2> images_;
    int shown_ = 0;
    bool has_picture_ = false;
    AVFrame* last_ = nullptr;
    decode::FrameTime last_time_;

    std::atomic<uint32_t> target_{kTargetHidden};
    std::atomic<bool> skip_loop_filter_{false};

    std::atomic<uint64_t> queued_{0}, decoded_{0}, pictures_{0}, failed_{0}, before_key_{0},
        refused_{0}, opens_{0}, stale_{0}, oversize_{0}, preroll_{0};
};

}  // namespace display
