// Channels the recorder never wrote: their information record says 0 bytes and their head slot
// may name no block. They open as empty; a zero slot inside stored data is still damage.
#include <gtest/gtest.h>

#include "disk/channel_i.h"
#include "tests/testkit/disk_fixture.h"
#include "tests/testkit/image_tools.h"
#include "tests/testkit/volume_helpers.h"

namespace {

using sample::ChannelData;
using sample::VolumeContent;
using testkit::kT0;

class EmptyChannelTest : public testkit::DiskLayerTest {
protected:
    // Channel 3 holds data; channel 5 was never written and its only map slot holds 0, as on a
    // recorder whose log channel stayed empty.
    void build(std::function<void(VolumeContent&)> edit = {}) {
        VolumeContent content;
        content.channels.push_back(testkit::steady_channel(3, kT0, kT0 + 15 * 8, 700));
        ChannelData never;
        never.channel = 5;
        never.zero_block = 0;
        content.channels.push_back(never);
        if (edit) edit(content);
        path_ = testkit::make_image(dir_, "rec.img", testkit::small_recorder(content));
        ASSERT_EQ(testkit::mount_volume(path_), 0);
    }

    std::string path_;
};

TEST_F(EmptyChannelTest, NeverWrittenChannelOpensAndReadsNothing) {
    build();
    const ChannelRecord* r = dvrfs_channel_record(5);
    ASSERT_NE(r, nullptr);
    // The case at hand: the head slot names no block.
    ASSERT_EQ(r->map[r->head_slot], 0);
    EXPECT_EQ(backup_channel_size(5), 0u);

    const int32_t fd = backup_open(5);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> buf(4096, 0xAB);
    EXPECT_EQ(backup_read(fd, buf.data(), 4096), 0);
    EXPECT_EQ(buf[0], 0xAB);
    for (int origin : {SEEK_HEAD, SEEK_CURRENT, SEEK_TAIL}) {
        EXPECT_EQ(backup_lseek(fd, 1000, origin), 0) << origin;
        EXPECT_EQ(backup_lseek(fd, -1000, origin), 0) << origin;
        EXPECT_EQ(backup_read(fd, buf.data(), 10), 0) << origin;
    }
    EXPECT_EQ(backup_close(fd), 0);
}

TEST_F(EmptyChannelTest, NeverWrittenChannelHasNoPositionsOrTimes) {
    build();
    const int32_t data = backup_open(3);
    ASSERT_GE(data, 0);
    ChannelPosition real{};
    ASSERT_EQ(backup_tell(data, &real), 0);
    const int32_t fd = backup_open(5);
    ASSERT_GE(fd, 0);
    // A block that holds another channel's data is no position of the empty one.
    EXPECT_EQ(backup_iseek(fd, &real), DVR_ENOINDEX);
    ChannelPosition p{};
    EXPECT_EQ(backup_locate_index(fd, static_cast<int32_t>(kT0 + 30), &p), DVR_ENOINDEX);
    uint64_t offset = 0;
    EXPECT_EQ(backup_image_offset(fd, &offset), DVR_ENOINDEX);
    // The written channel still finds its times.
    EXPECT_EQ(backup_locate_index(data, static_cast<int32_t>(kT0 + 30), &p), 0);
    EXPECT_EQ(backup_image_offset(data, &offset), 0);
}

TEST_F(EmptyChannelTest, ZeroHeadSlotOfStoredDataStillNeedsFsck) {
    build([](VolumeContent& c) { c.channels[0].zero_block = 0; });
    ASSERT_GT(backup_channel_size(3), 0u);
    EXPECT_EQ(backup_open(3), DVR_ENEED_FSCK);
    EXPECT_GE(backup_open(5), 0);
}

TEST_F(EmptyChannelTest, ZeroSlotInsideStoredDataStillNeedsFsck) {
    build([](VolumeContent& c) { c.channels[0].zero_block = 1; });
    const int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> buf(16384);
    EXPECT_EQ(backup_read(fd, buf.data(), 16384), DVR_ENEED_FSCK);
}

TEST_F(EmptyChannelTest, SizeFieldDecidesOverTheSlots) {
    // Written bytes whose information record says 0: the record is what the recorder trusts.
    build([](VolumeContent& c) { c.channels[0].size = 0; });
    const int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> buf(512);
    EXPECT_EQ(backup_read(fd, buf.data(), 512), 0);
}

}  // namespace
