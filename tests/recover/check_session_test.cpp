// The check of a mounted session on sample volumes: every record counted on an untouched
// volume, each kind of damage named with the times around it, a copy cut short, a zero map
// slot, channels never written, progress and cancelling.
#include <filesystem>

#include <gtest/gtest.h>

#include "recover/check.h"
#include "tests/recover/check_images.h"
#include "tests/storage/storage_fixture.h"

namespace {

using checktest::audio_channel;
using checktest::gop_channel;
using recover::CheckFault;
using recover::CheckReport;
using recover::ChannelCheck;
using testkit::kT0;

// Count 29: video channel n is file 2 + n, audio channel 1 is file 19.
constexpr int32_t kVideo1 = 3;
constexpr int32_t kAudio1 = 19;

const ChannelCheck* find(const CheckReport& r, bool audio, int number) {
    for (const ChannelCheck& c : r.channels) {
        if (c.audio == audio && c.number == number) return &c;
    }
    return nullptr;
}

class CheckSessionTest : public testkit::StorageTest {
protected:
    CheckReport check(int32_t expected_rc = 0) {
        CheckReport report;
        EXPECT_EQ(recover::check_session(nullptr, &report), expected_rc);
        return report;
    }
};

TEST_F(CheckSessionTest, UntouchedVolumeIsReadableAndEveryRecordCounts) {
    const sample::ChannelData video = gop_channel(kVideo1, kT0, 30);
    const sample::ChannelData audio = audio_channel(kAudio1, kT0 + 2, 12);
    ASSERT_EQ(mount(checktest::recorder_with({video, audio})), 0);
    const CheckReport r = check();
    EXPECT_TRUE(r.readable());
    EXPECT_EQ(r.failures, 0u);
    EXPECT_EQ(r.records, 42u);
    EXPECT_EQ(r.bytes, checktest::bytes_of(video) + checktest::bytes_of(audio));

    const ChannelCheck* v1 = find(r, false, 1);
    ASSERT_NE(v1, nullptr);
    EXPECT_EQ(v1->channel, kVideo1);
    EXPECT_EQ(v1->records, 30u);
    EXPECT_EQ(v1->first_time, kT0);
    EXPECT_EQ(v1->last_time, kT0 + 29);
    EXPECT_FALSE(v1->empty);
    const ChannelCheck* a1 = find(r, true, 1);
    ASSERT_NE(a1, nullptr);
    EXPECT_EQ(a1->channel, kAudio1);
    EXPECT_EQ(a1->records, 12u);
    EXPECT_EQ(a1->first_time, kT0 + 2);
    EXPECT_EQ(a1->last_time, kT0 + 13);
    // Sixteen video and four audio channels; those never written are empty, not damaged.
    EXPECT_EQ(r.channels.size(), 20u);
    const ChannelCheck* v2 = find(r, false, 2);
    ASSERT_NE(v2, nullptr);
    EXPECT_TRUE(v2->empty);
    EXPECT_TRUE(v2->spans.empty());
}

struct DamageCase {
    const char* name;
    void (*apply)(sample::RecordDamage*);
    CheckFault fault;
    bool header_time_known;  // whether the damaged header still names its time
};

class CheckDamageTest : public CheckSessionTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(CheckDamageTest, OneDamagedRecordIsOneSpanBetweenItsNeighbours) {
    const DamageCase& c = GetParam();
    const sample::ChannelData video = gop_channel(kVideo1, kT0, 30, [&](int i, sample::RecordDamage* d) {
        if (i == 10) c.apply(d);
    });
    ASSERT_EQ(mount(checktest::recorder_with({video})), 0);
    const CheckReport r = check();
    EXPECT_FALSE(r.readable());
    EXPECT_EQ(r.failures, 1u);
    const ChannelCheck* v1 = find(r, false, 1);
    ASSERT_NE(v1, nullptr);
    EXPECT_EQ(v1->records, 29u);
    ASSERT_EQ(v1->spans.size(), 1u);
    const recover::UnreadableSpan& s = v1->spans[0];
    EXPECT_EQ(s.fault, c.fault) << recover::check_fault_name(s.fault);
    EXPECT_EQ(s.error, 0);
    EXPECT_EQ(s.from_time, c.header_time_known ? kT0 + 10 : kT0 + 9);
    EXPECT_EQ(s.to_time, kT0 + 11);
    EXPECT_EQ(s.channel_offset, checktest::bytes_before(video, 10));
    EXPECT_EQ(s.bytes, video.writes[10].bytes.size());
    EXPECT_GT(s.image_offset, 0u);
    EXPECT_GT(s.image_end, s.image_offset);
    EXPECT_EQ(v1->bytes, checktest::bytes_of(video) - s.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, CheckDamageTest,
    ::testing::Values(
        DamageCase{"StartBits", [](sample::RecordDamage* d) { d->broken_start_bits = true; },
                   CheckFault::BadStartBits, false},
        DamageCase{"Trailer", [](sample::RecordDamage* d) { d->damaged_trailer = true; },
                   CheckFault::BadTrailer, true},
        DamageCase{"Length", [](sample::RecordDamage* d) { d->length = 0x200000; },
                   CheckFault::BadLength, false},
        DamageCase{"FrameCount", [](sample::RecordDamage* d) { d->count = 17; },
                   CheckFault::BadLength, false}),
    [](const ::testing::TestParamInfo<DamageCase>& param) { return std::string(param.param.name); });

TEST_F(CheckSessionTest, DamagedAudioRecordIsNamedToo) {
    const sample::ChannelData video = gop_channel(kVideo1, kT0, 5);
    const sample::ChannelData audio = audio_channel(kAudio1, kT0, 8, [](int i, sample::RecordDamage* d) {
        if (i == 3) d->length = 40000;
    });
    ASSERT_EQ(mount(checktest::recorder_with({video, audio})), 0);
    const CheckReport r = check();
    EXPECT_EQ(r.failures, 1u);
    const ChannelCheck* a1 = find(r, true, 1);
    ASSERT_NE(a1, nullptr);
    ASSERT_EQ(a1->spans.size(), 1u);
    EXPECT_EQ(a1->spans[0].fault, CheckFault::BadLength);
    EXPECT_EQ(a1->spans[0].from_time, kT0 + 2);
    EXPECT_EQ(a1->spans[0].to_time, kT0 + 4);
    EXPECT_EQ(a1->records, 7u);
    EXPECT_TRUE(find(r, false, 1)->spans.empty());
}

TEST_F(CheckSessionTest, TwoDamagedRecordsInARowAreOneSpan) {
    const sample::ChannelData video = gop_channel(kVideo1, kT0, 20, [](int i, sample::RecordDamage* d) {
        if (i == 4) d->damaged_trailer = true;
        if (i == 5) d->broken_start_bits = true;
    });
    ASSERT_EQ(mount(checktest::recorder_with({video})), 0);
    const CheckReport r = check();
    const ChannelCheck* v1 = find(r, false, 1);
    ASSERT_NE(v1, nullptr);
    ASSERT_EQ(v1->spans.size(), 1u);
    EXPECT_EQ(v1->spans[0].fault, CheckFault::BadTrailer);
    EXPECT_EQ(v1->spans[0].from_time, kT0 + 4);
    EXPECT_EQ(v1->spans[0].to_time, kT0 + 6);
    EXPECT_EQ(v1->spans[0].bytes, video.writes[4].bytes.size() + video.writes[5].bytes.size());
    EXPECT_EQ(v1->records, 18u);
}

TEST_F(CheckSessionTest, CutShortCopyEndsInAReadFailureToTheEnd) {
    const std::string path = checktest::cut_short_image(dir_);
    ASSERT_GE(platform::attach_image(path), 0);
    DiskEntry table[kDiskTableSize];
    ASSERT_EQ(api_scan_disks(table), 0);
    ASSERT_EQ(api_mount_disk(0), 0) << table[0].fs_type;
    ASSERT_EQ(api_mount_session(0), 0);
    const CheckReport r = check();
    EXPECT_FALSE(r.readable());
    const ChannelCheck* v1 = find(r, false, 1);
    ASSERT_NE(v1, nullptr);
    ASSERT_EQ(v1->spans.size(), 1u);
    const recover::UnreadableSpan& s = v1->spans[0];
    EXPECT_EQ(s.fault, CheckFault::ReadFailure);
    EXPECT_EQ(s.error, DVR_EDISK);
    // The GOP of second 20 begins in the sector where the copy ends; the one before it ends
    // there or just before.
    EXPECT_EQ(s.from_time, kT0 + 19);
    EXPECT_EQ(s.to_time, 0u);
    EXPECT_GE(v1->records, 19u);
    EXPECT_LE(v1->records, 20u);
    EXPECT_EQ(v1->last_time, kT0 + v1->records - 1);
    // Where the span begins lies at or just before the end of the copy.
    const uint64_t file_end = std::filesystem::file_size(path);
    EXPECT_LE(s.image_offset, file_end);
    EXPECT_GT(s.image_offset + 4096, file_end);
}

TEST_F(CheckSessionTest, ZeroSlotInsideTheDataIsAReadFailureAndTheRecordsBehindItCount) {
    sample::ChannelData video = gop_channel(kVideo1, kT0, 60);
    video.zero_block = 2;  // the third 4 KiB block
    ASSERT_EQ(mount(checktest::recorder_with({video})), 0);
    const CheckReport r = check();
    const ChannelCheck* v1 = find(r, false, 1);
    ASSERT_NE(v1, nullptr);
    ASSERT_EQ(v1->spans.size(), 1u);
    const recover::UnreadableSpan& s = v1->spans[0];
    EXPECT_EQ(s.fault, CheckFault::ReadFailure);
    EXPECT_EQ(s.error, DVR_ENEED_FSCK);
    EXPECT_GT(s.to_time, s.from_time);
    EXPECT_NE(s.to_time, 0u);
    // The lost block held a few records; the rest are read.
    EXPECT_GT(v1->records, 40u);
    EXPECT_LT(v1->records, 60u);
    EXPECT_EQ(v1->last_time, kT0 + 59);
    EXPECT_LE(s.channel_offset, 2u * 4096);
    EXPECT_GE(s.channel_offset + s.bytes, 3u * 4096);
}

TEST_F(CheckSessionTest, ChannelWhoseHeadSlotIsZeroIsEmptyWhenNeverWritten) {
    sample::ChannelData never;
    never.channel = kVideo1 + 1;
    never.zero_block = 0;
    sample::ChannelData broken = gop_channel(kVideo1 + 2, kT0, 3);
    broken.zero_block = 0;
    ASSERT_EQ(mount(checktest::recorder_with({gop_channel(kVideo1, kT0, 3), never, broken})), 0);
    const CheckReport r = check();
    EXPECT_TRUE(find(r, false, 2)->empty);
    EXPECT_TRUE(find(r, false, 2)->spans.empty());
    // Stored data whose head slot names no block cannot be opened: all of it is unreadable.
    const ChannelCheck* v3 = find(r, false, 3);
    EXPECT_FALSE(v3->empty);
    EXPECT_EQ(v3->open_error, DVR_ENEED_FSCK);
    ASSERT_EQ(v3->spans.size(), 1u);
    EXPECT_EQ(v3->spans[0].to_time, 0u);
    EXPECT_EQ(r.failures, 1u);
    EXPECT_EQ(r.records, 3u);
}

class Recorder : public recover::CheckProgress {
public:
    explicit Recorder(int cancel_after) : cancel_after_(cancel_after) {}
    void progress(uint64_t done, uint64_t total) override { calls.push_back({done, total}); }
    bool cancelled() override { return cancel_after_ >= 0 && ++asked_ > cancel_after_; }
    std::vector<std::pair<uint64_t, uint64_t>> calls;

private:
    int cancel_after_;
    int asked_ = 0;
};

TEST_F(CheckSessionTest, ProgressRisesToTheTotalOfTheChannels) {
    const sample::ChannelData video = gop_channel(kVideo1, kT0, 30);
    const sample::ChannelData audio = audio_channel(kAudio1, kT0, 30);
    ASSERT_EQ(mount(checktest::recorder_with({video, audio})), 0);
    Recorder progress(-1);
    CheckReport r;
    ASSERT_EQ(recover::check_session(&progress, &r), 0);
    ASSERT_FALSE(progress.calls.empty());
    const uint64_t total = checktest::bytes_of(video) + checktest::bytes_of(audio);
    for (size_t i = 0; i < progress.calls.size(); ++i) {
        EXPECT_EQ(progress.calls[i].second, total);
        if (i > 0) {
            EXPECT_GE(progress.calls[i].first, progress.calls[i - 1].first);
        }
    }
    EXPECT_EQ(progress.calls.back().first, total);
}

TEST_F(CheckSessionTest, CancelStopsWithTheCodeAndKeepsWhatWasChecked) {
    ASSERT_EQ(mount(checktest::recorder_with({gop_channel(kVideo1, kT0, 30)})), 0);
    Recorder progress(5);
    CheckReport r;
    EXPECT_EQ(recover::check_session(&progress, &r), recover::CHECK_ECANCELED);
    const ChannelCheck* v1 = find(r, false, 1);
    ASSERT_NE(v1, nullptr);
    EXPECT_EQ(v1->records, 5u);
    EXPECT_EQ(r.records, 5u);
}

TEST_F(CheckSessionTest, WithoutASessionNothingIsChecked) {
    CheckReport r;
    r.failures = 7;
    EXPECT_EQ(recover::check_session(nullptr, &r), DVR_ENOTMOUNTED);
    EXPECT_TRUE(r.channels.empty());
    EXPECT_EQ(r.failures, 0u);
}

}  // namespace
