// Mounting and unmounting disk table entries, sector reads of the mounted area, and proof that
// nothing writes to an image.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "disk/disk_i.h"
#include "tests/testkit/disk_fixture.h"
#include "tests/testkit/drive_doubles.h"
#include "tests/testkit/image_tools.h"
#include "tests/testkit/stderr_capture.h"

namespace {

using sample::AreaKind;
using sample::PartitionSpec;

constexpr uint64_t kTotal = 4u << 20;  // 2 GiB, sparse
constexpr uint32_t kCreated = 1000000000;

// Rows of the table that the scan makes of the mixed disk below.
enum Row { kWhole = 0, kRecorder, kBackup, kEmptyRecorderType, kMs, kRows };

PartitionSpec partition(uint8_t type_byte, uint32_t start, uint32_t count, AreaKind kind) {
    PartitionSpec p;
    p.type_byte = type_byte;
    p.start = start;
    p.count = count;
    p.area.kind = kind;
    return p;
}

sample::DiskSpec mixed_disk() {
    PartitionSpec rec = partition(0xF0, 2048, 65536, AreaKind::Recorder);
    rec.area.recorder.content.build_index = false;
    rec.area.recorder.created = kCreated;
    rec.area.recorder.oldest = kCreated + 10;
    rec.area.recorder.newest = kCreated + 20;
    rec.area.recorder.channel_count = 27;
    // Every channel of a session has a block, and blocks lie 65,536 sectors apart.
    PartitionSpec bak = partition(0xF2, 67584, 2u << 20, AreaKind::Backup);
    bak.area.backup.slot_count = 4;
    bak.area.backup.block_size = 4096;
    sample::SessionSpec s;
    s.name = "FIRST";
    s.content.build_index = false;
    bak.area.backup.sessions = {s};
    sample::DiskSpec spec;
    spec.total_sectors = kTotal;
    spec.layout = sample::DiskLayout::Partitioned;
    spec.partitions = {rec, bak, partition(0xF0, 2164736, 32768, AreaKind::Empty),
                       partition(0x0C, 2197504, 30720, AreaKind::Empty)};
    return spec;
}

class MountTest : public testkit::DiskLayerTest {
protected:
    void SetUp() override {
        DiskLayerTest::SetUp();
        path_ = testkit::build_image(dir_, "mixed.img", mixed_disk()).path;
        ASSERT_EQ(platform::attach_image(path_), 1);
        ASSERT_EQ(backup_scan_disks(), kRows);
        ASSERT_EQ(row(kRecorder).fs_type, FS_PSOS);
        ASSERT_EQ(row(kBackup).fs_type, FS_BACKUP10);
    }
    const DiskEntry& row(int r) const { return backup_disk_table()[r]; }
    static void expect_nothing_mounted() {
        EXPECT_EQ(backup_mounted_disk(), nullptr);
        EXPECT_EQ(disk_state().drive, nullptr) << "the drive stays open";
        EXPECT_EQ(dvrfs_super_block(), nullptr);
        EXPECT_EQ(bkfs_super_block(), nullptr);
        EXPECT_EQ(backup_volume_count(), 0);
    }
    std::string path_;
};

TEST_F(MountTest, RecorderVolumeGivesOneVolumeRecord) {
    ASSERT_EQ(backup_mount_disk(&row(kRecorder)), 0);
    EXPECT_EQ(backup_mounted_disk(), &row(kRecorder));
    ASSERT_EQ(backup_volume_count(), 1);
    const VolumeRecord& v = backup_volume_records()[0];
    EXPECT_STREQ(v.name, "PSOS");
    EXPECT_EQ(v.slot, 0u);
    EXPECT_EQ(v.created, kCreated);
    EXPECT_EQ(v.interval, 15u);
    EXPECT_EQ(v.oldest, kCreated + 10);
    EXPECT_EQ(v.newest, kCreated + 20);
    EXPECT_EQ(v.channel_count, 27u);
    EXPECT_EQ(v.data_channel_count, 24u);
    for (uint8_t b : v.extra) EXPECT_EQ(b, 0);
    for (size_t i = std::strlen(v.name); i < sizeof v.name; ++i) EXPECT_EQ(v.name[i], 0);

    EXPECT_EQ(backup_unmount_disk(), 0);
    EXPECT_EQ(backup_mounted_disk(), nullptr);
    EXPECT_EQ(dvrfs_super_block(), nullptr);
    EXPECT_EQ(disk_state().drive, nullptr);
    EXPECT_EQ(backup_unmount_disk(), DVR_ENOTMOUNTED);
}

TEST_F(MountTest, BackupDiskListsItsSlots) {
    ASSERT_EQ(backup_mount_disk(&row(kBackup)), 0);
    ASSERT_EQ(backup_volume_count(), 4);
    EXPECT_STREQ(backup_volume_records()[0].name, "FIRST");
    EXPECT_NE(backup_volume_records()[0].created, 0u);
    EXPECT_EQ(backup_volume_records()[1].created, 0u);
    EXPECT_EQ(backup_unmount_disk(), 0);
    EXPECT_EQ(bkfs_super_block(), nullptr);
}

TEST_F(MountTest, SecondMountIsRefused) {
    ASSERT_EQ(backup_mount_disk(&row(kRecorder)), 0);
    EXPECT_EQ(backup_mount_disk(&row(kBackup)), DVR_EMOUNTED);
    EXPECT_EQ(backup_mount_disk(&row(kRecorder)), DVR_EMOUNTED);
    EXPECT_EQ(backup_mounted_disk(), &row(kRecorder));
    EXPECT_EQ(backup_volume_count(), 1);
}

TEST_F(MountTest, EntriesOutsideTheTableAreNoDisk) {
    DiskEntry copy = row(kRecorder);
    EXPECT_EQ(backup_mount_disk(&copy), DVR_ENODISK);
    EXPECT_EQ(backup_mount_disk(&row(kRows)), DVR_ENODISK);  // in the array, past the count
    EXPECT_EQ(backup_mount_disk(backup_disk_table() + kDiskTableSize), DVR_ENODISK);
    EXPECT_EQ(backup_mount_disk(nullptr), DVR_ENODISK);
    expect_nothing_mounted();
}

TEST_F(MountTest, DeviceThatNoLongerOpensIsNoDisk) {
    ASSERT_EQ(::unlink(path_.c_str()), 0);
    EXPECT_EQ(backup_mount_disk(&row(kRecorder)), DVR_ENODISK);
    expect_nothing_mounted();
}

TEST_F(MountTest, EntriesWithoutAFileSystemAreNotMountable) {
    // A recorder volume mounted and unmounted first leaves its record behind; the refusals
    // must clear it.
    ASSERT_EQ(backup_mount_disk(&row(kRecorder)), 0);
    ASSERT_EQ(backup_unmount_disk(), 0);
    for (int r : {kWhole, kEmptyRecorderType, kMs}) {
        SCOPED_TRACE(fs_type_name(row(r).fs_type));
        EXPECT_EQ(backup_mount_disk(&row(r)), DVR_ENOBACKUP);
        expect_nothing_mounted();
    }
    EXPECT_EQ(row(kWhole).fs_type, FS_WHOLE);
    EXPECT_EQ(row(kEmptyRecorderType).fs_type, FS_OTHER);
    EXPECT_EQ(row(kMs).fs_type, FS_MS);
}

TEST_F(MountTest, DriverFailureLeavesNothingMounted) {
    // Damage both super blocks after the scan listed them.
    testkit::patch_recorder_sb(path_, row(kRecorder).start_sector + 65536 / 2,
                               [](DvrSuperBlock& sb) { sb.magic = 0; });
    testkit::patch_backup_sb(path_, row(kBackup).start_sector,
                             [](BackupSuperBlock& sb) { sb.created = 0; });
    EXPECT_EQ(backup_mount_disk(&row(kRecorder)), DVR_ENOBACKUP);
    expect_nothing_mounted();
    EXPECT_EQ(backup_mount_disk(&row(kBackup)), DVR_ENOBACKUP);
    expect_nothing_mounted();
    EXPECT_EQ(backup_unmount_disk(), DVR_ENOTMOUNTED);
}

TEST_F(MountTest, SectorReadsAreRelativeToTheMountedArea) {
    ASSERT_EQ(backup_mount_disk(&row(kRecorder)), 0);
    const uint64_t origin = row(kRecorder).start_sector;
    uint8_t buffer[2 * kSectorSize];
    ASSERT_EQ(hdd_read_sectors(65536 / 2, 1, buffer), 0);
    EXPECT_EQ(
        std::memcmp(buffer, testkit::read_sector(path_, origin + 65536 / 2).data(), kSectorSize),
        0);
    uint8_t sb[sizeof(DvrSuperBlock)];
    ASSERT_EQ(hdd_read_super_block(65536, sb), 0);
    EXPECT_EQ(std::memcmp(sb, buffer, sizeof sb), 0);
    // The last sector of the image still reads; one more does not.
    EXPECT_EQ(hdd_read_sectors(kTotal - origin - 1, 1, buffer), 0);
    EXPECT_EQ(hdd_read_sectors(kTotal - origin - 1, 2, buffer), DVR_EDISK);
}

TEST_F(MountTest, ReadsPastTheEndFailWithDiskError) {
    ASSERT_EQ(backup_mount_disk(&row(kRecorder)), 0);
    const uint64_t origin = row(kRecorder).start_sector;
    const uint64_t max = std::numeric_limits<uint64_t>::max();
    uint8_t buffer[kSectorSize];
    for (uint64_t sector : {kTotal - origin, kTotal, max, max - origin + 1, max / 512,
                            max / 512 - origin, max / 512 - origin + 1}) {
        SCOPED_TRACE(sector);
        dvrfs_set_trace(true);
        testkit::StderrCapture capture;
        EXPECT_EQ(hdd_read_sectors(sector, 1, buffer), DVR_EDISK);
        const std::string trace = capture.text();
        dvrfs_set_trace(false);
        ASSERT_GE(trace.size(), 9u);
        // A read the drive refused also names the image and the byte; a sector whose byte
        // position overflows is refused before any read.
        const bool read = sector < max / 512 - origin;
        const std::string named = "Read failed: '" + path_ + "' at byte " +
                                  std::to_string((sector + origin) * 512) + "\n";
        EXPECT_EQ(trace.substr(9, 12), "Disk Access\n");
        if (read) {
            ASSERT_GE(trace.size(), 21u + 9u);
            EXPECT_EQ(trace.substr(21 + 9), named);
        } else {
            EXPECT_EQ(trace.size(), 21u);
        }
    }
}

TEST_F(MountTest, BareVolumeAt2552MountsThroughTheSecondProbe) {
    disk_layer_reset();
    platform::detach_all();
    sample::DiskSpec spec;
    spec.total_sectors = kTotal;
    spec.layout = sample::DiskLayout::Bare;
    spec.bare_start = 2552;
    spec.bare.kind = AreaKind::Recorder;
    spec.bare.recorder.created = kCreated;
    spec.bare.recorder.channel_count = 15;
    spec.bare.recorder.content.build_index = false;
    std::string path = testkit::build_image(dir_, "bare2552.img", spec).path;
    ASSERT_EQ(platform::attach_image(path), 1);
    ASSERT_EQ(backup_scan_disks(), 1);

    auto log = std::make_shared<std::vector<uint64_t>>();
    platform::set_drive_opener([log](const char* p) -> std::unique_ptr<platform::Drive> {
        return std::make_unique<testkit::CountingDrive>(testkit::open_file_drive(p), log);
    });
    ASSERT_EQ(backup_mount_disk(&backup_disk_table()[0]), 0);
    // First probe: the middle of [0, total); second: the middle of [2552, 2552 + total).
    ASSERT_GE(log->size(), 2u);
    EXPECT_EQ(log->front(), kTotal / 2);
    EXPECT_EQ(log->back(), 2552 + kTotal / 2);
    ASSERT_EQ(backup_volume_count(), 1);
    EXPECT_EQ(backup_volume_records()[0].created, kCreated);
    EXPECT_EQ(backup_volume_records()[0].channel_count, 15u);
    EXPECT_EQ(backup_volume_records()[0].data_channel_count, 12u);
}

// --- Read-only proof ---------------------------------------------------------------------------

TEST_F(MountTest, ImageBytesUnchangedByScanMountAndUnmount) {
    const std::string before = testkit::fingerprint(path_);
    for (int r : {kRecorder, kBackup}) {
        ASSERT_EQ(backup_scan_disks(), kRows);
        ASSERT_EQ(backup_mount_disk(&row(r)), 0);
        uint8_t buffer[kSectorSize];
        EXPECT_EQ(hdd_read_sectors(0, 1, buffer), 0);
        ASSERT_EQ(backup_unmount_disk(), 0);
    }
    EXPECT_EQ(testkit::fingerprint(path_), before);
}

TEST_F(MountTest, MountedImageIsOpenReadOnly) {
    for (int r : {kRecorder, kBackup}) {
        ASSERT_EQ(backup_mount_disk(&row(r)), 0);
        std::vector<int> fds = testkit::fds_open_on(path_);
        ASSERT_EQ(fds.size(), 1u);
        EXPECT_EQ(testkit::fd_access_mode(fds[0]), O_RDONLY);
        ASSERT_EQ(backup_unmount_disk(), 0);
        EXPECT_TRUE(testkit::fds_open_on(path_).empty()) << "unmount closes the drive";
    }
}

}  // namespace
