// quillon-cli export end to end: the AVI and SAMI files of a span, read back with FFmpeg's own
// tools, the split into numbered parts and the failures.
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <numeric>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/testkit/temp_image.h"
#include "tests/testkit/tool_run.h"
#include "tests/testkit/volume_helpers.h"
#include "tests/tools/cli_runner.h"
#include "tools/sample/recordings.h"

namespace {

using clitest::CliResult;
using clitest::run_cli;
using testkit::quoted;
using testkit::kT0;  // 2026-03-14 07:00:00

// What a tool printed on standard output (a scratch folder takes its standard error).
std::string shell(const std::string& command) {
    static testkit::TempDir scratch;
    return testkit::run_tool(scratch, command).out;
}

// What a tool printed on standard error.
std::string shell_errors(const std::string& command) {
    static testkit::TempDir scratch;
    return testkit::run_tool(scratch, command).err;
}

// A field of the first stream of a kind ("v" or "a") as ffprobe reads the header.
long stream_field(const std::string& file, const char* stream, const char* field) {
    const std::string out = shell("ffprobe -v error -select_streams " + std::string(stream) +
                                  " -show_entries stream=" + field + " -of csv=p=0 " + quoted(file));
    return out.empty() ? -1 : std::stol(out);
}

// Packet sizes of one stream ("v" or "a") of a file, as ffprobe reads them.
std::vector<long> packet_sizes(const std::string& file, const char* stream) {
    std::istringstream in(shell("ffprobe -v error -select_streams " + std::string(stream) +
                                " -show_entries packet=size -of csv=p=0 " + quoted(file)));
    std::vector<long> sizes;
    for (long n; in >> n;) sizes.push_back(n);
    return sizes;
}

struct Image {
    testkit::TempDir dir;
    std::string path;
};
Image* image = nullptr;

class ExportCommand : public testing::Test {
protected:
    // Two H.264 channels of 30 s (352x240, so 30 frames a second in the files) with audio on
    // channel 1; channel 2 has a gap of 8 s.
    static void SetUpTestSuite() {
        auto img = std::make_unique<Image>();
        std::string error;
        sample::VolumeContent content;
        for (int channel : {1, 2}) {
            sample::VideoRecordingSpec spec;
            spec.video_channel = channel;
            spec.fps = 15;
            spec.from = kT0;
            spec.to = kT0 + 30;
            if (channel == 2) spec.gaps = {{kT0 + 12, kT0 + 20}};
            auto encoder = sample::VideoEncoder::create(sample::Codec::H264, 352, 240, 15, &error);
            ASSERT_NE(encoder, nullptr) << error;
            auto v = sample::video_recording(spec, *encoder, &error);
            ASSERT_TRUE(v.has_value()) << error;
            content.channels.push_back(std::move(v->data));
        }
        auto a = sample::audio_recording(1, kT0, kT0 + 30, {}, &error);
        ASSERT_TRUE(a.has_value()) << error;
        content.channels.push_back(std::move(a->data));
        sample::DiskSpec disk = testkit::small_recorder(content, 29);
        disk.bare.recorder.block_size = 64 * 1024;
        img->path = testkit::make_image(img->dir, "export.img", disk);
        image = img.release();
    }
    static void TearDownTestSuite() {
        delete image;
        image = nullptr;
    }
    void SetUp() override { ASSERT_NE(image, nullptr) << "the recordings could not be built"; }

    CliResult run_export(const std::string& out, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"export",   "--json",    "--image", image->path,
                                         "--channels", "1,2",    "--from",  "2026-03-14 07:00:05",
                                         "--to",     "2026-03-14 07:00:25", "--out", out};
        args.insert(args.end(), extra.begin(), extra.end());
        return run_cli(args);
    }
    testkit::TempDir out_;
};

// A second export into the same folder writes files of its own and names them, with its own
// report; the first export's files stay as they were.
TEST_F(ExportCommand, ASecondExportIntoTheFolderReplacesNothing) {
    const std::string folder = out_.file("again");
    const CliResult first = run_export(folder);
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.json()["report"], folder + "/export-report.json");
    const auto avi = testkit::read_file(folder + "/[CH01]07_00_05.avi");
    const auto report = testkit::read_file(folder + "/export-report.json");
    const CliResult second = run_export(folder);
    ASSERT_EQ(second.status, 0) << second.err;
    const auto doc = second.json();
    ASSERT_EQ(doc["files"].size(), 2u);
    for (const auto& f : doc["files"]) {
        const std::string stem =
            folder + "/[CH0" + std::to_string(f["channel"].get<int>()) + "]07_00_05 (2).";
        EXPECT_EQ(f["avi"], stem + "avi");
        EXPECT_EQ(f["smi"], stem + "smi");
        EXPECT_TRUE(std::filesystem::exists(stem + "avi"));
        EXPECT_TRUE(std::filesystem::exists(stem + "smi"));
    }
    const std::string own = doc["report"].get<std::string>();
    EXPECT_NE(own, folder + "/export-report.json");
    EXPECT_EQ(own.rfind(folder + "/export-report-", 0), 0u) << own;
    const auto own_bytes = testkit::read_file(own);
    EXPECT_NE(std::string(own_bytes.begin(), own_bytes.end()).find("07_00_05 (2).avi"),
              std::string::npos);
    EXPECT_EQ(testkit::read_file(folder + "/[CH01]07_00_05.avi"), avi);
    EXPECT_EQ(testkit::read_file(folder + "/export-report.json"), report);
}

TEST_F(ExportCommand, WritesOneAviAndSamiPerChannelThatFfmpegReadsBack) {
    const std::string before = testkit::fingerprint(image->path);
    const std::string folder = out_.file("span");
    const CliResult r = run_export(folder);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(testkit::fingerprint(image->path), before);
    const auto doc = r.json();
    ASSERT_EQ(doc["files"].size(), 2u);
    for (const auto& f : doc["files"]) {
        const int channel = f["channel"].get<int>();
        // Named by the channel and the span start.
        const std::string stem = folder + "/[CH0" + std::to_string(channel) + "]07_00_05.";
        EXPECT_EQ(f["avi"], stem + "avi");
        EXPECT_EQ(f["smi"], stem + "smi");
        ASSERT_TRUE(std::filesystem::exists(stem + "avi"));
        ASSERT_TRUE(std::filesystem::exists(stem + "smi"));

        const auto video = packet_sizes(stem + "avi", "v");
        const auto audio = packet_sizes(stem + "avi", "a");
        const long seconds = f["seconds"].get<long>();
        EXPECT_GE(seconds, 15);
        // 30 frames a second in the file; the empty ones that fill a second hold no packet.
        EXPECT_EQ(stream_field(stem + "avi", "v", "nb_frames"), 30 * seconds) << stem;
        EXPECT_EQ(static_cast<long>(video.size()), f["recorded_frames"].get<long>()) << stem;
        // 8000 bytes a second, with or without audio: nothing moves the audio against the video.
        EXPECT_EQ(std::accumulate(audio.begin(), audio.end(), 0L), 8000 * seconds) << stem;
        EXPECT_EQ(f["video_frames"].get<long>(), 30 * seconds);
        EXPECT_EQ(f["audio_bytes"].get<long>(), std::accumulate(audio.begin(), audio.end(), 0L));
        // Every frame decodes.
        EXPECT_EQ(shell_errors("ffmpeg -v error -i " + quoted(stem + "avi") + " -f null -"), "");

        // One caption a second, carrying the recorder's clock.
        const std::string srt = testkit::run_tool(out_, "ffmpeg -v error -i " + quoted(stem + "smi") + " -f srt -").out;
        EXPECT_NE(srt.find("2026/03/14 07:00:1"), std::string::npos) << srt.substr(0, 300);
        size_t captions = 0;
        for (size_t at = srt.find(" --> "); at != std::string::npos; at = srt.find(" --> ", at + 1)) {
            ++captions;
        }
        // Channel 2's gap is one caption of its own.
        if (channel == 1) {
            EXPECT_GE(static_cast<long>(captions), seconds - 1);
        }
    }
}

TEST_F(ExportCommand, SplitsIntoNumberedPartsAtTheThreshold) {
    const std::string folder = out_.file("split");
    const CliResult r = run_export(folder, {"--split-bytes", "40000"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = r.json();
    ASSERT_GE(doc["files"].size(), 4u) << r.out << r.err;
    EXPECT_TRUE(std::filesystem::exists(folder + "/[CH01]07_00_05.avi"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/[CH01]07_00_05_1.avi"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/[CH01]07_00_05_1.smi"));
    // Each part is a whole file on its own.
    for (const auto& f : doc["files"]) {
        const std::string avi = f["avi"].get<std::string>();
        EXPECT_EQ(shell_errors("ffprobe -v error " + quoted(avi)), "") << avi;
    }
}

TEST_F(ExportCommand, RefusesBadArgumentsAndReportsFailures) {
    EXPECT_EQ(run_export(out_.file("x"), {"--split-bytes", "0"}).status, 2);
    CliResult r = run_cli({"export", "--image", image->path, "--channels", "17", "--from",
                           "2026-03-14 07:00:05", "--to", "2026-03-14 07:00:25", "--out", out_.file("y")});
    EXPECT_EQ(r.status, 2);
    r = run_cli({"export", "--image", image->path, "--channels", "1", "--from",
                 "2026-03-14 07:00:25", "--to", "2026-03-14 07:00:05", "--out", out_.file("y")});
    EXPECT_EQ(r.status, 2);
    // A folder that cannot be made: a file stands where it should be.
    const std::string blocked = out_.file("blocked");
    std::fclose(std::fopen(blocked.c_str(), "w"));
    r = run_export(blocked + "/inside");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("export"), std::string::npos);
    // A folder name so long that the file names could not hold it.
    r = run_export(out_.file(std::string(250, 'd')));
    EXPECT_EQ(r.status, 1);
}

// A recording that runs over midnight exports across it: the frames of both days, in order.
TEST(ExportAcrossMidnight, TakesTheFramesOfBothDaysInOrder) {
    const uint32_t midnight = kT0 - 7 * 3600 + 86400;  // 2026-03-15 00:00:00
    testkit::TempDir dir;
    std::string error;
    sample::VideoRecordingSpec spec;
    spec.video_channel = 1;
    spec.fps = 15;
    spec.from = midnight - 60;
    spec.to = midnight + 60;
    auto encoder = sample::VideoEncoder::create(sample::Codec::H264, 352, 240, 15, &error);
    ASSERT_NE(encoder, nullptr) << error;
    auto v = sample::video_recording(spec, *encoder, &error);
    ASSERT_TRUE(v.has_value()) << error;
    sample::VolumeContent content;
    content.channels.push_back(std::move(v->data));
    sample::DiskSpec disk = testkit::small_recorder(content, 29);
    disk.bare.recorder.block_size = 64 * 1024;
    const std::string path = testkit::make_image(dir, "midnight.img", disk);
    const std::string out = dir.file("out");
    const CliResult r = run_cli({"export", "--json", "--image", path, "--channels", "1", "--from",
                                 "2026-03-14 23:59:30", "--to", "2026-03-15 00:00:30", "--out",
                                 out});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = r.json();
    ASSERT_EQ(doc["files"].size(), 1u);
    const auto& f = doc["files"][0];
    EXPECT_EQ(f["first_frame"]["time_text"].get<std::string>().substr(0, 18),
              "2026-03-14 23:59:3");
    EXPECT_EQ(f["last_frame"]["time_text"].get<std::string>().substr(0, 17), "2026-03-15 00:00:");
    EXPECT_GE(f["seconds"].get<long>(), 55);
    EXPECT_GE(f["recorded_frames"].get<long>(), 55 * 15);
    // The captions run from one day into the next without a hole.
    const std::string srt = testkit::run_tool(dir, "ffmpeg -v error -i " +
                                                        quoted(f["smi"].get<std::string>()) +
                                                        " -f srt -")
                                .out;
    const size_t before = srt.find("2026/03/14 23:59:59");
    const size_t after = srt.find("2026/03/15 00:00:00");
    ASSERT_NE(before, std::string::npos) << srt.substr(0, 400);
    ASSERT_NE(after, std::string::npos) << srt.substr(0, 400);
    EXPECT_LT(before, after);
    EXPECT_EQ(srt.find("No video data"), std::string::npos);
}

}  // namespace
