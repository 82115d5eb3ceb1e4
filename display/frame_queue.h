// A channel's bounded queue of compressed frames, between one producer (the playback thread)
// and one consumer at a time (the decoding worker that holds the channel). Neither side ever
// waits for the other: the producer's frame call must return at once even when a worker holding
// the channel has lost its core. Slots keep their buffers, so that copying a frame in allocates
// nothing once the buffers have grown to the stream's frame sizes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode/channel_decoder.h"

namespace display {

// Frames a channel may hold before it drops: about a second at 25 frames a second.
inline constexpr size_t kFrameQueueDepth = 24;
// What each slot reserves up front; bigger frames grow the slot once.
inline constexpr size_t kFrameSlotReserve = 64 * 1024;

struct QueuedFrame {
    std::vector<uint8_t> bytes;
    uint32_t picture_size = 0;  // non-zero on a key frame
    decode::FrameTime time;
    uint64_t epoch = 0;  // the channel's clear count when it came
    bool show = true;    // false: decoded only for the frames after it, its picture not shown
};

class FrameQueue {
public:
    explicit FrameQueue(size_t depth = kFrameQueueDepth, size_t reserve = kFrameSlotReserve);

    // Producer. Copies the frame in. False when it was dropped: the queue was full, or an
    // earlier frame was dropped and no key frame has come since (the frames between could not
    // decode). `epoch` changing (a clear) forgets an earlier drop.
    bool push(const uint8_t* data, size_t length, uint32_t picture_size, decode::FrameTime time,
              uint64_t epoch, bool show = true);
    // Consumer. Moves the oldest frame into *out, trading buffers with it. False when empty.
    bool pop(QueuedFrame* out);

    // Either side; exact only when the other side stands still.
    size_t size() const;
    bool empty() const { return size() == 0; }
    uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    std::vector<QueuedFrame> slots_;
    std::atomic<size_t> head_{0};  // next to pop; written by the consumer
    std::atomic<size_t> tail_{0};  // next to fill; written by the producer
    // Producer's own.
    bool waiting_for_key_ = false;
    uint64_t epoch_ = 0;
    std::atomic<uint64_t> dropped_{0};
};

}  // namespace display
