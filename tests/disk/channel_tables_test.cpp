// Channel tables that a damaged recorder volume could hold: each must be refused or give an
// error code, never a read outside a table.
#include <cstring>

#include <gtest/gtest.h>

#include "tests/testkit/disk_fixture.h"
#include "tests/testkit/image_tools.h"
#include "tests/testkit/volume_helpers.h"

namespace {

using testkit::kT0;

class ChannelTablesTest : public testkit::DiskLayerTest {
protected:
    void SetUp() override {
        DiskLayerTest::SetUp();
        sample::VolumeContent content;
        content.channels.push_back(testkit::steady_channel(3, kT0, kT0 + 15 * 12, 1000));
        content.channels.push_back(testkit::steady_channel(4, kT0, kT0 + 15 * 12, 1000));
        summary_ = testkit::build_image(dir_, "rec.img", testkit::small_recorder(content));
        path_ = summary_.path;
        sb_sector_ = summary_.volumes.at(0).super_block_sector;
        sb_ = read_sb();
    }

    DvrSuperBlock read_sb() {
        DvrSuperBlock sb;
        std::vector<uint8_t> s = testkit::read_sector(path_, sb_sector_);
        std::memcpy(&sb, s.data(), sizeof sb);
        return sb;
    }

    void patch_sb(const std::function<void(DvrSuperBlock&)>& edit) {
        testkit::patch_recorder_sb(path_, sb_sector_, edit);
    }

    // Rewrites a u32 field of channel c's information record.
    void patch_info(int c, size_t field_offset, uint32_t value) {
        testkit::write_bytes(path_, uint64_t{sb_.info_sector} * 512 + c * 32 + field_offset, &value, 4);
    }

    void patch_map(int c, uint32_t slot, uint16_t value) {
        const uint64_t at = uint64_t{sb_.map_sector} * 512 +
                            (uint64_t{static_cast<uint32_t>(c)} * sb_.map_sectors_per_channel * 256 + slot) * 2;
        testkit::write_bytes(path_, at, &value, 2);
    }

    uint32_t head_slot(int c) {
        std::vector<uint8_t> s = testkit::read_sector(path_, sb_.info_sector + c * 32 / 512);
        uint32_t v;
        std::memcpy(&v, s.data() + (c * 32) % 512 + 12, 4);
        return v;
    }

    sample::ImageSummary summary_;
    std::string path_;
    uint64_t sb_sector_ = 0;
    DvrSuperBlock sb_{};
};

TEST_F(ChannelTablesTest, ChannelCountAboveThirtyTwoIsRefused) {
    patch_sb([](DvrSuperBlock& sb) { sb.channel_count = 33; });
    EXPECT_EQ(testkit::mount_volume(path_), DVR_ENEED_FSCK);
    EXPECT_EQ(backup_selected_volume(), nullptr);
    EXPECT_EQ(backup_unmount_disk(), 0);
}

TEST_F(ChannelTablesTest, InformationTableShorterThanTheChannelsIsRefused) {
    patch_sb([](DvrSuperBlock& sb) {
        sb.channel_count = 29;
        sb.info_sectors = 1;  // 512 bytes hold 16 records, not 29
        sb.map_sectors = 29 * sb.map_sectors_per_channel;
    });
    EXPECT_EQ(testkit::mount_volume(path_), DVR_ENEED_FSCK);
}

TEST_F(ChannelTablesTest, MapAreaShorterThanTheChannelsIsRefused) {
    patch_sb([](DvrSuperBlock& sb) { sb.map_sectors = 6 * sb.map_sectors_per_channel; });
    EXPECT_EQ(testkit::mount_volume(path_), DVR_ENEED_FSCK);
}

TEST_F(ChannelTablesTest, HugeTablesAreRefusedBeforeAllocating) {
    patch_sb([](DvrSuperBlock& sb) {
        sb.map_sectors_per_channel = 0x01000000;
        sb.map_sectors = 0xF0000000;
    });
    EXPECT_EQ(testkit::mount_volume(path_), DVR_ENEED_FSCK);
}

TEST_F(ChannelTablesTest, TablesBeyondTheDiskGiveDiskError) {
    patch_sb([](DvrSuperBlock& sb) { sb.map_sector = 0x7FFFFFF0; });
    EXPECT_EQ(testkit::mount_volume(path_), DVR_EDISK);
    EXPECT_EQ(backup_selected_volume(), nullptr);
}

TEST_F(ChannelTablesTest, HeadSlotBeyondTheMapCannotBeOpened) {
    patch_info(3, 12, 256);  // the map has slots 0..255
    ASSERT_EQ(testkit::mount_volume(path_), 0);
    EXPECT_EQ(backup_open(3), DVR_ENEED_FSCK);
    EXPECT_GE(backup_open(4), 0);
}

TEST_F(ChannelTablesTest, TailSlotBeyondTheMapCannotBeOpened) {
    patch_info(3, 20, 70000);
    ASSERT_EQ(testkit::mount_volume(path_), 0);
    EXPECT_EQ(backup_open(3), DVR_ENEED_FSCK);
}

TEST_F(ChannelTablesTest, OffsetsBeyondTheBlockCannotBeOpened) {
    patch_info(3, 16, 4096);
    patch_info(4, 24, 5000);
    ASSERT_EQ(testkit::mount_volume(path_), 0);
    EXPECT_EQ(backup_open(3), DVR_ENEED_FSCK);
    EXPECT_EQ(backup_open(4), DVR_ENEED_FSCK);
}

TEST_F(ChannelTablesTest, MapValueBeyondTheDataAreasStopsTheRead) {
    const uint32_t slot = head_slot(3) + 1;
    patch_map(3, slot, static_cast<uint16_t>(sb_.max_block + 1));
    ASSERT_EQ(testkit::mount_volume(path_), 0);
    int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> buf(12000);
    EXPECT_EQ(backup_read(fd, buf.data(), 12000), DVR_ENEED_FSCK);
}

TEST_F(ChannelTablesTest, BlockPastTheEndOfTheImageGivesDiskErrorAfterTheReadableBytes) {
    // The volume claims more blocks than the image holds: the sector read fails.
    patch_sb([](DvrSuperBlock& sb) { sb.max_block = 65535; sb.area2_sector = 0x7FFF0000; });
    const uint32_t slot = head_slot(3) + 1;
    const uint16_t far_block = static_cast<uint16_t>(read_sb().area2_block + 5);
    patch_map(3, slot, far_block);
    ASSERT_EQ(testkit::mount_volume(path_), 0);
    int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> buf(12000);
    EXPECT_EQ(backup_read(fd, buf.data(), 12000), 4096);  // the head block, then the failure
    EXPECT_EQ(backup_read(fd, buf.data(), 12000), DVR_EDISK);
}

}  // namespace
