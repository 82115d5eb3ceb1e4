// What the display does without a window: the sixteen channels, the decoding workers and the
// audio waiting to be heard. The frame call lands here; the widget only paints and asks.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "display/audio_jitter.h"
#include "display/channel_state.h"
#include "display/decode_pool.h"
#include "playback/display_control.h"

namespace display {

inline constexpr int kChannels = 16;
inline constexpr int kAudioChannels = 4;
// Frames a worker decodes of one channel before it lets the next channel have a turn.
inline constexpr int kDecodeBatch = 4;

class DisplayCore {
public:
    explicit DisplayCore(int threads = decode_thread_count());
    ~DisplayCore();
    DisplayCore(const DisplayCore&) = delete;
    DisplayCore& operator=(const DisplayCore&) = delete;

    // The frame call: copies and returns. Out-of-range channels and empty data are ignored.
    void frame(const uint8_t* data, uint32_t seconds, uint32_t milliseconds, DisplayFrameKind kind,
               uint32_t length, uint32_t picture_size, int32_t channel);
    void clear();

    // The audio channel heard, or -1 for none.
    void set_heard_audio(int32_t audio_channel);
    int32_t heard_audio() const { return heard_audio_.load(std::memory_order_relaxed); }

    ChannelState& channel(int index) { return *channels_[static_cast<size_t>(index)]; }
    const ChannelState& channel(int index) const { return *channels_[static_cast<size_t>(index)]; }
    AudioJitter& audio() { return audio_; }
    const AudioJitter& audio() const { return audio_; }

    // True once after any channel showed a new picture.
    bool take_changed() { return changed_.exchange(false, std::memory_order_acq_rel); }
    // Stops the workers; frames that still come are queued and never decoded.
    void stop();

private:
    std::atomic<bool> changed_{false};
    std::array<std::unique_ptr<ChannelState>, kChannels> channels_;
    AudioJitter audio_;
    std::atomic<int32_t> heard_audio_{-1};
    DecodePool pool_;  // last: its workers use the channels
};

}  // namespace display
