// The encoded frames are checked the way the reader and the display use them: by their start
// codes and unit types, and by decoding each GOP with libavcodec from its own key frame.
#include "tools/sample/video_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <tuple>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include "decode/av_handles.h"
#include "tools/sample/test_pattern.h"

namespace {

using sample::Codec;
using sample::EncodedFrame;
using sample::VideoEncoder;

constexpr uint32_t kTime = 951786123;
constexpr int kChannel = 3;
constexpr int kFps = 25;
constexpr int kGopFrames = 5;
// Hour, minute and second digits all differ from kTime's.
constexpr uint32_t kLaterTime = kTime + 3661;

using Gop = std::vector<EncodedFrame>;

struct Clip {
    int width = 0;
    int height = 0;
    std::vector<Gop> gops;  // at kTime, kTime + 1, kLaterTime
};

// Encoding is the slow part: each clip is made once and shared by the tests.
const Clip& clip(Codec codec, int width, int height) {
    static std::map<std::tuple<Codec, int, int>, Clip> clips;
    auto [it, fresh] = clips.try_emplace({codec, width, height});
    if (fresh) {
        it->second.width = width;
        it->second.height = height;
        std::string error;
        auto encoder = VideoEncoder::create(codec, width, height, kFps, &error);
        EXPECT_NE(encoder, nullptr) << error;
        if (encoder) {
            for (uint32_t time : {kTime, kTime + 1, kLaterTime}) {
                it->second.gops.push_back(encoder->encode_gop(kChannel, time, kGopFrames, &error));
                EXPECT_EQ(it->second.gops.back().size(), size_t{kGopFrames}) << error;
            }
        }
    }
    return it->second;
}

// Unit types after every 00 00 01 (H.264: nal_unit_type; MPEG-4: the start code value) and the
// byte after each, in stream order.
struct Unit {
    uint8_t code = 0;
    uint8_t next = 0;
};

std::vector<Unit> units(const std::vector<uint8_t>& bytes) {
    std::vector<Unit> out;
    for (size_t i = 0; i + 3 < bytes.size(); ++i) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
            out.push_back({bytes[i + 3], i + 4 < bytes.size() ? bytes[i + 4] : uint8_t{0}});
            i += 2;
        }
    }
    return out;
}

std::vector<int> nal_types(const std::vector<uint8_t>& bytes) {
    std::vector<int> types;
    for (const Unit& u : units(bytes)) types.push_back(u.code & 0x1F);
    return types;
}

bool starts_with(const std::vector<uint8_t>& bytes, std::initializer_list<uint8_t> prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// The luma plane of a decoded picture.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> luma;
    uint8_t at(int x, int y) const { return luma[static_cast<size_t>(y) * width + x]; }
};

// A fresh decoder per GOP, as a player that starts at that GOP would have.
std::vector<Picture> decode(Codec codec, const Gop& gop, std::string* error) {
    const AVCodec* decoder =
        avcodec_find_decoder(codec == Codec::H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG4);
    decode::CodecContextPtr c(avcodec_alloc_context3(decoder));
    decode::FramePtr frame(av_frame_alloc());
    decode::PacketPtr packet(av_packet_alloc());
    std::vector<Picture> pictures;
    if (!decoder || !c || !frame || !packet || avcodec_open2(c.get(), decoder, nullptr) < 0) {
        *error = "cannot open the decoder";
        return pictures;
    }
    auto drain = [&]() {
        while (avcodec_receive_frame(c.get(), frame.get()) == 0) {
            Picture p{frame->width, frame->height, {}};
            for (int y = 0; y < frame->height; ++y) {
                const uint8_t* row =
                    frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
                p.luma.insert(p.luma.end(), row, row + frame->width);
            }
            pictures.push_back(std::move(p));
            av_frame_unref(frame.get());
        }
    };
    for (const EncodedFrame& f : gop) {
        packet->data = const_cast<uint8_t*>(f.bytes.data());
        packet->size = static_cast<int>(f.bytes.size());
        if (avcodec_send_packet(c.get(), packet.get()) < 0) {
            *error = "decoder refused a frame";
            return pictures;
        }
        drain();
    }
    avcodec_send_packet(c.get(), nullptr);
    drain();
    return pictures;
}

// Studio-range luma of an RGB pixel, as the encoder's conversion makes it.
double luma_of(const sample::RgbImage& image, int x, int y) {
    const uint8_t* p = &image.pixels[(static_cast<size_t>(y) * image.width + x) * 3];
    return 16.0 + (65.481 * p[0] + 128.553 * p[1] + 24.966 * p[2]) / 255.0;
}

double mean_difference(const Picture& a, const Picture& b, int first_row, int end_row) {
    double sum = 0;
    for (int y = first_row; y < end_row; ++y) {
        for (int x = 0; x < a.width; ++x) sum += std::abs(a.at(x, y) - b.at(x, y));
    }
    return sum / (static_cast<double>(end_row - first_row) * a.width);
}

int strongly_different(const Picture& a, const Picture& b, int first_row, int end_row) {
    int count = 0;
    for (int y = first_row; y < end_row; ++y) {
        for (int x = 0; x < a.width; ++x) count += std::abs(a.at(x, y) - b.at(x, y)) > 64;
    }
    return count;
}

struct Size {
    int width;
    int height;
};

class EncodedClip : public testing::TestWithParam<std::tuple<Codec, Size>> {
  protected:
    Codec codec() const { return std::get<0>(GetParam()); }
    const Clip& the_clip() const {
        const Size s = std::get<1>(GetParam());
        return clip(codec(), s.width, s.height);
    }
    std::vector<Picture> decoded(const Gop& gop) const {
        std::string error;
        std::vector<Picture> pictures = decode(codec(), gop, &error);
        EXPECT_EQ(error, "");
        return pictures;
    }
};

TEST_P(EncodedClip, EveryGopOpensWithItsOnlyKeyFrameAndDecodesFromIt) {
    const Clip& c = the_clip();
    ASSERT_EQ(c.gops.size(), 3u);
    for (const Gop& gop : c.gops) {
        ASSERT_EQ(gop.size(), size_t{kGopFrames});
        for (size_t i = 0; i < gop.size(); ++i) EXPECT_EQ(gop[i].key, i == 0) << "frame " << i;
        const std::vector<Picture> pictures = decoded(gop);
        ASSERT_EQ(pictures.size(), gop.size());
        for (const Picture& p : pictures) {
            EXPECT_EQ(p.width, c.width);
            EXPECT_EQ(p.height, c.height);
        }
    }
}

TEST_P(EncodedClip, PictureShowsTheChannelsColourBars) {
    const Clip& c = the_clip();
    ASSERT_FALSE(c.gops.empty());
    const std::vector<Picture> pictures = decoded(c.gops[0]);
    ASSERT_FALSE(pictures.empty());
    // The top quarter holds only bars, whatever the caption says (an empty caption here still
    // draws its band, larger than a real caption's, from near the middle down).
    const sample::RgbImage own = sample::test_pattern(c.width, c.height, "", kChannel);
    const sample::RgbImage other = sample::test_pattern(c.width, c.height, "", kChannel + 1);
    for (const Picture& p : {pictures.front(), pictures.back()}) {
        double own_sum = 0;
        double other_sum = 0;
        for (int y = 0; y < c.height / 4; ++y) {
            for (int x = 0; x < c.width; ++x) {
                own_sum += std::abs(p.at(x, y) - luma_of(own, x, y));
                other_sum += std::abs(p.at(x, y) - luma_of(other, x, y));
            }
        }
        const double pixels = static_cast<double>(c.width) * (c.height / 4);
        EXPECT_LT(own_sum / pixels, 4.0);
        EXPECT_GT(other_sum / pixels, 20.0);
    }
}

TEST_P(EncodedClip, CaptionCarriesTheTimeAndTheFrame) {
    const Clip& c = the_clip();
    ASSERT_EQ(c.gops.size(), 3u);
    const std::vector<Picture> early = decoded(c.gops[0]);
    const std::vector<Picture> later = decoded(c.gops[2]);
    ASSERT_EQ(early.size(), size_t{kGopFrames});
    ASSERT_EQ(later.size(), size_t{kGopFrames});
    const int band = c.height - c.height / 8;  // the caption sits in the bottom eighth
    // Same bars above the caption, different digits in it.
    EXPECT_LT(mean_difference(early[0], later[0], 0, band), 2.0);
    EXPECT_GT(strongly_different(early[0], later[0], band, c.height), 20);
    // Frames within one second differ by their number only.
    EXPECT_LT(mean_difference(early[0], early[1], 0, band), 2.0);
    EXPECT_GT(strongly_different(early[0], early[1], band, c.height), 5);
}

INSTANTIATE_TEST_SUITE_P(Sizes, EncodedClip,
                         testing::Values(std::tuple{Codec::H264, Size{352, 240}},
                                         std::tuple{Codec::H264, Size{704, 480}},
                                         std::tuple{Codec::Mpeg4, Size{352, 240}},
                                         std::tuple{Codec::Mpeg4, Size{704, 480}}),
                         [](const testing::TestParamInfo<std::tuple<Codec, Size>>& p) {
                             const Size s = std::get<1>(p.param);
                             return std::string(std::get<0>(p.param) == Codec::H264 ? "H264_"
                                                                                    : "Mpeg4_") +
                                    std::to_string(s.width) + "x" + std::to_string(s.height);
                         });

TEST(H264Frames, StartWithFourByteStartCodes) {
    for (const Size s : {Size{352, 240}, Size{704, 480}}) {
        for (const Gop& gop : clip(Codec::H264, s.width, s.height).gops) {
            for (const EncodedFrame& f : gop) EXPECT_TRUE(starts_with(f.bytes, {0, 0, 0, 1}));
        }
    }
}

TEST(H264Frames, KeyFramesRepeatParameterSetsAndTheRestAreNonIdrSlices) {
    for (const Gop& gop : clip(Codec::H264, 352, 240).gops) {
        ASSERT_FALSE(gop.empty());
        const std::vector<int> types = nal_types(gop[0].bytes);
        const auto at = [&](int type) { return std::find(types.begin(), types.end(), type); };
        ASSERT_NE(at(7), types.end());
        ASSERT_NE(at(8), types.end());
        ASSERT_NE(at(5), types.end());
        EXPECT_LT(at(7), at(8));
        EXPECT_LT(at(8), at(5));
        EXPECT_EQ(at(1), types.end());
        for (size_t i = 1; i < gop.size(); ++i) {
            const std::vector<int> p = nal_types(gop[i].bytes);
            EXPECT_NE(std::find(p.begin(), p.end(), 1), p.end()) << "frame " << i;
            for (int type : p) {
                EXPECT_TRUE(type != 5 && type != 7 && type != 8) << "frame " << i << ": " << type;
            }
        }
    }
}

// vop_coding_type, the top two bits after the VOP start code: 0 = I, 1 = P.
int vop_type(const Unit& vop) {
    return vop.next >> 6;
}

TEST(Mpeg4Frames, KeyFramesCarryTheVolHeaderAndTheRestAreSinglePredictedVops) {
    for (const Size sz : {Size{352, 240}, Size{704, 480}}) {
        for (const Gop& gop : clip(Codec::Mpeg4, sz.width, sz.height).gops) {
            ASSERT_FALSE(gop.empty());
            // 00 00 01 and not 00 00 00 01, which would mark the stream as H.264.
            EXPECT_TRUE(starts_with(gop[0].bytes, {0, 0, 1}));
            const std::vector<Unit> u = units(gop[0].bytes);
            const auto vol =
                std::find_if(u.begin(), u.end(), [](Unit x) { return x.code == 0x20; });
            const auto vop =
                std::find_if(u.begin(), u.end(), [](Unit x) { return x.code == 0xB6; });
            ASSERT_NE(vol, u.end());
            ASSERT_NE(vop, u.end());
            EXPECT_LT(vol, vop);
            EXPECT_EQ(vop_type(*vop), 0);
            for (size_t i = 1; i < gop.size(); ++i) {
                EXPECT_TRUE(starts_with(gop[i].bytes, {0, 0, 1, 0xB6})) << "frame " << i;
                const std::vector<Unit> p = units(gop[i].bytes);
                ASSERT_EQ(p.size(), 1u) << "frame " << i;
                EXPECT_EQ(vop_type(p[0]), 1) << "frame " << i;
            }
        }
    }
}

TEST(VideoEncoder, RefusesUnusableSizesAndRates) {
    const struct {
        int width, height, fps;
    } cases[] = {{0, 240, 25},    {352, -2, 25}, {351, 240, 25}, {352, 241, 25},
                 {4098, 240, 25}, {352, 240, 0}, {352, 240, 61}};
    for (const auto& c : cases) {
        for (Codec codec : {Codec::H264, Codec::Mpeg4}) {
            std::string error;
            EXPECT_EQ(VideoEncoder::create(codec, c.width, c.height, c.fps, &error), nullptr)
                << c.width << "x" << c.height << "@" << c.fps;
            EXPECT_NE(error, "");
        }
    }
    // The message is optional.
    EXPECT_EQ(VideoEncoder::create(Codec::H264, 3, 3, 25, nullptr), nullptr);
}

TEST(VideoEncoder, GopLengthCanChangeBetweenCallsAndBadLengthsAreRefused) {
    for (Codec codec : {Codec::H264, Codec::Mpeg4}) {
        std::string error;
        auto encoder = VideoEncoder::create(codec, 96, 64, 30, &error);
        ASSERT_NE(encoder, nullptr) << error;
        EXPECT_TRUE(encoder->encode_gop(0, kTime, 0, &error).empty());
        EXPECT_NE(error, "");
        error.clear();
        EXPECT_TRUE(encoder->encode_gop(0, kTime, 1001, &error).empty());
        EXPECT_NE(error, "");
        // A refused call leaves the encoder usable; each length gets a key frame first only.
        for (int frames : {3, 1, 4}) {
            error.clear();
            const Gop gop = encoder->encode_gop(0, kTime, frames, &error);
            ASSERT_EQ(gop.size(), static_cast<size_t>(frames)) << error;
            for (size_t i = 0; i < gop.size(); ++i) EXPECT_EQ(gop[i].key, i == 0);
            std::string decode_error;
            const std::vector<Picture> pictures = decode(codec, gop, &decode_error);
            EXPECT_EQ(pictures.size(), gop.size()) << decode_error;
        }
    }
}

TEST(EnsureLongStartCode, WidensOnlyAShortStartCodeAtTheFront) {
    std::vector<uint8_t> short_code = {0, 0, 1, 0x65, 0, 0, 1, 0x41};
    EXPECT_TRUE(sample::ensure_long_start_code(short_code));
    EXPECT_EQ(short_code, (std::vector<uint8_t>{0, 0, 0, 1, 0x65, 0, 0, 1, 0x41}));

    std::vector<uint8_t> long_code = {0, 0, 0, 1, 0x67};
    EXPECT_TRUE(sample::ensure_long_start_code(long_code));
    EXPECT_EQ(long_code, (std::vector<uint8_t>{0, 0, 0, 1, 0x67}));

    for (std::vector<uint8_t> bad : std::vector<std::vector<uint8_t>>{
             {}, {0, 0}, {0, 1, 0x65}, {0, 0, 0, 0, 1}, {0x65, 0, 0, 1}}) {
        const std::vector<uint8_t> before = bad;
        EXPECT_FALSE(sample::ensure_long_start_code(bad));
        EXPECT_EQ(bad, before);
    }
}

}  // namespace
