#include "tests/decode/clips.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <tuple>

#include "tests/testkit/tool_run.h"
#include "tools/sample/recordings.h"

namespace decodetest {

const Clip& clip(sample::Codec codec, int width, int height, int seconds, uint32_t from) {
    static std::map<std::tuple<sample::Codec, int, int, int, uint32_t>, Clip> made;
    auto [it, fresh] = made.try_emplace({codec, width, height, seconds, from});
    if (!fresh) return it->second;
    Clip& c = it->second;
    c.codec = codec;
    c.width = width;
    c.height = height;
    std::string error;
    auto encoder = sample::VideoEncoder::create(codec, width, height, 15, &error);
    EXPECT_NE(encoder, nullptr) << error;
    if (!encoder) return c;
    sample::VideoRecordingSpec spec;
    spec.video_channel = 2;
    spec.codec = codec;
    spec.width = width;
    spec.height = height;
    spec.fps = 15;
    spec.gop_frames = 8;
    spec.from = from;
    spec.to = from + static_cast<uint32_t>(seconds);
    const auto recording = sample::video_recording(spec, *encoder, &error);
    EXPECT_TRUE(recording.has_value()) << error;
    if (!recording) return c;
    for (const sample::RecordedGop& gop : recording->gops) {
        for (const sample::RecordedFrame& f : gop.frames) {
            c.frames.push_back(
                {f.bytes, f.index == 0 ? recording->picture_size : 0u, {f.time, f.ms}});
        }
    }
    return c;
}

std::vector<ClipFrame> frames(const Clip& c, size_t first, size_t end) {
    end = std::min(end, c.frames.size());
    if (first >= end) return {};
    return {c.frames.begin() + static_cast<std::ptrdiff_t>(first),
            c.frames.begin() + static_cast<std::ptrdiff_t>(end)};
}

RgbPictures ffmpeg_pictures(const testkit::TempDir& dir, const Clip& c, int width, int height) {
    const bool h264 = c.codec == sample::Codec::H264;
    const std::string stream = dir.file(h264 ? "clip.h264" : "clip.m4v");
    {
        std::ofstream out(stream, std::ios::binary | std::ios::trunc);
        for (const ClipFrame& f : c.frames) {
            out.write(reinterpret_cast<const char*>(f.bytes.data()),
                      static_cast<std::streamsize>(f.bytes.size()));
        }
    }
    RgbPictures p;
    p.width = width != 0 ? width : c.width;
    p.height = height != 0 ? height : c.height;
    std::string command = "ffmpeg -nostdin -v error -threads 1 -f " +
                          std::string(h264 ? "h264" : "m4v") + " -i " + testkit::quoted(stream) +
                          " -fps_mode passthrough";
    if (width != 0) {
        command += " -vf scale=" + std::to_string(width) + ":" + std::to_string(height);
    }
    command += " -f rawvideo -pix_fmt rgb24 -";
    const testkit::ToolRun run = testkit::run_tool(dir, command);
    EXPECT_EQ(run.status, 0) << command << "\n" << run.err;
    const size_t size = static_cast<size_t>(p.width) * static_cast<size_t>(p.height) * 3;
    EXPECT_EQ(run.out.size() % size, 0u);
    for (size_t at = 0; at + size <= run.out.size(); at += size) {
        p.pictures.emplace_back(run.out.begin() + static_cast<std::ptrdiff_t>(at),
                                run.out.begin() + static_cast<std::ptrdiff_t>(at + size));
    }
    return p;
}

std::vector<uint8_t> packed_rows(const decode::RgbImage& image) {
    const size_t row = static_cast<size_t>(image.width()) *
                       static_cast<size_t>(decode::bytes_per_pixel(image.format()));
    std::vector<uint8_t> out;
    out.reserve(row * static_cast<size_t>(image.height()));
    for (int y = 0; y < image.height(); ++y) {
        const uint8_t* start = image.pixels() + static_cast<size_t>(y) * image.stride();
        out.insert(out.end(), start, start + row);
    }
    return out;
}

}  // namespace decodetest
