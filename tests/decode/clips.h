// Frames of the sample builder's recordings as the playback engine hands them to the display,
// encoded once per test program, and FFmpeg's own decoding of the same frames to compare with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decode/channel_decoder.h"
#include "decode/rgb_converter.h"
#include "tests/testkit/picture_compare.h"
#include "tests/testkit/temp_image.h"
#include "tools/sample/video_encoder.h"

namespace decodetest {

struct ClipFrame {
    std::vector<uint8_t> bytes;  // as stored: padded with zeros to whole 4-byte words
    uint32_t picture_size = 0;   // on key frames only
    decode::FrameTime time;
};

struct Clip {
    sample::Codec codec = sample::Codec::H264;
    int width = 0;
    int height = 0;
    std::vector<ClipFrame> frames;
};

// A recording of `seconds` seconds at 15 frames per second, GOPs of 8 frames, starting at `from`.
// Made once per set of arguments; fails the test and returns an empty clip when encoding fails.
const Clip& clip(sample::Codec codec, int width, int height, int seconds,
                 uint32_t from = 1773480413);

// The frames of a clip from `first` up to `end`, keys and all.
std::vector<ClipFrame> frames(const Clip& c, size_t first, size_t end);

// RGB24 pictures of `width` x `height` bytes each.
struct RgbPictures {
    int width = 0;
    int height = 0;
    std::vector<std::vector<uint8_t>> pictures;
};

// What the `ffmpeg` tool decodes from the clip's frames written one after the other to a raw
// stream file, optionally scaled to width x height. Fails the test when ffmpeg fails.
RgbPictures ffmpeg_pictures(const testkit::TempDir& dir, const Clip& c, int width = 0,
                            int height = 0);

using testkit::psnr;

// An RgbImage's rows without their padding.
std::vector<uint8_t> packed_rows(const decode::RgbImage& image);

}  // namespace decodetest
