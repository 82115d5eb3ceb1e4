#include "tools/sample/remnant_decoys.h"

#include <cstring>

#include "playback/record_format.h"
#include "tools/sample/stream_records.h"

namespace sample {
namespace {

constexpr size_t kNoiseBytes = 8192;
constexpr size_t kGap = 4096;  // empty bytes before each decoy
// Offsets of the start-bits words inside the noise, word-aligned as a record would be.
constexpr size_t kNoiseStartBits[] = {0, 2052, 6000};
constexpr uint32_t kTrailerSkew = 16;

uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, b.data() + at, sizeof v);
    return v;
}

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, sizeof v); }

// Random bytes without 0xFF, so that the only start-bits words are the ones put there.
std::vector<uint8_t> noise(size_t length, uint32_t seed) {
    std::vector<uint8_t> out(length);
    uint32_t x = seed;
    for (uint8_t& b : out) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>((x >> 24) % 0xFF);
    }
    return out;
}

// The record with frame table entry 1 (or 0) one word longer than its frame: length and
// trailer still agree with each other, but no longer with the table.
std::vector<uint8_t> frame_table_mismatch(std::vector<uint8_t> record) {
    const size_t count = get32(record, offsetof(GopHeader, frame_count));
    const size_t entry = offsetof(GopHeader, frames) + 4 * (count > 1 ? 1 : 0);
    put32(record, entry, get32(record, entry) + 1);
    return record;
}

std::vector<uint8_t> trailer_mismatch(std::vector<uint8_t> record) {
    const size_t at = record.size() - kTrailerSize;
    put32(record, at, get32(record, at) + kTrailerSkew);
    return record;
}

// A record whose every field agrees, with a key frame of noise behind an IDR slice's NAL
// header: nothing a decoder can make a picture of.
std::vector<uint8_t> noise_key_frame(const std::vector<uint8_t>& real, uint32_t time) {
    const uint32_t size = get32(real, offsetof(GopHeader, picture_size));
    GopRecordSpec spec;
    spec.time = time;
    spec.milliseconds = 250;
    spec.width = picture_width(size);
    spec.height = picture_height(size);
    for (uint32_t i = 0; i < 4; ++i) {
        StreamFrame f;
        f.bytes = synthetic_frame(time + i, i == 0 ? 6000 : 800, i == 0);
        f.type = i == 0 ? 1 : 2;
        f.time_step = i == 0 ? 0 : 66;
        spec.frames.push_back(std::move(f));
    }
    return gop_record(spec);
}

class Layout {
public:
    explicit Layout(size_t block_bytes) : limit_(block_bytes) {}
    // Puts bytes after a gap, word-aligned; the offset where they start, or nullopt when full.
    std::optional<uint32_t> add(const std::vector<uint8_t>& bytes) {
        const size_t at = (out_.bytes.size() + kGap + 3) / 4 * 4;
        if (bytes.empty() || at + bytes.size() > limit_) return std::nullopt;
        out_.bytes.resize(at, 0);
        out_.bytes.insert(out_.bytes.end(), bytes.begin(), bytes.end());
        return static_cast<uint32_t>(at);
    }
    void mark(uint32_t at, DecoyKind kind) { out_.decoys.emplace_back(at, kind); }
    DecoyBlock take() { return std::move(out_); }

private:
    size_t limit_;
    DecoyBlock out_;
};

}  // namespace

std::optional<DecoyBlock> decoy_block(const std::vector<uint8_t>& real_gop, uint32_t time,
                                      size_t block_bytes, std::string* error) {
    if (real_gop.size() < kGopHeaderSize + kTrailerSize) {
        if (error) *error = "the decoys need a whole GOP record";
        return std::nullopt;
    }
    Layout layout(block_bytes);
    std::vector<uint8_t> random = noise(kNoiseBytes, time);
    for (size_t at : kNoiseStartBits) put32(random, at, kStartBits);
    const auto noise_at = layout.add(random);
    const auto table_at = layout.add(frame_table_mismatch(real_gop));
    const auto key_at = layout.add(noise_key_frame(real_gop, time));
    const auto trailer_at = layout.add(trailer_mismatch(real_gop));
    if (!noise_at || !table_at || !key_at || !trailer_at) {
        if (error) *error = "the decoys do not fit one block";
        return std::nullopt;
    }
    for (size_t at : kNoiseStartBits) {
        layout.mark(static_cast<uint32_t>(*noise_at + at), DecoyKind::StartBitsInNoise);
    }
    layout.mark(*table_at, DecoyKind::FrameTableMismatch);
    layout.mark(*key_at, DecoyKind::NoiseKeyFrame);
    layout.mark(*trailer_at, DecoyKind::TrailerMismatch);
    return layout.take();
}

}  // namespace sample
