// The recorder super block probe, the retained copy, block-to-sector translation and the
// display read of the super block.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "disk/disk_i.h"
#include "tests/testkit/disk_fixture.h"
#include "tests/testkit/drive_doubles.h"
#include "tests/testkit/image_tools.h"

namespace {

using sample::AreaKind;
using sample::Placement;
using sample::PointerCopy;
using sample::RecorderVolumeSpec;
using Reads = std::vector<uint64_t>;

constexpr uint64_t kTotal = 262144;
constexpr uint64_t kMiddle = kTotal / 2;
constexpr uint32_t kAuthoritative = 30;

RecorderVolumeSpec middle_volume() {
    RecorderVolumeSpec r;
    r.created = 1000000000;
    r.content.build_index = false;  // the probe needs no channel data
    return r;
}

RecorderVolumeSpec pointer_volume(std::vector<PointerCopy> copies) {
    RecorderVolumeSpec r = middle_volume();
    r.placement = Placement::Pointer;
    r.pointer_copies = std::move(copies);
    r.authoritative_sector = kAuthoritative;
    return r;
}

PointerCopy copy_at(uint32_t sector) {
    PointerCopy c;
    c.sector = sector;
    return c;
}

// Bare disks with the volume at sector 0, so probe sectors are image sectors.
class SuperBlockTest : public testkit::DiskLayerTest {
protected:
    std::string build(const RecorderVolumeSpec& r) {
        sample::DiskSpec spec;
        spec.total_sectors = kTotal;
        spec.layout = sample::DiskLayout::Bare;
        spec.bare.kind = AreaKind::Recorder;
        spec.bare.recorder = r;
        return testkit::build_image(dir_, "volume" + std::to_string(++images_) + ".img", spec).path;
    }
    int images_ = 0;
};

TEST_F(SuperBlockTest, ValidMiddleCopyIsFoundWithASingleRead) {
    std::string path = build(middle_volume());
    testkit::ReadLog log = testkit::install_counting_drive(path);
    EXPECT_EQ(_hdd_blk_read(0, kTotal, 0), 0);
    EXPECT_EQ(*log, Reads{kMiddle});
    EXPECT_EQ(dvrfs_super_block(), nullptr) << "a probe without keep retains nothing";

    EXPECT_EQ(_hdd_blk_read(0, kTotal, 1), 0);
    ASSERT_NE(dvrfs_super_block(), nullptr);
    EXPECT_EQ(std::memcmp(dvrfs_super_block(), testkit::read_sector(path, kMiddle).data(),
                          sizeof(DvrSuperBlock)),
              0);
    EXPECT_EQ(dvrfs_super_block()->created, 1000000000u);
    EXPECT_EQ(dvrfs_unmount(), 0);
    EXPECT_EQ(dvrfs_super_block(), nullptr);
}

TEST_F(SuperBlockTest, ChecksummedMiddleThatIsNoSuperBlockEndsTheProbe) {
    for (int which = 0; which < 2; ++which) {
        // Valid copies at 0, 10 and 20 must not be looked at.
        RecorderVolumeSpec r = pointer_volume({copy_at(0), copy_at(10), copy_at(20)});
        std::string path = build(r);
        testkit::patch_recorder_sb(path, kMiddle, [&](DvrSuperBlock& sb) {
            sb = DvrSuperBlock{};
            sb.magic = kDvrMagic;
            sb.version = 19;
            sb.block_size = 1 << 20;
            if (which == 0) sb.magic = 0xC6C6A5A4;
            if (which == 1) sb.version = 20;
        });
        testkit::ReadLog log = testkit::install_counting_drive(path);
        EXPECT_EQ(_hdd_blk_read(0, kTotal, 1), DVR_ENOBACKUP) << which;
        EXPECT_EQ(*log, Reads{kMiddle}) << which;
        EXPECT_EQ(dvrfs_super_block(), nullptr);
        disk_layer_reset();
    }
}

TEST_F(SuperBlockTest, PointerCopiesLeadToTheAuthoritativeCopy) {
    struct Case {
        const char* name;
        std::vector<PointerCopy> copies;
        Reads reads;
    };
    PointerCopy v20 = copy_at(10);
    v20.version = 20;
    PointerCopy v19 = copy_at(20);
    v19.version = 19;
    PointerCopy bad_sum = copy_at(0);
    bad_sum.bad_checksum = true;
    PointerCopy bad_magic = copy_at(0);
    bad_magic.bad_magic = true;
    const Case cases[] = {
        {"copy at 0", {copy_at(0)}, {kMiddle, 0, kAuthoritative}},
        {"copy at 10", {copy_at(10)}, {kMiddle, 0, 10, kAuthoritative}},
        {"copy at 20", {copy_at(20)}, {kMiddle, 0, 10, 20, kAuthoritative}},
        {"version 20 skipped", {v20, v19}, {kMiddle, 0, 10, 20, kAuthoritative}},
        {"bad checksum skipped", {bad_sum, copy_at(10)}, {kMiddle, 0, 10, kAuthoritative}},
        {"bad magic skipped", {bad_magic, copy_at(20)}, {kMiddle, 0, 10, 20, kAuthoritative}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        disk_layer_reset();
        std::string path = build(pointer_volume(c.copies));
        testkit::ReadLog log = testkit::install_counting_drive(path);
        ASSERT_EQ(_hdd_blk_read(0, kTotal, 1), 0);
        EXPECT_EQ(*log, c.reads);
        ASSERT_NE(dvrfs_super_block(), nullptr);
        EXPECT_EQ(
            std::memcmp(dvrfs_super_block(), testkit::read_sector(path, kAuthoritative).data(),
                        sizeof(DvrSuperBlock)),
            0);
    }
}

TEST_F(SuperBlockTest, NoQualifyingCandidateIsNoVolume) {
    PointerCopy v20 = copy_at(10);
    v20.version = 20;
    std::string path = build(pointer_volume({v20}));
    testkit::ReadLog log = testkit::install_counting_drive(path);
    EXPECT_EQ(_hdd_blk_read(0, kTotal, 1), DVR_ENOBACKUP);
    EXPECT_EQ(*log, (Reads{kMiddle, 0, 10, 20}));
    EXPECT_EQ(dvrfs_super_block(), nullptr);
}

TEST_F(SuperBlockTest, PointerOutsideTheAreaIsRefusedWithoutReadingThere) {
    for (int32_t word9 : {-1, -2552, INT32_MIN, static_cast<int32_t>(kTotal), INT32_MAX}) {
        SCOPED_TRACE(word9);
        disk_layer_reset();
        PointerCopy c = copy_at(0);
        c.word9 = word9;
        std::string path = build(pointer_volume({c}));
        testkit::ReadLog log = testkit::install_counting_drive(path);
        EXPECT_EQ(_hdd_blk_read(0, kTotal, 1), DVR_ENOBACKUP);
        for (uint64_t s : *log) EXPECT_LT(s, kTotal);
        EXPECT_EQ(dvrfs_super_block(), nullptr);
    }
}

TEST_F(SuperBlockTest, AuthoritativeCopyMustBeAWholeSuperBlock) {
    for (int which = 0; which < 3; ++which) {
        SCOPED_TRACE(which);
        disk_layer_reset();
        std::string path = build(pointer_volume({copy_at(0)}));
        if (which == 0) {
            testkit::patch_recorder_sb(
                path, kAuthoritative, [](DvrSuperBlock& sb) { ++sb.unused2; }, false);
        } else {
            testkit::patch_recorder_sb(path, kAuthoritative, [which](DvrSuperBlock& sb) {
                if (which == 1) sb.magic = kBackupMagic;
                if (which == 2) sb.version = 16;
            });
        }
        testkit::install_counting_drive(path);
        EXPECT_EQ(_hdd_blk_read(0, kTotal, 1), DVR_ENOBACKUP);
        EXPECT_EQ(dvrfs_super_block(), nullptr);
    }
}

TEST_F(SuperBlockTest, BlockSizeMustBeWholeSectors) {
    const struct {
        int32_t block_size;
        int32_t rc;
    } cases[] = {{0, DVR_ENOBACKUP}, {1000, DVR_ENOBACKUP}, {511, DVR_ENOBACKUP}, {1536, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.block_size);
        disk_layer_reset();
        RecorderVolumeSpec r = middle_volume();
        r.block_size = c.block_size;
        std::string path = build(r);
        testkit::install_counting_drive(path);
        EXPECT_EQ(_hdd_blk_read(0, kTotal, 1), c.rc);
        EXPECT_EQ(dvrfs_super_block() != nullptr, c.rc == 0);
    }
}

TEST_F(SuperBlockTest, BlockSectorsOfBothDataAreas) {
    std::string path = build(middle_volume());
    testkit::patch_recorder_sb(path, kMiddle, [](DvrSuperBlock& sb) {
        sb.block_size = 32 << 20;  // 65,536 sectors per block
        sb.area1_sector = 1000;
        sb.area2_block = 50;
        sb.area2_sector = 200000;
    });
    testkit::install_counting_drive(path);
    ASSERT_EQ(_hdd_blk_read(0, kTotal, 1), 0);
    EXPECT_EQ(dvrfs_block_sector(1, 0), 1000u);  // block 1 begins at word 8
    EXPECT_EQ(dvrfs_block_sector(1, 511), 1000u);
    EXPECT_EQ(dvrfs_block_sector(1, 512), 1001u);
    EXPECT_EQ(dvrfs_block_sector(2, 0), 1000u + 65536u);
    EXPECT_EQ(dvrfs_block_sector(49, (32 << 20) - 1), 1000u + 48u * 65536u + 65535u);
    EXPECT_EQ(dvrfs_block_sector(50, 0), 200000u);  // block word 20 begins at word 21
    EXPECT_EQ(dvrfs_block_sector(51, 1024), 200000u + 65536u + 2u);
    EXPECT_EQ(dvrfs_block_sector(70000, 0), 200000ull + 69950ull * 65536ull);  // past 2^32
}

TEST_F(SuperBlockTest, DisplayReadShowsTheMiddleOrTheFirstCandidateWithTheMagic) {
    // Middle copy valid: that sector, one read.
    std::string middle = build(middle_volume());
    testkit::ReadLog log = testkit::install_counting_drive(middle);
    uint8_t buffer[sizeof(DvrSuperBlock)];
    ASSERT_EQ(hdd_read_super_block(kTotal, buffer), 0);
    EXPECT_EQ(std::memcmp(buffer, testkit::read_sector(middle, kMiddle).data(), sizeof buffer), 0);
    EXPECT_EQ(*log, Reads{kMiddle});

    // The candidate at 10 has the magic but neither a valid version nor checksum: still shown.
    disk_layer_reset();
    PointerCopy c = copy_at(10);
    c.version = 25;
    c.bad_checksum = true;
    std::string ten = build(pointer_volume({c}));
    log = testkit::install_counting_drive(ten);
    ASSERT_EQ(hdd_read_super_block(kTotal, buffer), 0);
    EXPECT_EQ(std::memcmp(buffer, testkit::read_sector(ten, 10).data(), sizeof buffer), 0);
    EXPECT_EQ(*log, (Reads{kMiddle, 0, 10}));

    // No candidate has the magic: the buffer holds sector 20.
    disk_layer_reset();
    PointerCopy none = copy_at(0);
    none.bad_magic = true;
    std::string nothing = build(pointer_volume({none}));
    const char marker[] = "sector twenty";
    testkit::write_bytes(nothing, 20 * kSectorSize, marker, sizeof marker);
    log = testkit::install_counting_drive(nothing);
    ASSERT_EQ(hdd_read_super_block(kTotal, buffer), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(buffer), marker);
    EXPECT_EQ(*log, (Reads{kMiddle, 0, 10, 20}));
}

}  // namespace
