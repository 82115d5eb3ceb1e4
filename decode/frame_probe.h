// What a frame says about itself before it reaches a decoder: its codec and, on a key frame,
// the picture size the recorder stored beside it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace decode {

enum class VideoCodec { None, H264, Mpeg4 };

// H.264 when the frame starts with a 4-byte start code 00 00 00 01, MPEG-4 part 2 otherwise.
VideoCodec codec_of(const uint8_t* data, size_t length);

struct PictureSize {
    int width = 0;
    int height = 0;
    bool operator==(const PictureSize&) const = default;
};

// Splits (width << 16) | height. 0 when both sides are 1..kMaxPictureSide, else
// DECODE_E_PICTURE_SIZE with *size untouched.
int parse_picture_size(uint32_t word, PictureSize* size);

}  // namespace decode
