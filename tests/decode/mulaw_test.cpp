// The display's mu-law table against libavcodec's pcm_mulaw decoder, code by code.
#include "decode/mulaw.h"

#include "decode/av_handles.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

namespace {


// The 256 codes in order through pcm_mulaw, 8 kHz mono.
std::vector<int16_t> ffmpeg_samples() {
    std::vector<int16_t> out;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_PCM_MULAW);
    if (codec == nullptr) return out;
    decode::CodecContextPtr c(avcodec_alloc_context3(codec));
    decode::FramePtr frame(av_frame_alloc());
    decode::PacketPtr packet(av_packet_alloc());
    if (!c || !frame || !packet) return out;
    c->sample_rate = 8000;
    av_channel_layout_default(&c->ch_layout, 1);
    if (avcodec_open2(c.get(), codec, nullptr) < 0) return out;
    if (av_new_packet(packet.get(), 256) < 0) return out;
    for (int i = 0; i < 256; ++i) packet->data[i] = static_cast<uint8_t>(i);
    if (avcodec_send_packet(c.get(), packet.get()) < 0) return out;
    while (avcodec_receive_frame(c.get(), frame.get()) == 0) {
        if (frame->format != AV_SAMPLE_FMT_S16) return {};
        const auto* s = reinterpret_cast<const int16_t*>(frame->data[0]);
        out.insert(out.end(), s, s + frame->nb_samples);
        av_frame_unref(frame.get());
    }
    return out;
}

TEST(Mulaw, TableMatchesFfmpegForEveryCode) {
    const std::vector<int16_t> expected = ffmpeg_samples();
    ASSERT_EQ(expected.size(), 256u);
    for (int code = 0; code < 256; ++code) {
        EXPECT_EQ(decode::kMulawTable[static_cast<size_t>(code)],
                  expected[static_cast<size_t>(code)])
            << "code " << code;
    }
    // A block decodes code by code through the same table.
    std::vector<uint8_t> codes(256);
    for (size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<uint8_t>(255 - i);
    std::vector<int16_t> block(256);
    decode::mulaw_decode(codes.data(), codes.size(), block.data());
    for (size_t i = 0; i < codes.size(); ++i) EXPECT_EQ(block[i], expected[codes[i]]);
}

}  // namespace
