#include "recover/check_record.h"

#include <cstring>

#include "playback/record_format.h"
#include "playback/stream_reader.h"

namespace recover {
namespace {

// The time a header names, or 0 for the values that stand for no time.
uint32_t time_of(const RecordTime& t) {
    const uint32_t time = record_time_to_time(t);
    return time == kInvalidRecordTime ? 0 : time;
}

template <typename Header>
RecordHead head_of(const Header& h, bool end_mark, bool lengths_valid, uint32_t length) {
    RecordHead r;
    if (h.start_bits != kStartBits) return r;
    if (end_mark) {
        r.end_mark = true;
        return r;
    }
    if (!lengths_valid) {
        r.fault = CheckFault::BadLength;
        return r;
    }
    r.good = true;
    r.length = length;
    r.time = time_of(h.time);
    return r;
}

}  // namespace

int32_t record_header_size(bool audio) { return audio ? kAudioHeaderSize : kGopHeaderSize; }

RecordHead read_record_head(bool audio, const uint8_t* header) {
    if (audio) {
        AudioHeader h;
        std::memcpy(&h, header, sizeof h);
        return head_of(h, audio_is_end_mark(h), audio_lengths_valid(h), h.total_size);
    }
    GopHeader h;
    std::memcpy(&h, header, sizeof h);
    return head_of(h, gop_is_end_mark(h), gop_lengths_valid(h), h.gop_length);
}

bool record_trailer_matches(const uint8_t* trailer, uint32_t length) {
    uint32_t value;
    std::memcpy(&value, trailer, sizeof value);
    return value == length;
}

const char* check_fault_name(CheckFault fault) {
    switch (fault) {
        case CheckFault::ReadFailure: return "read failure";
        case CheckFault::BadStartBits: return "bad start bits";
        case CheckFault::BadTrailer: return "bad trailer";
        case CheckFault::BadLength: return "length out of range";
    }
    return "unknown";
}

}  // namespace recover
