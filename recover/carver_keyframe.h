// What the carver asks of a key frame: that the display's decoder makes a picture of it, and
// which parameter sets it carries (they tell streams of one size and codec apart).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "recover/carver_block.h"

namespace recover {

// A fresh decoder of the display for every key frame, so that nothing an earlier GOP set up
// can make noise look like a picture. A picture of another size than the header's is refused.
class DecoderKeyFrameCheck : public KeyFrameCheck {
public:
    bool decodes(const uint8_t* frame, size_t length, int width, int height) override;
    uint64_t decoded() const { return decoded_; }

private:
    uint64_t decoded_ = 0;  // key frames handed to a decoder
};

// H.264: the SPS and PPS units before the first slice, start codes left out. MPEG-4 part 2:
// the headers before the first picture. Empty when the frame carries none.
std::vector<uint8_t> stream_parameters(const uint8_t* frame, size_t length, bool h264);

}  // namespace recover
