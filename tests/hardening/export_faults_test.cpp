// The AVI backup job over a drive that fails inside the span: the files are made and hold the
// frames read before the bad sector; the job ends, its threads and files are gone.
#include <filesystem>

#include "export/backup_job.h"
#include "tests/hardening/playback_fixture.h"
#include "tests/testkit/tool_run.h"

namespace {

using testkit::kT0;

class ExportFaultTest : public hardening::PlaybackFaultTest {
protected:
    void SetUp() override {
        PlaybackFaultTest::SetUp();
        api_exit();
        reset();
        ASSERT_EQ(api_init(0, BackupJob::frame_callback, BackupJob::status_callback), 0);
        BackupJob::install(&job_);
    }
    void TearDown() override {
        job_.stop();
        BackupJob::install(nullptr);
        PlaybackFaultTest::TearDown();
    }
    // Runs the job over [from, to) of channel 1 into dir_/out; false when it did not end.
    bool run(uint32_t from, uint32_t to) {
        if (job_.start(from, to, 0x1, dir_.file("out")) != 0) return false;
        const bool ended = wait_for([&] { return !job_.process(20); });
        return ended;
    }

    BackupJob job_;
};

TEST_F(ExportFaultTest, FilesHoldTheFramesReadBeforeTheFailingSector) {
    open_recording(kT0, kT0 + 40);
    plan_->fail_sectors(gop_sector(kT0 + 20, 0));
    start_trace();
    ASSERT_TRUE(run(kT0 + 2, kT0 + 35));
    const std::string trace = stop_trace();
    EXPECT_NE(trace.find("Disk Access\n"), std::string::npos);
    ASSERT_EQ(job_.files().size(), 1u);
    const CAvimaker::FileSet& f = job_.files()[0];
    EXPECT_EQ(f.channel, 0);
    // About 2 s to 19 s of GOPs (15 frames each, two a second): the GOPs that share the bad
    // sector are lost with it, nothing after it is there, and the whole span would be 990.
    const uint64_t frames = f.stats.file_video_frames;
    EXPECT_GE(frames, 16u * 2u * 15u);
    EXPECT_LE(frames, 18u * 2u * 15u);
    const std::string avi = f.prefix + "avi";
    ASSERT_TRUE(std::filesystem::exists(avi)) << avi;
    EXPECT_GT(std::filesystem::file_size(avi), frames * 60);
    EXPECT_TRUE(std::filesystem::exists(f.prefix + "smi"));
    EXPECT_EQ(api_play_mode(), PM_STOP);
}

TEST_F(ExportFaultTest, JobReportsThatTheSpanWasCutShortByAReadError) {
    open_recording(kT0, kT0 + 40);
    plan_->fail_sectors(gop_sector(kT0 + 20, 0));
    ASSERT_TRUE(run(kT0 + 2, kT0 + 35));
    EXPECT_NE(job_.error().find("reading channel 1 failed"), std::string::npos) << job_.error();
    // The files keep what was read before the failure.
    ASSERT_FALSE(job_.files().empty());
    EXPECT_GT(job_.files()[0].stats.file_video_frames, 0u);
}

TEST_F(ExportFaultTest, DriveGoneBeforeTheSpanMakesNoFiles) {
    open_recording(kT0, kT0 + 40);
    plan_->shrink_to(0);
    ASSERT_TRUE(run(kT0 + 2, kT0 + 35));
    EXPECT_TRUE(job_.files().empty());
    EXPECT_FALSE(job_.active());
}

}  // namespace
