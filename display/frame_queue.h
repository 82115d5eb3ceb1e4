// A channel's bounded queue of compressed frames. Slots keep their buffers, so that copying a
// frame in allocates nothing once the buffers have grown to the stream's frame sizes. Not
// locked: the channel that owns it guards it.
#pragma once

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
};

class FrameQueue {
public:
    explicit FrameQueue(size_t depth = kFrameQueueDepth, size_t reserve = kFrameSlotReserve);

    // Copies the frame in. False when it was dropped: the queue was full, or an earlier frame
    // was dropped and no key frame has come since (the frames between could not decode).
    bool push(const uint8_t* data, size_t length, uint32_t picture_size, decode::FrameTime time,
              uint64_t epoch);
    // Moves the oldest frame into *out, trading buffers with it. False when empty.
    bool pop(QueuedFrame* out);
    // Drops every queued frame; returns how many.
    size_t clear();

    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    uint64_t dropped() const { return dropped_; }

private:
    std::vector<QueuedFrame> slots_;
    size_t head_ = 0;
    size_t count_ = 0;
    bool waiting_for_key_ = false;
    uint64_t dropped_ = 0;
};

}  // namespace display
