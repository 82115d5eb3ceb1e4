// The backup job's own decisions, with the engine held still so that only the test feeds it:
// failures that repeat after restarts end the job; a span end and a creation failure stop it.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>

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

TEST(CAvimakerFiles, TheFirstKeyFrameDecidesFourccAndFrameRate) {
    testkit::TempDir dir;
    Quiet quiet;
    CAvimaker maker;
    DateTime from{}, to{};
    time_to_systemtime(kT0, &from);
    time_to_systemtime(kT0 + 60, &to);
    maker.setup(&quiet, from, to, 0x3, dir.path(), 4, 0);
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

}  // namespace
