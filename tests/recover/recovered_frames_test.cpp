// The frames and samples the export takes from a recovered record: frame times from the time
// steps (carried into the next second), frames cut by the table, and records whose fields
// disagree refused whole.
#include "recover/recovered_frames.h"

#include <gtest/gtest.h>

#include "tools/sample/stream_records.h"

namespace {

constexpr uint32_t kTime = 1773475200;  // 2026-03-14 08:00:00

sample::GopRecordSpec three_frames() {
    sample::GopRecordSpec spec;
    spec.time = kTime;
    spec.milliseconds = 900;
    const size_t sizes[] = {40, 13, 8};
    const uint32_t steps[] = {10, 66, 70};
    for (int i = 0; i < 3; ++i) {
        sample::StreamFrame f;
        f.bytes = sample::synthetic_frame(static_cast<uint32_t>(i), sizes[i], i == 0);
        f.type = i == 0 ? 1 : 2;
        f.time_step = steps[i];
        spec.frames.push_back(f);
    }
    return spec;
}

TEST(RecoveredFrames, FramesPlayAtTheHeadersTimePlusTheirSteps) {
    const sample::GopRecordSpec spec = three_frames();
    const std::vector<uint8_t> record = sample::gop_record(spec);
    const auto frames = recover::gop_frames(record);
    ASSERT_TRUE(frames.has_value());
    ASSERT_EQ(frames->size(), 3u);
    EXPECT_EQ((*frames)[0].time, kTime);
    EXPECT_EQ((*frames)[0].ms, 910);
    EXPECT_EQ((*frames)[1].time, kTime);
    EXPECT_EQ((*frames)[1].ms, 976);
    EXPECT_EQ((*frames)[2].time, kTime + 1);  // 1046 ms
    EXPECT_EQ((*frames)[2].ms, 46);
    EXPECT_TRUE((*frames)[0].key);
    EXPECT_FALSE((*frames)[1].key);
    // Each frame as stored: padded to whole words, back to back after the header.
    const uint8_t* at = record.data() + 96;
    for (size_t i = 0; i < 3; ++i) {
        const size_t padded = (spec.frames[i].bytes.size() + 3) / 4 * 4;
        EXPECT_EQ((*frames)[i].data, at);
        EXPECT_EQ(static_cast<size_t>((*frames)[i].length), padded);
        EXPECT_TRUE(std::equal(spec.frames[i].bytes.begin(), spec.frames[i].bytes.end(), at));
        at += padded;
    }
}

TEST(RecoveredFrames, ARecordWhoseFieldsDisagreeIsRefused) {
    std::vector<uint8_t> record = sample::gop_record(three_frames());
    ASSERT_TRUE(recover::gop_frames(record).has_value());

    std::vector<uint8_t> trailer = record;
    trailer.back() ^= 1;
    EXPECT_FALSE(recover::gop_frames(trailer).has_value());

    std::vector<uint8_t> table = record;
    table[28] += 1;  // frame 0 one word longer than it is
    EXPECT_FALSE(recover::gop_frames(table).has_value());

    std::vector<uint8_t> shorter(record.begin(), record.end() - 4);
    EXPECT_FALSE(recover::gop_frames(shorter).has_value());

    sample::GopRecordSpec no_time = three_frames();
    no_time.damage.end_mark = true;
    no_time.damage.count = 3;
    EXPECT_FALSE(recover::gop_frames(sample::gop_record(no_time)).has_value());

    sample::GopRecordSpec broken = three_frames();
    broken.damage.broken_start_bits = true;
    EXPECT_FALSE(recover::gop_frames(sample::gop_record(broken)).has_value());

    EXPECT_FALSE(recover::gop_frames({}).has_value());
}

TEST(RecoveredFrames, AudioSamplesFollowTheHeader) {
    sample::AudioRecordSpec spec;
    spec.time = kTime + 5;
    spec.milliseconds = 400;
    for (int i = 0; i < 1600; ++i) spec.samples.push_back(static_cast<uint8_t>(i * 7));
    const auto a = recover::audio_samples(sample::audio_record(spec));
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->time, kTime + 5);
    EXPECT_EQ(a->ms, 400);
    EXPECT_EQ(a->samples, spec.samples);

    sample::AudioRecordSpec lying = spec;
    lying.damage.count = 9000;  // more samples than the record holds
    EXPECT_FALSE(recover::audio_samples(sample::audio_record(lying)).has_value());
    sample::AudioRecordSpec trailer = spec;
    trailer.damage.damaged_trailer = true;
    EXPECT_FALSE(recover::audio_samples(sample::audio_record(trailer)).has_value());
}

}  // namespace
