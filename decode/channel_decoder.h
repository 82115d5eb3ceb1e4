// One channel's video decoder. Frames go in in recording order, as the playback engine delivers
// them; each decoded picture comes out with the recorder time of its frame.
//
// The codec is chosen on every key frame (a frame with a picture size): H.264 when the frame
// starts 00 00 00 01, MPEG-4 part 2 otherwise; the decoder is reopened when the codec or the
// picture size changes. Frames before the first key frame are dropped. A frame that does not
// decode is counted and passed over; the next frames are decoded as usual.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "decode/frame_probe.h"

struct AVFrame;

namespace decode {

// Recorder time of a frame: seconds and milliseconds 0..999.
struct FrameTime {
    uint32_t seconds = 0;
    uint32_t ms = 0;
    bool operator==(const FrameTime&) const = default;
};

struct DecoderOptions {
    // Skips the H.264 loop filter: cheaper, and fine for small tiles only; never for pictures
    // shown at their own size or saved.
    bool skip_loop_filter = false;
};

struct DecoderCounters {
    uint64_t frames = 0;           // handed in
    uint64_t pictures = 0;         // pictures that came out
    uint64_t failed = 0;           // frames that did not decode
    uint64_t before_key_frame = 0; // dropped while waiting for a key frame
    uint64_t refused = 0;          // empty or too long frames, impossible picture sizes
    uint64_t opens = 0;            // decoder opens, the first one included
};

// The last picture that came out. `frame` stays owned by the decoder and valid until the next
// call of decode() or reset().
struct DecodedPicture {
    int width = 0;
    int height = 0;
    FrameTime time;
    const AVFrame* frame = nullptr;
};

class ChannelDecoder {
public:
    explicit ChannelDecoder(DecoderOptions options = {});
    ~ChannelDecoder();
    ChannelDecoder(const ChannelDecoder&) = delete;
    ChannelDecoder& operator=(const ChannelDecoder&) = delete;

    // One frame; `picture_size` is (width << 16) | height on a key frame and 0 on other frames.
    // 1 when a picture came out (see picture()), 0 when the frame was taken without one yet,
    // or a negative DecodeError when it was dropped, refused or did not decode.
    int decode(const uint8_t* data, size_t length, uint32_t picture_size, FrameTime time);

    // The last picture that came out, or nullptr when none has since the last reset().
    const DecodedPicture* picture() const;

    // Forgets the pictures and waits for the next key frame (a reposition).
    void reset();

    // Takes effect from the next frame.
    void set_skip_loop_filter(bool skip);

    const DecoderCounters& counters() const;
    VideoCodec codec() const;        // of the open decoder; None before the first key frame
    PictureSize picture_size() const;  // as the last accepted key frame gave it

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace decode
