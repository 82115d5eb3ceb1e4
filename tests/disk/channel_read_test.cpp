// Reading and positioning recorder-volume channels: block and ring boundaries, the tail, the
// descriptor table and the checks on what the channel tables say.
#include <gtest/gtest.h>

#include <fstream>

#include "disk/channel_i.h"
#include "tests/testkit/disk_fixture.h"
#include "tests/testkit/drive_doubles.h"
#include "tests/testkit/image_tools.h"
#include "tests/testkit/volume_helpers.h"

namespace {

using sample::ChannelData;
using sample::VolumeContent;
using testkit::kT0;

class ChannelReadTest : public testkit::DiskLayerTest {
protected:
    // Channel 3 wraps the ring: it starts two slots before the end of its 256-slot map, with
    // 100 bytes of overwritten data before the head, and holds about five 4 KiB blocks.
    void build(std::function<void(VolumeContent&)> edit = {}) {
        VolumeContent content;
        ChannelData ch3 = testkit::steady_channel(3, kT0, kT0 + 15 * 20, 1000);
        ch3.head_slot = 254;
        ch3.head_offset = 100;
        content.channels.push_back(ch3);
        content.channels.push_back(testkit::steady_channel(4, kT0, kT0 + 15 * 4, 300));
        if (edit) edit(content);
        for (const auto& c : content.channels) expected_[c.channel] = testkit::stored_bytes(c);
        path_ = testkit::make_image(dir_, "rec.img", testkit::small_recorder(content));
        ASSERT_EQ(testkit::mount_volume(path_), 0);
    }

    std::string path_;
    std::map<int32_t, std::vector<uint8_t>> expected_;
};

TEST_F(ChannelReadTest, WholeChannelReadsBackAcrossBlocksAndTheRingEnd) {
    build();
    for (int32_t chunk : {1, 511, 1000, 4096, 4097, 65536}) {
        int32_t fd = backup_open(3);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(testkit::read_all(fd, chunk), expected_[3]) << "chunk " << chunk;
        EXPECT_EQ(backup_close(fd), 0);
    }
    EXPECT_EQ(backup_channel_size(3), expected_[3].size());
}

TEST_F(ChannelReadTest, ReadReachingTheTailIsShortAndTheNextReadIsEmpty) {
    build();
    int32_t fd = backup_open(4);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> buf(10000);
    EXPECT_EQ(backup_read(fd, buf.data(), 10000), 1200);
    EXPECT_EQ(backup_read(fd, buf.data(), 10000), 0);
    EXPECT_TRUE(std::equal(expected_[4].begin(), expected_[4].end(), buf.begin()));
}

TEST_F(ChannelReadTest, UnalignedReadGoesThroughWholeSectors) {
    build([](VolumeContent& c) { c.channels[0].head_slot = 0; });
    int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    ChannelPosition head;
    ASSERT_EQ(backup_tell(fd, &head), 0);
    EXPECT_EQ(head.offset, 100);
    const uint64_t block_start = dvrfs_block_sector(head.block, 0);

    testkit::ReadLog log = testkit::install_counting_drive(path_);
    std::vector<uint8_t> buf(1000);
    ASSERT_EQ(backup_read(fd, buf.data(), 1000), 1000);
    // 412 bytes from sector 0, one sector straight into the buffer, then 76 bytes.
    EXPECT_EQ(*log, (std::vector<uint64_t>{block_start, block_start + 1, block_start + 2}));
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), expected_[3].begin()));
}

TEST_F(ChannelReadTest, ByteSeeksClampAtHeadAndTail) {
    build();
    int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    ChannelPosition head, tail, p;
    ASSERT_EQ(backup_tell(fd, &head), 0);
    ASSERT_EQ(backup_lseek(fd, INT64_MAX / 2, SEEK_HEAD), 0);
    ASSERT_EQ(backup_tell(fd, &tail), 0);
    uint8_t byte;
    EXPECT_EQ(backup_read(fd, &byte, 1), 0);

    ASSERT_EQ(backup_lseek(fd, -(INT64_MAX / 2), SEEK_TAIL), 0);
    ASSERT_EQ(backup_tell(fd, &p), 0);
    EXPECT_EQ(p.block, head.block);
    EXPECT_EQ(p.offset, head.offset);

    ASSERT_EQ(backup_lseek(fd, 0, SEEK_TAIL), 0);
    ASSERT_EQ(backup_tell(fd, &p), 0);
    EXPECT_EQ(p.block, tail.block);
    EXPECT_EQ(p.offset, tail.offset);
}

TEST_F(ChannelReadTest, ByteSeekLandsWhereReadingWouldHaveGone) {
    build();
    const std::vector<uint8_t>& data = expected_[3];
    int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    // Offsets across block ends and the ring's end, forward and back from every origin.
    for (int64_t at : {int64_t{0}, int64_t{3995}, int64_t{3996}, int64_t{8192}, int64_t{12000},
                       static_cast<int64_t>(data.size()) - 1}) {
        ASSERT_EQ(backup_lseek(fd, at, SEEK_HEAD), 0);
        uint8_t b = 0;
        ASSERT_EQ(backup_read(fd, &b, 1), 1) << at;
        EXPECT_EQ(b, data[static_cast<size_t>(at)]) << at;
        ASSERT_EQ(backup_lseek(fd, at - static_cast<int64_t>(data.size()), SEEK_TAIL), 0);
        ASSERT_EQ(backup_read(fd, &b, 1), 1);
        EXPECT_EQ(b, data[static_cast<size_t>(at)]) << "from tail " << at;
        ASSERT_EQ(backup_lseek(fd, -1, SEEK_CURRENT), 0);
        ASSERT_EQ(backup_read(fd, &b, 1), 1);
        EXPECT_EQ(b, data[static_cast<size_t>(at)]) << "back one " << at;
    }
}

TEST_F(ChannelReadTest, PositionSeekAcceptsOnlyStoredPositions) {
    build();
    int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    ChannelPosition head, tail;
    ASSERT_EQ(backup_tell(fd, &head), 0);
    ASSERT_EQ(backup_lseek(fd, 0, SEEK_TAIL), 0);
    ASSERT_EQ(backup_tell(fd, &tail), 0);

    ChannelPosition p = tail;
    EXPECT_EQ(backup_iseek(fd, &p), 0);
    p.offset = tail.offset + 1;
    EXPECT_EQ(backup_iseek(fd, &p), DVR_ENOINDEX);
    p = head;
    EXPECT_EQ(backup_iseek(fd, &p), 0);
    p.offset = head.offset - 1;
    EXPECT_EQ(backup_iseek(fd, &p), DVR_ENOINDEX);
    p = {head.block, 4096};
    EXPECT_EQ(backup_iseek(fd, &p), DVR_ENOINDEX);
    p = {dvrfs_super_block()->max_block + 1, 0};
    EXPECT_EQ(backup_iseek(fd, &p), DVR_ENOINDEX);
    p = {0, 0};
    EXPECT_EQ(backup_iseek(fd, &p), DVR_EINVAL);
    p = {head.block, -1};
    EXPECT_EQ(backup_iseek(fd, &p), DVR_EINVAL);
    EXPECT_EQ(backup_iseek(fd, nullptr), DVR_EINVAL);

    // A block of another channel is not in this one.
    int32_t other = backup_open(4);
    ChannelPosition other_head;
    ASSERT_EQ(backup_tell(other, &other_head), 0);
    EXPECT_EQ(backup_iseek(fd, &other_head), DVR_ENOINDEX);

    // A position seek followed by a read gives the bytes stored there.
    ASSERT_EQ(backup_lseek(fd, 5000, SEEK_HEAD), 0);
    ASSERT_EQ(backup_tell(fd, &p), 0);
    ASSERT_EQ(backup_lseek(fd, 0, SEEK_HEAD), 0);
    ASSERT_EQ(backup_iseek(fd, &p), 0);
    uint8_t b;
    ASSERT_EQ(backup_read(fd, &b, 1), 1);
    EXPECT_EQ(b, expected_[3][5000]);
}

TEST_F(ChannelReadTest, DescriptorTableRefusesBadCalls) {
    build();
    std::vector<int32_t> fds;
    for (int i = 0; i < kDescriptorCount; ++i) {
        int32_t fd = backup_open(i % 2 ? 3 : 4);
        ASSERT_EQ(fd, i);
        fds.push_back(fd);
    }
    EXPECT_EQ(backup_open(3), DVR_ENOSPC);
    EXPECT_EQ(backup_unmount_session(), DVR_EBUSY);
    EXPECT_NE(backup_selected_volume(), nullptr);
    EXPECT_EQ(backup_unmount_disk(), DVR_EBUSY);

    uint8_t buf[4];
    EXPECT_EQ(backup_read(0, buf, -1), DVR_EINVAL);
    EXPECT_EQ(backup_read(0, buf, 0), 0);
    EXPECT_EQ(backup_read(0, nullptr, 4), DVR_EINVAL);
    EXPECT_EQ(backup_lseek(0, 0, 3), DVR_EINVAL);
    EXPECT_EQ(backup_tell(0, nullptr), DVR_EINVAL);
    for (int32_t fd : fds) EXPECT_EQ(backup_close(fd), 0);
    for (int32_t fd : {-1, 0, 31, 32}) {
        EXPECT_EQ(backup_close(fd), DVR_EBADF);
        EXPECT_EQ(backup_read(fd, buf, 4), DVR_EBADF);
        EXPECT_EQ(backup_lseek(fd, 0, SEEK_HEAD), DVR_EBADF);
        EXPECT_EQ(backup_locate_index(fd, static_cast<int32_t>(kT0), nullptr), DVR_EBADF);
    }
    EXPECT_EQ(backup_open(-1), DVR_EINVAL);
    EXPECT_EQ(backup_open(7), DVR_EINVAL);
    EXPECT_EQ(backup_unmount_session(), 0);
    EXPECT_EQ(backup_unmount_session(), DVR_ENOTMOUNTED);
    EXPECT_EQ(backup_open(3), DVR_ENOTMOUNTED);
    EXPECT_EQ(backup_unmount_disk(), 0);
}

TEST_F(ChannelReadTest, SessionSelectionChecksTheRecord) {
    build();
    EXPECT_EQ(backup_mount_session(backup_volume_records()), DVR_EMOUNTED);
    ASSERT_EQ(backup_unmount_session(), 0);
    EXPECT_EQ(backup_mount_session(nullptr), DVR_EINVAL);
    EXPECT_EQ(backup_mount_session(backup_volume_records() + 1), DVR_EINVAL);
    VolumeRecord copy = backup_volume_records()[0];
    EXPECT_EQ(backup_mount_session(&copy), DVR_EINVAL);
    EXPECT_EQ(backup_mount_session(backup_volume_records()), 0);
    EXPECT_EQ(backup_channel_count(), 7);
    EXPECT_EQ(backup_channel_size(5), 0u);
}

TEST_F(ChannelReadTest, ZeroMapSlotStopsTheReadWithNeedFsck) {
    build([](VolumeContent& c) { c.channels[0].zero_block = 2; });
    int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> buf(20000);
    EXPECT_EQ(backup_read(fd, buf.data(), 20000), DVR_ENEED_FSCK);
    EXPECT_EQ(backup_lseek(fd, 10000, SEEK_HEAD), DVR_ENEED_FSCK);
    // The other channels are unaffected.
    int32_t other = backup_open(4);
    ASSERT_GE(other, 0);
    EXPECT_EQ(testkit::read_all(other, 4096), expected_[4]);
}

TEST_F(ChannelReadTest, ZeroHeadSlotCannotBeOpened) {
    build([](VolumeContent& c) { c.channels[1].zero_block = 0; });
    EXPECT_EQ(backup_open(4), DVR_ENEED_FSCK);
    EXPECT_GE(backup_open(3), 0);
}

TEST_F(ChannelReadTest, BlocksInDataAreaTwoReadBack) {
    VolumeContent content;
    ChannelData ch5 = testkit::steady_channel(5, kT0, kT0 + 15 * 10, 1500);
    // Just below the first block of area 2, so the channel runs from area 1 into area 2.
    path_ = testkit::make_image(dir_, "probe.img", testkit::small_recorder({}));
    ASSERT_EQ(testkit::mount_first(path_), 0);
    const uint32_t area2 = dvrfs_super_block()->area2_block;
    ASSERT_EQ(backup_unmount_disk(), 0);
    platform::detach_all();
    ch5.first_block = area2 - 1;
    content.channels.push_back(ch5);
    path_ = testkit::make_image(dir_, "area2.img", testkit::small_recorder(content));
    ASSERT_EQ(testkit::mount_volume(path_), 0);
    int32_t fd = backup_open(5);
    ASSERT_GE(fd, 0);
    ChannelPosition p;
    ASSERT_EQ(backup_tell(fd, &p), 0);
    EXPECT_EQ(static_cast<uint32_t>(p.block), area2 - 1);
    EXPECT_EQ(testkit::read_all(fd, 3000), testkit::stored_bytes(ch5));
    EXPECT_EQ(dvrfs_block_sector(static_cast<int32_t>(area2), 0), dvrfs_super_block()->area2_sector);
}

}  // namespace

// The image offset names the bytes the next read delivers, in the image as a whole, across
// blocks and the ring's end.
TEST_F(ChannelReadTest, ImageOffsetNamesTheBytesTheNextReadDelivers) {
    build();
    std::ifstream image(path_, std::ios::binary);
    int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    uint64_t offset = 0;
    int checked = 0;
    for (int32_t step : {37, 4000, 4096, 1, 5000, 3000}) {
        ASSERT_EQ(backup_image_offset(fd, &offset), 0);
        char got[16], want[16];
        if (backup_read(fd, got, sizeof got) != static_cast<int32_t>(sizeof got)) break;
        image.seekg(static_cast<std::streamoff>(offset));
        ASSERT_TRUE(image.read(want, sizeof want)) << "image byte " << offset;
        EXPECT_TRUE(std::equal(got, got + sizeof got, want)) << "at image byte " << offset;
        ++checked;
        ASSERT_GE(backup_lseek(fd, step, SEEK_CURRENT), 0);
    }
    EXPECT_GE(checked, 5);
    EXPECT_EQ(backup_image_offset(-1, &offset), DVR_EBADF);
    EXPECT_EQ(backup_image_offset(fd, nullptr), DVR_EINVAL);
    EXPECT_EQ(backup_close(fd), 0);
}

namespace {

// The bytes the image ranges name, read from the image file itself.
std::vector<uint8_t> bytes_at(const std::string& path, const ImageRange* ranges, int32_t n) {
    std::ifstream image(path, std::ios::binary);
    std::vector<uint8_t> out;
    for (int32_t i = 0; i < n; ++i) {
        std::vector<uint8_t> piece(ranges[i].length);
        image.seekg(static_cast<std::streamoff>(ranges[i].offset));
        if (!image.read(reinterpret_cast<char*>(piece.data()), static_cast<std::streamsize>(piece.size()))) {
            return {};
        }
        out.insert(out.end(), piece.begin(), piece.end());
    }
    return out;
}

}  // namespace

// The image ranges of a stretch before or after the position hold exactly the bytes a read of
// that stretch delivers, across blocks and the ring's end, and the position stays where it was.
TEST_F(ChannelReadTest, ImageRangesNameTheBytesOfAStretchAroundThePosition) {
    build();
    int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    const std::vector<uint8_t>& all = expected_[3];
    ASSERT_GT(all.size(), 12000u);
    ASSERT_EQ(backup_lseek(fd, 6000, SEEK_HEAD), 0);
    ChannelPosition before{}, after{};
    ASSERT_EQ(backup_tell(fd, &before), 0);
    ImageRange ranges[8];
    struct Case {
        int64_t from;
        int64_t length;
    };
    // Back over the ring's end (the head lies two slots before it), forward over block ends.
    for (const Case c : {Case{-6000, 9000}, Case{-96, 5000}, Case{0, 4096}, Case{1234, 4000}}) {
        const int32_t n = backup_image_ranges(fd, c.from, c.length, ranges, 8);
        ASSERT_GT(n, 0) << c.from;
        const auto begin = all.begin() + 6000 + c.from;
        EXPECT_EQ(bytes_at(path_, ranges, n), std::vector<uint8_t>(begin, begin + c.length)) << c.from;
        for (int32_t i = 1; i < n; ++i) {
            EXPECT_NE(ranges[i - 1].offset + ranges[i - 1].length, ranges[i].offset) << "not joined";
        }
    }
    ASSERT_EQ(backup_tell(fd, &after), 0);
    EXPECT_EQ(after.block, before.block);
    EXPECT_EQ(after.offset, before.offset);
}

// A channel that runs from the first data area into the second lies in two pieces of the image.
TEST_F(ChannelReadTest, ImageRangesSplitWhereTheBlocksDoNotFollowEachOther) {
    path_ = testkit::make_image(dir_, "probe.img", testkit::small_recorder({}));
    ASSERT_EQ(testkit::mount_first(path_), 0);
    const uint32_t area2 = dvrfs_super_block()->area2_block;
    ASSERT_EQ(backup_unmount_disk(), 0);
    platform::detach_all();
    VolumeContent content;
    ChannelData ch5 = testkit::steady_channel(5, kT0, kT0 + 15 * 10, 1500);
    ch5.first_block = area2 - 1;
    content.channels.push_back(ch5);
    path_ = testkit::make_image(dir_, "area2.img", testkit::small_recorder(content));
    ASSERT_EQ(testkit::mount_volume(path_), 0);
    const std::vector<uint8_t> all = testkit::stored_bytes(ch5);
    int32_t fd = backup_open(5);
    ASSERT_GE(fd, 0);
    ImageRange ranges[4];
    const auto size = static_cast<int64_t>(all.size());
    const int32_t n = backup_image_ranges(fd, 0, size, ranges, 4);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(bytes_at(path_, ranges, n), all);
    EXPECT_EQ(backup_image_ranges(fd, 0, size, ranges, 1), DVR_EINVAL);
}

TEST_F(ChannelReadTest, ImageRangesRefuseStretchesOutsideTheData) {
    build();
    int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    const auto size = static_cast<int64_t>(expected_[3].size());
    ASSERT_EQ(backup_lseek(fd, 5000, SEEK_HEAD), 0);
    ImageRange ranges[8];
    EXPECT_EQ(backup_image_ranges(fd, -5001, 10, ranges, 8), DVR_EINVAL);  // before the head
    EXPECT_EQ(backup_image_ranges(fd, 0, size - 5000 + 1, ranges, 8), DVR_EINVAL);  // past the tail
    EXPECT_EQ(backup_image_ranges(fd, size, 1, ranges, 8), DVR_EINVAL);
    EXPECT_GT(backup_image_ranges(fd, 0, size - 5000, ranges, 8), 0);  // up to the tail exactly
    EXPECT_EQ(backup_image_ranges(fd, 0, -1, ranges, 8), DVR_EINVAL);
    EXPECT_EQ(backup_image_ranges(-1, 0, 1, ranges, 8), DVR_EBADF);
    EXPECT_EQ(backup_image_ranges(fd, 0, 0, ranges, 8), 0);
}
