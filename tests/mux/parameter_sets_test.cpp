// The codec headers taken from stored key frames, and the NAL units of a byte stream.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mux/parameter_sets.h"
#include "tools/sample/video_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes unit_bytes(const mux::NalUnit& u) {
    return Bytes(u.data, u.data + u.length);
}

TEST(AnnexbNalUnits, SplitsAtThreeAndFourByteStartCodesAndDropsThePadding) {
    const Bytes stream = {0, 0, 0, 1,    0x67, 0x42, 0x00,  // SPS ending in a zero byte of padding
                          0, 0, 1, 0x68, 0xCE,              // PPS after a three-byte start code
                          0, 0, 0, 1,    0x65, 0x88, 0x84, 0, 0, 0, 0};  // slice, word padding
    const auto units = mux::annexb_nal_units(stream.data(), stream.size());
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(unit_bytes(units[0]), (Bytes{0x67, 0x42}));
    EXPECT_EQ(unit_bytes(units[1]), (Bytes{0x68, 0xCE}));
    EXPECT_EQ(unit_bytes(units[2]), (Bytes{0x65, 0x88, 0x84}));
    EXPECT_TRUE(mux::annexb_nal_units(nullptr, 10).empty());
    const Bytes no_start = {1, 2, 3, 4};
    EXPECT_TRUE(mux::annexb_nal_units(no_start.data(), no_start.size()).empty());
}

TEST(H264ParameterSets, TakesTheSequenceAndPictureSetsOfAKeyFrame) {
    const Bytes frame = {0, 0, 0, 1,    0x09, 0xF0,        // access unit delimiter
                         0, 0, 0, 1,    0x67, 0x64, 0x1F,  // SPS
                         0, 0, 1, 0x68, 0xEB,              // PPS
                         0, 0, 0, 1,    0x06, 0x05,        // SEI
                         0, 0, 0, 1,    0x65, 0x11};       // IDR slice
    EXPECT_EQ(mux::h264_parameter_sets(frame.data(), frame.size()),
              (Bytes{0, 0, 0, 1, 0x67, 0x64, 0x1F, 0, 0, 0, 1, 0x68, 0xEB}));
    const Bytes slice_only = {0, 0, 0, 1, 0x41, 0x9A};
    EXPECT_TRUE(mux::h264_parameter_sets(slice_only.data(), slice_only.size()).empty());
}

TEST(H264ParameterSets, AnEncodedKeyFrameCarriesBothAndAFollowingFrameNeither) {
    std::string error;
    auto encoder = sample::VideoEncoder::create(sample::Codec::H264, 176, 144, 15, &error);
    ASSERT_NE(encoder, nullptr) << error;
    const auto gop = encoder->encode_gop(1, 1773471600, 2, &error);
    ASSERT_FALSE(gop.empty()) << error;
    ASSERT_TRUE(gop[0].key);
    const Bytes sets = mux::h264_parameter_sets(gop[0].bytes.data(), gop[0].bytes.size());
    const auto units = mux::annexb_nal_units(sets.data(), sets.size());
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0].data[0] & 0x1F, 7);
    EXPECT_EQ(units[1].data[0] & 0x1F, 8);
    ASSERT_EQ(gop.size(), 2u);
    EXPECT_TRUE(mux::h264_parameter_sets(gop[1].bytes.data(), gop[1].bytes.size()).empty());
}

TEST(Mpeg4SequenceHeader, IsEverythingBeforeTheFirstPicture) {
    const Bytes frame = {0, 0, 1, 0xB0, 0x01,         // visual object sequence
                         0, 0, 1, 0xB5, 0x09,         // visual object
                         0, 0, 1, 0x20, 0x08, 0xC8,   // video object layer
                         0, 0, 1, 0xB6, 0x10, 0x60};  // the picture
    EXPECT_EQ(mux::mpeg4_sequence_header(frame.data(), frame.size()),
              Bytes(frame.begin(), frame.begin() + 16));
    const Bytes picture_only = {0, 0, 1, 0xB6, 0x50, 0x00};
    EXPECT_TRUE(mux::mpeg4_sequence_header(picture_only.data(), picture_only.size()).empty());
}

}  // namespace
