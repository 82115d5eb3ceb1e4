// The MP4 sound: mu-law in, AAC-LC packets out, with silence over a gap so that what follows it
// plays at its own time.
#include <vector>

#include <gtest/gtest.h>

#include "mux/aac_track.h"

namespace {

struct Packets {
    std::vector<int64_t> pts;
    std::vector<int64_t> end;
    int sink(AVPacket* p) {
        pts.push_back(p->pts);
        end.push_back(p->pts + p->duration);
        return 0;
    }
};

TEST(AacTrack, EncodesEightKilohertzMonoLowComplexity) {
    mux::AacTrack track;
    std::string error;
    ASSERT_EQ(track.open(true, &error), 0) << error;
    const AVCodecContext* ctx = track.context();
    EXPECT_EQ(ctx->codec_id, AV_CODEC_ID_AAC);
    EXPECT_EQ(ctx->sample_rate, 8000);
    EXPECT_EQ(ctx->ch_layout.nb_channels, 1);
    EXPECT_EQ(ctx->profile, FF_PROFILE_AAC_LOW);
    // The decoder configuration goes into the container's header.
    EXPECT_GT(ctx->extradata_size, 0);
}

TEST(AacTrack, AGapInTheSoundIsSilenceAndTheSoundAfterItKeepsItsTime) {
    mux::AacTrack track;
    ASSERT_EQ(track.open(false, nullptr), 0);
    Packets out;
    auto sink = [&out](AVPacket* p) { return out.sink(p); };
    const std::vector<uint8_t> tone(800, 0x20);
    ASSERT_EQ(track.push(0, tone.data(), 800, sink), 0);
    // Two seconds later.
    ASSERT_EQ(track.push(16000, tone.data(), 800, sink), 0);
    ASSERT_EQ(track.flush(sink), 0);
    ASSERT_FALSE(out.pts.empty());
    for (size_t i = 1; i < out.pts.size(); ++i) EXPECT_GT(out.pts[i], out.pts[i - 1]);
    // Packets cover the whole of it, gap included: 16,800 samples in frames of 1024.
    const int64_t frame = track.context()->frame_size;
    EXPECT_GE(out.end.back(), 16800);
    EXPECT_GE(static_cast<int64_t>(out.pts.size()), 16800 / frame);
}

TEST(AacTrack, ASinkThatFailsStopsTheEncoding) {
    mux::AacTrack track;
    ASSERT_EQ(track.open(false, nullptr), 0);
    const std::vector<uint8_t> tone(8000, 0x20);
    EXPECT_EQ(track.push(0, tone.data(), 8000, [](AVPacket*) { return -1; }), -1);
}

}  // namespace
