// Reading ahead must never change what a reader sees: two opens of one channel, one read through
// the read-ahead and one directly, take the same random walk of reads and skips and must agree on
// every byte, every count and every position, across block boundaries and the channel's end.
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "playback/read_ahead.h"
#include "tests/storage/storage_fixture.h"
#include "tests/testkit/drive_doubles.h"

namespace {

using testkit::kT0;

class ReadAheadTest : public testkit::StorageTest, public ::testing::WithParamInterface<int32_t> {
protected:
    void SetUp() override {
        StorageTest::SetUp();
        read_ahead_clear();
        sample::VolumeContent content;
        content.channels.push_back(testkit::steady_channel(3, kT0, kT0 + 7200, 8000));
        sample::DiskSpec disk = testkit::small_recorder(content, 29);
        disk.bare.recorder.block_size = GetParam();
        ASSERT_EQ(mount(disk), 0);
    }
    void TearDown() override {
        read_ahead_clear();
        StorageTest::TearDown();
    }
};

TEST_P(ReadAheadTest, AReaderSeesExactlyWhatTheChannelHolds) {
    const int32_t ahead = backup_open(3), direct = backup_open(3);
    ASSERT_GE(ahead, 0);
    ASSERT_GE(direct, 0);
    std::mt19937 random(7);
    std::vector<uint8_t> a(300000), b(300000);
    int served_reads = 0;
    for (int step = 0; step < 1500; ++step) {
        const int kind = static_cast<int>(random() % 10);
        if (kind < 7) {
            // Mostly small reads, as headers and frames are; now and then a large one.
            const auto length = static_cast<int32_t>(kind == 6 ? random() % 20000 : random() % 2000 + 1);
            const int32_t n = read_ahead_read(ahead, a.data(), length);
            const int32_t m = backup_read(direct, b.data(), length);
            ASSERT_EQ(n, m) << "step " << step;
            if (n > 0) {
                ASSERT_TRUE(std::equal(a.begin(), a.begin() + n, b.begin())) << "step " << step;
                ++served_reads;
            }
        } else {
            // Skips forward (trailers, frames passed over) and back (a header read again).
            const int64_t by = kind == 9 ? -static_cast<int64_t>(random() % 5000)
                                         : static_cast<int64_t>(random() % 3000);
            ASSERT_EQ(backup_lseek(ahead, by, SEEK_CURRENT), backup_lseek(direct, by, SEEK_CURRENT));
        }
        ChannelPosition pa{}, pb{};
        ASSERT_EQ(backup_tell(ahead, &pa), 0);
        ASSERT_EQ(backup_tell(direct, &pb), 0);
        ASSERT_EQ(pa.block, pb.block) << "step " << step;
        ASSERT_EQ(pa.offset, pb.offset) << "step " << step;
    }
    EXPECT_GT(served_reads, 800);  // the walk stays inside the data
    backup_close(ahead);
    backup_close(direct);
}

// What was read ahead belongs to one open: a descriptor closed and opened again is a new open,
// and its reads go to the channel again.
TEST_P(ReadAheadTest, BytesReadAheadDieWithTheirOpen) {
    int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    const uint64_t first_open = backup_open_serial(fd);
    std::vector<uint8_t> buffer(4096), expected(4096);
    ASSERT_EQ(read_ahead_read(fd, buffer.data(), 100), 100);
    ChannelPosition where{};
    ASSERT_EQ(backup_tell(fd, &where), 0);
    ASSERT_EQ(read_ahead_read(fd, buffer.data(), 100), 100);  // read ahead from here on
    backup_close(fd);
    EXPECT_EQ(backup_open_serial(fd), 0u);
    const int32_t again = backup_open(DVR_CH_SUPER);
    ASSERT_EQ(again, fd);  // the first free descriptor
    EXPECT_NE(backup_open_serial(again), first_open);
    const int32_t direct = backup_open(DVR_CH_SUPER);
    ASSERT_GE(direct, 0);
    const int32_t n = read_ahead_read(again, buffer.data(), 100);
    ASSERT_EQ(n, backup_read(direct, expected.data(), 100));
    ASSERT_GT(n, 0);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + n, expected.begin()));
    backup_close(again);
    backup_close(direct);
}

// The point of it: headers, frames and the trailers skipped between them come from a few large
// requests instead of several small ones each.
TEST_P(ReadAheadTest, ForwardReadingNeedsFarFewerDiskRequests) {
    const auto requests = [&](bool ahead) {
        const int32_t fd = backup_open(3);
        EXPECT_GE(fd, 0);
        const testkit::ReadLog log =
            testkit::install_counting_drive(dir_.file("disk0.img"), disk_state().origin);
        std::vector<uint8_t> buffer(2000);
        for (int gop = 0; gop < 300; ++gop) {
            for (int32_t length : {96, 1400}) {
                const int32_t n = ahead ? read_ahead_read(fd, buffer.data(), length)
                                        : backup_read(fd, buffer.data(), length);
                EXPECT_EQ(n, length);
            }
            EXPECT_EQ(backup_lseek(fd, 4, SEEK_CURRENT), 0);
        }
        backup_close(fd);
        return log->size();
    };
    const size_t direct = requests(false), ahead = requests(true);
    EXPECT_LT(ahead * 4, direct) << ahead << " requests read ahead, " << direct << " without";
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, ReadAheadTest, ::testing::Values(16384, 65536),
                         [](const ::testing::TestParamInfo<int32_t>& p) {
                             return std::to_string(p.param / 1024) + "KiB";
                         });

}  // namespace
