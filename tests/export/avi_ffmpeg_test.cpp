// Files of real H.264 frames and 8 kHz mu-law audio, read back with FFmpeg's own tools: the
// streams ffprobe sees, every frame decoded without error, and the payloads copied out unchanged.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "export/avi_writer.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/tool_run.h"
#include "tools/sample/audio_samples.h"
#include "tools/sample/video_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testkit::quoted;
using testkit::read_file;
using testkit::ToolRun;

constexpr uint32_t kTime = 951786123;
constexpr int kWidth = 352;
constexpr int kHeight = 240;
constexpr int kGops = 2;
constexpr int kGopFrames = 25;

// Encoding is the slow part: one clip serves every test.
const std::vector<sample::EncodedFrame>& clip() {
    static const std::vector<sample::EncodedFrame> frames = [] {
        std::vector<sample::EncodedFrame> all;
        std::string error;
        auto encoder = sample::VideoEncoder::create(sample::Codec::H264, kWidth, kHeight, 25,
                                                    &error);
        EXPECT_NE(encoder, nullptr) << error;
        if (!encoder) return all;
        for (int g = 0; g < kGops; ++g) {
            auto gop = encoder->encode_gop(2, kTime + static_cast<uint32_t>(g), kGopFrames,
                                           &error);
            EXPECT_EQ(gop.size(), size_t{kGopFrames}) << error;
            all.insert(all.end(), gop.begin(), gop.end());
        }
        return all;
    }();
    return frames;
}





struct Written {
    Bytes video;  // every frame, back to back
    Bytes audio;
    int frames = 0;
    int empty_frames = 0;
    std::vector<int> frame_slots;  // frame number of each non-empty frame
};

// Audio for frame i at `fps`: the samples from its start to the next frame's start, so that
// at 30 frames a second the blocks are 266 or 267 bytes long, odd ones among them.
size_t audio_for_frame(int i, int fps) {
    return static_cast<size_t>((i + 1) * 8000 / fps - i * 8000 / fps);
}

// Writes the clip at `fps`, an audio block after every picture. With `empty_every` > 0 every
// such slot holds an empty frame, as constant-rate filler, and the pictures move up.
Written write_clip(const std::string& path, int fps, int empty_every) {
    Written w;
    avi_out avi;
    EXPECT_EQ(avi_out_create(&avi, path), 0);
    EXPECT_EQ(avi_out_video_format(&avi, kWidth, kHeight, fps, "h264"), 1);
    EXPECT_EQ(avi_out_audio_format(&avi, 1, 8000, 8, 7, 64), 1);
    uint32_t offset = 0;
    int slot = 0;
    for (const auto& frame : clip()) {
        if (empty_every > 0 && slot % empty_every == empty_every - 1) {
            EXPECT_EQ(avi_out_write_frame(&avi, nullptr, 0, false), 0);
            ++w.empty_frames;
            ++slot;
        }
        EXPECT_EQ(avi_out_write_frame(&avi, frame.bytes.data(), frame.bytes.size(), frame.key),
                  0);
        w.frame_slots.push_back(slot);
        w.video.insert(w.video.end(), frame.bytes.begin(), frame.bytes.end());
        Bytes block = sample::tone_samples(0, kTime, audio_for_frame(slot, fps), offset);
        offset += static_cast<uint32_t>(block.size());
        EXPECT_EQ(avi_out_write_audio(&avi, block.data(), block.size()), 0);
        w.audio.insert(w.audio.end(), block.begin(), block.end());
        ++slot;
    }
    w.frames = slot;
    EXPECT_EQ(avi.video_frames, static_cast<uint32_t>(w.frames));
    EXPECT_EQ(avi.tracks[0].bytes_written, w.audio.size());
    EXPECT_EQ(avi_out_finish(&avi), 0);
    EXPECT_EQ(avi_out_close(&avi), 0);
    return w;
}

nlohmann::json probe(const testkit::TempDir& dir, const std::string& path) {
    ToolRun r = testkit::run_tool(dir, "ffprobe -v error -count_packets -show_streams -of json " + quoted(path));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    auto json = nlohmann::json::parse(r.out, nullptr, false);
    EXPECT_FALSE(json.is_discarded()) << r.out;
    return json;
}

// Frames each stream decodes to, from ffmpeg's per-frame checksums; nothing on stderr.
std::map<int, int> decoded_frames(const testkit::TempDir& dir, const std::string& path) {
    ToolRun r = testkit::run_tool(dir, "ffmpeg -nostdin -v error -i " + quoted(path) + " -f framecrc -");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "") << "decoding reported errors";
    std::map<int, int> count;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line))
        if (!line.empty() && line[0] != '#') ++count[std::stoi(line)];
    return count;
}

class AviFfmpeg : public ::testing::TestWithParam<int> {
protected:
    static void SetUpTestSuite() { ASSERT_FALSE(clip().empty()); }
    testkit::TempDir dir;
};

TEST_P(AviFfmpeg, StreamsReadBackAndEveryFrameDecodes) {
    const int fps = GetParam();
    const std::string path = dir.file("clip.avi");
    Written w = write_clip(path, fps, 0);
    ASSERT_EQ(w.frames, kGops * kGopFrames);

    auto json = probe(dir, path);
    ASSERT_EQ(json["streams"].size(), 2u);
    const auto& v = json["streams"][0];
    EXPECT_EQ(v["codec_type"], "video");
    EXPECT_EQ(v["codec_name"], "h264");
    EXPECT_EQ(v["width"], kWidth);
    EXPECT_EQ(v["height"], kHeight);
    EXPECT_EQ(v["r_frame_rate"], std::to_string(fps) + "/1");
    EXPECT_EQ(v["nb_frames"], std::to_string(w.frames));
    EXPECT_EQ(v["nb_read_packets"], std::to_string(w.frames));
    const auto& a = json["streams"][1];
    EXPECT_EQ(a["codec_type"], "audio");
    EXPECT_EQ(a["codec_name"], "pcm_mulaw");
    EXPECT_EQ(a["sample_rate"], "8000");
    EXPECT_EQ(a["channels"], 1);
    EXPECT_EQ(a["bit_rate"], "64000");

    auto decoded = decoded_frames(dir, path);
    EXPECT_EQ(decoded[0], w.frames);

    // The payloads come out of the file exactly as they went in.
    const std::string h264 = dir.file("v.h264"), mulaw = dir.file("a.ul");
    ToolRun copy = testkit::run_tool(dir, "ffmpeg -nostdin -v error -i " + quoted(path) +
                            " -map 0:v -c copy -f h264 " + quoted(h264) +
                            " -map 0:a -c copy -f mulaw " + quoted(mulaw));
    ASSERT_EQ(copy.status, 0) << copy.err;
    EXPECT_EQ(read_file(h264), w.video);
    EXPECT_EQ(read_file(mulaw), w.audio);
}

INSTANTIATE_TEST_SUITE_P(Rates, AviFfmpeg, ::testing::Values(25, 30),
                         [](const ::testing::TestParamInfo<int>& param) {
                             return std::to_string(param.param) + "fps";
                         });

TEST_F(AviFfmpeg, EmptyFramesHoldTheirSlotsAndDecodeCleanly) {
    const std::string path = dir.file("gaps.avi");
    Written w = write_clip(path, 25, 7);
    ASSERT_GT(w.empty_frames, 0);
    auto json = probe(dir, path);
    ASSERT_EQ(json["streams"].size(), 2u);
    // The header's length counts the empty chunks, so the duration holds.
    EXPECT_EQ(json["streams"][0]["nb_frames"], std::to_string(w.frames));
    EXPECT_DOUBLE_EQ(std::stod(json["streams"][0]["duration"].get<std::string>()),
                     w.frames / 25.0);
    // Readers skip the empty chunks but keep their time: each picture stays in its slot.
    EXPECT_EQ(json["streams"][0]["nb_read_packets"], std::to_string(w.frames - w.empty_frames));
    ToolRun dts = testkit::run_tool(dir, "ffprobe -v error -select_streams v -show_entries packet=dts "
                           "-of csv=p=0 " + quoted(path));
    ASSERT_EQ(dts.status, 0) << dts.err;
    std::vector<int> slots;
    std::istringstream lines(dts.out);
    for (int slot; lines >> slot;) slots.push_back(slot);
    EXPECT_EQ(slots, w.frame_slots);
    auto decoded = decoded_frames(dir, path);
    EXPECT_EQ(decoded[0], w.frames - w.empty_frames);
}

}  // namespace
