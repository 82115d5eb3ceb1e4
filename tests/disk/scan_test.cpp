// The drive scan: which drives are examined, how each disk and partition is classified, and
// what happens when drives misbehave or the table fills up.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
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
using sample::DiskLayout;
using sample::DiskSpec;
using sample::PartitionSpec;

constexpr uint64_t kTotal = 262144;  // 128 MiB, sparse

DiskSpec bare_disk(AreaKind kind, uint64_t start = 0) {
    DiskSpec spec;
    spec.total_sectors = kTotal;
    spec.layout = DiskLayout::Bare;
    spec.bare_start = start;
    spec.bare.kind = kind;
    spec.bare.recorder.content.build_index = false;  // the scan needs no channel data
    return spec;
}

PartitionSpec partition(uint8_t type_byte, uint32_t start, uint32_t count, AreaKind kind) {
    PartitionSpec p;
    p.type_byte = type_byte;
    p.start = start;
    p.count = count;
    p.area.kind = kind;
    p.area.recorder.content.build_index = false;
    return p;
}

DiskSpec partitioned(std::vector<PartitionSpec> parts) {
    DiskSpec spec;
    spec.total_sectors = kTotal;
    spec.layout = DiskLayout::Partitioned;
    spec.partitions = std::move(parts);
    return spec;
}

struct Expected {
    uint32_t fs_type;
    uint32_t partition;
    uint32_t partition_type;
    uint32_t bootable;
    uint64_t start;
    uint64_t count;
};

void expect_entry(const DiskEntry& e, const std::string& path, const Expected& x) {
    EXPECT_STREQ(e.device_path, path.c_str());
    EXPECT_EQ(e.fs_type, x.fs_type) << fs_type_name(e.fs_type);
    EXPECT_EQ(e.partition, x.partition);
    EXPECT_EQ(e.partition_type, x.partition_type) << fs_type_name(e.partition_type);
    EXPECT_EQ(e.bootable, x.bootable);
    EXPECT_EQ(e.start_sector, x.start);
    EXPECT_EQ(e.sector_count, x.count);
}

class ScanTest : public testkit::DiskLayerTest {
protected:
    std::string image(const std::string& name, const DiskSpec& spec) {
        return testkit::build_image(dir_, name, spec).path;
    }
    // Attaches one image as drive 1 and scans with the trace captured.
    int32_t scan_one(const std::string& path, std::string* trace = nullptr) {
        EXPECT_EQ(platform::attach_image(path), 1);
        dvrfs_set_trace(trace != nullptr);
        testkit::StderrCapture capture;
        int32_t n = backup_scan_disks();
        if (trace) *trace = capture.text();
        dvrfs_set_trace(false);
        return n;
    }
    const DiskEntry* table() const { return backup_disk_table(); }
};

TEST_F(ScanTest, DriveZeroIsNeverExamined) {
    std::string path = image("rec.img", bare_disk(AreaKind::Recorder));
    ASSERT_EQ(platform::attach_drive(0, path), 0);
    auto log = std::make_shared<std::vector<std::string>>();
    platform::set_drive_opener([log](const char* p) {
        log->push_back(p);
        return testkit::open_file_drive(p);
    });
    EXPECT_EQ(backup_scan_disks(), 0);
    EXPECT_EQ(backup_disk_count(), 0);
    EXPECT_TRUE(log->empty()) << "a drive was opened";
}

TEST_F(ScanTest, BareDisks) {
    struct Case {
        const char* name;
        DiskSpec spec;
        uint32_t type;
        bool second_probe;
    } cases[] = {
        {"at0", bare_disk(AreaKind::Recorder, 0), FS_PSOS, false},
        {"at2552", bare_disk(AreaKind::Recorder, 2552), FS_PSOS, true},
        {"nothing", bare_disk(AreaKind::Empty), FS_OTHER, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset_all();
        std::string path = image(std::string(c.name) + ".img", c.spec);
        std::string trace;
        ASSERT_EQ(scan_one(path, &trace), 1);
        expect_entry(table()[0], path, {c.type, 0, c.type, 0, 0, kTotal});
        EXPECT_NE(trace.find("1: Drive '" + path + "' Open !\n"), std::string::npos) << trace;
        EXPECT_NE(trace.find("   ===> non MBR, Non Partitioned Disk\n"), std::string::npos);
        EXPECT_NE(trace.find("_hdd_blk_read 0, 262144\n"), std::string::npos);
        EXPECT_EQ(trace.find("_hdd_blk_read 2552, 262144\n") != std::string::npos, c.second_probe);
    }
}

TEST_F(ScanTest, MsBootSectorIsOneMsEntry) {
    DiskSpec spec = bare_disk(AreaKind::Empty);
    spec.layout = DiskLayout::MsBoot;
    std::string path = image("ms.img", spec);
    std::string trace;
    ASSERT_EQ(scan_one(path, &trace), 1);
    expect_entry(table()[0], path, {FS_MS, 0, FS_MS, 0, 0, kTotal});
    EXPECT_NE(trace.find("   ===> This disk is MS-DOS/NTFS only disk\n"), std::string::npos);
}

TEST_F(ScanTest, RecorderPartitionGivesWholeAndPartitionEntries) {
    PartitionSpec p = partition(0xF0, 2048, 131072, AreaKind::Recorder);
    p.bootable = true;
    std::string path = image("part.img", partitioned({p}));
    ASSERT_EQ(scan_one(path), 2);
    expect_entry(table()[0], path, {FS_WHOLE, 0, FS_WHOLE, 0, 0, kTotal});
    expect_entry(table()[1], path, {FS_PSOS, 1, FS_DVR20, 1, 2048, 131072});
}

TEST_F(ScanTest, BackupSuperBlockBehindAnyTypeByte) {
    std::vector<PartitionSpec> parts = {
        partition(0x83, 2048, 65536, AreaKind::Backup),
        partition(0xF2, 67584, 65536, AreaKind::Backup),
    };
    std::string path = image("backup.img", partitioned(parts));
    std::string trace;
    ASSERT_EQ(scan_one(path, &trace), 3);
    expect_entry(table()[1], path, {FS_BACKUP10, 1, FS_LINUX, 0, 2048, 65536});
    expect_entry(table()[2], path, {FS_BACKUP10, 2, FS_BACKUP10, 0, 67584, 65536});

    // Both partitions report the backup file system; only the 0x83 one is a mismatch.
    const std::string found = " Backup File System Found\n";
    const std::string mismatch = " File System and Partition Type Mismatch\n";
    size_t first = trace.find(found);
    ASSERT_NE(first, std::string::npos) << trace;
    size_t second = trace.find(found, first + 1);
    ASSERT_NE(second, std::string::npos) << trace;
    size_t m = trace.find(mismatch);
    ASSERT_NE(m, std::string::npos) << trace;
    EXPECT_GT(m, first);
    EXPECT_LT(m, second);
    EXPECT_EQ(trace.find(mismatch, m + 1), std::string::npos) << trace;
}

TEST_F(ScanTest, PartitionsWithoutFileSystemAreClassedByTypeByte) {
    std::vector<PartitionSpec> parts = {
        partition(0xF0, 2048, 32768, AreaKind::Empty),   // recorder type, no super block
        partition(0xF2, 34816, 32768, AreaKind::Empty),  // backup type, no super block
        partition(0x07, 67584, 32768, AreaKind::Empty),
        partition(0xFF, 100352, 32768, AreaKind::Empty),
    };
    std::string path = image("types.img", partitioned(parts));
    std::string trace;
    ASSERT_EQ(scan_one(path, &trace), 5);
    // Every such partition also fails the backup probe, which says so.
    const std::string refusal = " Super Block Checksum ID:00000000 Layout:00000000 Time:NULL";
    size_t refusals = 0;
    for (size_t at = trace.find(refusal); at != std::string::npos;
         at = trace.find(refusal, at + 1)) {
        ++refusals;
    }
    EXPECT_EQ(refusals, 4u) << trace;
    expect_entry(table()[1], path, {FS_OTHER, 1, FS_DVR20, 0, 2048, 32768});
    expect_entry(table()[2], path, {FS_OTHER, 2, FS_BACKUP10, 0, 34816, 32768});
    expect_entry(table()[3], path, {FS_MS, 3, FS_MS, 0, 67584, 32768});
    expect_entry(table()[4], path, {FS_OTHER, 4, FS_OTHER, 0, 100352, 32768});
}

TEST_F(ScanTest, EmptyTableEntryKeepsTheLaterPositions) {
    std::vector<PartitionSpec> parts = {
        partition(0x83, 2048, 0, AreaKind::Empty),
        partition(0xF0, 2048, 131072, AreaKind::Recorder),
        partition(0x0C, 133120, 65536, AreaKind::Empty),
    };
    std::string path = image("gap.img", partitioned(parts));
    ASSERT_EQ(scan_one(path), 3);
    expect_entry(table()[1], path, {FS_PSOS, 2, FS_DVR20, 0, 2048, 131072});
    expect_entry(table()[2], path, {FS_MS, 3, FS_MS, 0, 133120, 65536});
}

TEST_F(ScanTest, PartitionBeyondTheEndOfTheDiskIsClassedByTypeByte) {
    std::vector<PartitionSpec> parts = {
        partition(0x83, 2048, 65536, AreaKind::Empty),
        partition(0x07, 67584, 65536, AreaKind::Empty),
    };
    std::string path = image("beyond.img", partitioned(parts));
    // Rewrite the table: entry 1 lies wholly past the end, entry 2 starts inside and runs out.
    PartitionEntry e[2] = {};
    std::vector<uint8_t> s0 = testkit::read_sector(path, 0);
    std::memcpy(e, s0.data() + kPartitionTableOffset, sizeof e);
    e[0].start_sector = 0xFFFFFF00u;
    e[0].sector_count = 0x100000u;
    e[1].sector_count = 0xFFFFFFF0u;
    testkit::write_bytes(path, kPartitionTableOffset, e, sizeof e);

    ASSERT_EQ(scan_one(path), 3);
    expect_entry(table()[1], path, {FS_LINUX, 1, FS_LINUX, 0, 0xFFFFFF00u, 0x100000u});
    expect_entry(table()[2], path, {FS_MS, 2, FS_MS, 0, 67584, 0xFFFFFFF0u});
}

TEST_F(ScanTest, UnreadableDrivesAreSkipped) {
    std::string good = image("good.img", bare_disk(AreaKind::Recorder));
    std::string tiny = image("tiny.img", bare_disk(AreaKind::Recorder));
    ASSERT_EQ(::truncate(tiny.c_str(), 100), 0);  // shorter than one sector
    ASSERT_EQ(platform::attach_drive(1, tiny), 0);
    ASSERT_EQ(platform::attach_drive(2, dir_.path()), 0);  // a directory
    ASSERT_EQ(platform::attach_drive(3, dir_.file("missing.img")), 0);
    ASSERT_EQ(platform::attach_drive(4, good), 0);
    ASSERT_EQ(backup_scan_disks(), 1);
    expect_entry(table()[0], good, {FS_PSOS, 0, FS_PSOS, 0, 0, kTotal});
}

TEST_F(ScanTest, GeometryFailureAndNonDiskMediaAreSkipped) {
    std::string path = image("rec.img", bare_disk(AreaKind::Recorder));
    for (int n = 1; n <= 4; ++n) ASSERT_EQ(platform::attach_drive(n, path), 0);
    int opened = 0;
    platform::set_drive_opener([&opened](const char* p) -> std::unique_ptr<platform::Drive> {
        const int n = ++opened;
        auto inner = testkit::open_file_drive(p);
        platform::DriveGeometry g = platform::synthesise_geometry(kTotal, platform::kMediaFixed);
        if (n == 1) return std::make_unique<testkit::GeometryDrive>(std::move(inner), -1, g);
        if (n == 2) g.media_type = 0;  // neither fixed nor removable
        if (n == 3) g.media_type = platform::kMediaRemovable;
        return std::make_unique<testkit::GeometryDrive>(std::move(inner), 0, g);
    });
    dvrfs_set_trace(true);
    testkit::StderrCapture capture;
    ASSERT_EQ(backup_scan_disks(), 2);
    dvrfs_set_trace(false);
    EXPECT_EQ(opened, 4);
    // Only the drive with the odd media type gets that far; the failed query ends drive 1.
    const std::string trace = capture.text();
    const size_t not_hdd = trace.find(" This disk is not HDD\n");
    ASSERT_NE(not_hdd, std::string::npos) << trace;
    EXPECT_EQ(trace.find(" This disk is not HDD\n", not_hdd + 1), std::string::npos) << trace;
    expect_entry(table()[0], path, {FS_PSOS, 0, FS_PSOS, 0, 0, kTotal});
    expect_entry(table()[1], path, {FS_PSOS, 0, FS_PSOS, 0, 0, kTotal});
}

TEST_F(ScanTest, SizeIsTracedInMegabytesUpToTenGigabytes) {
    DiskSpec ten = bare_disk(AreaKind::Empty);
    ten.total_sectors = 10ull * 2097152;
    DiskSpec eleven = bare_disk(AreaKind::Empty);
    eleven.total_sectors = 11ull * 2097152;
    ASSERT_EQ(platform::attach_image(image("ten.img", ten)), 1);
    ASSERT_EQ(platform::attach_image(image("eleven.img", eleven)), 2);
    dvrfs_set_trace(true);
    testkit::StderrCapture capture;
    ASSERT_EQ(backup_scan_disks(), 2);
    dvrfs_set_trace(false);
    const std::string trace = capture.text();
    EXPECT_NE(trace.find(" 20971520 blks (10240MB)\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" 23068672 blks (11GB)\n"), std::string::npos) << trace;
    EXPECT_EQ(table()[1].sector_count, 23068672u);
}

// 29 drives of five entries each would need 145 rows; the table has 30 and must stop there.
class FullTableTest : public ScanTest, public ::testing::WithParamInterface<int> {};

TEST_P(FullTableTest, StopsAtThirtyEntries) {
    const int parts_per_disk = GetParam();
    std::vector<PartitionSpec> parts;
    for (int i = 0; i < parts_per_disk; ++i) {
        parts.push_back(
            partition(0x83, 2048 + 32768u * static_cast<uint32_t>(i), 32768, AreaKind::Empty));
    }
    std::string path = image("four.img", partitioned(parts));
    for (int n = 1; n <= 29; ++n) ASSERT_EQ(platform::attach_drive(n, path), 0);
    ASSERT_EQ(backup_scan_disks(), kDiskTableSize);
    EXPECT_EQ(backup_disk_count(), kDiskTableSize);
    const int per_disk = parts_per_disk + 1;
    for (int i = 0; i < kDiskTableSize; ++i) {
        const DiskEntry& e = table()[i];
        const uint32_t position = static_cast<uint32_t>(i % per_disk);
        EXPECT_EQ(e.partition, position) << i;
        EXPECT_EQ(e.fs_type, position == 0 ? FS_WHOLE : FS_LINUX) << i;
        EXPECT_STREQ(e.device_path, path.c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(PartitionsPerDisk, FullTableTest, ::testing::Values(3, 4));

TEST_F(ScanTest, ScanWhileMountedLeavesTheTableAlone) {
    std::string path = image("rec.img", bare_disk(AreaKind::Recorder));
    ASSERT_EQ(scan_one(path), 1);
    ASSERT_EQ(backup_mount_disk(&table()[0]), 0);
    DiskEntry before[kDiskTableSize];
    std::memcpy(before, table(), sizeof before);
    EXPECT_EQ(backup_scan_disks(), DVR_EMOUNTED);
    EXPECT_EQ(backup_disk_count(), 1);
    EXPECT_EQ(std::memcmp(before, table(), sizeof before), 0);
    EXPECT_EQ(backup_mounted_disk(), &table()[0]);
}

TEST_F(ScanTest, RescanAfterUnmountStartsAtOriginZero) {
    std::vector<PartitionSpec> parts = {partition(0xF0, 2048, 131072, AreaKind::Recorder)};
    std::string path = image("part.img", partitioned(parts));
    ASSERT_EQ(scan_one(path), 2);
    ASSERT_EQ(backup_mount_disk(&table()[1]), 0);
    ASSERT_EQ(backup_unmount_disk(), 0);
    ASSERT_EQ(backup_scan_disks(), 2);
    expect_entry(table()[1], path, {FS_PSOS, 1, FS_DVR20, 0, 2048, 131072});
}

}  // namespace
