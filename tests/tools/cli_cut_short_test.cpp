// A copy of a recorder disk cut short inside a channel's recording, through the tool: the frames
// command names where the channel could no longer be read and that it does not go on, the export
// lists the failure in its report and its error names the last frame it wrote, and the image is
// not touched.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/sha256.h"
#include "tests/testkit/image_tools.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/volume_helpers.h"
#include "tests/tools/cli_runner.h"
#include "tools/sample/stream_records.h"

namespace {

using clitest::CliResult;
using clitest::run_cli;
using nlohmann::json;
using testkit::kT0;

// One GOP of 5 frames a second over [kT0, kT0 + 60); the image ends where the GOP of 20 s begins.
std::string cut_short_image(const testkit::TempDir& dir) {
    sample::ChannelData video;
    video.channel = 3;
    video.first_block = 2000;  // behind the index, which must still be read
    video.image_ends_at_write = 20;
    uint32_t previous = 0;
    for (uint32_t t = kT0; t < kT0 + 60; ++t) {
        sample::GopRecordSpec spec;
        spec.time = t;
        spec.previous_length = previous;
        for (int i = 0; i < 5; ++i) {
            spec.frames.push_back({sample::synthetic_frame(t * 8 + i, i == 0 ? 200 : 60, i == 0),
                                   i == 0 ? 1u : 2u, i == 0 ? 0u : 33u});
        }
        std::vector<uint8_t> record = sample::gop_record(spec);
        previous = sample::record_length(record);
        video.writes.push_back({t, std::move(record)});
    }
    sample::VolumeContent content;
    content.channels = {video};
    sample::DiskSpec spec = testkit::small_recorder(content, 29);
    // The super block near the start, where the shorter image still holds it.
    spec.bare.recorder.placement = sample::Placement::Pointer;
    const std::string path = testkit::make_image(dir, "cut.img", spec);
    const auto size = std::filesystem::file_size(path);
    EXPECT_LT(size, 64u << 20) << "the image was not cut short";
    // The probe reads the middle of the shorter area first: it holds bytes that fail the
    // checksum there, as on a used disk.
    std::vector<uint8_t> noise(512);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 7 + 1);
    testkit::write_bytes(path, size / 512 / 2 * 512, noise.data(), noise.size());
    return path;
}

std::vector<json> json_lines(const std::string& out) {
    std::vector<json> lines;
    for (size_t at = 0; at < out.size();) {
        const size_t end = out.find('\n', at);
        lines.push_back(json::parse(out.substr(at, end - at)));
        at = end == std::string::npos ? out.size() : end + 1;
    }
    return lines;
}

std::string digest(const std::string& path) {
    std::string hex;
    EXPECT_EQ(platform::sha256_file(path, &hex), 0);
    return hex;
}

class CliCutShortImage : public ::testing::Test {
protected:
    testkit::TempDir dir_;
};

TEST_F(CliCutShortImage, FramesNameTheFailureAndTheChannelEnds) {
    const std::string image = cut_short_image(dir_);
    const std::string before = digest(image);
    CliResult r = run_cli({"--image", image, "--json", "frames", "--channels", "1", "--from",
                           "2026-03-14 07:00:05"});
    // The reads that failed make the results partial.
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("the results are partial"), std::string::npos) << r.err;
    const auto lines = json_lines(r.out);
    std::vector<json> frames, statuses;
    for (const json& j : lines) (j.contains("status") ? statuses : frames).push_back(j);
    ASSERT_GE(statuses.size(), 3u) << r.out;
    const json& failure = statuses[0];
    EXPECT_EQ(failure["status"], 103);
    EXPECT_EQ(failure["slot"], 0);
    EXPECT_EQ(failure["error"], -17);
    EXPECT_EQ(failure["error_text"], "DVRFS Met Disk Error");
    ASSERT_TRUE(failure["failed_at"].is_number());
    const uint32_t failed_at = failure["failed_at"];
    EXPECT_GE(failed_at, kT0 + 18);
    EXPECT_LE(failed_at, kT0 + 19);
    EXPECT_EQ(failure["failed_at_text"], "2026-03-14 07:00:1" + std::to_string(failed_at - kT0 - 10));
    EXPECT_EQ(failure["resumed_at"], 0);
    EXPECT_TRUE(failure["resumed_at_text"].is_null());
    EXPECT_EQ(statuses[1], (json{{"status", 101}, {"slot", 0}}));
    EXPECT_EQ(statuses.back(), (json{{"status", 100}, {"slot", -1}}));
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front()["time"], kT0 + 4);  // the GOP that holds the time asked for
    for (const json& f : frames) EXPECT_LE(f["time"].get<uint32_t>(), failed_at);
    // The span begins with the GOP that could not be read, or right behind the last one read.
    EXPECT_GE(frames.back()["time"].get<uint32_t>() + 1, failed_at);
    EXPECT_EQ(digest(image), before);
}

TEST_F(CliCutShortImage, ExportListsTheFailureAndNamesItsLastFrame) {
    const std::string image = cut_short_image(dir_);
    const std::string before = digest(image);
    const std::string out = dir_.file("out");
    CliResult r = run_cli({"--image", image, "export", "--channels", "1", "--from",
                           "2026-03-14 07:00:02", "--to", "2026-03-14 07:00:50", "--out", out});
    EXPECT_EQ(r.status, 1);
    // After the progress line, one line says why the job failed.
    const std::string why = r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1);
    EXPECT_EQ(why.rfind("quillon-cli: export: ", 0), 0u) << r.err;
    EXPECT_NE(why.find("reading channel 1 failed"), std::string::npos) << r.err;
    EXPECT_NE(why.find("; last frame written at 2026-03-14 07:00:1"), std::string::npos) << r.err;
    std::ifstream in(out + "/export-report.json");
    ASSERT_TRUE(in.good());
    const json report = json::parse(in);
    EXPECT_EQ(report["result"], "failed");
    ASSERT_EQ(report["read_failures"].size(), 1u) << report.dump(2);
    const json& f = report["read_failures"][0];
    EXPECT_EQ(f["channel"], 1);
    EXPECT_EQ(f["stream"], "video");
    EXPECT_GE(f["failed_at"]["time"].get<uint32_t>(), kT0 + 18);
    EXPECT_TRUE(f["resumed_at"].is_null());
    // The error names the last frame the files hold.
    ASSERT_EQ(report["files"].size(), 1u);
    const std::string last = report["files"][0]["counts"]["last_frame"]["text"];
    EXPECT_NE(why.find("last frame written at " + last), std::string::npos) << r.err << " vs " << last;
    EXPECT_EQ(digest(image), before);
}

}  // namespace
