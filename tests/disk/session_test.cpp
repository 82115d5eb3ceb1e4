// Backup sessions: selecting them, reading their channels in linear slot order.
#include <gtest/gtest.h>

#include "disk/disk_i.h"
#include "tests/testkit/disk_fixture.h"
#include "tests/testkit/image_tools.h"
#include "tests/testkit/stderr_capture.h"
#include "tests/testkit/volume_helpers.h"

namespace {

using testkit::kT0;

sample::SessionSpec session(uint32_t slot, int32_t channel, size_t bytes_per_write) {
    sample::SessionSpec s;
    s.slot = slot;
    s.name = "SESSION " + std::to_string(slot);
    s.channel_count = 7;
    s.data_channel_count = 4;
    s.content.channels = {testkit::steady_channel(channel, kT0, kT0 + 600, bytes_per_write)};
    return s;
}

class SessionTest : public testkit::DiskLayerTest {};

TEST_F(SessionTest, ChannelsReadBackAcrossBlocksWithoutWrapping) {
    sample::SessionSpec a = session(0, 3, 1000);  // 40 writes: about ten 4 KiB blocks
    sample::SessionSpec b = session(2, 4, 333);
    const std::string path = testkit::make_image(dir_, "bk.img", testkit::small_backup({a, b}));
    ASSERT_EQ(testkit::mount_first(path), 0);
    ASSERT_EQ(backup_volume_count(), 4);

    ASSERT_EQ(backup_mount_session(backup_volume_records() + 0), 0);
    int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(testkit::read_all(fd, 1500), testkit::stored_bytes(a.content.channels[0]));
    EXPECT_EQ(backup_channel_size(3), 40u * 1000u);
    // Seeking forward from the tail stays there: the map never wraps to slot 0.
    ChannelPosition tail, p;
    ASSERT_EQ(backup_tell(fd, &tail), 0);
    ASSERT_EQ(backup_lseek(fd, 1 << 30, SEEK_CURRENT), 0);
    ASSERT_EQ(backup_tell(fd, &p), 0);
    EXPECT_EQ(p.block, tail.block);
    EXPECT_EQ(p.offset, tail.offset);
    ASSERT_EQ(backup_lseek(fd, -(1 << 30), SEEK_CURRENT), 0);
    ASSERT_EQ(backup_tell(fd, &p), 0);
    EXPECT_EQ(p.offset, 0);
    EXPECT_EQ(backup_close(fd), 0);
    ASSERT_EQ(backup_unmount_session(), 0);

    ASSERT_EQ(backup_mount_session(backup_volume_records() + 2), 0);
    fd = backup_open(4);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(testkit::read_all(fd, 4096), testkit::stored_bytes(b.content.channels[0]));
}

TEST_F(SessionTest, BlocksAreWhereTheDiskLayoutPutsThem) {
    const std::string path =
        testkit::make_image(dir_, "bk.img", testkit::small_backup({session(0, 3, 100)}, 32));
    ASSERT_EQ(testkit::mount_first(path), 0);
    // 32 slots: headers up to sector 129 + 270 x 32, block 1 right after.
    EXPECT_EQ(bkfs_block_sector(1, 0), 8769u);
    EXPECT_EQ(bkfs_block_sector(2, 1023), 8769u + 65536u + 1u);
    ASSERT_EQ(backup_mount_session(backup_volume_records()), 0);
    int32_t fd = backup_open(3);
    ChannelPosition head;
    ASSERT_EQ(backup_tell(fd, &head), 0);
    // The first byte of the channel is on disk at its block's first sector.
    const auto sector = testkit::read_sector(path, 2048 + bkfs_block_sector(head.block, 0));
    const auto expected = testkit::pattern_bytes(3, kT0, 100);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), sector.begin()));
}

TEST_F(SessionTest, EmptySlotCannotBeSelected) {
    const std::string path =
        testkit::make_image(dir_, "bk.img", testkit::small_backup({session(0, 3, 50), session(3, 3, 50)}));
    ASSERT_EQ(testkit::mount_first(path), 0);
    ASSERT_EQ(backup_volume_count(), 4);
    EXPECT_EQ(backup_volume_records()[2].created, 0u);
    EXPECT_EQ(backup_mount_session(backup_volume_records() + 2), DVR_EINVAL);
    EXPECT_EQ(backup_mount_session(backup_volume_records() + 3), 0);
}

TEST_F(SessionTest, DamagedHeaderIsRefusedWhileOthersStillOpen) {
    sample::SessionSpec bad = session(1, 3, 50);
    bad.bad_checksum = true;
    const std::string path =
        testkit::make_image(dir_, "bk.img", testkit::small_backup({session(0, 3, 50), bad}));
    ASSERT_EQ(testkit::mount_first(path), 0);
    testkit::StderrCapture capture;
    dvrfs_set_trace(true);
    EXPECT_EQ(backup_mount_session(backup_volume_records() + 1), DVR_ENEED_FSCK);
    dvrfs_set_trace(false);
    EXPECT_NE(capture.text().find("Back up session Checksum"), std::string::npos);
    EXPECT_EQ(backup_selected_volume(), nullptr);
    EXPECT_EQ(backup_mount_session(backup_volume_records() + 0), 0);
}

TEST_F(SessionTest, HeaderWithTooManyChannelsIsRefused) {
    sample::SessionSpec wide = session(0, 3, 50);
    wide.channel_count = 33;
    const std::string path = testkit::make_image(dir_, "bk.img", testkit::small_backup({wide}));
    ASSERT_EQ(testkit::mount_first(path), 0);
    EXPECT_EQ(backup_mount_session(backup_volume_records()), DVR_ENEED_FSCK);
}

TEST_F(SessionTest, ZeroSlotInTheSessionMapStopsTheRead) {
    sample::SessionSpec s = session(0, 3, 1000);
    s.content.channels[0].zero_block = 3;
    const std::string path = testkit::make_image(dir_, "bk.img", testkit::small_backup({s}));
    ASSERT_EQ(testkit::mount_volume(path, 0), 0);
    int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> buf(40000);
    EXPECT_EQ(backup_read(fd, buf.data(), 40000), DVR_ENEED_FSCK);
}

TEST_F(SessionTest, RecordNamingASlotBeyondTheDiskIsRefused) {
    const std::string path = testkit::make_image(dir_, "bk.img", testkit::small_backup({session(0, 3, 50)}));
    // Slot 0's header says it lives in slot 7 of a 4-slot disk; its checksum is kept valid.
    const uint64_t header = (2048 + session_header_sector(0)) * 512;
    const uint32_t seven = 7;
    testkit::write_bytes(path, header + 128, &seven, 4);
    std::vector<uint8_t> bytes(kSessionChecksummedBytes);
    for (size_t i = 0; i < bytes.size(); i += 512) {
        const auto sector = testkit::read_sector(path, header / 512 + i / 512);
        std::copy(sector.begin(), sector.begin() + std::min<size_t>(512, bytes.size() - i), bytes.begin() + i);
    }
    std::fill(bytes.begin() + kSessionChecksumOffset, bytes.begin() + kSessionChecksumOffset + 4, 0);
    const uint32_t balance = 0u - testkit::word_sum(bytes.data(), bytes.size());
    testkit::write_bytes(path, header + kSessionChecksumOffset, &balance, 4);

    ASSERT_EQ(testkit::mount_first(path), 0);
    EXPECT_EQ(backup_volume_records()[0].slot, 7u);
    EXPECT_EQ(backup_mount_session(backup_volume_records()), DVR_ENEED_FSCK);
    EXPECT_EQ(backup_selected_volume(), nullptr);
}

TEST_F(SessionTest, UnmountedDiskAndUnselectedVolumeAreReported) {
    EXPECT_EQ(backup_open(3), DVR_ENOTMOUNTED);
    EXPECT_EQ(backup_unmount_session(), DVR_ENOTMOUNTED);
    EXPECT_EQ(backup_mount_session(backup_volume_records()), DVR_EINVAL);
}

}  // namespace
