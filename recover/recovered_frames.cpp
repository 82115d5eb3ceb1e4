#include "recover/recovered_frames.h"

#include <cstring>

#include "playback/record_format.h"
#include "recover/carver_block.h"

namespace recover {
namespace {

uint32_t trailer_of(const std::vector<uint8_t>& record) {
    uint32_t t = 0;
    std::memcpy(&t, record.data() + record.size() - kTrailerSize, sizeof t);
    return t;
}

}  // namespace

std::optional<std::vector<RecoveredFrame>> gop_frames(const std::vector<uint8_t>& record) {
    GopHeader h{};
    if (record.size() < kGopHeaderSize + kTrailerSize) return std::nullopt;
    std::memcpy(&h, record.data(), sizeof h);
    const uint64_t length = record.size() - kTrailerSize;
    if (h.start_bits != kStartBits || h.gop_length != length || trailer_of(record) != length ||
        h.frame_count < 1 || h.frame_count > kMaxGopFrames || h.milliseconds > 999) {
        return std::nullopt;
    }
    const uint32_t time = record_seconds(record.data() + offsetof(GopHeader, time));
    if (time == 0) return std::nullopt;
    std::vector<RecoveredFrame> frames;
    uint64_t at = kGopHeaderSize;
    uint64_t ms = h.milliseconds;
    for (uint32_t i = 0; i < h.frame_count; ++i) {
        const uint64_t n = static_cast<uint64_t>(frame_bytes(h.frames[i]));
        if (n == 0 || n > length - at) return std::nullopt;
        ms += frame_time_step(h.frames[i]);
        frames.push_back(RecoveredFrame{static_cast<uint32_t>(time + ms / 1000),
                                        static_cast<uint16_t>(ms % 1000), i == 0,
                                        record.data() + at, static_cast<int32_t>(n)});
        at += n;
    }
    if (at != length) return std::nullopt;
    return frames;
}

std::optional<RecoveredSamples> audio_samples(const std::vector<uint8_t>& record) {
    AudioHeader h{};
    if (record.size() < kAudioHeaderSize + kTrailerSize) return std::nullopt;
    std::memcpy(&h, record.data(), sizeof h);
    const uint64_t length = record.size() - kTrailerSize;
    if (h.start_bits != kStartBits || h.total_size != length || trailer_of(record) != length ||
        h.sample > kMaxAudioSample || h.sample > length - kAudioHeaderSize || h.milliseconds > 999) {
        return std::nullopt;
    }
    const uint32_t time = record_seconds(record.data() + offsetof(AudioHeader, time));
    if (time == 0) return std::nullopt;
    RecoveredSamples out;
    out.time = time;
    out.ms = static_cast<uint16_t>(h.milliseconds);
    out.samples.assign(record.begin() + kAudioHeaderSize,
                       record.begin() + kAudioHeaderSize + static_cast<ptrdiff_t>(h.sample));
    return out;
}

}  // namespace recover
