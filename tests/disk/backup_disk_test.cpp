// The backup super block probe and the backup driver's mount: session records, slots and the
// sectors of headers and blocks.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <regex>
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
using sample::BackupDiskSpec;
using sample::SessionSpec;
using Reads = std::vector<uint64_t>;

constexpr uint32_t kOrigin = 2048;                 // the backup partition's first sector
constexpr uint32_t kCount = (8u << 20) - kOrigin;  // sparse room for a block per channel
constexpr uint32_t kCreated = 1000000000;          // 2001/09/09-01:46:40

SessionSpec session(uint32_t slot, const std::string& name, uint32_t created) {
    SessionSpec s;
    s.slot = slot;
    s.name = name;
    s.created = created;
    s.interval = 15;
    s.oldest = created + 60;
    s.newest = created + 3600;
    s.channel_count = 27;
    s.data_channel_count = 24;
    s.content.build_index = false;
    return s;
}

BackupDiskSpec backup(int32_t slots, std::vector<SessionSpec> sessions) {
    BackupDiskSpec b;
    b.slot_count = slots;
    b.created = kCreated;
    b.block_size = 4096;  // small blocks keep the channels' empty blocks cheap to write
    b.sessions = std::move(sessions);
    return b;
}

class BackupDiskTest : public testkit::DiskLayerTest {
protected:
    // A partitioned disk whose first partition (type 0xF2) holds the backup area.
    std::string build(const BackupDiskSpec& b) {
        sample::PartitionSpec p;
        p.type_byte = kPartTypeBackup;
        p.start = kOrigin;
        p.count = kCount;
        p.area.kind = AreaKind::Backup;
        p.area.backup = b;
        sample::DiskSpec spec;
        spec.total_sectors = kOrigin + kCount;
        spec.layout = sample::DiskLayout::Partitioned;
        spec.partitions = {p};
        return testkit::build_image(dir_, "backup" + std::to_string(++images_) + ".img", spec).path;
    }
    // Probes with the trace on; returns the probe's result and what it traced.
    int32_t probe(const std::string& path, int keep, std::string* trace) {
        testkit::install_counting_drive(path, kOrigin);
        dvrfs_set_trace(true);
        testkit::StderrCapture capture;
        int32_t rc = backup_sb_read(0, keep);
        *trace = capture.text();
        dvrfs_set_trace(false);
        return rc;
    }
    int images_ = 0;
};

// The trace line of a single trace call: clock, space, message.
std::string message_of(const std::string& line) {
    std::smatch m;
    static const std::regex kLine("[0-9]{2}:[0-9]{2}:[0-9]{2} ([\\s\\S]*)");
    if (!std::regex_match(line, m, kLine)) return "<" + line + ">";
    return m[1];
}

TEST_F(BackupDiskTest, ValidSuperBlockIsRetainedOnlyWithKeep) {
    std::string path = build(backup(4, {session(0, "A", kCreated)}));
    std::string trace;
    EXPECT_EQ(probe(path, 0, &trace), 0);
    EXPECT_EQ(bkfs_super_block(), nullptr);
    EXPECT_EQ(probe(path, 1, &trace), 0);
    ASSERT_NE(bkfs_super_block(), nullptr);
    EXPECT_EQ(std::memcmp(bkfs_super_block(), testkit::read_sector(path, kOrigin).data(),
                          sizeof(BackupSuperBlock)),
              0);
    EXPECT_EQ(bkfs_unmount(), 0);
    EXPECT_EQ(bkfs_super_block(), nullptr);
}

TEST_F(BackupDiskTest, CreationTimeZeroIsNoBackupDisk) {
    BackupDiskSpec b = backup(4, {});
    b.damage.created_zero = true;
    std::string path = build(b);
    std::string trace;
    EXPECT_EQ(probe(path, 1, &trace), DVR_ENOBACKUP);
    EXPECT_EQ(message_of(trace), "Super Block Checksum ID:C3C3BABA Layout:00000100 Time:NULL");
    EXPECT_EQ(bkfs_super_block(), nullptr);
}

TEST_F(BackupDiskTest, WrongMagicOrLayoutTracesTheThreeWords) {
    for (int which = 0; which < 2; ++which) {
        SCOPED_TRACE(which);
        BackupDiskSpec b = backup(4, {});
        (which == 0 ? b.damage.magic : b.damage.version) = true;
        std::string path = build(b);
        BackupSuperBlock sb;
        std::memcpy(&sb, testkit::read_sector(path, kOrigin).data(), sizeof sb);
        ASSERT_TRUE(sb.magic != kBackupMagic || sb.layout != kBackupLayout);
        char expected[128];
        std::snprintf(expected, sizeof expected,
                      "Super Block Checksum ID:%08X Layout:%08X Time:2001/09/09-01:46:40", sb.magic,
                      sb.layout);
        std::string trace;
        EXPECT_EQ(probe(path, 1, &trace), DVR_ENOBACKUP);
        EXPECT_EQ(message_of(trace), expected);
        EXPECT_EQ(bkfs_super_block(), nullptr);
    }
}

TEST_F(BackupDiskTest, BadChecksumIsNoBackupDisk) {
    BackupDiskSpec b = backup(4, {});
    b.damage.checksum = true;
    std::string path = build(b);
    std::string trace;
    EXPECT_EQ(probe(path, 1, &trace), DVR_ENOBACKUP);
    EXPECT_EQ(message_of(trace), "Super Block Checksum");
    EXPECT_EQ(bkfs_super_block(), nullptr);
}

TEST_F(BackupDiskTest, MoreThanThirtyTwoSlotsIsNoBackupDisk) {
    for (int32_t slots : {33, 1000, INT32_MAX}) {
        SCOPED_TRACE(slots);
        disk_layer_reset();
        std::string path = build(backup(4, {session(0, "A", kCreated)}));
        testkit::patch_backup_sb(path, kOrigin, [slots](BackupSuperBlock& sb) {
            sb.slot_count = slots;
            sb.sessions_used = 1;
        });
        testkit::ReadLog log = testkit::install_counting_drive(path, kOrigin);
        EXPECT_EQ(backup_sb_read(0, 1), DVR_ENOBACKUP);
        EXPECT_EQ(bkfs_super_block(), nullptr);
        EXPECT_EQ(bkfs_mount(), DVR_ENOBACKUP);
        EXPECT_EQ(backup_volume_count(), 0);
        for (uint64_t s : *log) EXPECT_EQ(s, kOrigin) << "only the super block is read";
    }
}

TEST_F(BackupDiskTest, NoSessionInUseListsNothingEvenWithHeaders) {
    BackupDiskSpec b = backup(4, {session(0, "A", kCreated), session(1, "B", kCreated + 1)});
    b.sessions_used = 0;
    std::string path = build(b);
    testkit::ReadLog log = testkit::install_counting_drive(path, kOrigin);
    EXPECT_EQ(bkfs_mount(), 0);
    EXPECT_EQ(backup_volume_count(), 0);
    EXPECT_EQ(*log, Reads{kOrigin});
}

TEST_F(BackupDiskTest, EverySlotBecomesARecordEmptyOnesIncluded) {
    std::string path =
        build(backup(4, {session(0, "MORNING", kCreated), session(1, "NOON", kCreated + 100),
                         session(3, "NIGHT", kCreated + 300)}));
    testkit::install_counting_drive(path, kOrigin);
    ASSERT_EQ(bkfs_mount(), 0);
    ASSERT_EQ(backup_volume_count(), 4);
    const VolumeRecord* v = backup_volume_records();
    const char* names[] = {"MORNING", "NOON", nullptr, "NIGHT"};
    for (uint32_t s = 0; s < 4; ++s) {
        SCOPED_TRACE(s);
        if (names[s] == nullptr) {
            EXPECT_EQ(v[s].created, 0u);
            continue;
        }
        EXPECT_STREQ(v[s].name, names[s]);
        EXPECT_EQ(v[s].slot, s);
        EXPECT_EQ(v[s].created, kCreated + 100 * s);
        EXPECT_EQ(v[s].interval, 15u);
        EXPECT_EQ(v[s].oldest, kCreated + 100 * s + 60);
        EXPECT_EQ(v[s].newest, kCreated + 100 * s + 3600);
        EXPECT_EQ(v[s].channel_count, 27u);
        EXPECT_EQ(v[s].data_channel_count, 24u);
    }
}

TEST_F(BackupDiskTest, SessionNamesAreAlwaysTerminated) {
    // The first name uses all 128 bytes of the field, with no NUL.
    std::string path =
        build(backup(2, {session(0, std::string(128, 'X'), kCreated), session(1, "B", kCreated)}));
    ASSERT_EQ(testkit::read_sector(path, kOrigin + 129)[127], 'X');
    testkit::install_counting_drive(path, kOrigin);
    ASSERT_EQ(bkfs_mount(), 0);
    ASSERT_EQ(backup_volume_count(), 2);
    const VolumeRecord& v = backup_volume_records()[0];
    ASSERT_LT(strnlen(v.name, sizeof v.name), sizeof v.name);
    EXPECT_EQ(std::string(v.name), std::string(127, 'X'));
    EXPECT_EQ(v.slot, 0u) << "the fields after the name are untouched";
    EXPECT_STREQ(backup_volume_records()[1].name, "B");
}

TEST_F(BackupDiskTest, HeadersAndBlocksOfAThirtyTwoSlotDisk) {
    std::string path = build(backup(32, {session(3, "D", kCreated)}));
    testkit::ReadLog log = testkit::install_counting_drive(path, kOrigin);
    ASSERT_EQ(bkfs_mount(), 0);
    EXPECT_EQ(backup_volume_count(), 32);
    ASSERT_EQ(log->size(), 33u);
    EXPECT_EQ((*log)[0], kOrigin);
    EXPECT_EQ((*log)[4], kOrigin + 939u);  // slot 3: 129 + 3 x 270
    for (uint32_t s = 0; s < 32; ++s) EXPECT_EQ((*log)[1 + s], kOrigin + 129u + 270u * s);
    EXPECT_STREQ(backup_volume_records()[3].name, "D");

    EXPECT_EQ(bkfs_block_sector(1, 0), 8769u);  // 129 + 32 x 270
    EXPECT_EQ(bkfs_block_sector(1, 511), 8769u);
    EXPECT_EQ(bkfs_block_sector(1, 512), 8770u);
    EXPECT_EQ(bkfs_block_sector(2, 0), 8769u + 65536u);
    EXPECT_EQ(bkfs_block_sector(3, kBackupBlockSize - 1), 8769u + 2u * 65536u + 65535u);
}

TEST_F(BackupDiskTest, FourSlotDiskDataStartsAfterFourHeaders) {
    std::string path = build(backup(4, {session(0, "A", kCreated)}));
    testkit::install_counting_drive(path, kOrigin);
    ASSERT_EQ(bkfs_mount(), 0);
    EXPECT_EQ(bkfs_block_sector(1, 0), 1209u);  // 129 + 4 x 270
    EXPECT_EQ(bkfs_block_sector(2, 1024), 1209u + 65536u + 2u);
}

TEST_F(BackupDiskTest, UnreadableHeaderMountsWithoutSessions) {
    std::string path = build(backup(4, {session(0, "A", kCreated), session(1, "B", kCreated),
                                        session(2, "C", kCreated), session(3, "D", kCreated)}));
    // Cut the image inside the header of slot 2.
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>((kOrigin + 129 + 2 * 270) * kSectorSize)),
              0);
    testkit::install_counting_drive(path, kOrigin);
    EXPECT_EQ(bkfs_mount(), 0);
    EXPECT_EQ(backup_volume_count(), 0);
}

}  // namespace
