#include "verify/gop_record.h"

#include <cstring>

#include "playback/record_format.h"
#include "playback/stream_reader.h"

namespace verify {

int parse_gop_record(std::span<const uint8_t> record, GopFrames* out, std::string* error) {
    if (record.size() < static_cast<size_t>(kGopHeaderSize)) {
        *error = "the record is shorter than a GOP header";
        return -1;
    }
    GopHeader h;
    std::memcpy(&h, record.data(), sizeof h);
    if (h.start_bits != kStartBits) {
        *error = "no start bits";
        return -1;
    }
    if (h.gop_length != record.size() || h.gop_length > static_cast<uint32_t>(kMaxGopLength)) {
        *error = "the GOP length " + std::to_string(h.gop_length) + " does not match the record";
        return -1;
    }
    if (h.frame_count < 1 || h.frame_count > static_cast<uint32_t>(kMaxGopFrames)) {
        *error = "impossible frame count " + std::to_string(h.frame_count);
        return -1;
    }
    out->time = record_time_to_time(h.time);
    out->milliseconds = h.milliseconds;
    out->gop_length = h.gop_length;
    out->frames.clear();
    size_t at = kGopHeaderSize;
    for (uint32_t i = 0; i < h.frame_count; ++i) {
        const auto length = static_cast<size_t>(frame_bytes(h.frames[i]));
        if (length > record.size() - at) {
            *error = "frame " + std::to_string(i) + " runs past the GOP";
            return -1;
        }
        out->frames.emplace_back(record.begin() + static_cast<std::ptrdiff_t>(at),
                                 record.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    }
    return 0;
}

}  // namespace verify
