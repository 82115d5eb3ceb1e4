// Drive scan, disk mount, session mount and channel reads over a drive that fails: the error
// codes and trace lines the disk layer gives, what it keeps, and that a cleared fault leaves
// nothing poisoned behind.
#include <cstring>

#include "disk/channel_i.h"
#include "disk/disk_i.h"
#include "tests/hardening/core_fault_test.h"
#include "tests/testkit/image_tools.h"

namespace {

using hardening::CoreFaultTest;
using testkit::kT0;

sample::VolumeContent video_content() {
    sample::VolumeContent content;
    content.channels.push_back(testkit::steady_channel(3, kT0, kT0 + 600, 256));
    return content;
}

class DiskFaultTest : public CoreFaultTest {
protected:
    // A recorder image and a backup image; the plan applies to the recorder image only.
    void build_two() {
        recorder_ = testkit::build_image(dir_, "recorder.img", testkit::small_recorder(video_content()));
        sample::SessionSpec session;
        session.content = video_content();
        backup_ = testkit::build_image(dir_, "backup.img", testkit::small_backup({session}));
        platform::install_fault_opener(plan_, recorder_.path);
        ASSERT_EQ(platform::attach_image(recorder_.path), 1);
        ASSERT_EQ(platform::attach_image(backup_.path), 2);
    }
    int32_t scan() {
        DiskEntry table[kDiskTableSize];
        const int32_t rc = api_scan_disks(table);
        return rc < 0 ? rc : api_disk_count();
    }
    const DiskEntry& row(int r) { return backup_disk_table()[r]; }
    uint64_t recorder_super_sector() const {
        return recorder_.volumes[0].origin + recorder_.volumes[0].super_block_sector;
    }

    sample::ImageSummary recorder_, backup_;
};

TEST_F(DiskFaultTest, ScanSkipsADriveWhoseFirstSectorFailsAndListsTheOthers) {
    build_two();
    plan_->fail_sectors(0);
    start_trace();
    ASSERT_EQ(scan(), 2);  // the backup disk: whole disk and its partition
    const std::string trace = stop_trace();
    EXPECT_STREQ(row(0).device_path, backup_.path.c_str());
    EXPECT_EQ(row(0).fs_type, FS_WHOLE);
    EXPECT_EQ(row(1).fs_type, FS_BACKUP10);
    EXPECT_NE(trace.find("1: Drive '" + recorder_.path + "' Open !"), std::string::npos) << trace;
    EXPECT_EQ(hardening::occurrences(trace, "Disk Access\n"), 1u) << trace;
    EXPECT_GE(plan_->failed_reads(), 1u);
}

TEST_F(DiskFaultTest, ScanListsADriveWhoseSuperBlockFailsAsOther) {
    build_two();
    plan_->fail_sectors(recorder_super_sector());
    start_trace();
    ASSERT_EQ(scan(), 3);
    const std::string trace = stop_trace();
    EXPECT_STREQ(row(0).device_path, recorder_.path.c_str());
    EXPECT_EQ(row(0).fs_type, FS_OTHER);
    EXPECT_EQ(row(2).fs_type, FS_BACKUP10);
    EXPECT_NE(trace.find("_hdd_blk_read 0, 1048576\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("Disk Access\n"), std::string::npos) << trace;
    // Once the drive reads again the same scan finds the volume.
    plan_->clear();
    ASSERT_EQ(scan(), 3);
    EXPECT_EQ(row(0).fs_type, FS_PSOS);
}

TEST_F(DiskFaultTest, ScanOfAShrunkenDriveReportsItsNewSize) {
    build_two();
    plan_->shrink_to(uint64_t{1} << 28);  // half the image
    ASSERT_EQ(scan(), 3);
    EXPECT_EQ(row(0).sector_count, uint64_t{1} << 19);
    EXPECT_EQ(row(0).fs_type, FS_OTHER);  // the middle sector is another one now
    plan_->shrink_to(0);
    start_trace();
    ASSERT_EQ(scan(), 2);
    const std::string trace = stop_trace();
    EXPECT_STREQ(row(0).device_path, backup_.path.c_str());
    EXPECT_NE(trace.find(" 0 blks (0MB)\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("Disk Access\n"), std::string::npos) << trace;
}

TEST_F(DiskFaultTest, MountFailsWithADiskErrorAndLeavesNothingMounted) {
    build_two();
    ASSERT_EQ(scan(), 3);
    plan_->fail_sectors(recorder_super_sector());
    start_trace();
    // The mount tries the second place a bare disk may keep its volume; its verdict stands.
    EXPECT_EQ(api_mount_disk(0), DVR_ENOBACKUP);
    const std::string trace = stop_trace();
    EXPECT_NE(trace.find("Disk Access\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("_hdd_blk_read 2552, 1048576\n"), std::string::npos) << trace;
    EXPECT_EQ(backup_mounted_disk(), nullptr);
    EXPECT_EQ(api_session_count(), 0);
    EXPECT_EQ(api_mount_session(0), DVR_EINVAL);
    plan_->clear();
    ASSERT_EQ(api_mount_disk(0), 0);
    EXPECT_EQ(api_session_count(), 1);
    EXPECT_EQ(api_mount_session(0), 0);
}

TEST_F(DiskFaultTest, DriveThatShrinksAfterTheScanCannotBeMounted) {
    build_two();
    ASSERT_EQ(scan(), 3);
    plan_->shrink_after(0, 1 << 20);
    start_trace();
    EXPECT_EQ(api_mount_disk(0), DVR_EDISK);
    EXPECT_NE(stop_trace().find("Disk Access\n"), std::string::npos);
    EXPECT_EQ(backup_mounted_disk(), nullptr);
    // The backup disk on the other drive mounts as before.
    EXPECT_EQ(api_mount_disk(2), 0);
    EXPECT_EQ(api_mount_session(0), 0);
}

TEST_F(DiskFaultTest, BackupMountAndSessionHeaderFailures) {
    build_two();
    platform::install_fault_opener(plan_, backup_.path);
    ASSERT_EQ(scan(), 3);
    const uint64_t origin = backup_.volumes[0].origin;
    plan_->fail_sectors(origin);  // the backup super block
    EXPECT_EQ(api_mount_disk(2), DVR_EDISK);
    EXPECT_EQ(backup_mounted_disk(), nullptr);
    plan_->clear();
    ASSERT_EQ(api_mount_disk(2), 0);
    plan_->fail_sectors(origin + session_header_sector(0) + 100);
    start_trace();
    EXPECT_EQ(api_mount_session(0), DVR_EDISK);
    const std::string trace = stop_trace();
    EXPECT_NE(trace.find("Session Header Read"), std::string::npos) << trace;
    EXPECT_NE(trace.find("backup_mount_session ret = -17\n"), std::string::npos) << trace;
    EXPECT_EQ(backup_selected_volume(), nullptr);
    EXPECT_EQ(backup_channel_count(), 0);
    plan_->clear();
    EXPECT_EQ(api_mount_session(0), 0);
}

TEST_F(DiskFaultTest, SessionMountReportsUnreadableChannelTables) {
    build_two();
    ASSERT_EQ(scan(), 3);
    ASSERT_EQ(api_mount_disk(0), 0);
    const DvrSuperBlock sb = *dvrfs_super_block();
    const uint64_t origin = recorder_.volumes[0].origin;
    struct Case {
        const char* what;
        std::function<void()> fault;
        const char* trace;
    } cases[] = {
        {"info table fails", [&] { plan_->fail_sectors(origin + sb.info_sector); },
         "Channel Information read Error"},
        {"info table cut short", [&] { plan_->cut_reads_at((origin + sb.info_sector) * 512 + 100); },
         "Channel Information read Error"},
        {"map fails", [&] { plan_->fail_sectors(origin + sb.map_sector + sb.map_sectors - 1); },
         "Channel MAP read Error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        plan_->clear();
        c.fault();
        start_trace();
        EXPECT_EQ(api_mount_session(0), DVR_EDISK);
        const std::string trace = stop_trace();
        EXPECT_NE(trace.find(c.trace), std::string::npos) << trace;
        EXPECT_EQ(backup_selected_volume(), nullptr);
        EXPECT_EQ(backup_open(3), DVR_ENOTMOUNTED);
    }
    plan_->clear();
    ASSERT_EQ(api_mount_session(0), 0);
    EXPECT_EQ(backup_channel_size(3), 40u * 256u);
}

TEST_F(DiskFaultTest, ChannelReadKeepsTheBytesBeforeAFailingSector) {
    build_two();
    ASSERT_EQ(scan(), 3);
    ASSERT_EQ(api_mount_disk(0), 0);
    ASSERT_EQ(api_mount_session(0), 0);
    const std::vector<uint8_t> want = testkit::stored_bytes(testkit::steady_channel(3, kT0, kT0 + 600, 256));
    // Block size 4096: the second block's first sector fails.
    plan_->fail_sectors(hardening::channel_sector(3, 4096 + 10));
    const int32_t fd = backup_open(3);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> got(want.size());
    start_trace();
    EXPECT_EQ(backup_read(fd, got.data(), static_cast<int32_t>(got.size())), 4096);
    EXPECT_EQ(std::memcmp(got.data(), want.data(), 4096), 0);
    EXPECT_EQ(backup_read(fd, got.data(), 100), DVR_EDISK);
    EXPECT_NE(stop_trace().find("Disk Access\n"), std::string::npos);
    // Past the bad sector the channel reads on.
    ASSERT_EQ(backup_lseek(fd, 4096 + 512, SEEK_HEAD), 0);
    EXPECT_EQ(backup_read(fd, got.data(), 512), 512);
    EXPECT_EQ(std::memcmp(got.data(), want.data() + 4096 + 512, 512), 0);
    EXPECT_EQ(backup_close(fd), 0);
}

}  // namespace
