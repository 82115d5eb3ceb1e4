// quillon-cli still: the picture it saves for each channel is the first stored frame at or after
// the time asked for, decoded as FFmpeg's own tool decodes the same stored frames, for H.264 and
// MPEG-4 part 2; and the ways it refuses.
#include <cstdio>
#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include "tests/testkit/picture_compare.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/tool_run.h"
#include "tests/testkit/volume_helpers.h"
#include "tests/tools/cli_runner.h"
#include "tools/sample/recordings.h"

namespace {

using clitest::run_cli;
using testkit::kT0;  // 2026-03-14 07:00:00
using Bytes = std::vector<uint8_t>;

struct Fixture {
    testkit::TempDir dir;
    std::string path;
    std::vector<sample::VideoRecording> videos;  // channel 1 H.264, channel 2 MPEG-4
};
Fixture* fixture = nullptr;

Bytes rgb_of(testkit::TempDir& dir, const std::string& input, const std::string& format) {
    const std::string out = dir.file("rgb.raw");
    std::string command = "ffmpeg -nostdin -v error -y";
    if (!format.empty()) command.append(" -f ").append(format);
    command.append(" -i ").append(testkit::quoted(input));
    command.append(" -f rawvideo -pix_fmt rgb24 ").append(testkit::quoted(out));
    const testkit::ToolRun r = testkit::run_tool(dir, command);
    EXPECT_EQ(r.status, 0) << r.err;
    return testkit::read_file(out);
}

class StillCommand : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        auto f = std::make_unique<Fixture>();
        std::string error;
        sample::VolumeContent content;
        for (int channel : {1, 2}) {
            sample::VideoRecordingSpec spec;
            spec.video_channel = channel;
            spec.codec = channel == 1 ? sample::Codec::H264 : sample::Codec::Mpeg4;
            spec.fps = 15;
            spec.from = kT0;
            spec.to = kT0 + 12;
            auto encoder = sample::VideoEncoder::create(spec.codec, 352, 240, 15, &error);
            ASSERT_NE(encoder, nullptr) << error;
            auto v = sample::video_recording(spec, *encoder, &error);
            ASSERT_TRUE(v.has_value()) << error;
            content.channels.push_back(v->data);
            f->videos.push_back(std::move(*v));
        }
        sample::DiskSpec disk = testkit::small_recorder(content, 29);
        disk.bare.recorder.block_size = 64 * 1024;
        f->path = testkit::make_image(f->dir, "still.img", disk);
        fixture = f.release();
    }
    static void TearDownTestSuite() {
        delete fixture;
        fixture = nullptr;
    }
    void SetUp() override { ASSERT_NE(fixture, nullptr) << "the recordings could not be built"; }

    // The stored frames from the key frame before the first frame at or after t, through it.
    static std::vector<const sample::RecordedFrame*> frames_to(const sample::VideoRecording& v,
                                                               uint32_t t) {
        std::vector<const sample::RecordedFrame*> run;
        for (const auto& gop : v.gops) {
            for (const auto& frame : gop.frames) {
                if (frame.index == 0) run.clear();
                run.push_back(&frame);
                if (frame.time >= t) return run;
            }
        }
        return {};
    }

    testkit::TempDir out_;
};

TEST_F(StillCommand, SavesTheFirstPictureAtTheTimeAsFfmpegDecodesIt) {
    const uint32_t t = kT0 + 4;
    for (const char* extension : {".bmp", ".jpg"}) {
        const std::string out = out_.file(std::string("shot") + extension);
        const clitest::CliResult r = run_cli({"still", "--json", "--image", fixture->path,
                                              "--channels", "1,2", "--time",
                                              "2026-03-14 07:00:04", "--out", out});
        ASSERT_EQ(r.status, 0) << r.err;
        const auto doc = r.json();
        ASSERT_EQ(doc["files"].size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            const auto& f = doc["files"][i];
            SCOPED_TRACE(std::string(extension) + " channel " + std::to_string(i + 1));
            const auto run = frames_to(fixture->videos[i], t);
            ASSERT_FALSE(run.empty());
            EXPECT_EQ(f["time"], run.back()->time);
            EXPECT_EQ(f["ms"], run.back()->ms);
            EXPECT_EQ(f["width"], 352);
            EXPECT_EQ(f["height"], 240);
            const std::string path = f["path"].get<std::string>();
            EXPECT_TRUE(path.ends_with(std::string("shot_CH0") + std::to_string(i + 1) + extension))
                << path;
            // FFmpeg's picture of the same stored frames: the last of the run.
            const std::string stream = out_.file(i == 0 ? "run.h264" : "run.m4v");
            {
                std::FILE* file = std::fopen(stream.c_str(), "wb");
                ASSERT_NE(file, nullptr);
                for (const auto* frame : run) std::fwrite(frame->bytes.data(), 1, frame->bytes.size(), file);
                std::fclose(file);
            }
            const Bytes all = rgb_of(out_, stream, i == 0 ? "h264" : "m4v");
            const size_t picture = size_t{352} * 240 * 3;
            ASSERT_EQ(all.size(), picture * run.size());
            const Bytes expected(all.end() - static_cast<std::ptrdiff_t>(picture), all.end());
            const double quality = testkit::psnr(rgb_of(out_, path, ""), expected);
            EXPECT_GE(quality, std::string(extension) == ".bmp" ? 40.0 : 30.0);
        }
    }
}

// A still whose name is taken goes to "name (2).jpg"; the earlier file stays as it was and the
// JSON names the file really written.
TEST_F(StillCommand, ATakenNameIsNeverReplaced) {
    const std::string out = out_.file("same.jpg");
    auto still_at = [&](const char* time) {
        const clitest::CliResult r = run_cli({"still", "--json", "--image", fixture->path,
                                              "--channels", "1", "--time", time, "--out", out});
        EXPECT_EQ(r.status, 0) << r.err;
        return r.status == 0 ? r.json()["files"][0]["path"].get<std::string>() : std::string();
    };
    ASSERT_EQ(still_at("2026-03-14 07:00:02"), out);
    const auto first = testkit::read_file(out);
    ASSERT_FALSE(first.empty());
    const std::string second = still_at("2026-03-14 07:00:06");
    EXPECT_EQ(second, out_.file("same (2).jpg"));
    ASSERT_TRUE(std::filesystem::exists(second));
    EXPECT_NE(testkit::read_file(second), first);  // another picture, in its own file
    EXPECT_EQ(testkit::read_file(out), first);
}

TEST_F(StillCommand, RefusesWhatItCannotDo) {
    // Nothing recorded within a minute of the time.
    clitest::CliResult r = run_cli({"still", "--image", fixture->path, "--channels", "1", "--time",
                                    "2026-03-14 06:00:00", "--out", out_.file("none.bmp")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no picture"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out_.file("none.bmp")));
    // The evidence is never an output.
    const std::string before = testkit::fingerprint(fixture->path);
    r = run_cli({"still", "--image", fixture->path, "--channels", "1", "--time",
                 "2026-03-14 07:00:02", "--out", fixture->path, "--format", "bmp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(testkit::fingerprint(fixture->path), before);
    r = run_cli({"still", "--image", fixture->path, "--channels", "1", "--time",
                 "2026-03-14 07:00:02", "--out", out_.file("x.png"), "--format", "png"});
    EXPECT_EQ(r.status, 2);
}

}  // namespace
