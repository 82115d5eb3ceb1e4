// What an export holds, frame by frame, against what the recording stores: every stored frame of
// the span from its first key frame on, in order, exactly once; each under the caption of the
// second it was recorded in, across holes of 2, 5 and 60 seconds; the audio of every second under
// that second's pictures, however often it stops and resumes; and a report whose digests are
// those of the files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/sha256.h"
#include "storage/api.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/tool_run.h"
#include "tests/testkit/volume_helpers.h"
#include "tests/tools/cli_runner.h"
#include "tools/sample/recordings.h"

namespace {

using clitest::run_cli;
using testkit::kT0;  // 2026-03-14 07:00:00

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kFrom = kT0 + 3;
constexpr uint32_t kTo = kT0 + 99;

struct Fixture {
    testkit::TempDir dir;
    std::string path;
    sample::VideoRecording video;
    sample::AudioRecording audio;
};
Fixture* fixture = nullptr;

std::string tool_out(const std::string& command) {
    static testkit::TempDir scratch;
    const testkit::ToolRun r = testkit::run_tool(scratch, command);
    EXPECT_EQ(r.status, 0) << command << "\n" << r.err;
    return r.out;
}

// The hashes of the video packets with data, in file order, with their frame positions (the
// decoding time stamps: empty positions hold no packet but count).
std::vector<std::pair<long, std::string>> video_packets(const std::string& avi) {
    std::istringstream in(tool_out("ffprobe -v error -select_streams v -show_data_hash sha256 "
                                   "-show_entries packet=dts,data_hash -of csv=p=0 " + testkit::quoted(avi)));
    std::vector<std::pair<long, std::string>> packets;
    for (std::string line; std::getline(in, line);) {
        const size_t comma = line.find(',');
        if (comma == std::string::npos) continue;
        std::string hash = line.substr(comma + 1);
        if (hash.rfind("SHA256:", 0) == 0) hash = hash.substr(7);
        packets.emplace_back(std::stol(line.substr(0, comma)), hash);
    }
    return packets;
}

// The captions of a SAMI file: start in milliseconds and text.
std::vector<std::pair<long, std::string>> captions(const std::string& smi) {
    const Bytes bytes = testkit::read_file(smi);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::vector<std::pair<long, std::string>> out;
    for (std::string line; std::getline(in, line);) {
        long start = 0;
        if (std::sscanf(line.c_str(), "<SYNC Start=%ld>", &start) != 1) continue;
        out.emplace_back(start, line.substr(line.find("<P>") + 3));
    }
    return out;
}

// The caption shown at a moment of the file.
std::string caption_at(const std::vector<std::pair<long, std::string>>& all, long ms) {
    std::string shown;
    for (const auto& [start, text] : all) {
        if (start <= ms) shown = text;
    }
    return shown;
}

std::string clock_text(uint32_t t) {
    DateTime d{};
    time_to_systemtime(t, &d);
    char s[48];
    std::snprintf(s, sizeof s, "%04d/%02d/%02d %02d:%02d:%02d", d.year, d.month, d.day, d.hour,
                  d.minute, d.second);
    return s;
}

class ExportFidelity : public testing::Test {
  protected:
    // Channel 1, 15 frames a second in GOPs of 8, recorded over [0, 100) s with holes of 2, 5
    // and 60 s; marked audio that stops four times, always with the pictures.
    static void SetUpTestSuite() {
        auto f = std::make_unique<Fixture>();
        std::string error;
        sample::VideoRecordingSpec spec;
        spec.video_channel = 1;
        spec.fps = 15;
        spec.from = kT0;
        spec.to = kT0 + 100;
        spec.gaps = {{kT0 + 20, kT0 + 22}, {kT0 + 30, kT0 + 35}, {kT0 + 38, kT0 + 98}};
        auto encoder = sample::VideoEncoder::create(sample::Codec::H264, 352, 240, 15, &error);
        ASSERT_NE(encoder, nullptr) << error;
        auto v = sample::video_recording(spec, *encoder, &error);
        ASSERT_TRUE(v.has_value()) << error;
        std::vector<sample::TimeSpan> quiet = spec.gaps;
        quiet.insert(quiet.end(), {{kT0 + 5, kT0 + 8}, {kT0 + 12, kT0 + 13}, {kT0 + 25, kT0 + 27}});
        std::sort(quiet.begin(), quiet.end());
        auto a = sample::audio_recording(1, kT0, kT0 + 100, quiet, &error, true);
        ASSERT_TRUE(a.has_value()) << error;
        sample::VolumeContent content;
        content.channels.push_back(v->data);
        content.channels.push_back(a->data);
        sample::DiskSpec disk = testkit::small_recorder(content, 29);
        disk.bare.recorder.block_size = 64 * 1024;
        f->path = testkit::make_image(f->dir, "fidelity.img", disk);
        f->video = std::move(*v);
        f->audio = std::move(*a);
        fixture = f.release();
    }
    static void TearDownTestSuite() {
        delete fixture;
        fixture = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(fixture, nullptr) << "the recording could not be built";
        folder_ = out_.file("span");
        const clitest::CliResult r =
            run_cli({"export", "--json", "--image", fixture->path, "--channels", "1", "--from",
                     "2026-03-14 07:00:03", "--to", "2026-03-14 07:01:39", "--out", folder_});
        ASSERT_EQ(r.status, 0) << r.err;
        summary_ = r.json();
        ASSERT_EQ(summary_["files"].size(), 1u) << r.out;
        avi_ = summary_["files"][0]["avi"].get<std::string>();
        smi_ = summary_["files"][0]["smi"].get<std::string>();
    }

    // The stored frames the export must hold: from the first key frame in the span to the end.
    static std::vector<const sample::RecordedFrame*> expected_frames() {
        std::vector<const sample::RecordedFrame*> frames;
        for (const auto& gop : fixture->video.gops) {
            for (const auto& frame : gop.frames) {
                if (frame.time < kFrom || frame.time > kTo) continue;
                if (frames.empty() && frame.index != 0) continue;
                frames.push_back(&frame);
            }
        }
        return frames;
    }

    testkit::TempDir out_;
    std::string folder_, avi_, smi_;
    nlohmann::json summary_;
};

TEST_F(ExportFidelity, EveryStoredFrameOnceInOrderUnderItsOwnSecond) {
    const auto expected = expected_frames();
    ASSERT_FALSE(expected.empty());
    const auto packets = video_packets(avi_);
    ASSERT_EQ(packets.size(), expected.size());
    const auto subtitles = captions(smi_);
    const uint32_t first_second = expected.front()->time;
    for (size_t i = 0; i < expected.size(); ++i) {
        const sample::RecordedFrame& frame = *expected[i];
        SCOPED_TRACE("frame at " + clock_text(frame.time) + "." + std::to_string(frame.ms));
        EXPECT_EQ(packets[i].second, platform::sha256_hex(frame.bytes.data(), frame.bytes.size()));
        // 30 positions a second in the file: the frame lies in the file second of its own
        // recorder second, under that second's caption.
        const long second = packets[i].first / 30;
        EXPECT_EQ(second, static_cast<long>(frame.time - first_second));
        EXPECT_EQ(caption_at(subtitles, second * 1000 + 500).rfind(clock_text(frame.time), 0), 0u)
            << caption_at(subtitles, second * 1000 + 500);
    }
    // The file plays from the first to the last recorded second of the span.
    const long seconds = expected.back()->time - first_second + 1;
    EXPECT_EQ(std::stol(tool_out("ffprobe -v error -select_streams v -show_entries stream=nb_frames "
                                 "-of csv=p=0 " + testkit::quoted(avi_))),
              30 * seconds);
    // Each hole's notice stands where the hole starts and names the seconds without video.
    for (const auto& [after, missing] : {std::pair{19u, 2}, {29u, 5}, {37u, 60}}) {
        const long start = static_cast<long>(kT0 + after + 1 - first_second) * 1000;
        EXPECT_EQ(caption_at(subtitles, start + 500),
                  "<FONT color=#FF66FF>No video data. Within " + std::to_string(missing) +
                      " seconds.\r")
            << after;
    }

    const auto& f = summary_["files"][0];
    EXPECT_EQ(f["stored_frames"].get<size_t>(), expected.size());
    EXPECT_EQ(f["dropped_frames"], 0);
    EXPECT_EQ(f["refused_frames"], 0);
    EXPECT_EQ(f["empty_frames"].get<long>(), 30 * seconds - static_cast<long>(expected.size()));
    EXPECT_EQ(f["first_frame"]["time"], expected.front()->time);
    EXPECT_EQ(f["last_frame"]["time"], expected.back()->time);
    // Without video: before the first key frame, the holes' 67 seconds, nothing at the end.
    EXPECT_EQ(f["seconds_without_video"], (first_second - kFrom) + 2 + 5 + 60);
}

TEST_F(ExportFidelity, AudioOfEverySecondLiesUnderItsPictures) {
    const std::string mulaw = out_.file("audio.ul");
    tool_out("ffmpeg -nostdin -v error -i " + testkit::quoted(avi_) + " -map 0:a -c copy -f mulaw " +
             testkit::quoted(mulaw));
    const Bytes audio = testkit::read_file(mulaw);
    const uint32_t first_second = expected_frames().front()->time;
    const uint32_t last_second = expected_frames().back()->time;
    ASSERT_EQ(audio.size(), size_t{8000} * (last_second - first_second + 1));
    std::map<uint32_t, Bytes> recorded;
    for (const auto& r : fixture->audio.records) {
        recorded[r.time].insert(recorded[r.time].end(), r.samples.begin(), r.samples.end());
    }
    size_t with_audio = 0;
    for (uint32_t t = first_second; t <= last_second; ++t) {
        SCOPED_TRACE("second " + clock_text(t));
        const Bytes got(audio.begin() + 8000 * (t - first_second),
                        audio.begin() + 8000 * (t - first_second + 1));
        const auto it = recorded.find(t);
        if (it == recorded.end()) {
            EXPECT_EQ(got, Bytes(8000, 0x7F));
        } else {
            EXPECT_EQ(got, it->second);
            ++with_audio;
        }
    }
    EXPECT_GT(with_audio, 20u);
    EXPECT_EQ(summary_["files"][0]["recorded_audio_bytes"], 8000 * with_audio);
}

TEST_F(ExportFidelity, TheReportNamesTheSourceAndHashesTheFinishedFiles) {
    const std::string path = folder_ + "/export-report.json";
    ASSERT_TRUE(std::filesystem::exists(path));
    const Bytes bytes = testkit::read_file(path);
    const auto report = nlohmann::json::parse(bytes.begin(), bytes.end());
    EXPECT_EQ(report["result"], "complete");
    EXPECT_TRUE(report["error"].is_null());
    EXPECT_EQ(report["source"]["device"], fixture->path);
    EXPECT_EQ(report["source"]["size_bytes"], std::filesystem::file_size(fixture->path));
    EXPECT_EQ(report["source"]["disk_row"], 0);
    EXPECT_EQ(report["source"]["session"]["index"], 0);
    EXPECT_EQ(report["span"]["from"]["time"], kFrom);
    EXPECT_EQ(report["span"]["to"]["time"], kTo);
    EXPECT_EQ(report["channels"], nlohmann::json::array({1}));
    EXPECT_EQ(report["split_bytes"], 3500000000ull);
    ASSERT_EQ(report["files"].size(), 1u);
    const auto& f = report["files"][0];
    for (const char* kind : {"avi", "smi"}) {
        const std::string file = f[kind]["path"].get<std::string>();
        const Bytes content = testkit::read_file(file);
        EXPECT_EQ(f[kind]["size"], content.size()) << kind;
        EXPECT_EQ(f[kind]["sha256"], platform::sha256_hex(content.data(), content.size())) << kind;
    }
    EXPECT_EQ(f["counts"]["stored_frames"], summary_["files"][0]["stored_frames"]);
    EXPECT_EQ(f["counts"]["seconds_without_video"], summary_["files"][0]["seconds_without_video"]);
}

// Split into parts, the export still holds every stored frame once: each part of a channel ends
// where the next begins, at a key frame, and every part is a whole file that decodes.
TEST_F(ExportFidelity, PartsOfASplitExportHoldEveryFrameOnce) {
    const std::string parts_folder = out_.file("parts");
    const clitest::CliResult r =
        run_cli({"export", "--json", "--image", fixture->path, "--channels", "1", "--from",
                 "2026-03-14 07:00:03", "--to", "2026-03-14 07:01:39", "--out", parts_folder,
                 "--split-bytes", "60000"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = r.json();
    ASSERT_GE(doc["files"].size(), 3u) << r.out;
    std::vector<std::string> hashes;
    uint64_t audio_bytes = 0;
    int part = 0;
    for (const auto& f : doc["files"]) {
        EXPECT_EQ(f["part"], part++);
        const std::string avi = f["avi"].get<std::string>();
        const auto packets = video_packets(avi);
        ASSERT_FALSE(packets.empty()) << avi;
        for (const auto& p : packets) hashes.push_back(p.second);
        audio_bytes += f["recorded_audio_bytes"].get<uint64_t>();
        EXPECT_EQ(tool_out("ffmpeg -nostdin -v error -i " + testkit::quoted(avi) + " -f null - 2>&1"), "")
            << avi;
    }
    const auto expected = expected_frames();
    ASSERT_EQ(hashes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(hashes[i], platform::sha256_hex(expected[i]->bytes.data(), expected[i]->bytes.size()))
            << "frame " << i << " at " << clock_text(expected[i]->time);
    }
    EXPECT_EQ(audio_bytes, summary_["files"][0]["recorded_audio_bytes"].get<uint64_t>());
}

}  // namespace
