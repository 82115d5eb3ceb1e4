// Pictures a person can read: colour bars with a caption (channel and recorder time) drawn in
// a blocky 5x7 font, so that a still or a frame shows which one it is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sample {

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // RGB, top row first
};

// Colour bars shifted by seed, with the caption (digits, C, H, ':', '-', '/', ' ') in a band.
RgbImage test_pattern(int width, int height, const std::string& caption, int seed);

// "CH03 2026-03-14 09:26:53": the caption used for a channel's picture at a recorder time.
std::string caption_for(int video_channel, uint32_t time);

// Baseline JPEG of the image; empty when the encoder fails.
std::vector<uint8_t> encode_jpeg(const RgbImage& image, int quality);

}  // namespace sample
