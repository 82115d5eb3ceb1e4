// The timing of a container export: frames at their recorder times from the first frame, holes
// as gaps, a caption a second, sound at its own time; the file's name and its failures.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "export/container_channel.h"
#include "tests/testkit/temp_image.h"

namespace {

// What a container writer was given.
struct Written {
    std::string path;
    ContainerHeader header;
    struct Frame {
        int64_t pts;
        std::vector<uint8_t> data;
        bool key;
    };
    std::vector<Frame> frames;
    struct Sound {
        int64_t pts;
        std::vector<uint8_t> data;
    };
    std::vector<Sound> sound;
    struct Caption {
        int64_t start, end;
        std::string text;
    };
    std::vector<Caption> captions;
    bool finished = false;
    int fail_after = -1;  // frames written before every write fails; -1 never
    bool refuse_open = false;
};

Written* written = nullptr;

class RecordingWriter final : public ContainerWriter {
  public:
    int32_t open(const std::string& path, const ContainerHeader& header) override {
        written->path = path;
        written->header = header;
        return written->refuse_open ? -1 : 0;
    }
    int32_t write_video(int64_t pts, const uint8_t* data, int32_t length, bool key) override {
        if (written->fail_after >= 0 &&
            static_cast<int>(written->frames.size()) >= written->fail_after)
            return -1;
        written->frames.push_back({pts, std::vector<uint8_t>(data, data + length), key});
        return 0;
    }
    int32_t write_audio(int64_t pts, const uint8_t* data, int32_t length) override {
        written->sound.push_back({pts, std::vector<uint8_t>(data, data + length)});
        return 0;
    }
    int32_t write_caption(int64_t start, int64_t end, const std::string& text) override {
        written->captions.push_back({start, end, text});
        return 0;
    }
    int32_t finish() override {
        written->finished = true;
        return 0;
    }
    std::vector<ExportStream> streams() const override { return {}; }
    std::string error() const override { return {}; }
};

std::unique_ptr<ContainerWriter> recording_factory(ExportFormat) {
    return std::make_unique<RecordingWriter>();
}

struct Notes final : ExportNotify {
    std::vector<std::pair<int32_t, int32_t>> got;
    void backup_notification(int32_t w, int32_t l) override { got.emplace_back(w, l); }
};

constexpr uint32_t kT = 1773471600;  // 2026-03-14 07:00:00 on the recorder's clock

std::vector<uint8_t> frame_bytes(uint32_t second, uint16_t ms) {
    return {0,
            0,
            0,
            1,
            0x65,
            static_cast<uint8_t>(second & 0xFF),
            static_cast<uint8_t>(ms >> 8),
            static_cast<uint8_t>(ms & 0xFF)};
}

class ContainerChannelTest : public testing::Test {
  protected:
    void SetUp() override { written = &w_; }
    void TearDown() override {
        ch_.finish();
        written = nullptr;
    }

    // Opens at the key frame at first and hands it over, as the job does.
    void open_at(FrameTime first, ExportFormat format = ExportFormat::Mkv) {
        const auto key = frame_bytes(first.time_stamp, first.milliseconds);
        ContainerHeader h;
        h.width = 352;
        h.height = 240;
        h.key_frame = key.data();
        h.key_frame_length = static_cast<int32_t>(key.size());
        ASSERT_EQ(
            ch_.open(dir_.file("[CH01]07_00_00."), format, recording_factory, h, first, &notes_),
            1);
        ch_.video(first, key.data(), static_cast<int32_t>(key.size()), true);
    }
    void frame(uint32_t second, uint16_t ms) {
        const auto b = frame_bytes(second, ms);
        ch_.video(FrameTime{second, ms}, b.data(), static_cast<int32_t>(b.size()), false);
    }

    testkit::TempDir dir_;
    Written w_;
    Notes notes_;
    ContainerChannel ch_;
};

TEST_F(ContainerChannelTest, FramesKeepTheirRecorderTimesFromTheFirstFrame) {
    open_at(FrameTime{kT, 250});
    frame(kT, 500);
    frame(kT + 1, 100);
    frame(kT + 1, 900);
    ch_.finish();
    ASSERT_TRUE(w_.finished);
    ASSERT_EQ(w_.frames.size(), 4u);
    const std::vector<int64_t> want = {0, 250, 850, 1650};
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(w_.frames[i].pts, want[i]) << i;
    EXPECT_TRUE(w_.frames[0].key);
    EXPECT_FALSE(w_.frames[1].key);
    // Copied unchanged.
    EXPECT_EQ(w_.frames[2].data, frame_bytes(kT + 1, 100));
    const ChannelWriterStats s = ch_.stats();
    EXPECT_EQ(s.placement.frames_written, 4u);
    EXPECT_EQ(s.placement.seconds, 2u);
    EXPECT_EQ(s.placement.hole_seconds, 0u);
    EXPECT_EQ(s.placement.last_frame.milliseconds, 900);
}

TEST_F(ContainerChannelTest, AHoleIsAGapWithItsOwnCaptionAndNoFiller) {
    open_at(FrameTime{kT, 0});
    frame(kT, 500);
    frame(kT + 4, 0);  // seconds 1, 2 and 3 hold nothing
    ch_.finish();
    ASSERT_EQ(w_.frames.size(), 3u);
    EXPECT_EQ(w_.frames[2].pts, 4000);
    ASSERT_EQ(w_.captions.size(), 3u);
    EXPECT_EQ(w_.captions[0].text, "2026/03/14 07:00:00");
    EXPECT_EQ(w_.captions[0].start, 0);
    EXPECT_EQ(w_.captions[0].end, 1000);
    EXPECT_EQ(w_.captions[1].text, "No video data. Within 3 seconds.");
    EXPECT_EQ(w_.captions[1].start, 1000);
    EXPECT_EQ(w_.captions[1].end, 4000);
    EXPECT_EQ(w_.captions[2].text, "2026/03/14 07:00:04");
    EXPECT_EQ(w_.captions[2].start, 4000);
    EXPECT_EQ(ch_.stats().placement.hole_seconds, 3u);
    EXPECT_EQ(ch_.stats().placement.seconds, 5u);  // the file plays through the hole
}

// A measured clock offset adds the corrected time under each second's recorder time (the
// recorder's clock stays first); hole notices stay as they are.
TEST_F(ContainerChannelTest, AClockOffsetAddsTheCorrectedTimeUnderEachSecond) {
    ch_.set_clock_offset(75);  // the recorder runs 75 s ahead
    open_at(FrameTime{kT, 0});
    frame(kT + 3, 0);
    ch_.finish();
    ASSERT_EQ(w_.captions.size(), 3u);
    EXPECT_EQ(w_.captions[0].text, "2026/03/14 07:00:00\ncorrected 06:58:45");
    EXPECT_EQ(w_.captions[1].text, "No video data. Within 2 seconds.");
    EXPECT_EQ(w_.captions[2].text, "2026/03/14 07:00:03\ncorrected 06:58:48");
}

TEST_F(ContainerChannelTest, ASecondWithoutMillisecondsIsSpreadEvenly) {
    open_at(FrameTime{kT, 0});
    for (int i = 0; i < 3; ++i) frame(kT, 0);
    frame(kT + 1, 0);
    ch_.finish();
    ASSERT_EQ(w_.frames.size(), 5u);
    const std::vector<int64_t> want = {0, 250, 500, 750, 1000};
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(w_.frames[i].pts, want[i]) << i;
}

TEST_F(ContainerChannelTest, FramesNeverShareATime) {
    open_at(FrameTime{kT, 100});
    frame(kT, 100);
    frame(kT, 50);  // out of order within its second
    ch_.finish();
    ASSERT_EQ(w_.frames.size(), 3u);
    EXPECT_LT(w_.frames[0].pts, w_.frames[1].pts);
    EXPECT_LT(w_.frames[1].pts, w_.frames[2].pts);
}

TEST_F(ContainerChannelTest, AClockThatStandsStillNeitherHoldsEverythingNorLosesAFrame) {
    open_at(FrameTime{kT, 0});
    const size_t n = ContainerChannel::kMaxHeldFrames * 2 + 10;
    for (size_t i = 1; i < n; ++i) {
        frame(kT, 0);
        // Frames are written while the second still runs, not all at its end.
        if (i == ContainerChannel::kMaxHeldFrames + 1) {
            EXPECT_FALSE(w_.frames.empty());
        }
    }
    ch_.finish();
    ASSERT_EQ(w_.frames.size(), n);
    for (size_t i = 1; i < n; ++i) EXPECT_LT(w_.frames[i - 1].pts, w_.frames[i].pts) << i;
    // Still one caption for the one second, and one second counted.
    EXPECT_EQ(ch_.stats().placement.seconds, 1u);
    ASSERT_EQ(w_.captions.size(), 1u);
    EXPECT_EQ(w_.captions[0].text, "2026/03/14 07:00:00");
}

TEST_F(ContainerChannelTest, CaptionsFollowTheFirstFrameNotTheWholeSecond) {
    open_at(FrameTime{kT, 400});
    frame(kT + 1, 400);
    ch_.finish();
    ASSERT_EQ(w_.captions.size(), 2u);
    // The first second's caption runs from the file's start to the next second.
    EXPECT_EQ(w_.captions[0].start, 0);
    EXPECT_EQ(w_.captions[0].end, 600);
    EXPECT_EQ(w_.captions[1].start, 600);
    EXPECT_EQ(w_.captions[1].end, 1600);
    EXPECT_EQ(w_.captions[1].text, "2026/03/14 07:00:01");
}

TEST_F(ContainerChannelTest, SoundPlaysAtItsOwnTimeAndNothingBeforeTheFirstFrame) {
    open_at(FrameTime{kT, 100});
    std::vector<uint8_t> block(1600);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i);
    // 0..200 ms: the first 100 ms lie before the first frame.
    ch_.audio(FrameTime{kT, 0}, block.data(), 1600);
    // Same time again: it follows the block before, never overlaps it.
    ch_.audio(FrameTime{kT, 0}, block.data(), 1600);
    // A later block after a gap in the sound.
    ch_.audio(FrameTime{kT + 2, 100}, block.data(), 1600);
    ch_.finish();
    ASSERT_EQ(w_.sound.size(), 3u);
    EXPECT_EQ(w_.sound[0].pts, 0);
    ASSERT_EQ(w_.sound[0].data.size(), 800u);
    EXPECT_EQ(w_.sound[0].data.front(), block[800]);
    EXPECT_EQ(w_.sound[1].pts, 800);
    EXPECT_EQ(w_.sound[1].data, block);
    EXPECT_EQ(w_.sound[2].pts, 16000);
    EXPECT_EQ(ch_.stats().placement.audio_bytes, 800u + 1600u + 1600u);
}

TEST_F(ContainerChannelTest, NamesTheFileByTheFormatAndReplacesNothing) {
    const std::string taken = dir_.file("[CH01]07_00_00.mkv");
    FILE* f = std::fopen(taken.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("earlier", f);
    std::fclose(f);
    open_at(FrameTime{kT, 0});
    EXPECT_EQ(w_.path, dir_.file("[CH01]07_00_00 (2).mkv"));
    EXPECT_EQ(ch_.prefix(), dir_.file("[CH01]07_00_00 (2)."));
    EXPECT_EQ(std::filesystem::file_size(taken), 7u);
    EXPECT_EQ(w_.header.width, 352);
}

TEST_F(ContainerChannelTest, AFileTheWriterRefusesLeavesNothingBehind) {
    w_.refuse_open = true;
    const auto key = frame_bytes(kT, 0);
    ContainerHeader h;
    h.key_frame = key.data();
    h.key_frame_length = static_cast<int32_t>(key.size());
    EXPECT_EQ(ch_.open(dir_.file("[CH02]07_00_00."), ExportFormat::Mp4, recording_factory, h,
                       FrameTime{kT, 0}, &notes_),
              0);
    EXPECT_FALSE(ch_.is_open());
    EXPECT_EQ(w_.path, dir_.file("[CH02]07_00_00.mp4"));
    EXPECT_FALSE(std::filesystem::exists(w_.path));
    // Without a factory nothing is made at all.
    EXPECT_EQ(ch_.open(dir_.file("[CH03]07_00_00."), ExportFormat::Mkv, nullptr, h,
                       FrameTime{kT, 0}, &notes_),
              0);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("[CH03]07_00_00.mkv")));
}

TEST_F(ContainerChannelTest, AFailedWriteTellsTheJob) {
    w_.fail_after = 1;
    open_at(FrameTime{kT, 0});
    frame(kT + 1, 0);
    ch_.finish();
    EXPECT_EQ(w_.frames.size(), 1u);
    ASSERT_FALSE(notes_.got.empty());
    EXPECT_EQ(notes_.got.front(), std::make_pair(kBackupNotifyEnd, kBackupWriteFailed));
    EXPECT_EQ(ch_.stats().failed_writes, 1u);
}

TEST(ExportFormatNames, OnlyTheThreeNamesAreFormats) {
    for (ExportFormat f : {ExportFormat::Avi, ExportFormat::Mkv, ExportFormat::Mp4}) {
        EXPECT_EQ(parse_export_format(export_format_name(f)), f);
    }
    EXPECT_EQ(std::string(export_format_name(ExportFormat::Mp4)), "mp4");
    EXPECT_FALSE(parse_export_format("MKV").has_value());
    EXPECT_FALSE(parse_export_format("webm").has_value());
    EXPECT_FALSE(parse_export_format("").has_value());
}

}  // namespace
