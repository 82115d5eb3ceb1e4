// getvideodata over built GOP records: forward and backward moves, frame commands, damaged
// records found again by the start-bits search, and lengths that must never be used.
#include "tests/playback/reader_fixture.h"

namespace {

using playtest::ReaderTest;
using sample::RecordDamage;

class VideoReaderTest : public ReaderTest {};

TEST_F(VideoReaderTest, ForwardCommandsStayOnTheRecords) {
    add_gop({1500, 5003, 777});
    add_gop({4096, 10});
    add_gop({3000, 3000, 3000});
    add_gop({64});
    open();

    ASSERT_EQ(video(PLAYBACK_VIDEO_CRRUENT_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video_time(), gops_[0].time);
    EXPECT_EQ(video_state().video.frame_count, 3u);
    EXPECT_EQ(picture_width(video_state().video.picture_size), 352u);
    ASSERT_EQ(video(PLAYBACK_VIDEO_GOP_DATA, gop_data_size()), gop_data_size());
    EXPECT_EQ(delivered(gop_data_size()), gops_[0].data);
    EXPECT_EQ(video_state().frames_consumed, 3);

    ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video_time(), gops_[1].time);
    ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_FRAME, 4096), 4096);
    EXPECT_EQ(delivered(4096),
              playtest::Bytes(gops_[1].data.begin(), gops_[1].data.begin() + 4096));

    // Next GOP from inside a GOP; then the current header again from behind two frames.
    ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video_time(), gops_[2].time);
    ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_FRAME, 3000), 3000);
    ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_FRAME, 3000), 3000);
    ASSERT_EQ(video(PLAYBACK_VIDEO_CRRUENT_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video_time(), gops_[2].time);
    EXPECT_EQ(video_state().frames_consumed, 0);
    ASSERT_EQ(video(PLAYBACK_VIDEO_GOP_DATA, gop_data_size()), gop_data_size());
    EXPECT_EQ(delivered(gop_data_size()), gops_[2].data);

    ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video_time(), gops_[3].time);
    // The end of the channel: nothing delivered, no header left.
    EXPECT_EQ(video(PLAYBACK_VIDEO_NEXT_GOP_HEADER), 0);
    EXPECT_EQ(video_state().video.gop_length, 0u);
}

TEST_F(VideoReaderTest, NextGopAfterFiveOfSixteenFrames) {
    std::vector<size_t> lengths;
    for (size_t i = 0; i < 16; ++i) lengths.push_back(700 + 130 * i);
    add_gop(lengths);
    add_gop({100});
    open();
    ASSERT_EQ(video(PLAYBACK_VIDEO_CRRUENT_GOP_HEADER), kGopHeaderSize);
    size_t at = 0;
    for (size_t i = 0; i < 5; ++i) {
        const auto n = static_cast<int32_t>(lengths[i]);
        ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_FRAME, n), n);
        EXPECT_EQ(delivered(n), playtest::Bytes(gops_[0].data.begin() + at,
                                                gops_[0].data.begin() + at + lengths[i]));
        at += lengths[i];
    }
    playtest::TraceCapture trace;
    ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video_time(), gops_[1].time);
    EXPECT_TRUE(trace.has("NEXT_GOP_HEADER 4"));
}

TEST_F(VideoReaderTest, FrameTypeSkipAndBackCommands) {
    add_gop({400, 404, 408, 412});
    open();
    ASSERT_EQ(video(PLAYBACK_VIDEO_CRRUENT_GOP_HEADER), kGopHeaderSize);
    const auto frame = [&](size_t i) {
        size_t at = 0;
        for (size_t k = 0; k < i; ++k) at += 400 + 4 * k;
        return playtest::Bytes(gops_[0].data.begin() + at,
                               gops_[0].data.begin() + at + 400 + 4 * i);
    };
    // Type code 2 frames (bit 31): frame 0 (code 1) is skipped.
    ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_FRAME_OF_TYPE_2, 404), 404);
    EXPECT_EQ(delivered(404), frame(1));
    EXPECT_EQ(video_state().frames_consumed, 2);
    ASSERT_EQ(video(PLAYBACK_VIDEO_SKIP_FRAME), 0);
    EXPECT_EQ(video_state().frames_consumed, 3);
    ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_FRAME_OF_TYPE_ANY, 412), 412);
    EXPECT_EQ(delivered(412), frame(3));
    ASSERT_EQ(video(PLAYBACK_VIDEO_BACK_TWO_FRAMES), 0);
    ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_FRAME, 408), 408);
    EXPECT_EQ(delivered(408), frame(2));

    // No key frame is left in this GOP.
    playtest::TraceCapture trace;
    EXPECT_EQ(video(PLAYBACK_VIDEO_NEXT_FRAME_OF_TYPE_1, 400), 0);
    EXPECT_TRUE(trace.has("NO 40000000 frame no = 4"));
    EXPECT_EQ(video_state().frames_consumed, 3);
    EXPECT_EQ(video(PLAYBACK_VIDEO_NEXT_FRAME, 412), 412);
    EXPECT_EQ(delivered(412), frame(3));
}

TEST_F(VideoReaderTest, BackwardByPreviousLengthAndByTrailer) {
    add_gop({5000, 700});
    add_gop({9000});                  // previous length known
    add_gop({2500, 2500}, {}, 96);    // 96: not known, the trailer tells
    add_gop({12000, 40, 40}, {}, 0);  // 0: not known
    open();
    ASSERT_EQ(video(PLAYBACK_VIDEO_CRRUENT_GOP_HEADER), kGopHeaderSize);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_GOP_HEADER), kGopHeaderSize);
    ASSERT_EQ(video(PLAYBACK_VIDEO_GOP_DATA, gop_data_size()), gop_data_size());

    ASSERT_EQ(video(PLAYBACK_VIDEO_PREVIOUS_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video_time(), gops_[2].time);
    ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_FRAME, 2500), 2500);
    ASSERT_EQ(video(PLAYBACK_VIDEO_PREVIOUS_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video_time(), gops_[1].time);
    ASSERT_EQ(video(PLAYBACK_VIDEO_PREVIOUS_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video_time(), gops_[0].time);
    ASSERT_EQ(video(PLAYBACK_VIDEO_GOP_DATA, gop_data_size()), gop_data_size());
    EXPECT_EQ(delivered(gop_data_size()), gops_[0].data);

    // Before the first GOP lies nothing: the search lands on the first GOP again, which is how
    // the engine sees the beginning (its time does not change).
    ASSERT_EQ(video(PLAYBACK_VIDEO_PREVIOUS_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video_time(), gops_[0].time);
    ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video_time(), gops_[1].time);
}

TEST_F(VideoReaderTest, DamagedHeaderFoundAgainFurtherOn) {
    add_gop({2000});
    RecordDamage broken;
    broken.broken_start_bits = true;
    add_gop(std::vector<size_t>(16, 6400), broken);  // about 100 KB to search through
    add_gop({3000, 1000});
    open();
    ASSERT_EQ(video(PLAYBACK_VIDEO_CRRUENT_GOP_HEADER), kGopHeaderSize);
    ASSERT_EQ(video(PLAYBACK_VIDEO_GOP_DATA, gop_data_size()), gop_data_size());

    playtest::TraceCapture trace;
    ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video_time(), gops_[2].time);
    EXPECT_EQ(video_state().frames_consumed, 0);
    EXPECT_TRUE(trace.has("GOP Start Bit Error 0  ff0ff0fe"));
    EXPECT_TRUE(trace.has("search_video_start_gop no 0 direction 1\n"));
    ASSERT_EQ(video(PLAYBACK_VIDEO_GOP_DATA, gop_data_size()), gop_data_size());
    EXPECT_EQ(delivered(gop_data_size()), gops_[2].data);
}

TEST_F(VideoReaderTest, DamagedTrailerSearchesBackward) {
    add_gop({3000});
    RecordDamage trailer;
    trailer.damaged_trailer = true;
    add_gop({5000, 5000}, trailer);
    add_gop({1000}, {}, 0);
    open();
    ASSERT_EQ(video(PLAYBACK_VIDEO_CRRUENT_GOP_HEADER), kGopHeaderSize);
    ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_GOP_HEADER), kGopHeaderSize);
    ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_GOP_HEADER), kGopHeaderSize);
    playtest::TraceCapture trace;
    ASSERT_EQ(video(PLAYBACK_VIDEO_PREVIOUS_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video_time(), gops_[1].time);
    EXPECT_TRUE(trace.has("search_video_start_gop no 0 direction 0\n"));
}

// Behind the current GOP: a 100 KB GOP without start bits or trailer, a 30 KB GOP in the
// stretch the search steps over (80..160 KB back), a 50 KB GOP starting in the third chunk
// (160..200 KB back) and one before it. The search skips the 30 KB GOP.
TEST_F(VideoReaderTest, BackwardSearchStepsOverEverLargerStretches) {
    add_gop({29904});
    add_gop({49904});
    add_gop({29904});
    RecordDamage both;
    both.broken_start_bits = true;
    both.damaged_trailer = true;
    add_gop({99904}, both);
    add_gop({500}, {}, 0);
    open();
    ASSERT_EQ(video(PLAYBACK_VIDEO_CRRUENT_GOP_HEADER), kGopHeaderSize);
    for (int i = 0; i < 3; ++i) video(PLAYBACK_VIDEO_NEXT_GOP_HEADER);
    ASSERT_EQ(video_time(), gops_[4].time);
    ASSERT_EQ(video(PLAYBACK_VIDEO_PREVIOUS_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video_time(), gops_[1].time);
}

struct LengthDamage {
    const char* what;
    std::optional<uint32_t> length;
    std::optional<uint32_t> count;
};

void PrintTo(const LengthDamage& damage, std::ostream* out) {
    *out << damage.what;
}

class ImpossibleLengthTest : public ReaderTest,
                             public ::testing::WithParamInterface<LengthDamage> {};

TEST_P(ImpossibleLengthTest, TreatedAsDamage) {
    RecordDamage damage;
    damage.length = GetParam().length;
    damage.count = GetParam().count;
    RecordDamage broken;
    broken.broken_start_bits = true;
    add_gop({1200, 1200});
    add_gop({1200, 1200}, damage);
    add_gop({1200, 1200});
    add_gop({1200, 1200}, broken);
    add_gop({1200, 1200}, damage);
    add_gop({1200, 1200});
    open();

    playtest::TraceCapture trace;
    ASSERT_EQ(video(PLAYBACK_VIDEO_CRRUENT_GOP_HEADER), kGopHeaderSize);
    ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video_time(), gops_[2].time);
    EXPECT_TRUE(trace.has("GOP Length Error 0"));
    // Backward, the damaged GOP's own start bits are passed over.
    ASSERT_EQ(video(PLAYBACK_VIDEO_PREVIOUS_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video_time(), gops_[0].time);

    // The search past the broken GOP lands on the damaged one: nothing is handed on.
    ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video(PLAYBACK_VIDEO_NEXT_GOP_HEADER), 0);
    EXPECT_EQ(video_state().video.gop_length, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, ImpossibleLengthTest,
    ::testing::Values(LengthDamage{"GopLengthAboveTheVideoBuffer", 0x110001, {}},
                      LengthDamage{"GopLengthBelowAHeader", 95, {}},
                      LengthDamage{"FrameCount0WithATime", {}, 0},
                      LengthDamage{"FrameCount17", {}, 17},
                      LengthDamage{"FramesLongerThanTheGop", 96 + 2 * 1200 - 4, {}}),
    [](const ::testing::TestParamInfo<LengthDamage>& param) { return param.param.what; });

TEST_F(VideoReaderTest, EndMarkIsHandedOnButNotReadInto) {
    add_gop({800});
    RecordDamage mark;
    mark.end_mark = true;
    add_gop({}, mark);
    open();
    ASSERT_EQ(video(PLAYBACK_VIDEO_CRRUENT_GOP_HEADER), kGopHeaderSize);
    ASSERT_EQ(video(PLAYBACK_VIDEO_NEXT_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video_state().video.frame_count, 0u);
    EXPECT_EQ(video_time(), kInvalidRecordTime);
    EXPECT_FALSE(record_time_has_time(video_state().video.time));
    EXPECT_EQ(video(PLAYBACK_VIDEO_GOP_DATA, 100), 0);
    EXPECT_EQ(video(PLAYBACK_VIDEO_NEXT_FRAME, 4), 0);
    EXPECT_EQ(video(PLAYBACK_VIDEO_NEXT_GOP_HEADER), 0);
}

TEST_F(VideoReaderTest, ClosedSlotsAndUnknownCommandsDeliverNothing) {
    add_gop({800});
    open();
    for (int32_t slot : {1, -1, kPlaybackSlots}) {
        int32_t size = kGopHeaderSize;
        EXPECT_EQ(getvideodata(slot, PLAYBACK_VIDEO_CRRUENT_GOP_HEADER, nullptr, &size), -1);
        EXPECT_EQ(size, 0);
    }
    EXPECT_EQ(video(47, 96), 0);
    EXPECT_EQ(video(83, 96), 0);
    // Nothing moved: the first header is still where it was.
    ASSERT_EQ(video(PLAYBACK_VIDEO_CRRUENT_GOP_HEADER), kGopHeaderSize);
    EXPECT_EQ(video_time(), gops_[0].time);
}

}  // namespace
