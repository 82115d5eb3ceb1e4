// The AVI backup job over a drive that fails inside the span: the files hold the frames read on
// both sides of what cannot be read, the report names the span, a job that cannot go on says
// how far its files reach; the job ends, its threads and files are gone.
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

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

TEST_F(ExportFaultTest, FilesHoldTheFramesOnBothSidesOfAnUnreadableSpanAndTheReportNamesIt) {
    open_recording(kT0, kT0 + 50);
    plan_->fail_sectors(gop_sector(kT0 + 20, 0));
    start_trace();
    ASSERT_TRUE(run(kT0 + 2, kT0 + 45));
    const std::string trace = stop_trace();
    EXPECT_NE(trace.find("Disk Access\n"), std::string::npos);
    // A span the engine passed over does not fail the job: the report names it.
    EXPECT_EQ(job_.error(), "");
    ASSERT_EQ(job_.files().size(), 1u);
    const CAvimaker::FileSet& f = job_.files()[0];
    EXPECT_EQ(f.channel, 0);
    const PlacementStats& p = f.stats.placement;
    // 2 s (the channel starts at its second GOP) to 19 s, and 30 s to 45 s, 15 frames a GOP.
    EXPECT_GE(p.frames_written, (16u + 15u) * 2u * 15u);
    EXPECT_LE(p.frames_written, (18u + 16u) * 2u * 15u);
    EXPECT_LE(p.first_frame.time_stamp, kT0 + 3);
    EXPECT_GE(p.last_frame.time_stamp, kT0 + 44);
    const std::string avi = f.prefix + "avi";
    ASSERT_TRUE(std::filesystem::exists(avi)) << avi;
    EXPECT_TRUE(std::filesystem::exists(f.prefix + "smi"));
    EXPECT_EQ(api_play_mode(), PM_STOP);

    const auto failures = job_.read_failures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].channel, 1);
    EXPECT_FALSE(failures[0].audio);
    EXPECT_EQ(failures[0].failed_at, kT0 + 19);
    EXPECT_EQ(failures[0].resumed_at, kT0 + 30);
    std::ifstream in(job_.report_path());
    const auto report = nlohmann::json::parse(in);
    ASSERT_EQ(report["read_failures"].size(), 1u);
    const auto& r = report["read_failures"][0];
    EXPECT_EQ(r["channel"], 1);
    EXPECT_EQ(r["stream"], "video");
    EXPECT_EQ(r["error"], -17);
    EXPECT_EQ(r["failed_at"]["time"], kT0 + 19);
    EXPECT_EQ(r["failed_at"]["text"], "2026-03-14 07:00:19");
    EXPECT_EQ(r["resumed_at"]["time"], kT0 + 30);
    EXPECT_EQ(r["resumed_at"]["text"], "2026-03-14 07:00:30");
    EXPECT_EQ(report["result"], "complete");
}

TEST_F(ExportFaultTest, JobCutShortByAReadErrorNamesItsLastFrame) {
    open_recording(kT0, kT0 + 40);
    // Nothing of the channel reads from 20 s to its end.
    const uint64_t cut = gop_sector(kT0 + 20, 0);
    plan_->fail_sectors(cut, gop_sector(kT0 + 39, 500) + 8 - cut);
    ASSERT_TRUE(run(kT0 + 2, kT0 + 35));
    EXPECT_NE(job_.error().find("reading channel 1 failed"), std::string::npos) << job_.error();
    EXPECT_NE(job_.error().find("; last frame written at 2026-03-14 07:00:19"), std::string::npos)
        << job_.error();
    // The files keep what was read before the failure.
    ASSERT_FALSE(job_.files().empty());
    EXPECT_GT(job_.files()[0].stats.file_video_frames, 0u);
    const auto failures = job_.read_failures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].resumed_at, 0u);
    std::ifstream in(job_.report_path());
    const auto report = nlohmann::json::parse(in);
    EXPECT_TRUE(report["read_failures"][0]["resumed_at"].is_null());
    EXPECT_EQ(report["result"], "failed");
}

TEST_F(ExportFaultTest, DriveGoneBeforeTheSpanMakesNoFiles) {
    open_recording(kT0, kT0 + 40);
    plan_->shrink_to(0);
    ASSERT_TRUE(run(kT0 + 2, kT0 + 35));
    EXPECT_TRUE(job_.files().empty());
    EXPECT_FALSE(job_.active());
}

}  // namespace
