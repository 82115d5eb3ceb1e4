// The record builder's bytes, read at their offsets rather than through the reader's structures,
// so that a field misplaced in both would still show.
#include <gtest/gtest.h>

#include "disk/recorder_time.h"
#include "tools/sample/stream_records.h"

namespace {

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
           uint32_t{b[at + 3]} << 24;
}

const uint32_t kTime = static_cast<uint32_t>(recorder_from_civil(2026, 7, 9, 21, 45, 3));

TEST(StreamRecords, GopRecordLayout) {
    sample::GopRecordSpec spec;
    spec.time = kTime;
    spec.milliseconds = 640;
    spec.width = 704;
    spec.height = 480;
    spec.picture_flags = 0x81;
    spec.previous_length = 5000;
    spec.frames = {{std::vector<uint8_t>(10, 7), 1, 5}, {std::vector<uint8_t>(8, 9), 2, 33}};
    const std::vector<uint8_t> r = sample::gop_record(spec);
    ASSERT_EQ(r.size(), 96u + 12 + 8 + 4);
    EXPECT_EQ(le32(r, 0), 0xFF0FF0FFu);
    EXPECT_EQ(r[4], 9);  // day, month, year, second, minute, hour
    EXPECT_EQ(r[5], 7);
    EXPECT_EQ(r[6] | r[7] << 8, 2026);
    EXPECT_EQ(r[8], 3);
    EXPECT_EQ(r[9], 45);
    EXPECT_EQ(r[10] | r[11] << 8, 21);
    EXPECT_EQ(le32(r, 12), 640u);
    EXPECT_EQ(le32(r, 16), 116u);
    EXPECT_EQ(le32(r, 20), 5000u);
    EXPECT_EQ(le32(r, 24), 2u);
    EXPECT_EQ(le32(r, 28), 3u | 5u << 16 | 1u << 30);  // 12 bytes after padding
    EXPECT_EQ(le32(r, 32), 2u | 33u << 16 | 2u << 30);
    for (size_t at = 36; at < 92; at += 4) EXPECT_EQ(le32(r, at), 0u);
    EXPECT_EQ(le32(r, 92), 704u << 12 | 480u | 0x81u << 24);
    EXPECT_EQ(r[96], 7);
    EXPECT_EQ(r[105], 7);
    EXPECT_EQ(r[106], 0);  // padding
    EXPECT_EQ(r[108], 9);
    EXPECT_EQ(le32(r, 116), 116u);
    EXPECT_EQ(sample::record_length(r), 116u);
}

TEST(StreamRecords, AudioRecordLayout) {
    sample::AudioRecordSpec spec;
    spec.time = kTime;
    spec.milliseconds = 250;
    spec.previous_size = 1032;
    spec.samples = std::vector<uint8_t>(1001, 0x55);
    const std::vector<uint8_t> r = sample::audio_record(spec);
    ASSERT_EQ(r.size(), 32u + 1004 + 4);
    EXPECT_EQ(le32(r, 0), 0xFF0FF0FFu);
    EXPECT_EQ(r[4], 9);
    EXPECT_EQ(le32(r, 12), 250u);
    EXPECT_EQ(le32(r, 20), 1036u);
    EXPECT_EQ(le32(r, 24), 1032u);
    EXPECT_EQ(le32(r, 28), 1004u);
    EXPECT_EQ(r[32 + 1000], 0x55);
    EXPECT_EQ(r[32 + 1001], 0xFF);  // mu-law silence
    EXPECT_EQ(le32(r, 1036), 1036u);

    spec.samples.resize(9217);
    EXPECT_TRUE(sample::audio_record(spec).empty());
}

TEST(StreamRecords, DamageSwitches) {
    sample::GopRecordSpec gop;
    gop.time = kTime;
    gop.frames = {{std::vector<uint8_t>(40, 1), 1, 0}};
    gop.damage.broken_start_bits = true;
    gop.damage.damaged_trailer = true;
    gop.damage.count = 17;
    gop.damage.length = 0x110001;
    std::vector<uint8_t> r = sample::gop_record(gop);
    EXPECT_NE(le32(r, 0), 0xFF0FF0FFu);
    EXPECT_EQ(le32(r, 16), 0x110001u);
    EXPECT_EQ(le32(r, 24), 17u);
    EXPECT_EQ(le32(r, r.size() - 4), 0xFFFFFFFFu);

    gop.damage = {};
    gop.damage.end_mark = true;
    gop.frames.clear();
    r = sample::gop_record(gop);
    ASSERT_EQ(r.size(), 100u);
    EXPECT_EQ(le32(r, 4) | le32(r, 8) | le32(r, 24), 0u);  // no time, no frames

    // What the fields cannot hold is not written.
    gop.damage = {};
    EXPECT_TRUE(sample::gop_record(gop).empty());  // no frames
    gop.frames.assign(17, {std::vector<uint8_t>(4, 1), 2, 0});
    EXPECT_TRUE(sample::gop_record(gop).empty());
    gop.frames.assign(1, {std::vector<uint8_t>(4 * 0x10000, 1), 1, 0});
    EXPECT_TRUE(sample::gop_record(gop).empty());
    gop.frames.assign(1, {std::vector<uint8_t>(4, 1), 1, 0x4000});
    EXPECT_TRUE(sample::gop_record(gop).empty());
}

}  // namespace
