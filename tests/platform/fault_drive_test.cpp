// The fault-injecting drive: failing sectors, cut reads, a shrinking device, the opener that
// installs it, and reads from several threads at once.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/fault_drive.h"
#include "tests/testkit/temp_image.h"

namespace {

using platform::FaultPlan;

constexpr uint64_t kSectors = 16;

class FaultDriveTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.file("drive.img");
        std::FILE* f = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        for (uint64_t i = 0; i < kSectors * 512; ++i) std::fputc(static_cast<int>(byte_at(i)), f);
        std::fclose(f);
        plan_ = std::make_shared<FaultPlan>();
        drive_ = std::make_unique<platform::FaultDrive>(platform::open_system_drive(path_.c_str()),
                                                        plan_);
    }
    void TearDown() override { platform::set_drive_opener({}); }

    static uint8_t byte_at(uint64_t offset) { return static_cast<uint8_t>(offset * 7 + offset / 512); }
    uint64_t sectors() {
        platform::DriveGeometry g;
        EXPECT_EQ(drive_->geometry(&g), 0);
        return static_cast<uint64_t>(g.cylinders) * g.tracks_per_cylinder * g.sectors_per_track;
    }
    // Reads and checks that whatever came back is the file's bytes.
    int64_t read(uint64_t offset, size_t n) {
        std::vector<uint8_t> buf(n, 0xEE);
        const int64_t got = drive_->read_at(offset, buf.data(), n);
        for (int64_t i = 0; i < got; ++i) {
            EXPECT_EQ(buf[static_cast<size_t>(i)], byte_at(offset + static_cast<uint64_t>(i))) << i;
        }
        return got;
    }

    testkit::TempDir dir_;
    std::string path_;
    std::shared_ptr<FaultPlan> plan_;
    std::unique_ptr<platform::Drive> drive_;
};

TEST_F(FaultDriveTest, FailingSectorsGiveEioOnlyToReadsThatTouchThem) {
    plan_->fail_sectors(4, 2);
    EXPECT_EQ(read(0, 2048), 2048);        // sectors 0..3
    errno = 0;
    EXPECT_EQ(read(2048, 1), -1);          // sector 4
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(read(1024, 4096), -1);       // spans 2..9
    EXPECT_EQ(read(5 * 512 + 511, 1), -1); // last byte of sector 5
    EXPECT_EQ(read(6 * 512, 512), 512);
    EXPECT_EQ(plan_->failed_reads(), 3u);
    EXPECT_EQ(plan_->reads(), 5u);
    plan_->clear();
    EXPECT_EQ(read(1024, 4096), 4096);
}

TEST_F(FaultDriveTest, CutReadsStopAtTheOffsetForTheChosenNumberOfTimes) {
    plan_->cut_reads_at(1000, 2);
    EXPECT_EQ(read(512, 1024), 488);
    EXPECT_EQ(read(0, 4096), 1000);
    EXPECT_EQ(read(0, 4096), 4096);  // both cuts used up
    EXPECT_EQ(read(1000, 100), 100); // a read that starts at the offset is never cut
    EXPECT_EQ(plan_->short_reads(), 2u);
    plan_->cut_reads_at(3000);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(read(2048, 2048), 952);
}

TEST_F(FaultDriveTest, ShrinkingDeviceReportsLessAndReadsEndEarly) {
    EXPECT_EQ(sectors(), kSectors);
    plan_->shrink_after(2, 3 * 512);
    EXPECT_EQ(read(4096, 512), 512);
    EXPECT_EQ(read(4096, 512), 512);
    EXPECT_EQ(sectors(), kSectors);   // not yet: the third read shrinks it
    EXPECT_EQ(read(4096, 512), 0);
    EXPECT_EQ(sectors(), 3u);
    EXPECT_EQ(read(1024, 1024), 512);
    plan_->shrink_to(0);
    EXPECT_EQ(sectors(), 0u);
    EXPECT_EQ(read(0, 512), 0);
    plan_->clear();
    EXPECT_EQ(sectors(), kSectors);
}

TEST_F(FaultDriveTest, OpenerWrapsEveryDriveUntilTheRealOneIsBack) {
    auto plan = std::make_shared<FaultPlan>();
    plan->fail_sectors(0);
    platform::install_fault_opener(plan);
    auto faulty = platform::open_drive(path_.c_str());
    ASSERT_NE(faulty, nullptr);
    uint8_t buf[512];
    EXPECT_EQ(faulty->read_at(0, buf, sizeof buf), -1);
    EXPECT_EQ(platform::open_drive(dir_.file("missing.img").c_str()), nullptr);
    platform::set_drive_opener({});
    auto plain = platform::open_drive(path_.c_str());
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->read_at(0, buf, sizeof buf), 512);
    EXPECT_EQ(plan->reads(), 1u);
}

TEST_F(FaultDriveTest, ConcurrentReadersAreAllCountedAndSeeThePlan) {
    plan_->fail_sectors(8);
    std::vector<std::thread> readers;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&, t] {
            uint8_t buf[512];
            for (int i = 0; i < 500; ++i) {
                const uint64_t sector = static_cast<uint64_t>(i + t) % kSectors;
                const int64_t got = drive_->read_at(sector * 512, buf, sizeof buf);
                if (got != (sector == 8 ? -1 : 512)) ++wrong;
            }
        });
    }
    // The plan changes while they read; reads of sector 8 stay failed throughout.
    for (int i = 0; i < 50; ++i) {
        plan_->cut_reads_at(15 * 512 + 1000, 0);
        std::this_thread::yield();
    }
    for (auto& r : readers) r.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(plan_->reads(), 2000u);
}

}  // namespace
