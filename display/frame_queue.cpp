#include "display/frame_queue.h"

#include <utility>

namespace display {

FrameQueue::FrameQueue(size_t depth, size_t reserve) : slots_(depth == 0 ? 1 : depth) {
    for (QueuedFrame& slot : slots_) slot.bytes.reserve(reserve);
}

bool FrameQueue::push(const uint8_t* data, size_t length, uint32_t picture_size,
                      decode::FrameTime time, uint64_t epoch) {
    const bool key = picture_size != 0;
    if (count_ == slots_.size() || (waiting_for_key_ && !key)) {
        waiting_for_key_ = true;
        ++dropped_;
        return false;
    }
    waiting_for_key_ = false;
    QueuedFrame& slot = slots_[(head_ + count_) % slots_.size()];
    slot.bytes.assign(data, data + length);
    slot.picture_size = picture_size;
    slot.time = time;
    slot.epoch = epoch;
    ++count_;
    return true;
}

bool FrameQueue::pop(QueuedFrame* out) {
    if (count_ == 0) return false;
    QueuedFrame& slot = slots_[head_];
    std::swap(slot.bytes, out->bytes);
    out->picture_size = slot.picture_size;
    out->time = slot.time;
    out->epoch = slot.epoch;
    head_ = (head_ + 1) % slots_.size();
    --count_;
    return true;
}

size_t FrameQueue::clear() {
    const size_t dropped = count_;
    head_ = 0;
    count_ = 0;
    waiting_for_key_ = false;
    return dropped;
}

}  // namespace display
