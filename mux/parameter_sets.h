// What a container's codec header holds, taken from a stored key frame: the H.264 sequence and
// picture parameter sets, or the MPEG-4 part 2 headers before the first picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mux {

// A NAL unit of an H.264 byte stream, without its start code and without the zero bytes that
// pad the stream after it.
struct NalUnit {
    const uint8_t* data = nullptr;
    size_t length = 0;
};

std::vector<NalUnit> annexb_nal_units(const uint8_t* data, size_t length);

// The key frame's SPS and PPS units, each after a four-byte start code; empty when it has none.
std::vector<uint8_t> h264_parameter_sets(const uint8_t* frame, size_t length);

// The bytes before the frame's first picture (VOP) start code: visual object sequence, object
// and layer headers; empty when the frame begins with its picture.
std::vector<uint8_t> mpeg4_sequence_header(const uint8_t* frame, size_t length);

}  // namespace mux
