// The backup job's own decisions, with the engine held still so that only the test feeds it:
// failures that repeat after restarts end the job; a span end and a creation failure stop it.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "export/backup_job.h"
#include "tests/storage/storage_fixture.h"
#include "tests/testkit/tool_run.h"

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
    // Nothing was written before the failure, and the message says so.
    EXPECT_EQ(job_.error(), "AVI file create faile.; no frame written");
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

namespace {

class Quiet final : public ExportNotify {
public:
    void backup_notification(int32_t, int32_t) override {}
};

std::string probe(const testkit::TempDir& dir, const std::string& file, const char* entry) {
    std::string out = testkit::run_tool(dir, "ffprobe -v error -select_streams v -show_entries stream=" +
                                                 std::string(entry) + " -of csv=p=0 " +
                                                 testkit::quoted(file))
                          .out;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

uint32_t micro_seconds_per_frame(const std::string& file) {
    // The main AVI header follows "RIFF", "AVI ", "LIST", "hdrl" and "avih" with its length.
    std::FILE* f = std::fopen(file.c_str(), "rb");
    uint8_t b[36] = {};
    if (f != nullptr) {
        if (std::fread(b, 1, sizeof b, f) != sizeof b) b[32] = b[33] = b[34] = b[35] = 0;
        std::fclose(f);
    }
    return uint32_t{b[32]} | uint32_t{b[33]} << 8 | uint32_t{b[34]} << 16 | uint32_t{b[35]} << 24;
}

// Arms a job over [from, to] for the channels of mask, audio slots after the first four.
void arm(CAvimaker& maker, ExportNotify* owner, uint32_t from, uint32_t to, uint32_t mask,
         const std::string& folder) {
    DateTime start{}, end{};
    time_to_systemtime(from, &start);
    time_to_systemtime(to, &end);
    maker.setup(owner, start, end, mask, folder, 4, 0);
}

TEST(CAvimakerFiles, TheFirstKeyFrameDecidesFourccAndFrameRate) {
    testkit::TempDir dir;
    Quiet quiet;
    CAvimaker maker;
    arm(maker, &quiet, kT0, kT0 + 60, 0x3, dir.path());
    // Channel 1: H.264 (00 00 00 01) at 352x240; channel 2: another coding at 704x576.
    std::vector<uint8_t> h264(400, 0x11), other(400, 0x22);
    h264[0] = h264[1] = h264[2] = 0;
    h264[3] = 1;
    other[0] = other[1] = 0;
    other[2] = 1;
    other[3] = 0xB6;
    for (uint32_t t = kT0; t < kT0 + 4; ++t) {
        for (int32_t ms : {0, 500}) {
            const bool key = ms == 0;
            maker.on_record(0, t, ms, h264.data(), 400, 0, key ? (352u << 16 | 240u) : 0);
            maker.on_record(1, t, ms, other.data(), 400, 0, key ? (704u << 16 | 576u) : 0);
        }
    }
    maker.reset();
    ASSERT_EQ(maker.opened().size(), 2u);
    const std::string first = dir.file("[CH01]07_00_00.avi");
    const std::string second = dir.file("[CH02]07_00_00.avi");
    EXPECT_EQ(probe(dir, first, "codec_tag_string"), "h264");
    EXPECT_EQ(probe(dir, second, "codec_tag_string"), "XVID");
    EXPECT_EQ(micro_seconds_per_frame(first), 33333u);   // 30 frames a second
    EXPECT_EQ(micro_seconds_per_frame(second), 40000u);  // 576 lines: 25 frames a second
    EXPECT_EQ(probe(dir, second, "width"), "704");
}

class Notes final : public ExportNotify {
public:
    void backup_notification(int32_t w, int32_t l) override { calls.emplace_back(w, l); }
    std::vector<std::pair<int32_t, int32_t>> calls;
};

// Large key frames go to the files whole; only a frame longer than any the engine can deliver is
// refused, and counted.
TEST(CAvimakerFiles, LargeFramesAreKeptWholeAndOnlyImpossibleOnesRefused) {
    testkit::TempDir dir;
    Quiet quiet;
    CAvimaker maker;
    arm(maker, &quiet, kT0, kT0 + 60, 0x1, dir.path());
    std::vector<uint8_t> frame(static_cast<size_t>(kRecordDataMax) + 1, 0x5A);
    frame[0] = frame[1] = frame[2] = 0;
    frame[3] = 1;
    const int32_t sizes[] = {300000, 1000000, kRecordDataMax, kRecordDataMax + 1, 700};
    for (uint32_t i = 0; i < 5; ++i) {
        maker.on_record(0, kT0 + i, 0, frame.data(), sizes[i], 0, 352u << 16 | 240u);
    }
    maker.reset();
    ASSERT_EQ(maker.opened().size(), 1u);
    const CAvimaker::FileSet& f = maker.opened()[0];
    EXPECT_EQ(f.refused, 1u);
    EXPECT_EQ(f.stats.placement.frames_written, 4u);
    EXPECT_EQ(f.stats.placement.frames_dropped + f.stats.ring.dropped, 0u);
    EXPECT_GT(std::filesystem::file_size(dir.file("[CH01]07_00_00.avi")),
              uint64_t{300000} + 1000000 + kRecordDataMax + 700);
}

// One channel passing the span's end does not end the others: their frames of the last second,
// delivered after it, are kept. The end is reported once every channel has passed it, or once
// the clock is well past it.
TEST(CAvimakerFiles, TheSpanEndsForEachChannelByItsOwnFrames) {
    testkit::TempDir dir;
    Notes notes;
    CAvimaker maker;
    arm(maker, &notes, kT0, kT0 + 2, 0x7, dir.path());
    std::vector<uint8_t> frame(64, 0x11);
    frame[3] = 1;
    const auto key = 352u << 16 | 240u;
    for (int32_t slot : {0, 1, 2}) maker.on_record(slot, kT0, 0, frame.data(), 64, 0, key);
    maker.on_record(0, kT0 + 3, 0, frame.data(), 64, 0, key);  // channel 1 is past the end
    maker.on_record(1, kT0 + 2, 900, frame.data(), 64, 0, 0);   // channel 2's last second
    EXPECT_FALSE(maker.done());
    maker.on_record(1, kT0 + 3, 0, frame.data(), 64, 0, key);
    EXPECT_FALSE(maker.done());  // channel 3 has not passed it yet
    maker.on_record(0, kT0 + 4, 0, frame.data(), 64, 0, key);
    EXPECT_TRUE(maker.done());  // two seconds past the end: channel 3 has nothing more
    maker.on_record(2, kT0 + 2, 0, frame.data(), 64, 0, 0);  // after the end: not taken
    int ends = 0;
    for (const auto& [w, l] : notes.calls) ends += w == kBackupNotifyEnd && l == kBackupSpanEnd;
    EXPECT_EQ(ends, 1);
    maker.reset();
    ASSERT_EQ(maker.opened().size(), 3u);
    EXPECT_EQ(maker.opened()[0].stats.placement.frames_written, 1u);
    EXPECT_EQ(maker.opened()[1].stats.placement.frames_written, 2u);
    EXPECT_EQ(maker.opened()[2].stats.placement.frames_written, 1u);
}

}  // namespace

namespace {

// A failed job still leaves its report, with the failure and only the files that are there.
TEST_F(BackupJobTest, AFailedJobWritesItsReportWithTheFailure) {
    const std::string folder = dir_.file("failed");
    ASSERT_EQ(job_.start(kT0 + 10, kT0 + 60, 0x1, folder), 0);
    job_.backup_notification(kBackupNotifyEnd, kBackupCreateFailed);
    EXPECT_FALSE(settle());
    const std::string path = folder + "/export-report.json";
    ASSERT_TRUE(std::filesystem::exists(path));
    const auto bytes = testkit::read_file(path);
    const std::string report(bytes.begin(), bytes.end());
    EXPECT_NE(report.find("\"result\": \"failed\""), std::string::npos) << report;
    EXPECT_NE(report.find("\"error\": \"AVI file create faile.; no frame written\""), std::string::npos) << report;
    EXPECT_NE(report.find("\"read_failures\": []"), std::string::npos) << report;
    EXPECT_NE(report.find("\"files\": []"), std::string::npos) << report;
    EXPECT_FALSE(std::filesystem::exists(path + ".part"));
}

}  // namespace

namespace {

// A second job into the same folder keeps the first job's report and says where its own went.
TEST_F(BackupJobTest, ASecondJobIntoTheFolderWritesAReportOfItsOwn) {
    const std::string folder = dir_.file("twice");
    ASSERT_EQ(job_.start(kT0 + 10, kT0 + 60, 0x1, folder), 0);
    job_.backup_notification(kBackupNotifyEnd, kBackupSpanEnd);
    EXPECT_FALSE(settle());
    EXPECT_EQ(job_.report_path(), folder + "/export-report.json");
    const auto first = testkit::read_file(folder + "/export-report.json");
    ASSERT_FALSE(first.empty());

    ASSERT_EQ(job_.start(kT0 + 10, kT0 + 60, 0x1, folder), 0);
    EXPECT_TRUE(job_.report_path().empty());  // nothing written yet
    job_.backup_notification(kBackupNotifyEnd, kBackupCreateFailed);
    EXPECT_FALSE(settle());
    const std::string second = job_.report_path();
    const std::string name = std::filesystem::path(second).filename().string();
    // export-report-HHMMSS.json, the job's start on the PC clock.
    ASSERT_EQ(name.size(), std::string("export-report-000000.json").size()) << name;
    EXPECT_EQ(name.rfind("export-report-", 0), 0u) << name;
    EXPECT_EQ(name.find_first_not_of("0123456789", 14), 20u) << name;
    const auto bytes = testkit::read_file(second);
    EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("AVI file create faile."),
              std::string::npos);
    EXPECT_EQ(testkit::read_file(folder + "/export-report.json"), first);
}

}  // namespace
