// What the carver asks of a key frame: that the display's decoder makes a picture of it, and
// which parameter sets it carries (they tell streams of one size and codec apart).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "recover/carver_block.h"

namespace decode {
class ChannelDecoder;
}

namespace recover {

// The display's decoder for key frames, without the loop filter (the picture is not shown). A
// key frame without parameter sets of its own gets a fresh decoder, so that nothing an earlier
// GOP set up can make noise look like a picture; one that carries them reuses, after a reset,
// the decoder of its stream, which saves opening one per GOP. A picture of another size than
// the header's is refused.
class DecoderKeyFrameCheck : public KeyFrameCheck {
public:
    DecoderKeyFrameCheck();
    ~DecoderKeyFrameCheck() override;
    DecoderKeyFrameCheck(const DecoderKeyFrameCheck&) = delete;
    DecoderKeyFrameCheck& operator=(const DecoderKeyFrameCheck&) = delete;

    bool decodes(const uint8_t* frame, size_t length, int width, int height) override;
    uint64_t decoded() const { return decoded_; }
    uint64_t opened() const { return opened_; }

private:
    struct Cached {
        StreamKey key;
        std::unique_ptr<decode::ChannelDecoder> decoder;
    };
    decode::ChannelDecoder& decoder_for(StreamKey key);

    std::vector<Cached> cache_;  // the most recently used last
    uint64_t decoded_ = 0;       // key frames handed to a decoder
    uint64_t opened_ = 0;        // decoders made
};

// H.264: the SPS and PPS units before the first slice, start codes left out. MPEG-4 part 2:
// the headers before the first picture. Empty when the frame carries none.
std::vector<uint8_t> stream_parameters(const uint8_t* frame, size_t length, bool h264);

}  // namespace recover
