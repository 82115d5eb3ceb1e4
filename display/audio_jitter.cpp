#include "display/audio_jitter.h"

#include <algorithm>
#include <cstring>

namespace display {

AudioJitter::AudioJitter(size_t capacity) : ring_(capacity == 0 ? 1 : capacity) {}

void AudioJitter::push(const uint8_t* data, size_t length) {
    std::lock_guard<std::mutex> guard(mutex_);
    const size_t cap = ring_.size();
    if (length > cap) {  // only the newest second of a huge block can ever play
        dropped_ += length - cap;
        data += length - cap;
        length = cap;
    }
    const size_t overflow = count_ + length > cap ? count_ + length - cap : 0;
    head_ = (head_ + overflow) % cap;
    count_ -= overflow;
    dropped_ += overflow;
    size_t tail = (head_ + count_) % cap;
    size_t left = length;
    while (left > 0) {
        const size_t run = std::min(left, cap - tail);
        std::memcpy(&ring_[tail], data, run);
        data += run;
        left -= run;
        tail = (tail + run) % cap;
    }
    count_ += length;
}

size_t AudioJitter::pop(uint8_t* out, size_t max) {
    std::lock_guard<std::mutex> guard(mutex_);
    const size_t cap = ring_.size();
    const size_t n = std::min(max, count_);
    size_t done = 0;
    while (done < n) {
        const size_t run = std::min(n - done, cap - head_);
        std::memcpy(out + done, &ring_[head_], run);
        done += run;
        head_ = (head_ + run) % cap;
    }
    count_ -= n;
    return n;
}

void AudioJitter::clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    head_ = 0;
    count_ = 0;
}

size_t AudioJitter::size() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return count_;
}

uint64_t AudioJitter::dropped() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return dropped_;
}

}  // namespace display
