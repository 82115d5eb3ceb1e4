// A container file read back with libavformat, packet by packet, for the export tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace muxtest {

struct Track {
    bool present = false;
    std::string codec;  // libavcodec's name
    int width = 0, height = 0;
    int sample_rate = 0, channels = 0, profile = -1;
    bool shown_by_default = false;  // the default track of its kind
    std::vector<std::vector<uint8_t>> packets;
    std::vector<int64_t> pts_ms;  // of each packet, in milliseconds
    std::vector<int64_t> end_ms;  // pts + duration
    std::vector<bool> key;
};

struct Media {
    bool opened = false;
    Track video, audio, text;
    std::string creation_time;
    std::string comment;
};

// The first stream of each kind; opened false when libavformat cannot read the file.
Media read_media(const std::string& path);

// The NAL units of a packet whose units carry four-byte big-endian lengths.
std::vector<std::vector<uint8_t>> length_prefixed_units(const std::vector<uint8_t>& packet);

// The NAL units of a stored H.264 frame (start codes), without the zero bytes that pad it.
std::vector<std::vector<uint8_t>> start_code_units(const std::vector<uint8_t>& frame);

}  // namespace muxtest
