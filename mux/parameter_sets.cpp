#include "mux/parameter_sets.h"

namespace mux {

namespace {

constexpr uint8_t kNalTypeMask = 0x1F;
constexpr uint8_t kNalSps = 7;
constexpr uint8_t kNalPps = 8;
constexpr uint8_t kVopStartCode = 0xB6;

// Offset of the next 00 00 01 at or after `from`, or `length`.
size_t next_start_code(const uint8_t* data, size_t length, size_t from) {
    for (size_t i = from; i + 3 <= length; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
    }
    return length;
}

}  // namespace

std::vector<NalUnit> annexb_nal_units(const uint8_t* data, size_t length) {
    std::vector<NalUnit> units;
    if (data == nullptr) return units;
    size_t at = next_start_code(data, length, 0);
    while (at < length) {
        const size_t begin = at + 3;
        const size_t next = next_start_code(data, length, begin);
        size_t end = next;
        // Zero bytes before the next start code (or the end) pad the stream, not the unit.
        while (end > begin && data[end - 1] == 0) --end;
        if (end > begin) units.push_back(NalUnit{data + begin, end - begin});
        at = next;
    }
    return units;
}

std::vector<uint8_t> h264_parameter_sets(const uint8_t* frame, size_t length) {
    std::vector<uint8_t> out;
    for (const NalUnit& u : annexb_nal_units(frame, length)) {
        const uint8_t type = u.data[0] & kNalTypeMask;
        if (type != kNalSps && type != kNalPps) continue;
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), u.data, u.data + u.length);
    }
    return out;
}

std::vector<uint8_t> mpeg4_sequence_header(const uint8_t* frame, size_t length) {
    if (frame == nullptr) return {};
    for (size_t at = next_start_code(frame, length, 0); at + 3 < length;
         at = next_start_code(frame, length, at + 3)) {
        if (frame[at + 3] == kVopStartCode) return std::vector<uint8_t>(frame, frame + at);
    }
    return {};
}

}  // namespace mux
