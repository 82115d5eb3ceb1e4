#include "tools/sample/stream_records.h"

#include <cstring>

#include "disk/recorder_time.h"
#include "playback/record_format.h"

namespace sample {
namespace {

// A start-bits word with one bit flipped, as a torn write leaves it.
constexpr uint32_t kBrokenStartBits = kStartBits ^ 1;
constexpr uint32_t kDamagedTrailer = 0xFFFFFFFF;

size_t whole_words(size_t bytes) {
    return (bytes + 3) / 4 * 4;
}

// The record time of a recorder time stamp; a zeroed one for the end mark.
RecordTime record_time(uint32_t time, bool zeroed) {
    if (zeroed) return RecordTime{};
    const CivilTime c = civil_from_recorder(time);
    return RecordTime{static_cast<uint8_t>(c.day),    static_cast<uint8_t>(c.month),
                      static_cast<uint16_t>(c.year),  static_cast<uint8_t>(c.second),
                      static_cast<uint8_t>(c.minute), static_cast<uint16_t>(c.hour)};
}

void put32(std::vector<uint8_t>& record, size_t at, uint32_t value) {
    std::memcpy(record.data() + at, &value, sizeof value);
}

}  // namespace

std::vector<uint8_t> gop_record(const GopRecordSpec& spec) {
    const RecordDamage& damage = spec.damage;
    if (spec.frames.size() > kMaxGopFrames || (spec.frames.empty() && !damage.end_mark)) return {};
    if (spec.width < 1 || spec.width > 0xFFF || spec.height < 1 || spec.height > 0xFFF ||
        spec.picture_flags > 0xFF) {
        return {};
    }
    GopHeader h{};
    size_t frames_length = 0;
    for (size_t i = 0; i < spec.frames.size(); ++i) {
        const StreamFrame& f = spec.frames[i];
        const size_t words = whole_words(f.bytes.size()) / 4;
        if (words > kFrameLengthMask || f.time_step > 0x3FFF || f.type > 3) return {};
        h.frames[i] = frame_entry(static_cast<uint32_t>(words), f.time_step, f.type);
        frames_length += 4 * words;
    }
    const auto length = static_cast<uint32_t>(kGopHeaderSize + frames_length);

    h.start_bits = damage.broken_start_bits ? kBrokenStartBits : kStartBits;
    h.time = record_time(spec.time, damage.end_mark);
    h.milliseconds = spec.milliseconds;
    h.gop_length = damage.length.value_or(length);
    h.previous_length = spec.previous_length;
    h.frame_count =
        damage.count.value_or(damage.end_mark ? 0 : static_cast<uint32_t>(spec.frames.size()));
    h.picture_size = picture_size(spec.width, spec.height, spec.picture_flags);

    std::vector<uint8_t> record(length + kTrailerSize, 0);
    std::memcpy(record.data(), &h, sizeof h);
    size_t at = kGopHeaderSize;
    for (const StreamFrame& f : spec.frames) {
        if (!f.bytes.empty()) std::memcpy(record.data() + at, f.bytes.data(), f.bytes.size());
        at += whole_words(f.bytes.size());
    }
    put32(record, length, damage.damaged_trailer ? kDamagedTrailer : length);
    return record;
}

std::vector<uint8_t> audio_record(const AudioRecordSpec& spec) {
    const RecordDamage& damage = spec.damage;
    const size_t data = whole_words(spec.samples.size());
    if (data > kMaxAudioSample) return {};
    const auto length = static_cast<uint32_t>(kAudioHeaderSize + data);

    AudioHeader h{};
    h.start_bits = damage.broken_start_bits ? kBrokenStartBits : kStartBits;
    h.time = record_time(spec.time, damage.end_mark);
    h.milliseconds = spec.milliseconds;
    h.total_size = damage.length.value_or(length);
    h.previous_size = spec.previous_size;
    h.sample = damage.count.value_or(damage.end_mark ? 0 : static_cast<uint32_t>(data));

    std::vector<uint8_t> record(length + kTrailerSize, 0xFF);
    std::memcpy(record.data(), &h, sizeof h);
    if (!spec.samples.empty()) {
        std::memcpy(record.data() + kAudioHeaderSize, spec.samples.data(), spec.samples.size());
    }
    put32(record, length, damage.damaged_trailer ? kDamagedTrailer : length);
    return record;
}

uint32_t record_length(const std::vector<uint8_t>& record) {
    return record.size() < kTrailerSize ? 0 : static_cast<uint32_t>(record.size() - kTrailerSize);
}

std::vector<uint8_t> synthetic_frame(uint32_t seed, size_t length, bool key) {
    std::vector<uint8_t> frame(length);
    const uint8_t head[5] = {0, 0, 0, 1, static_cast<uint8_t>(key ? 0x65 : 0x41)};
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; ++i) {
        x = x * 1103515245u + 12345u;
        frame[i] = i < sizeof head ? head[i] : static_cast<uint8_t>((x >> 16) % 0xFF);
    }
    return frame;
}

}  // namespace sample
