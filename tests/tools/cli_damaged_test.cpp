// Damaged images through the tool: a bad super block checksum, a zeroed map slot, torn index
// records, impossible lengths, zeroed and tiny images. Every command ends with the documented
// exit status and, when it fails, one line on standard error; what could be read is printed.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "tests/testkit/image_tools.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/volume_helpers.h"
#include "tests/tools/cli_runner.h"
#include "tools/sample/stream_records.h"

namespace {

using clitest::CliResult;
using clitest::run_cli;
using testkit::kT0;

constexpr const char* kT0Text = "2026-03-14 07:00:00";

size_t lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

// A failure: status 1, one line on standard error that names the cause.
void expect_one_line_failure(const CliResult& r, const std::string& cause) {
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(lines(r.err), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("quillon-cli: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(cause), std::string::npos) << r.err;
}

class CliDamagedImage : public ::testing::Test {
protected:
    CliResult run(const std::string& image, std::vector<std::string> args) {
        args.insert(args.begin(), {"--image", image});
        return run_cli(args);
    }
    testkit::TempDir dir_;
};

TEST_F(CliDamagedImage, BadSuperBlockChecksumLeavesNothingToMount) {
    sample::VolumeContent content;
    content.channels.push_back(testkit::steady_channel(3, kT0, kT0 + 120, 64));
    sample::DiskSpec spec = testkit::small_recorder(content);
    spec.bare.recorder.damage.checksum = true;
    const std::string image = testkit::make_image(dir_, "bad.img", spec);
    CliResult r = run(image, {"--json", "scan"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.json()["disks"][0]["fs_type_name"], "OTHER");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"info"}, {"calendar"}, {"channels"}, {"day", "--date", "2026-03-14"},
             {"log", "event", "--date", "2026-03-14"},
             {"frames", "--channels", "1", "--from", kT0Text},
             {"export", "--channels", "1", "--from", kT0Text, "--to", "2026-03-14 07:01:00",
              "--out", dir_.file("out")}}) {
        SCOPED_TRACE(args[0]);
        expect_one_line_failure(run(image, args), "no mountable disk");
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.file("out")));
}

TEST_F(CliDamagedImage, ZeroedMapSlotFailsTheReadThatReachesItAndNoOther) {
    sample::VolumeContent content;
    content.channels.push_back(testkit::steady_channel(3, kT0, kT0 + 600, 256));
    content.channels[0].zero_block = 1;  // the second 4 KiB block
    const std::string image = testkit::make_image(dir_, "zero.img", testkit::small_recorder(content));
    // A read that runs onto the empty slot fails whole, as the channel layer defines it.
    CliResult r = run(image, {"read", "--channel", "3", "--offset", "0"});
    expect_one_line_failure(r, "read failed: DVR File System need FSCK (-15)");
    EXPECT_TRUE(r.out.empty());
    // The blocks on either side of it still read.
    const std::vector<uint8_t> want = testkit::stored_bytes(content.channels[0]);
    r = run(image, {"read", "--channel", "3", "--offset", "0", "--length", "4096"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out.size(), 4096u);
    EXPECT_EQ(std::memcmp(r.out.data(), want.data(), 4096), 0);
    r = run(image, {"read", "--channel", "3", "--offset", "8192"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out.size(), want.size() - 8192);
    EXPECT_EQ(std::memcmp(r.out.data(), want.data() + 8192, r.out.size()), 0);
}

TEST_F(CliDamagedImage, TornIndexRecordsStillGiveTheDaysAndSlots) {
    sample::VolumeContent content;
    content.channels.push_back(testkit::steady_channel(3, kT0, kT0 + 600, 64));
    content.trailing_bytes[0] = std::vector<uint8_t>(7, 0x5A);
    content.trailing_bytes[2] = std::vector<uint8_t>(10, 0x5A);
    const std::string image = testkit::make_image(dir_, "torn.img", testkit::small_recorder(content, 15));
    CliResult r = run(image, {"--json", "calendar"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.json()["months"][0]["days"], nlohmann::json::array({14}));
    r = run(image, {"--json", "day", "--date", "2026-03-14"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.json()["slots"].size(), 40u);
    EXPECT_TRUE(r.err.empty()) << r.err;
    // With the trace on, the torn record is named.
    r = run(image, {"--trace", "day", "--date", "2026-03-14"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("tvfs_getsearchlog DVR_ENEED_FSCK"), std::string::npos) << r.err;
}

TEST_F(CliDamagedImage, ImpossibleLengthsAreSkippedOrRefused) {
    // Video: one GOP claims a length no GOP can have; the engine passes over it.
    sample::ChannelData video;
    video.channel = 3;
    uint32_t previous = 0;
    for (uint32_t t = kT0; t < kT0 + 6; ++t) {
        sample::GopRecordSpec spec;
        spec.time = t;
        spec.previous_length = previous;
        for (int i = 0; i < 5; ++i) {
            spec.frames.push_back({sample::synthetic_frame(t * 8 + i, i == 0 ? 200 : 60, i == 0),
                                   i == 0 ? 1u : 2u, i == 0 ? 0u : 33u});
        }
        if (t == kT0 + 3) spec.damage.length = 0x7FFFFFF0u;
        std::vector<uint8_t> record = sample::gop_record(spec);
        previous = sample::record_length(record);
        video.writes.push_back({t, std::move(record)});
    }
    // Capture images (channel 23 of a count-29 volume): a header whose length is negative.
    sample::ChannelData captures;
    captures.channel = 23;
    std::vector<uint8_t> header(16, 0);
    const uint32_t at = kT0 + 2, bad_length = 0x80000000u;
    std::memcpy(header.data(), &at, 4);
    std::memcpy(header.data() + 4, &bad_length, 4);
    captures.writes.push_back({at, header});
    sample::VolumeContent content;
    content.channels = {video, captures};
    sample::DiskSpec spec = testkit::small_recorder(content, 29);
    spec.bare.recorder.block_size = 64 * 1024;
    const std::string image = testkit::make_image(dir_, "lengths.img", spec);

    CliResult r = run(image, {"--json", "frames", "--channels", "1", "--from", kT0Text});
    ASSERT_EQ(r.status, 0) << r.err;
    size_t frames = 0;
    for (size_t at_line = 0; at_line < r.out.size();) {
        const size_t end = r.out.find('\n', at_line);
        const auto line = nlohmann::json::parse(r.out.substr(at_line, end - at_line));
        if (line.contains("time")) {
            ++frames;
            EXPECT_NE(line["time"], kT0 + 3) << "the GOP of impossible length was played";
        }
        at_line = end + 1;
    }
    EXPECT_GE(frames, 4u * 5u);
    r = run(image, {"capture-image", "--time", "2026-03-14 07:00:02", "--out", dir_.file("c.jpg")});
    expect_one_line_failure(r, "no capture image at 2026-03-14 07:00:02");
    EXPECT_FALSE(std::filesystem::exists(dir_.file("c.jpg")));
}

TEST_F(CliDamagedImage, ZeroedAndTinyImagesScanButDoNotMount) {
    const std::string zeros = dir_.file("zeros.img");
    const std::string tiny = dir_.file("tiny.img");
    {
        std::FILE* f = std::fopen(zeros.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(::ftruncate(fileno(f), 64 << 20), 0);
        std::fclose(f);
        f = std::fopen(tiny.c_str(), "wb");
        std::fputs("not a disk", f);
        std::fclose(f);
    }
    CliResult r = run(zeros, {"--json", "scan"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.json()["disks"].size(), 1u);
    EXPECT_EQ(r.json()["disks"][0]["fs_type_name"], "OTHER");
    r = run(tiny, {"--json", "scan"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.json()["disks"].empty());
    for (const std::string& image : {zeros, tiny}) {
        expect_one_line_failure(run(image, {"info"}), "no mountable disk");
        expect_one_line_failure(run(image, {"calendar"}), "no mountable disk");
        expect_one_line_failure(run(image, {"info", "--disk", "3"}), "no disk at row 3");
    }
    // Usage errors stay usage errors on any image.
    r = run(zeros, {"day", "--date", "2026-02-30"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(lines(r.err), 1u) << r.err;
}

}  // namespace
