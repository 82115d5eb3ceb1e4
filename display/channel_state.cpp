#include "display/channel_state.h"

extern "C" {
#include <libavutil/frame.h>
}

#include "decode/decode_errors.h"

namespace display {

ChannelState::ChannelState(std::atomic<bool>* changed)
    : changed_(changed), last_(av_frame_alloc()) {
    work_.bytes.reserve(kFrameSlotReserve);
}

ChannelState::~ChannelState() { av_frame_free(&last_); }

bool ChannelState::push(const uint8_t* data, size_t length, uint32_t picture_size,
                        decode::FrameTime time, bool show) {
    // Longer than any frame a decoder takes: refused before it is copied, so that a length
    // from a damaged record never makes the queue grow a buffer for it.
    if (length == 0 || length > decode::kMaxFrameBytes) {
        oversize_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    if (!queue_.push(data, length, picture_size, time, epoch_.load(std::memory_order_acquire), show)) {
        return false;
    }
    queued_.fetch_add(1, std::memory_order_relaxed);
    // Whoever turns the flag on hands the channel to the pool. The queue's tail was stored
    // before this exchange; a worker letting go stores the flag and then looks at the tail, so
    // one of the two always sees the other (both sequentially consistent).
    return !scheduled_.exchange(true, std::memory_order_seq_cst);
}

// The next frame of the current clear epoch into work_; frames from before a clear are passed
// over. False when none is queued.
bool ChannelState::pop_current() {
    while (queue_.pop(&work_)) {
        if (work_.epoch == epoch_.load(std::memory_order_acquire)) return true;
        stale_.fetch_add(1, std::memory_order_relaxed);
    }
    return false;
}

bool ChannelState::decode_some(int max_frames) {
    for (int i = 0; i < max_frames; ++i) {
        // Taken back, the queue may hold only frames a clear made stale: let go again, and
        // again look whether a frame came meanwhile, whose producer saw the channel still held.
        while (!pop_current()) {
            if (!release()) return false;
        }
        if (work_.epoch != decoder_epoch_) {
            decoder_.reset();  // a clear: no decode from references of before
            decoder_epoch_ = work_.epoch;
        }
        decoder_.set_skip_loop_filter(skip_loop_filter_.load(std::memory_order_relaxed));
        const int rc = decoder_.decode(work_.bytes.data(), work_.bytes.size(), work_.picture_size,
                                       work_.time);
        // Shown before it is counted: whoever sees the count sees the picture.
        if (rc == 1 && work_.show) publish(*decoder_.picture(), work_.epoch);
        if (!work_.show) preroll_.fetch_add(1, std::memory_order_relaxed);
        count_decoder();
    }
    return !queue_.empty() || release();
}

// Hands the channel back. A frame pushed after the queue was found empty, whose producer still
// saw the flag on, makes the worker take the channel back (true) unless that producer has
// handed it to the pool by now.
bool ChannelState::release() {
    scheduled_.store(false, std::memory_order_seq_cst);
    return !queue_.empty() && !scheduled_.exchange(true, std::memory_order_seq_cst);
}

void ChannelState::count_decoder() {
    const decode::DecoderCounters& c = decoder_.counters();
    decoded_.store(c.frames, std::memory_order_relaxed);
    pictures_.store(c.pictures, std::memory_order_release);  // after the picture was shown
    failed_.store(c.failed, std::memory_order_relaxed);
    before_key_.store(c.before_key_frame, std::memory_order_relaxed);
    refused_.store(c.refused, std::memory_order_relaxed);
    opens_.store(c.opens, std::memory_order_relaxed);
}

namespace {

// Exact for a picture shown at its own size; small tiles take the cheaper scalers.
decode::Scaling tile_scaling(const decode::DecodedPicture& picture, int width, int height) {
    if (width == 0 || height == 0) return decode::Scaling::Exact;
    if (2 * width <= picture.width && 2 * height <= picture.height) {
        return decode::Scaling::Nearest;
    }
    return decode::Scaling::Fast;
}

}  // namespace

void ChannelState::publish(const decode::DecodedPicture& picture, uint64_t epoch) {
    {
        std::lock_guard<std::mutex> guard(picture_mutex_);
        if (epoch != epoch_.load()) return;  // cleared while it decoded
        av_frame_unref(last_);
        if (av_frame_ref(last_, picture.frame) < 0) av_frame_unref(last_);
        last_time_ = picture.time;
    }
    const uint32_t target = target_.load(std::memory_order_relaxed);
    if (target == kTargetHidden) return;
    // The back image is the worker's own: the painter only reads the shown one.
    decode::RgbImage& back = images_[static_cast<size_t>(1 - shown_)];
    const bool native = target == kTargetDecodedSize;
    const int width = native ? 0 : static_cast<int>(target >> 16);
    const int height = native ? 0 : static_cast<int>(target & 0xFFFF);
    if (converter_.convert(picture, &back, width, height, decode::RgbFormat::Rgb32,
                           tile_scaling(picture, width, height)) != 0) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(picture_mutex_);
        if (epoch != epoch_.load()) return;
        shown_ = 1 - shown_;
        has_picture_ = true;
    }
    changed_->store(true, std::memory_order_release);
}

void ChannelState::clear() {
    epoch_.fetch_add(1, std::memory_order_acq_rel);
    std::lock_guard<std::mutex> guard(picture_mutex_);
    has_picture_ = false;
    av_frame_unref(last_);
    last_time_ = {};
}

void ChannelState::set_view(uint32_t target, bool skip_loop_filter) {
    target_.store(target, std::memory_order_relaxed);
    skip_loop_filter_.store(skip_loop_filter, std::memory_order_relaxed);
}

bool ChannelState::last_frame(AVFrame* out, decode::FrameTime* time) const {
    std::lock_guard<std::mutex> guard(picture_mutex_);
    if (last_->buf[0] == nullptr && last_->data[0] == nullptr) return false;
    if (av_frame_ref(out, last_) < 0) return false;
    if (time) *time = last_time_;
    return true;
}

ChannelStats ChannelState::stats() const {
    ChannelStats s;
    s.queued = queued_.load(std::memory_order_relaxed);
    s.dropped = queue_.dropped();
    s.stale = stale_.load(std::memory_order_relaxed);
    s.decoded = decoded_.load(std::memory_order_relaxed);
    s.preroll = preroll_.load(std::memory_order_relaxed);
    s.pictures = pictures_.load(std::memory_order_acquire);
    s.failed = failed_.load(std::memory_order_relaxed);
    s.before_key = before_key_.load(std::memory_order_relaxed);
    s.refused = refused_.load(std::memory_order_relaxed) + oversize_.load(std::memory_order_relaxed);
    s.opens = opens_.load(std::memory_order_relaxed);
    return s;
}

}  // namespace display
