// The command-line tool on a wrapped recorder whose oldest recording is 07:20:07: the
// calendar, the first day's quarter minutes, minute jumps of frames, the frame step's trace and
// an export of a span that starts in the first index interval.
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "disk/recorder_time.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/volume_helpers.h"
#include "tests/tools/cli_runner.h"
#include "platform/sha256.h"
#include "tools/sample/recordings.h"

namespace {

using clitest::CliResult;
using clitest::run_cli;
using nlohmann::json;

constexpr uint32_t kFirst = testkit::kT0 + 20 * 60 + 7;  // 2026-03-14 07:20:07
constexpr uint32_t kEnd = kFirst + 150;

struct Image {
    testkit::TempDir dir;
    std::string path;
    std::map<std::pair<uint32_t, uint32_t>, std::string> frames;  // (time, ms) -> SHA-256
};
Image* image = nullptr;

std::string text(uint32_t t) {
    const CivilTime c = civil_from_recorder(t);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                  c.minute, c.second);
    return buf;
}

class FirstHour : public testing::Test {
protected:
    static void SetUpTestSuite() {
        auto img = std::make_unique<Image>();
        std::string error;
        sample::VideoRecordingSpec spec;
        spec.video_channel = 1;
        spec.width = 176;
        spec.height = 144;
        spec.fps = 5;
        spec.from = kFirst;
        spec.to = kEnd;
        auto encoder = sample::VideoEncoder::create(sample::Codec::H264, 176, 144, 5, &error);
        ASSERT_NE(encoder, nullptr) << error;
        auto v = sample::video_recording(spec, *encoder, &error);
        ASSERT_TRUE(v.has_value()) << error;
        for (const sample::RecordedGop& g : v->gops) {
            for (const sample::RecordedFrame& f : g.frames) {
                img->frames[{f.time, f.ms}] = platform::sha256_hex(f.bytes.data(), f.bytes.size());
            }
        }
        // The ring wrapped: its oldest bytes were overwritten, and it starts near its map's end.
        v->data.head_slot = 126;
        v->data.head_offset = 1000;
        sample::VolumeContent content;
        content.index_head_slot = 125;
        content.channels.push_back(std::move(v->data));
        sample::DiskSpec disk = testkit::small_recorder(content, 29);
        disk.bare.recorder.block_size = 64 * 1024;
        img->path = testkit::make_image(img->dir, "first-hour.img", disk);
        image = img.release();
    }
    static void TearDownTestSuite() {
        delete image;
        image = nullptr;
    }
    void SetUp() override { ASSERT_NE(image, nullptr) << "the image could not be built"; }

    static CliResult run(std::vector<std::string> args) {
        args.insert(args.begin() + 1, {"--json", "--image", image->path});
        return run_cli(args);
    }

    // The frame lines of frames' output; each must be the recorded frame of its time.
    static std::vector<json> frames_of(const CliResult& r) {
        std::vector<json> out;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);) {
            const json j = json::parse(line, nullptr, false);
            if (!j.is_object() || j.contains("status")) continue;
            const auto key = std::make_pair(j["time"].get<uint32_t>(), j["ms"].get<uint32_t>());
            EXPECT_EQ(image->frames.count(key) ? image->frames.at(key) : "", j["sha256"].get<std::string>())
                << line;
            out.push_back(j);
        }
        return out;
    }
};

TEST_F(FirstHour, CalendarAndFirstDayShowTheFirstQuarterMinute) {
    const CliResult cal = run({"calendar"});
    ASSERT_EQ(cal.status, 0) << cal.err;
    const json months = cal.json()["months"];
    ASSERT_EQ(months.size(), 1u);
    EXPECT_EQ(months[0]["days"], json::array({14}));

    const CliResult day = run({"day", "--date", "2026-03-14"});
    ASSERT_EQ(day.status, 0) << day.err;
    const json slots = day.json()["slots"];
    ASSERT_FALSE(slots.empty());
    EXPECT_EQ(slots[0]["slot"], 7 * 240 + 20 * 4);  // 07:20:00
    EXPECT_EQ(slots.size(), (kEnd - 1) / 15 - kFirst / 15 + 1);
}

TEST_F(FirstHour, MinuteJumpsPlayFromAMinuteAwayAfterOneFrameStep) {
    struct Case {
        const char* mode;
        uint32_t from;
        int64_t jump;
    };
    for (const Case& c : {Case{"minute-f", kFirst + 3, 60}, Case{"minute-b", kFirst + 100, -60}}) {
        SCOPED_TRACE(c.mode);
        const CliResult r = run({"frames", "--channels", "1", "--from", text(c.from), "--mode", c.mode,
                                 "--count", "12"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<json> f = frames_of(r);
        ASSERT_EQ(f.size(), 12u) << "one frame from the step, then play after the jump";
        const int64_t stepped = f[0]["time"].get<int64_t>();
        EXPECT_LE(stepped, int64_t{c.from});
        const int64_t landed = f[1]["time"].get<int64_t>();
        EXPECT_GE(landed, stepped + c.jump - 2);
        EXPECT_LE(landed, stepped + c.jump);
        for (size_t i = 2; i < f.size(); ++i) {
            EXPECT_GE(f[i]["time"].get<int64_t>() * 1000 + f[i]["ms"].get<int64_t>(),
                      f[i - 1]["time"].get<int64_t>() * 1000 + f[i - 1]["ms"].get<int64_t>());
        }
    }
}

TEST_F(FirstHour, ForwardFrameStepTracesThePlayClock) {
    const CliResult r = run({"--trace", "frames", "--channels", "1", "--from", text(kFirst),
                             "--mode", "frame-f"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(frames_of(r).size(), 1u);
    EXPECT_NE(r.err.find("PM_FRAME_F prev_msec = "), std::string::npos);
    EXPECT_NE(r.err.find("Time -- 2026-3-14 7/20/7\n"), std::string::npos) << r.err;
}

TEST_F(FirstHour, ExportOfASpanStartingInTheFirstIntervalWritesItsFrames) {
    const testkit::TempDir out;
    const CliResult r = run({"export", "--channels", "1", "--from", text(testkit::kT0 + 20 * 60),
                             "--to", text(kFirst + 20), "--out", out.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    const json files = r.json()["files"];
    ASSERT_EQ(files.size(), 1u);
    EXPECT_GT(files[0]["video_frames"].get<int64_t>(), 0);
    EXPECT_GT(std::filesystem::file_size(files[0]["avi"].get<std::string>()), 0u);
}

}  // namespace
