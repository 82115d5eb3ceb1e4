// The drive table, read-only drive access and the synthesised geometry.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/drive.h"
#include "tests/testkit/image_tools.h"
#include "tests/testkit/temp_image.h"

namespace {

class DriveTableTest : public ::testing::Test {
protected:
    void SetUp() override { platform::detach_all(); }
    void TearDown() override { platform::detach_all(); }
    testkit::TempDir dir_;
};

TEST_F(DriveTableTest, ImagesAreNumberedFromOne) {
    EXPECT_EQ(platform::attach_image(dir_.file("a.img")), 1);
    EXPECT_EQ(platform::attach_image(dir_.file("b.img")), 2);
    ASSERT_EQ(platform::attach_drive(4, dir_.file("d.img")), 0);
    EXPECT_EQ(platform::attach_image(dir_.file("c.img")), 3);
    EXPECT_EQ(platform::attach_image(dir_.file("e.img")), 5);  // 4 is taken
    EXPECT_EQ(platform::drive_path(1), dir_.file("a.img"));
    EXPECT_EQ(platform::drive_path(3), dir_.file("c.img"));
    EXPECT_EQ(platform::drive_path(4), dir_.file("d.img"));
    // With images attached, the machine's own disks are not numbered.
    EXPECT_EQ(platform::drive_path(0), "");
    EXPECT_EQ(platform::drive_path(6), "");
    EXPECT_EQ(platform::drive_path(-1), "");
    EXPECT_EQ(platform::drive_path(platform::kMaxDrives), "");
}

TEST_F(DriveTableTest, AtMostTwentyNineImages) {
    for (int n = 1; n <= 29; ++n) ASSERT_EQ(platform::attach_image(dir_.file("x.img")), n);
    EXPECT_EQ(platform::attach_image(dir_.file("x.img")), -1);
    EXPECT_EQ(platform::attach_drive(30, dir_.file("x.img")), -1);
    EXPECT_EQ(platform::attach_drive(-1, dir_.file("x.img")), -1);
    EXPECT_EQ(platform::drive_path(30), "");
}

TEST_F(DriveTableTest, PathsMustFitADiskEntry) {
    const std::string fits = "/" + std::string(126, 'p');  // 127 characters and the NUL
    const std::string too_long = fits + "q";
    EXPECT_EQ(platform::attach_image(too_long), -1);
    EXPECT_EQ(platform::attach_drive(2, too_long), -1);
    EXPECT_EQ(platform::attach_image(""), -1);
    EXPECT_EQ(platform::attach_image(fits), 1);
    EXPECT_EQ(platform::drive_path(1), fits);
    EXPECT_EQ(platform::drive_path(2), "");
}

TEST_F(DriveTableTest, DetachForgetsEverything) {
    ASSERT_EQ(platform::attach_image(dir_.file("a.img")), 1);
    platform::detach_all();
    // Numbering starts again from 1 after a detach.
    EXPECT_EQ(platform::attach_image(dir_.file("b.img")), 1);
    EXPECT_EQ(platform::drive_path(1), dir_.file("b.img"));
}

// --- Drives -----------------------------------------------------------------------------------

class DriveTest : public ::testing::Test {
protected:
    void SetUp() override { platform::set_drive_opener({}); }
    void TearDown() override { platform::set_drive_opener({}); }

    // A small sample disk; its last sector is marked.
    std::string image(uint64_t sectors) {
        sample::DiskSpec spec;
        spec.total_sectors = sectors;
        spec.layout = sample::DiskLayout::Bare;
        std::string path = testkit::build_image(dir_, "d.img", spec).path;
        const char mark[] = "last";
        testkit::write_bytes(path, (sectors - 1) * 512, mark, sizeof mark);
        return path;
    }
    testkit::TempDir dir_;
};

TEST_F(DriveTest, ImageOpensReadOnlyEvenWithoutWritePermission) {
    std::string path = image(4096);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    const std::string before = testkit::fingerprint(path);
    {
        auto drive = platform::open_drive(path.c_str());
        ASSERT_NE(drive, nullptr);
        std::vector<int> fds = testkit::fds_open_on(path);
        ASSERT_EQ(fds.size(), 1u);
        EXPECT_EQ(testkit::fd_access_mode(fds[0]), O_RDONLY);
        EXPECT_NE(::fcntl(fds[0], F_GETFD) & FD_CLOEXEC, 0) << "inherited by child processes";
    }
    EXPECT_TRUE(testkit::fds_open_on(path).empty()) << "the drive closes its descriptor";
    EXPECT_EQ(testkit::fingerprint(path), before);
}

TEST_F(DriveTest, MissingPathIsNotCreated) {
    const std::string missing = dir_.file("missing.img");
    EXPECT_EQ(platform::open_drive(missing.c_str()), nullptr);
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_EQ(platform::open_drive(""), nullptr);
    EXPECT_EQ(platform::open_drive(nullptr), nullptr);
}

TEST_F(DriveTest, GeometryCoversEveryWholeSector) {
    std::string path = image(4099);                            // a prime count
    ASSERT_EQ(::truncate(path.c_str(), 4099 * 512 + 300), 0);  // a partial sector at the end
    auto drive = platform::open_drive(path.c_str());
    ASSERT_NE(drive, nullptr);
    platform::DriveGeometry g;
    ASSERT_EQ(drive->geometry(&g), 0);
    EXPECT_EQ(static_cast<uint64_t>(g.cylinders) * g.tracks_per_cylinder * g.sectors_per_track,
              4099u);
    EXPECT_EQ(g.media_type, platform::kMediaFixed);
    EXPECT_EQ(g.bytes_per_sector, 512u);
}

TEST_F(DriveTest, DirectoryHasNoGeometry) {
    auto drive = platform::open_drive(dir_.path().c_str());
    platform::DriveGeometry g;
    EXPECT_TRUE(drive == nullptr || drive->geometry(&g) != 0);
}

TEST_F(DriveTest, ReadsStopAtTheEnd) {
    std::string path = image(64);
    auto drive = platform::open_drive(path.c_str());
    ASSERT_NE(drive, nullptr);
    char buffer[1024] = {};
    EXPECT_EQ(drive->read_at(63 * 512, buffer, 512), 512);
    EXPECT_STREQ(buffer, "last");
    EXPECT_EQ(drive->read_at(63 * 512, buffer, 1024), 512);  // short at the end
    EXPECT_EQ(drive->read_at(64 * 512, buffer, 512), 0);
    for (uint64_t offset : {uint64_t{1} << 62, uint64_t{INT64_MAX}, uint64_t{INT64_MAX} + 1,
                            std::numeric_limits<uint64_t>::max() - 511}) {
        EXPECT_LE(drive->read_at(offset, buffer, 512), 0) << offset;
    }
}

TEST(SynthesisedGeometry, ProductIsTheExactSectorCount) {
    // Small counts; primes (97, 4099, 2^31 - 1, 2^32 - 5, 2^61 - 1), which only n x 1 x 1
    // fits; powers of two; a 500 GB disk.
    const uint64_t counts[] = {0,
                               1,
                               2,
                               63,
                               64,
                               97,
                               4099,
                               2147483647,
                               4294967291u,
                               2305843009213693951ull,
                               262144,
                               uint64_t{1} << 31,
                               uint64_t{1} << 40,
                               (uint64_t{1} << 40) + 1,
                               uint64_t{1} << 62,
                               976773168};
    for (uint64_t n : counts) {
        for (uint32_t media : {platform::kMediaFixed, platform::kMediaRemovable}) {
            platform::DriveGeometry g = platform::synthesise_geometry(n, media);
            EXPECT_GE(g.cylinders, 0) << n;
            EXPECT_EQ(
                static_cast<uint64_t>(g.cylinders) * g.tracks_per_cylinder * g.sectors_per_track, n)
                << n;
            EXPECT_GE(g.sectors_per_track, 1u);
            EXPECT_LE(g.sectors_per_track, 63u);
            EXPECT_GE(g.tracks_per_cylinder, 1u);
            EXPECT_LE(g.tracks_per_cylinder, 255u);
            EXPECT_EQ(g.media_type, media);
            EXPECT_EQ(g.bytes_per_sector, 512u);
        }
    }
}

TEST(SynthesisedGeometry, HugeCountsWrapNowhere) {
    // Counts beyond 2^63 sectors cannot exist, but the arithmetic must still be exact.
    for (uint64_t n : {std::numeric_limits<uint64_t>::max(),
                       std::numeric_limits<uint64_t>::max() - 58}) {  // 2^64 - 59 is prime
        platform::DriveGeometry g = platform::synthesise_geometry(n, platform::kMediaFixed);
        EXPECT_EQ(static_cast<uint64_t>(g.cylinders) * g.tracks_per_cylinder * g.sectors_per_track,
                  n)
            << n;
    }
}

}  // namespace
