// Time seeks through the super index and the index, on recorder volumes and backup sessions.
#include <cstring>

#include <gtest/gtest.h>

#include "tests/testkit/disk_fixture.h"
#include "tests/testkit/image_tools.h"
#include "tests/testkit/stderr_capture.h"
#include "tests/testkit/volume_helpers.h"

namespace {

using sample::ChannelData;
using testkit::kT0;

constexpr uint32_t kHours = 3;
constexpr size_t kBytesPerWrite = 700;

// The bytes that a read at the located position must start with: the write made at time t.
std::vector<uint8_t> write_at(int32_t channel, uint32_t t) {
    return testkit::pattern_bytes(channel, t, kBytesPerWrite);
}

std::vector<uint8_t> read_n(int32_t fd, size_t n) {
    std::vector<uint8_t> buf(n);
    int32_t got = backup_read(fd, buf.data(), static_cast<int32_t>(n));
    buf.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return buf;
}

class TimeSeekTest : public testkit::DiskLayerTest {
protected:
    // Channel 3 records for three hours; channel 4 starts in the second hour. The index
    // channels wrap their rings.
    void build_recorder() {
        sample::VolumeContent content;
        content.index_head_slot = 250;
        content.channels.push_back(
            testkit::steady_channel(3, kT0, kT0 + kHours * 3600, kBytesPerWrite));
        content.channels.push_back(
            testkit::steady_channel(4, kT0 + 3600, kT0 + kHours * 3600, kBytesPerWrite));
        content.channels[0].head_slot = 200;
        path_ = testkit::make_image(dir_, "rec.img", testkit::small_recorder(content));
        ASSERT_EQ(testkit::mount_volume(path_), 0);
    }

    std::string path_;
};

TEST_F(TimeSeekTest, MediaChannelLandsOnTheWriteOfTheInterval) {
    build_recorder();
    int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    for (uint32_t t : {kT0, kT0 + 15, kT0 + 3600, kT0 + 3600 + 7, kT0 + 2 * 3600 + 1799,
                       kT0 + kHours * 3600 - 15}) {
        ChannelPosition p{};
        ASSERT_EQ(backup_locate_index(fd, static_cast<int32_t>(t), &p), 0) << t;
        ChannelPosition now;
        ASSERT_EQ(backup_tell(fd, &now), 0);
        EXPECT_EQ(p.block, now.block);
        EXPECT_EQ(p.offset, now.offset);
        // 7 seconds past an interval boundary is rounded down to it.
        EXPECT_EQ(read_n(fd, kBytesPerWrite), write_at(3, t / 15 * 15)) << t;
    }
}

TEST_F(TimeSeekTest, ChannelThatStartsLaterLandsOnItsFirstWrite) {
    build_recorder();
    int32_t fd = backup_open(4);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(backup_locate_index(fd, static_cast<int32_t>(kT0 + 60), nullptr), 0);
    EXPECT_EQ(read_n(fd, kBytesPerWrite), write_at(4, kT0 + 3600));
    ASSERT_EQ(backup_locate_index(fd, static_cast<int32_t>(kT0 + 3600 + 30), nullptr), 0);
    EXPECT_EQ(read_n(fd, kBytesPerWrite), write_at(4, kT0 + 3600 + 30));
}

TEST_F(TimeSeekTest, IndexChannelsLandOnTheRecordOfTheTime) {
    build_recorder();
    const uint32_t t = kT0 + 3600 + 45;
    int32_t index = backup_open(DVR_CH_INDEX);
    int32_t slog = backup_open(DVR_CH_SLOG);
    int32_t super = backup_open(DVR_CH_SUPER);
    ASSERT_GE(super, 0);
    ASSERT_EQ(backup_locate_index(index, static_cast<int32_t>(t), nullptr), 0);
    ASSERT_EQ(backup_locate_index(slog, static_cast<int32_t>(t), nullptr), 0);
    ASSERT_EQ(backup_locate_index(super, static_cast<int32_t>(t), nullptr), 0);

    uint32_t stamp = 0;
    ASSERT_EQ(backup_read(index, &stamp, 4), 4);
    EXPECT_EQ(stamp, t);
    uint32_t record[4] = {};
    ASSERT_EQ(backup_read(slog, record, 16), 16);
    EXPECT_EQ(record[0], t);
    EXPECT_EQ(record[2], (1u << 3) | (1u << 4));  // both channels wrote in that interval
    uint32_t entry[6] = {};
    ASSERT_EQ(backup_read(super, entry, 24), 24);
    EXPECT_EQ(entry[4], kT0 + 3600);
    EXPECT_EQ(entry[5], (1u << 3) | (1u << 4));
}

TEST_F(TimeSeekTest, TimesOutsideTheRecordingsGiveNoIndex) {
    build_recorder();
    int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(backup_locate_index(fd, static_cast<int32_t>(kT0 - 1), nullptr), DVR_ENOINDEX);
    EXPECT_EQ(backup_locate_index(fd, static_cast<int32_t>(kT0 + kHours * 3600 + 15), nullptr),
              DVR_ENOINDEX);
    EXPECT_EQ(backup_locate_index(fd, -5, nullptr), DVR_ENOINDEX);
}

TEST_F(TimeSeekTest, HourBeyondTheSuperIndexFailsCleanly) {
    build_recorder();
    // A newest time past the stored hours: the super index has no entry for it.
    ASSERT_EQ(backup_unmount_session(), 0);
    ASSERT_EQ(backup_unmount_disk(), 0);
    platform::detach_all();
    sample::DiskSpec spec = testkit::small_recorder({});
    spec.bare.recorder.content.channels.push_back(
        testkit::steady_channel(3, kT0, kT0 + 3600, kBytesPerWrite));
    spec.bare.recorder.oldest = kT0;
    spec.bare.recorder.newest = kT0 + 5 * 3600;
    spec.bare.recorder.content.index_end = kT0 + 3600 - 15;
    path_ = testkit::make_image(dir_, "short.img", spec);
    ASSERT_EQ(testkit::mount_volume(path_), 0);
    int32_t media = backup_open(3);
    int32_t super = backup_open(DVR_CH_SUPER);
    ASSERT_GE(super, 0);
    testkit::StderrCapture capture;
    dvrfs_set_trace(true);
    const int32_t late = static_cast<int32_t>(kT0 + 5 * 3600);
    EXPECT_EQ(backup_locate_index(media, late, nullptr), DVR_ENOINDEX);
    EXPECT_EQ(backup_locate_index(super, late, nullptr), DVR_ENOINDEX);
    dvrfs_set_trace(false);
    EXPECT_NE(capture.text().find("Fail to read super index by Super Index Size -->0"),
              std::string::npos);
    // The seek's own descriptors were closed again: 30 more opens still fit.
    for (int i = 0; i < kDescriptorCount - 2; ++i) EXPECT_GE(backup_open(3), 0);
}

TEST_F(TimeSeekTest, SuperIndexChannelIsPositionedWithoutReading) {
    build_recorder();
    int32_t super = backup_open(DVR_CH_SUPER);
    ASSERT_GE(super, 0);
    ChannelPosition p;
    ASSERT_EQ(backup_locate_index(super, static_cast<int32_t>(kT0 + 2 * 3600 + 100), &p), 0);
    // Entry 2 of the super index: 48 bytes from its head.
    ASSERT_EQ(backup_lseek(super, 48, SEEK_HEAD), 0);
    ChannelPosition expected;
    ASSERT_EQ(backup_tell(super, &expected), 0);
    EXPECT_EQ(p.block, expected.block);
    EXPECT_EQ(p.offset, expected.offset);
}

// --- Backup sessions --------------------------------------------------------------------------

sample::SessionSpec session(uint32_t slot, const std::string& name) {
    sample::SessionSpec s;
    s.slot = slot;
    s.name = name;
    s.channel_count = 8;
    s.data_channel_count = 5;
    return s;
}

// Session blocks lie 32 MiB apart on the disk; small writes keep the block count low.
constexpr size_t kSessionBytes = 100;

TEST_F(TimeSeekTest, SessionChannelTakesItsPositionFromItsOwnColumn) {
    sample::SessionSpec s = session(1, "SWAPPED");
    ChannelData a = testkit::steady_channel(3, kT0, kT0 + 2 * 3600, kSessionBytes);
    ChannelData b = testkit::steady_channel(5, kT0, kT0 + 2 * 3600, kSessionBytes);
    a.index_column = 4;  // channel 3 in column 4, channel 5 in column 0
    b.index_column = 0;
    s.content.channels = {a, b};
    path_ = testkit::make_image(dir_, "bk.img", testkit::small_backup({s}));
    ASSERT_EQ(testkit::mount_volume(path_, 1), 0);
    for (int32_t ch : {3, 5}) {
        int32_t fd = backup_open(ch);
        ASSERT_GE(fd, 0);
        const uint32_t t = kT0 + 3600 + 150;
        ASSERT_EQ(backup_locate_index(fd, static_cast<int32_t>(t + 9), nullptr), 0);
        EXPECT_EQ(read_n(fd, kSessionBytes), testkit::pattern_bytes(ch, t, kSessionBytes)) << ch;
        ASSERT_EQ(backup_locate_index(fd, static_cast<int32_t>(kT0), nullptr), 0);
        EXPECT_EQ(read_n(fd, kSessionBytes), testkit::pattern_bytes(ch, kT0, kSessionBytes)) << ch;
    }
}

TEST_F(TimeSeekTest, SessionIndexColumnBeyondTheRecordIsRefused) {
    sample::SessionSpec s = session(0, "BAD COLUMN");
    ChannelData a = testkit::steady_channel(3, kT0, kT0 + 600, kSessionBytes);
    a.index_column = 5;  // records have columns 0..4
    s.content.channels = {a};
    path_ = testkit::make_image(dir_, "bk.img", testkit::small_backup({s}));
    EXPECT_EQ(testkit::mount_volume(path_, 0), DVR_ENEED_FSCK);
    EXPECT_EQ(backup_selected_volume(), nullptr);
}

TEST_F(TimeSeekTest, BackupTraceOmitsTheCountOnAShortSuperIndexRead) {
    sample::SessionSpec s = session(0, "SHORT");
    s.content.channels = {testkit::steady_channel(3, kT0, kT0 + 600, 100)};
    s.oldest = kT0;
    s.newest = kT0 + 4 * 3600;
    s.content.index_end = kT0 + 600;
    path_ = testkit::make_image(dir_, "bk.img", testkit::small_backup({s}));
    ASSERT_EQ(testkit::mount_volume(path_, 0), 0);
    int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    testkit::StderrCapture capture;
    dvrfs_set_trace(true);
    EXPECT_EQ(backup_locate_index(fd, static_cast<int32_t>(kT0 + 3 * 3600), nullptr), DVR_ENOINDEX);
    dvrfs_set_trace(false);
    const std::string text = capture.text();
    EXPECT_NE(text.find("Fail to read super index by Super Index Size"), std::string::npos);
    EXPECT_EQ(text.find("-->"), std::string::npos);
}

}  // namespace
