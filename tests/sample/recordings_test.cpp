// Recordings parsed back through the record layouts the reader uses: headers, frame tables,
// frames and trailers, the chain of previous lengths, the frame times, the gaps, and damage
// only where it was asked for.
#include "tools/sample/recordings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>

#include "playback/record_format.h"

namespace {

using sample::Codec;
using sample::RecordedFrame;
using sample::RecordedGop;
using sample::VideoEncoder;
using sample::VideoRecording;
using sample::VideoRecordingSpec;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kFrom = 1773471600;  // 2026-03-14 07:00:00
constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr int kFps = 15;
constexpr int kGopFrames = 8;  // half a second's worth at 15 frames per second, rounded up

// Recorder time of a record time, through the C library rather than the code under test.
uint32_t seconds_of(const RecordTime& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    return static_cast<uint32_t>(timegm(&tm));
}

uint32_t word_at(const Bytes& b, size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, b.data() + at, sizeof v);
    return v;
}

struct ParsedGop {
    GopHeader header{};
    std::vector<Bytes> frames;  // cut by the frame table
    uint32_t trailer = 0;
};

// Cuts a record by its own frame table; fails the test when the table overruns the record.
ParsedGop parse_gop(const Bytes& record) {
    ParsedGop p;
    if (record.size() < kGopHeaderSize + kTrailerSize) {
        ADD_FAILURE() << "record of " << record.size() << " bytes";
        return p;
    }
    std::memcpy(&p.header, record.data(), sizeof p.header);
    size_t at = kGopHeaderSize;
    for (uint32_t i = 0; i < std::min<uint32_t>(p.header.frame_count, kMaxGopFrames); ++i) {
        const auto length = static_cast<size_t>(frame_bytes(p.header.frames[i]));
        if (at + length + kTrailerSize > record.size()) {
            ADD_FAILURE() << "frame " << i << " runs past the record";
            return p;
        }
        p.frames.emplace_back(record.begin() + static_cast<ptrdiff_t>(at),
                              record.begin() + static_cast<ptrdiff_t>(at + length));
        at += length;
    }
    EXPECT_EQ(at + kTrailerSize, record.size()) << "bytes between the last frame and the trailer";
    p.trailer = word_at(record, record.size() - kTrailerSize);
    return p;
}

std::unique_ptr<VideoEncoder> encoder_for(Codec codec, int width, int height, int fps) {
    std::string error;
    auto encoder = VideoEncoder::create(codec, width, height, fps, &error);
    EXPECT_NE(encoder, nullptr) << error;
    return encoder;
}

// Eight seconds with a two-second gap, every damage switch on a second of its own, and the end
// mark: encoded once for the whole suite.
VideoRecordingSpec damaged_spec() {
    VideoRecordingSpec spec;
    spec.video_channel = 2;
    spec.width = kWidth;
    spec.height = kHeight;
    spec.fps = kFps;
    spec.from = kFrom;
    spec.to = kFrom + 8;
    spec.gaps = {{kFrom + 2, kFrom + 4}};
    spec.broken_gops = {kFrom + 1};
    spec.damaged_trailer_gops = {kFrom + 5};
    spec.impossible_length_gops = {kFrom + 6};
    spec.end_mark = true;
    return spec;
}

const VideoRecording& damaged_recording() {
    static const VideoRecording recording = [] {
        auto encoder = encoder_for(Codec::H264, kWidth, kHeight, kFps);
        std::string error;
        std::optional<VideoRecording> r;
        if (encoder) r = sample::video_recording(damaged_spec(), *encoder, &error);
        EXPECT_TRUE(r.has_value()) << error;
        return r.value_or(VideoRecording{});
    }();
    return recording;
}

std::vector<RecordedFrame> all_frames(const VideoRecording& r) {
    std::vector<RecordedFrame> frames;
    for (const RecordedGop& g : r.gops) frames.insert(frames.end(), g.frames.begin(), g.frames.end());
    return frames;
}

uint64_t instant(uint32_t time, uint32_t ms) {
    return uint64_t{time} * 1000 + ms;
}

TEST(VideoRecording, EveryGopParsesBackAsListed) {
    const VideoRecording& r = damaged_recording();
    ASSERT_EQ(r.data.channel, 4) << "video channel 2 is channel 4";
    ASSERT_EQ(r.data.writes.size(), r.gops.size() + 1) << "one write per GOP and the end mark";
    EXPECT_EQ(r.picture_size, uint32_t{kWidth} << 16 | kHeight);
    uint32_t previous = 0;
    for (size_t g = 0; g < r.gops.size(); ++g) {
        SCOPED_TRACE("GOP " + std::to_string(g));
        const RecordedGop& listed = r.gops[g];
        const Bytes& record = r.data.writes[g].bytes;
        const ParsedGop p = parse_gop(record);
        const GopHeader& h = p.header;
        EXPECT_EQ(r.data.writes[g].time, listed.time);
        EXPECT_EQ(seconds_of(h.time), listed.time);
        EXPECT_EQ(h.milliseconds, listed.ms);
        EXPECT_EQ(h.previous_length, previous) << "previous lengths chain";
        EXPECT_EQ(listed.length, record.size() - kTrailerSize);
        previous = listed.length;
        EXPECT_EQ(h.frame_count, uint32_t{kGopFrames});
        for (int i = kGopFrames; i < kMaxGopFrames; ++i) EXPECT_EQ(h.frames[i], 0u);
        EXPECT_EQ(picture_width(h.picture_size), uint32_t{kWidth});
        EXPECT_EQ(picture_height(h.picture_size), uint32_t{kHeight});
        EXPECT_EQ(picture_flags(h.picture_size), 0u);

        ASSERT_EQ(p.frames.size(), listed.frames.size());
        uint64_t plays = instant(listed.time, listed.ms);
        for (size_t i = 0; i < p.frames.size(); ++i) {
            const RecordedFrame& f = listed.frames[i];
            EXPECT_EQ(f.index, static_cast<int>(i));
            EXPECT_EQ(f.bytes.size() % 4, 0u) << "frames are listed as stored, in whole words";
            EXPECT_EQ(p.frames[i], f.bytes);
            EXPECT_EQ(frame_type(h.frames[i]), i == 0 ? 1u : 2u);
            plays += frame_time_step(h.frames[i]);
            EXPECT_EQ(plays, instant(f.time, f.ms)) << "frame " << i << " by its time steps";
        }
    }
}

// Frame n of a span plays n / 15 seconds after the span's start, and only whole GOPs are kept:
// the first span holds 30 frame times (24 in three GOPs), the second 60 (56 in seven).
TEST(VideoRecording, FramesKeepTheRateAndGapsHoldNone) {
    const std::vector<RecordedFrame> frames = all_frames(damaged_recording());
    std::vector<uint64_t> expected;
    for (int n = 0; n < 24; ++n) expected.push_back(instant(kFrom, 0) + n * 1000 / kFps);
    for (int n = 0; n < 56; ++n) expected.push_back(instant(kFrom + 4, 0) + n * 1000 / kFps);
    std::vector<uint64_t> got;
    for (const RecordedFrame& f : frames) got.push_back(instant(f.time, f.ms));
    EXPECT_EQ(got, expected);
    for (const RecordedGop& g : damaged_recording().gops) {
        EXPECT_EQ(g.frames.size(), size_t{kGopFrames});
        EXPECT_EQ(g.frames.front().time, g.time);
        EXPECT_EQ(g.frames.front().ms, g.ms) << "the key frame plays at the GOP's own time";
    }
}

TEST(VideoRecording, DamageOnlyWhereAsked) {
    const VideoRecording& r = damaged_recording();
    int broken = 0, bad_trailer = 0, impossible = 0;
    for (size_t g = 0; g < r.gops.size(); ++g) {
        const RecordedGop& listed = r.gops[g];
        const ParsedGop p = parse_gop(r.data.writes[g].bytes);
        SCOPED_TRACE("GOP at " + std::to_string(listed.time - kFrom) + "." + std::to_string(listed.ms));
        const bool in_broken = listed.time == kFrom + 1;
        const bool in_trailer = listed.time == kFrom + 5;
        const bool in_length = listed.time == kFrom + 6;
        EXPECT_EQ(p.header.start_bits == kStartBits, !in_broken);
        EXPECT_EQ(listed.damage.broken_start_bits, in_broken);
        EXPECT_EQ(p.trailer, in_trailer ? 0xFFFFFFFFu : listed.length);
        if (in_length) {
            EXPECT_GT(p.header.gop_length, uint32_t{kMaxGopLength});
        } else {
            EXPECT_EQ(p.header.gop_length, listed.length);
        }
        broken += in_broken;
        bad_trailer += in_trailer;
        impossible += in_length;
    }
    // 8-frame GOPs at 15 fps from 07:00:00 and from 07:00:04: second 1 holds the GOP at 1.066,
    // second 5 those at 5.066 and 5.600, second 6 those at 6.133 and 6.666.
    EXPECT_EQ(broken, 1);
    EXPECT_EQ(bad_trailer, 2);
    EXPECT_EQ(impossible, 2);
}

TEST(VideoRecording, EndMarkFollowsTheLastGop) {
    const VideoRecording& r = damaged_recording();
    ASSERT_FALSE(r.gops.empty());
    const Bytes& mark = r.data.writes.back().bytes;
    ASSERT_EQ(mark.size(), size_t{kGopHeaderSize + kTrailerSize});
    GopHeader h{};
    std::memcpy(&h, mark.data(), sizeof h);
    EXPECT_EQ(h.start_bits, kStartBits);
    EXPECT_EQ(h.frame_count, 0u);
    EXPECT_EQ(h.time.year, 0) << "no time";
    EXPECT_EQ(h.time.month, 0);
    EXPECT_EQ(h.previous_length, r.gops.back().length);
    EXPECT_EQ(word_at(mark, kGopHeaderSize), uint32_t{kGopHeaderSize});
    EXPECT_EQ(r.data.writes.back().time, r.gops.back().time) << "filed under the last GOP's time";
}

// Each GOP opens with the codec's own key frame: an H.264 IDR slice, an MPEG-4 I-VOP.
TEST(VideoRecording, FramesAreRealPictures) {
    auto nal_types = [](const Bytes& b) {
        std::vector<int> types;
        for (size_t i = 0; i + 3 < b.size(); ++i) {
            if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) types.push_back(b[i + 3] & 0x1F);
        }
        return types;
    };
    for (const RecordedGop& g : damaged_recording().gops) {
        for (const RecordedFrame& f : g.frames) {
            ASSERT_GE(f.bytes.size(), 5u);
            EXPECT_EQ(Bytes(f.bytes.begin(), f.bytes.begin() + 4), (Bytes{0, 0, 0, 1}));
            const std::vector<int> types = nal_types(f.bytes);
            const bool idr = std::count(types.begin(), types.end(), 5) > 0;
            EXPECT_EQ(idr, f.index == 0);
        }
    }

    auto encoder = encoder_for(Codec::Mpeg4, kWidth, kHeight, kFps);
    ASSERT_NE(encoder, nullptr);
    VideoRecordingSpec spec;
    spec.codec = Codec::Mpeg4;
    spec.width = kWidth;
    spec.height = kHeight;
    spec.fps = kFps;
    spec.from = kFrom;
    spec.to = kFrom + 2;
    std::string error;
    const auto r = sample::video_recording(spec, *encoder, &error);
    ASSERT_TRUE(r.has_value()) << error;
    ASSERT_EQ(r->gops.size(), 3u);
    for (const RecordedGop& g : r->gops) {
        for (const RecordedFrame& f : g.frames) {
            // The VOP start code 00 00 01 B6, then two bits of coding type: 0 intra, 1 predicted.
            const Bytes vop = {0, 0, 1, 0xB6};
            const auto at = std::search(f.bytes.begin(), f.bytes.end(), vop.begin(), vop.end());
            ASSERT_LT(at + 4, f.bytes.end());
            EXPECT_EQ(at[4] >> 6, f.index == 0 ? 0 : 1) << "frame " << f.index;
        }
    }
}

TEST(VideoRecording, RepeatedGopsKeepTheirOwnTimes) {
    auto encoder = encoder_for(Codec::H264, kWidth, kHeight, kFps);
    ASSERT_NE(encoder, nullptr);
    VideoRecordingSpec spec;
    spec.width = kWidth;
    spec.height = kHeight;
    spec.fps = kFps;
    spec.gop_frames = 5;
    spec.from = kFrom;
    spec.to = kFrom + 2;
    spec.distinct_gops = 2;
    std::string error;
    const auto r = sample::video_recording(spec, *encoder, &error);
    ASSERT_TRUE(r.has_value()) << error;
    ASSERT_EQ(r->gops.size(), 6u);
    for (size_t g = 0; g < r->gops.size(); ++g) {
        EXPECT_EQ(instant(r->gops[g].time, r->gops[g].ms), instant(kFrom, 0) + g * 5 * 1000 / kFps);
        const ParsedGop p = parse_gop(r->data.writes[g].bytes);
        EXPECT_EQ(seconds_of(p.header.time), r->gops[g].time);
        if (g >= 2) {
            for (size_t i = 0; i < 5; ++i) EXPECT_EQ(p.frames[i], r->gops[g % 2].frames[i].bytes);
        }
    }
    EXPECT_NE(r->gops[0].frames[0].bytes, r->gops[1].frames[0].bytes)
        << "the repeated GOPs were encoded for times of their own";
}

TEST(VideoRecording, RefusesWhatCannotBeRecorded) {
    auto encoder = encoder_for(Codec::H264, kWidth, kHeight, kFps);
    ASSERT_NE(encoder, nullptr);
    VideoRecordingSpec good;
    good.width = kWidth;
    good.height = kHeight;
    good.fps = kFps;
    good.from = kFrom;
    good.to = kFrom + 1;
    std::vector<std::pair<std::string, VideoRecordingSpec>> bad(7, {"", good});
    bad[0].first = "channel 0";
    bad[0].second.video_channel = 0;
    bad[1].first = "channel 17";
    bad[1].second.video_channel = 17;
    bad[2].first = "another codec than the encoder's";
    bad[2].second.codec = Codec::Mpeg4;
    bad[3].first = "another rate than the encoder's";
    bad[3].second.fps = 30;
    bad[4].first = "17 frames a GOP";
    bad[4].second.gop_frames = 17;
    bad[5].first = "an empty span";
    bad[5].second.to = kFrom;
    bad[6].first = "a gap that ends before it starts";
    bad[6].second.gaps = {{kFrom + 1, kFrom}};
    for (const auto& [what, spec] : bad) {
        std::string error;
        EXPECT_FALSE(sample::video_recording(spec, *encoder, &error).has_value()) << what;
        EXPECT_FALSE(error.empty()) << what;
    }
}

// Sign changes of mu-law samples (bit 7 set: positive): two per cycle of the tone.
int sign_changes(const Bytes& samples) {
    int changes = 0;
    for (size_t i = 1; i < samples.size(); ++i) changes += (samples[i] ^ samples[i - 1]) >> 7;
    return changes;
}

TEST(AudioRecording, RecordsOfTwoHundredMillisecondsAroundTheGap) {
    std::string error;
    const auto r = sample::audio_recording(3, kFrom, kFrom + 3, {{kFrom + 1, kFrom + 2}}, &error);
    ASSERT_TRUE(r.has_value()) << error;
    EXPECT_EQ(r->data.channel, 21) << "audio channel 3 is channel 21";
    ASSERT_EQ(r->records.size(), 10u);
    ASSERT_EQ(r->data.writes.size(), 10u);
    uint32_t previous = 0;
    for (size_t i = 0; i < r->records.size(); ++i) {
        SCOPED_TRACE("record " + std::to_string(i));
        const Bytes& record = r->data.writes[i].bytes;
        ASSERT_EQ(record.size(), size_t{kAudioHeaderSize} + 1600 + kTrailerSize);
        AudioHeader h{};
        std::memcpy(&h, record.data(), sizeof h);
        const uint32_t second = kFrom + (i < 5 ? 0 : 2);
        EXPECT_EQ(h.start_bits, kStartBits);
        EXPECT_EQ(seconds_of(h.time), second);
        EXPECT_EQ(r->data.writes[i].time, second);
        EXPECT_EQ(h.milliseconds, 200 * (i % 5));
        EXPECT_EQ(r->records[i].ms, h.milliseconds);
        EXPECT_EQ(h.total_size, uint32_t{kAudioHeaderSize} + 1600);
        EXPECT_EQ(h.sample, 1600u);
        EXPECT_EQ(h.previous_size, previous);
        previous = h.total_size;
        EXPECT_EQ(word_at(record, record.size() - kTrailerSize), h.total_size);
        const Bytes samples(record.begin() + kAudioHeaderSize, record.end() - kTrailerSize);
        EXPECT_EQ(samples, r->records[i].samples);
        // Audio channel 3 has the third tone, 800 Hz: 160 cycles in 200 ms.
        EXPECT_NEAR(sign_changes(samples), 320, 2);
    }
}

TEST(AudioRecording, RefusesChannelsAndSpansOutOfRange) {
    std::string error;
    EXPECT_FALSE(sample::audio_recording(0, kFrom, kFrom + 1, {}, &error).has_value());
    EXPECT_FALSE(sample::audio_recording(5, kFrom, kFrom + 1, {}, &error).has_value());
    EXPECT_FALSE(sample::audio_recording(1, kFrom + 1, kFrom + 1, {}, &error).has_value());
    EXPECT_FALSE(error.empty());
}

}  // namespace
