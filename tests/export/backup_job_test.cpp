// The backup job's own decisions, with the engine held still so that only the test feeds it:
// failures that repeat after restarts end the job; a span end and a creation failure stop it.
#include <atomic>
#include <filesystem>

#include <gtest/gtest.h>

#include "export/backup_job.h"
#include "tests/storage/storage_fixture.h"

namespace {

using testkit::kT0;

class Hooks final : public BackupJobHooks {
public:
    void create_failed() override { ++create_failed_; }
    void ended() override { ++ended_; }
    std::atomic<int> create_failed_{0};
    std::atomic<int> ended_{0};
};

class BackupJobTest : public testkit::StorageTest {
protected:
    void SetUp() override {
        StorageTest::SetUp();
        api_exit();
        reset();
        ASSERT_EQ(api_init(0, BackupJob::frame_callback, BackupJob::status_callback), 0);
        sample::VolumeContent content;
        content.channels.push_back(testkit::steady_channel(3, kT0, kT0 + 120, 64));
        ASSERT_EQ(mount(testkit::small_recorder(content, 29)), 0);
        // The engine stands still, as during a search: the job sees no record of its own.
        api_state().search_busy = 1;
        BackupJob::install(&job_);
    }
    void TearDown() override {
        BackupJob::install(nullptr);
        api_state().search_busy = 0;
        StorageTest::TearDown();
    }
    // Handles what was posted; false once the job is idle.
    bool settle() {
        bool active = true;
        for (int i = 0; i < 5; ++i) active = job_.process(10);
        return active;
    }

    Hooks hooks_;
    BackupJob job_{&hooks_};
};

TEST_F(BackupJobTest, WriteFailuresThatRepeatAfterRestartsEndTheJob) {
    ASSERT_EQ(job_.start(kT0 + 10, kT0 + 60, 0x1, dir_.file("out")), 0);
    ASSERT_TRUE(job_.active());
    // Restarts that write nothing in between: a full disk.
    for (int i = 0; i < BackupJob::kMaxFruitlessRestarts; ++i) {
        job_.backup_notification(kBackupNotifyEnd, kBackupWriteFailed);
        EXPECT_TRUE(settle()) << "restart " << i;
        EXPECT_TRUE(job_.error().empty());
    }
    job_.backup_notification(kBackupNotifyEnd, kBackupWriteFailed);
    EXPECT_FALSE(settle());
    EXPECT_NE(job_.error().find("failed again after a restart"), std::string::npos);
    EXPECT_EQ(api_play_mode(), PM_STOP);
    EXPECT_EQ(api_state().channel_mask, 0u);
}

TEST_F(BackupJobTest, SpanEndStopsTheJobAndCreationFailureReportsIt) {
    ASSERT_EQ(job_.start(kT0 + 10, kT0 + 60, 0x1, dir_.file("out")), 0);
    job_.backup_notification(kBackupNotifyEnd, kBackupSpanEnd);
    EXPECT_FALSE(settle());
    EXPECT_TRUE(job_.error().empty());
    EXPECT_EQ(hooks_.ended_.load(), 1);

    ASSERT_EQ(job_.start(kT0 + 10, kT0 + 60, 0x1, dir_.file("out")), 0);
    job_.backup_notification(kBackupNotifyEnd, kBackupCreateFailed);
    EXPECT_FALSE(settle());
    EXPECT_EQ(job_.error(), "AVI file create faile.");
    EXPECT_EQ(hooks_.create_failed_.load(), 1);
}

TEST_F(BackupJobTest, RefusesAnEmptyMaskABackwardSpanAndAFolderItCannotMake) {
    EXPECT_EQ(job_.start(kT0 + 10, kT0 + 60, 0, dir_.file("out")), -1);
    EXPECT_EQ(job_.start(kT0 + 60, kT0 + 10, 0x1, dir_.file("out")), -1);
    const std::string blocked = dir_.file("file");
    std::fclose(std::fopen(blocked.c_str(), "w"));
    EXPECT_EQ(job_.start(kT0 + 10, kT0 + 60, 0x1, blocked + "/inside"), -1);
    EXPECT_NE(job_.error().find("cannot create the folder"), std::string::npos);
    EXPECT_FALSE(job_.active());
}

}  // namespace
