#include "display/display_core.h"

namespace display {

DisplayCore::DisplayCore(int threads)
    : channels_([this] {
          std::array<std::unique_ptr<ChannelState>, kChannels> made;
          for (auto& c : made) c = std::make_unique<ChannelState>(&changed_);
          return made;
      }()),
      pool_(threads, kChannels,
            [this](int c) { return channels_[static_cast<size_t>(c)]->decode_some(kDecodeBatch); }) {}

DisplayCore::~DisplayCore() { stop(); }

void DisplayCore::stop() { pool_.stop(); }

void DisplayCore::frame(const uint8_t* data, uint32_t seconds, uint32_t milliseconds,
                        DisplayFrameKind kind, uint32_t length, uint32_t picture_size,
                        int32_t channel) {
    if (data == nullptr || length == 0) return;
    if (kind == DisplayFrameKind::Audio) {
        if (channel >= 0 && channel < kAudioChannels && channel == heard_audio()) {
            audio_.push(data, length);
        }
        return;
    }
    const bool preroll = kind == DisplayFrameKind::Preroll;
    if ((kind != DisplayFrameKind::Video && !preroll) || channel < 0 || channel >= kChannels) return;
    const decode::FrameTime time{seconds, milliseconds};
    if (channels_[static_cast<size_t>(channel)]->push(data, length, picture_size, time, !preroll)) {
        pool_.schedule(channel);
    }
}

void DisplayCore::clear() {
    for (auto& c : channels_) c->clear();
    audio_.clear();
    changed_.store(true, std::memory_order_release);
}

void DisplayCore::set_heard_audio(int32_t audio_channel) {
    const int32_t heard = audio_channel >= 0 && audio_channel < kAudioChannels ? audio_channel : -1;
    if (heard_audio_.exchange(heard) != heard) audio_.clear();
}

}  // namespace display
