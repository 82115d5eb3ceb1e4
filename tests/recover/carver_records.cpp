#include "tests/recover/carver_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <tuple>

namespace carvertest {

const sample::VideoRecording& recording(sample::Codec codec, int width, int height,
                                        uint32_t from, int seconds) {
    static std::map<std::tuple<sample::Codec, int, int, uint32_t, int>, sample::VideoRecording>
        made;
    auto [it, fresh] = made.try_emplace({codec, width, height, from, seconds});
    if (!fresh) return it->second;
    std::string error;
    auto encoder = sample::VideoEncoder::create(codec, width, height, 15, &error);
    EXPECT_NE(encoder, nullptr) << error;
    if (!encoder) return it->second;
    sample::VideoRecordingSpec spec;
    spec.video_channel = 1;
    spec.codec = codec;
    spec.width = width;
    spec.height = height;
    spec.fps = 15;
    spec.gop_frames = 4;
    spec.from = from;
    spec.to = from + static_cast<uint32_t>(seconds);
    auto r = sample::video_recording(spec, *encoder, &error);
    EXPECT_TRUE(r.has_value()) << error;
    if (r) it->second = std::move(*r);
    return it->second;
}

std::vector<Bytes> records(const sample::VideoRecording& r) {
    std::vector<Bytes> out;
    for (const sample::ChannelWrite& w : r.data.writes) out.push_back(w.bytes);
    return out;
}

Bytes joined(const std::vector<Bytes>& records, size_t first, size_t end) {
    Bytes out;
    for (size_t i = first; i < end && i < records.size(); ++i) {
        out.insert(out.end(), records[i].begin(), records[i].end());
    }
    return out;
}

uint32_t field(const Bytes& record, size_t at) {
    uint32_t v = 0;
    if (at + 4 <= record.size()) std::memcpy(&v, record.data() + at, 4);
    return v;
}

void set_field(Bytes* record, size_t at, uint32_t value) {
    if (at + 4 <= record->size()) std::memcpy(record->data() + at, &value, 4);
}

}  // namespace carvertest
