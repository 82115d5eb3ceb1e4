#include "display/frame_queue.h"

#include <utility>

namespace display {

FrameQueue::FrameQueue(size_t depth, size_t reserve) : slots_(depth == 0 ? 1 : depth) {
    for (QueuedFrame& slot : slots_) slot.bytes.reserve(reserve);
}

bool FrameQueue::push(const uint8_t* data, size_t length, uint32_t picture_size,
                      decode::FrameTime time, uint64_t epoch, bool show) {
    if (epoch != epoch_) {
        epoch_ = epoch;
        waiting_for_key_ = false;
    }
    const bool key = picture_size != 0;
    const size_t tail = tail_.load(std::memory_order_relaxed);
    const size_t head = head_.load(std::memory_order_acquire);
    if (tail - head == slots_.size() || (waiting_for_key_ && !key)) {
        waiting_for_key_ = true;
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    waiting_for_key_ = false;
    QueuedFrame& slot = slots_[tail % slots_.size()];
    slot.bytes.assign(data, data + length);
    slot.picture_size = picture_size;
    slot.time = time;
    slot.epoch = epoch;
    slot.show = show;
    tail_.store(tail + 1, std::memory_order_seq_cst);
    return true;
}

bool FrameQueue::pop(QueuedFrame* out) {
    const size_t head = head_.load(std::memory_order_relaxed);
    if (head == tail_.load(std::memory_order_seq_cst)) return false;
    QueuedFrame& slot = slots_[head % slots_.size()];
    std::swap(slot.bytes, out->bytes);
    out->picture_size = slot.picture_size;
    out->time = slot.time;
    out->epoch = slot.epoch;
    out->show = slot.show;
    head_.store(head + 1, std::memory_order_release);
    return true;
}

size_t FrameQueue::size() const {
    // Sequentially consistent: a worker letting go of its channel reads the tail after storing
    // the channel's flag (see ChannelState::release).
    const size_t head = head_.load(std::memory_order_seq_cst);
    return tail_.load(std::memory_order_seq_cst) - head;
}

}  // namespace display
