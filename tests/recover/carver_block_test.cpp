// The carver's block parser on real GOP records: each rule refuses the record that breaks it,
// records that follow each other form runs, and records cut by the end of the bytes are counted.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "playback/record_format.h"
#include "recover/carver_block.h"
#include "recover/carver_keyframe.h"
#include "tests/recover/carver_records.h"
#include "tools/sample/stream_records.h"

namespace {

using carvertest::Bytes;
using carvertest::field;
using carvertest::set_field;
using recover::BlockFindings;

constexpr uint32_t kFrom = 1773480413;  // 2026-03-14 09:26:53
constexpr size_t kLengthAt = 16, kPreviousAt = 20, kCountAt = 24, kTableAt = 28, kSizeAt = 92;

const sample::VideoRecording& h264() {
    return carvertest::recording(sample::Codec::H264, 96, 64, kFrom, 2);
}
const sample::VideoRecording& mpeg4() {
    return carvertest::recording(sample::Codec::Mpeg4, 96, 64, kFrom + 100, 1);
}

BlockFindings scan(const Bytes& bytes, size_t begin = 0, size_t end = SIZE_MAX) {
    recover::DecoderKeyFrameCheck key;
    BlockFindings found;
    recover::scan_block(bytes.data(), begin, std::min(end, bytes.size()), key, &found);
    return found;
}

size_t gop_count(const BlockFindings& f) {
    size_t n = 0;
    for (const auto& r : f.runs) n += r.gops.size();
    return n;
}

// A key-frame check that answers as told and counts the questions.
class FixedCheck : public recover::KeyFrameCheck {
public:
    explicit FixedCheck(bool answer) : answer_(answer) {}
    bool decodes(const uint8_t*, size_t, int, int) override {
        ++asked;
        return answer_;
    }
    int asked = 0;

private:
    bool answer_;
};

TEST(CarverBlock, FindsAWholeRecordWithItsFields) {
    const auto recs = carvertest::records(h264());
    ASSERT_GE(recs.size(), 6u);
    Bytes bytes(12, 0x5A);  // something else before it, on the word grid
    bytes.insert(bytes.end(), recs[1].begin(), recs[1].end());
    const BlockFindings f = scan(bytes);
    ASSERT_EQ(f.runs.size(), 1u);
    ASSERT_EQ(f.runs[0].gops.size(), 1u);
    const recover::FoundGop& g = f.runs[0].gops[0];
    EXPECT_EQ(g.offset, 12u);
    EXPECT_EQ(g.fields.time, h264().gops[1].time);
    EXPECT_EQ(g.fields.ms, static_cast<int32_t>(h264().gops[1].ms));
    EXPECT_EQ(g.fields.length, h264().gops[1].length);
    EXPECT_EQ(g.fields.frames, 4);
    EXPECT_EQ(f.runs[0].key.codec, "h264");
    EXPECT_EQ(f.runs[0].key.width, 96);
    EXPECT_EQ(f.runs[0].key.height, 64);
    EXPECT_EQ(f.cut_records, 0u);
}

struct Decoy {
    std::string name;
    std::function<void(Bytes*)> damage;
};

// Each decoy breaks one rule of an otherwise whole record.
std::vector<Decoy> decoys() {
    const auto entry = [](const Bytes& r, size_t i) { return field(r, kTableAt + 4 * i); };
    const auto time_byte = [](size_t at, uint8_t v) {
        return [at, v](Bytes* r) { (*r)[4 + at] = v; };
    };
    return {
        {"start bits", [](Bytes* r) { set_field(r, 0, kStartBits ^ 0x100); }},
        {"frame count 0", [](Bytes* r) { set_field(r, kCountAt, 0); }},
        {"frame count 17", [](Bytes* r) { set_field(r, kCountAt, 17); }},
        {"frame table", [&](Bytes* r) { set_field(r, kTableAt + 4, entry(*r, 1) + 1); }},
        {"trailer", [](Bytes* r) { set_field(r, r->size() - 4, field(*r, kLengthAt) + 4); }},
        {"width 0", [](Bytes* r) { set_field(r, kSizeAt, picture_size(0, 64, 0)); }},
        {"width 721", [](Bytes* r) { set_field(r, kSizeAt, picture_size(721, 64, 0)); }},
        {"height 0", [](Bytes* r) { set_field(r, kSizeAt, picture_size(96, 0, 0)); }},
        {"height 577", [](Bytes* r) { set_field(r, kSizeAt, picture_size(96, 577, 0)); }},
        {"first frame not a key frame",
         [&](Bytes* r) { set_field(r, kTableAt, (entry(*r, 0) & 0x3FFFFFFF) | 2u << 30); }},
        {"month 13", time_byte(1, 13)},
        {"30 February", [](Bytes* r) {
             (*r)[5] = 2;
             (*r)[4] = 30;
         }},
        {"hour 24", time_byte(6, 24)},
        {"no time", [](Bytes* r) { std::fill(r->begin() + 4, r->begin() + 12, 0); }},
        {"milliseconds 1000", [](Bytes* r) { set_field(r, 12, 1000); }},
        {"noise key frame",
         [&](Bytes* r) {
             const size_t key = static_cast<size_t>(frame_bytes(entry(*r, 0)));
             const Bytes noise = sample::synthetic_frame(7, key, true);
             std::copy(noise.begin(), noise.end(), r->begin() + kGopHeaderSize);
         }},
    };
}

TEST(CarverBlock, EachRuleRefusesItsDecoy) {
    const Bytes whole = carvertest::records(h264())[2];
    ASSERT_EQ(gop_count(scan(whole)), 1u);
    for (const Decoy& d : decoys()) {
        SCOPED_TRACE(d.name);
        Bytes decoy = whole;
        d.damage(&decoy);
        ASSERT_NE(decoy, whole);
        const BlockFindings f = scan(decoy);
        EXPECT_EQ(gop_count(f), 0u);
        EXPECT_TRUE(f.audio.empty());
        EXPECT_EQ(f.cut_records, 0u);
    }
}

// A GOP length beyond the read buffer, with a frame table and a trailer that agree with it.
TEST(CarverBlock, RefusesAGopLongerThanTheReadBuffer) {
    Bytes r = carvertest::records(h264())[0];
    const uint32_t key = static_cast<uint32_t>(frame_bytes(field(r, kTableAt)));
    const uint32_t length = kMaxGopLength + 4;
    uint32_t rest = length - kGopHeaderSize - key;
    set_field(&r, kCountAt, 16);
    for (size_t i = 1; i < 16; ++i) {
        const uint32_t words = std::min<uint32_t>(rest / 4, 0xFFFF);
        set_field(&r, kTableAt + 4 * i, frame_entry(words, 0, 2));
        rest -= 4 * words;
    }
    ASSERT_EQ(rest, 0u);
    set_field(&r, kLengthAt, length);
    r.resize(length + 4, 0);
    set_field(&r, length, length);
    const BlockFindings f = scan(r);
    EXPECT_EQ(gop_count(f), 0u);
    EXPECT_EQ(f.cut_records, 0u);
}

TEST(CarverBlock, AKeyFrameThatDoesNotDecodeRefusesTheRecord) {
    const Bytes r = carvertest::records(h264())[0];
    for (const bool answer : {false, true}) {
        FixedCheck check(answer);
        BlockFindings f;
        recover::scan_block(r.data(), 0, r.size(), check, &f);
        EXPECT_EQ(check.asked, 1);
        EXPECT_EQ(gop_count(f), answer ? 1u : 0u);
    }
}

TEST(CarverBlock, ConsecutiveRecordsFormOneRun) {
    const auto recs = carvertest::records(h264());
    const Bytes bytes = carvertest::joined(recs, 0, 5);
    const BlockFindings f = scan(bytes);
    ASSERT_EQ(f.runs.size(), 1u);
    ASSERT_EQ(f.runs[0].gops.size(), 5u);
    size_t at = 0;
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(f.runs[0].gops[i].offset, at);
        EXPECT_EQ(f.runs[0].gops[i].fields.time, h264().gops[i].time);
        at += recs[i].size();
    }
}

TEST(CarverBlock, APreviousLengthThatDisagreesStartsANewRun) {
    auto recs = carvertest::records(h264());
    set_field(&recs[2], kPreviousAt, field(recs[2], kPreviousAt) + 4);
    const BlockFindings f = scan(carvertest::joined(recs, 0, 4));
    ASSERT_EQ(f.runs.size(), 2u);
    EXPECT_EQ(f.runs[0].gops.size(), 2u);
    EXPECT_EQ(f.runs[1].gops.size(), 2u);
}

TEST(CarverBlock, BytesBetweenRecordsStartANewRun) {
    const auto recs = carvertest::records(h264());
    Bytes bytes = recs[0];
    bytes.insert(bytes.end(), 8, 0);
    bytes.insert(bytes.end(), recs[1].begin(), recs[1].end());
    const BlockFindings f = scan(bytes);
    ASSERT_EQ(f.runs.size(), 2u);
    EXPECT_EQ(f.runs[1].gops[0].offset, recs[0].size() + 8);
}

TEST(CarverBlock, StreamsOfAnotherCodecAreOtherRuns) {
    auto recs = carvertest::records(h264());
    const auto other = carvertest::records(mpeg4());
    ASSERT_FALSE(other.empty());
    // The MPEG-4 record names the H.264 one before it as its predecessor: only the stream
    // tells them apart.
    Bytes second = other[0];
    set_field(&second, kPreviousAt, field(recs[0], kLengthAt));
    Bytes bytes = recs[0];
    bytes.insert(bytes.end(), second.begin(), second.end());
    const BlockFindings f = scan(bytes);
    ASSERT_EQ(f.runs.size(), 2u);
    EXPECT_EQ(f.runs[0].key.codec, "h264");
    EXPECT_EQ(f.runs[1].key.codec, "mpeg4");
    EXPECT_FALSE(f.runs[0].key == f.runs[1].key);
}

TEST(CarverBlock, ARecordRunningPastTheEndIsOnlyCounted) {
    const auto recs = carvertest::records(h264());
    const Bytes bytes = carvertest::joined(recs, 0, 3);
    // Cut inside the third record's frames, then inside the second record's key frame.
    const BlockFindings late = scan(bytes, 0, bytes.size() - 10);
    EXPECT_EQ(gop_count(late), 2u);
    EXPECT_EQ(late.cut_records, 1u);
    const BlockFindings early = scan(bytes, 0, recs[0].size() + kGopHeaderSize + 8);
    EXPECT_EQ(gop_count(early), 1u);
    EXPECT_EQ(early.cut_records, 1u);
    // A header that is not whole is not counted: nothing of it can be checked.
    const BlockFindings header = scan(bytes, 0, recs[0].size() + 40);
    EXPECT_EQ(header.cut_records, 0u);
}

TEST(CarverBlock, BytesBeforeTheBeginAreNotScanned) {
    const auto recs = carvertest::records(h264());
    const Bytes bytes = carvertest::joined(recs, 0, 3);
    const BlockFindings f = scan(bytes, recs[0].size());
    ASSERT_EQ(f.runs.size(), 1u);
    EXPECT_EQ(f.runs[0].gops.front().offset, recs[0].size());
    EXPECT_EQ(f.runs[0].gops.size(), 2u);
}

sample::AudioRecordSpec tone(uint32_t time, size_t bytes) {
    sample::AudioRecordSpec a;
    a.time = time;
    a.milliseconds = 400;
    a.samples.assign(bytes, 0x7F);
    return a;
}

TEST(CarverBlock, AudioRecords) {
    const Bytes first = sample::audio_record(tone(kFrom, 1600));
    sample::AudioRecordSpec next = tone(kFrom + 1, 800);
    next.previous_size = sample::record_length(first);
    Bytes bytes = first;
    const Bytes second = sample::audio_record(next);
    bytes.insert(bytes.end(), second.begin(), second.end());
    const BlockFindings f = scan(bytes);
    ASSERT_EQ(f.audio.size(), 2u);
    EXPECT_EQ(f.audio[0].offset, 0u);
    EXPECT_EQ(f.audio[0].fields.time, kFrom);
    EXPECT_EQ(f.audio[0].fields.length, 1632u);
    EXPECT_EQ(f.audio[1].offset, first.size());
    EXPECT_TRUE(f.runs.empty());
}

TEST(CarverBlock, AudioDecoys) {
    sample::AudioRecordSpec too_long = tone(kFrom, 100);
    too_long.damage.count = kMaxAudioSample + 4;
    too_long.damage.length = kMaxAudioSample + 4 + kAudioHeaderSize;
    sample::AudioRecordSpec trailer = tone(kFrom, 100);
    trailer.damage.damaged_trailer = true;
    sample::AudioRecordSpec end_mark = tone(kFrom, 100);
    end_mark.damage.end_mark = true;
    sample::AudioRecordSpec sizes = tone(kFrom, 100);
    sizes.damage.length = 100;  // total size without the header
    for (const auto* spec : {&too_long, &trailer, &end_mark, &sizes}) {
        Bytes bytes = sample::audio_record(*spec);
        bytes.resize(bytes.size() + kMaxAudioSample + 64, 0);
        const BlockFindings f = scan(bytes);
        EXPECT_TRUE(f.audio.empty());
        EXPECT_EQ(f.cut_records, 0u);
    }
}

TEST(CarverKeyFrame, ParameterSetsOfAKeyFrame) {
    const sample::RecordedFrame& key = h264().gops[0].frames[0];
    const Bytes sps_pps = recover::stream_parameters(key.bytes.data(), key.bytes.size(), true);
    ASSERT_FALSE(sps_pps.empty());
    EXPECT_EQ(sps_pps[0] & 0x1F, 7);  // the SPS first
    EXPECT_LT(sps_pps.size(), key.bytes.size());
    const sample::RecordedFrame& p = h264().gops[0].frames[1];
    EXPECT_TRUE(recover::stream_parameters(p.bytes.data(), p.bytes.size(), true).empty());
    // Every GOP of one encoder carries the same parameter sets.
    const sample::RecordedFrame& later = h264().gops[3].frames[0];
    EXPECT_EQ(recover::stream_parameters(later.bytes.data(), later.bytes.size(), true), sps_pps);

    const sample::RecordedFrame& vol = mpeg4().gops[0].frames[0];
    const Bytes headers = recover::stream_parameters(vol.bytes.data(), vol.bytes.size(), false);
    ASSERT_GE(headers.size(), 4u);
    EXPECT_EQ(Bytes(headers.begin(), headers.begin() + 3), (Bytes{0, 0, 1}));
    EXPECT_LT(headers.size(), vol.bytes.size());
}

TEST(CarverKeyFrame, TheDecoderRefusesAPictureOfAnotherSize) {
    const sample::RecordedFrame& key = h264().gops[0].frames[0];
    recover::DecoderKeyFrameCheck check;
    EXPECT_TRUE(check.decodes(key.bytes.data(), key.bytes.size(), 96, 64));
    EXPECT_FALSE(check.decodes(key.bytes.data(), key.bytes.size(), 96, 80));
    EXPECT_EQ(check.decoded(), 2u);
}

TEST(CarverBlock, RecordTimes) {
    const auto seconds = [](uint8_t day, uint8_t month, uint16_t year, uint8_t h) {
        const RecordTime t{day, month, year, 5, 6, h};
        return recover::record_seconds(reinterpret_cast<const uint8_t*>(&t));
    };
    EXPECT_EQ(seconds(14, 3, 2026, 9), 1773479165u);  // 2026-03-14 09:06:05
    EXPECT_EQ(seconds(29, 2, 2024, 0), 1709165165u);
    EXPECT_EQ(seconds(29, 2, 2025, 0), 0u);
    EXPECT_EQ(seconds(1, 1, 1969, 0), 0u);
    EXPECT_EQ(seconds(0, 1, 2020, 0), 0u);
}

}  // namespace
