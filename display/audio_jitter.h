// The audio waiting to be played: mu-law bytes of the heard channel, bounded, the oldest
// dropped when the playback thread delivers faster than the sound device drains.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace display {

// One second of 8 kHz mu-law.
inline constexpr size_t kAudioJitterBytes = 8000;

class AudioJitter {
public:
    explicit AudioJitter(size_t capacity = kAudioJitterBytes);

    // Playback thread: copies the block in, dropping the oldest bytes when it does not fit.
    void push(const uint8_t* data, size_t length);
    // UI thread: moves up to `max` of the oldest bytes to `out`; returns how many.
    size_t pop(uint8_t* out, size_t max);
    void clear();

    size_t size() const;
    uint64_t dropped() const;

private:
    mutable std::mutex mutex_;
    std::vector<uint8_t> ring_;
    size_t head_ = 0;
    size_t count_ = 0;
    uint64_t dropped_ = 0;
};

}  // namespace display
