// A GOP record read back from the image: its header checked field by field and its frames cut
// out by the frame table, every length checked against the bytes there are.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace verify {

struct GopFrames {
    uint32_t time = 0;          // recorder time stamp of the header
    uint32_t milliseconds = 0;
    uint32_t gop_length = 0;
    std::vector<std::vector<uint8_t>> frames;  // in stored order
};

// 0 with the frames, or -1 with what is wrong in *error.
int parse_gop_record(std::span<const uint8_t> record, GopFrames* out, std::string* error);

}  // namespace verify
