// quillon-cli check and the empty log channel through the tool: the untouched volume exits 0,
// a copy cut short names its unreadable span and exits 1, a capture log never written lists
// no records, and no image changes.
#include <gtest/gtest.h>

#include "platform/sha256.h"
#include "tests/recover/check_images.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/volume_helpers.h"
#include "tests/tools/cli_runner.h"

namespace {

using clitest::CliResult;
using clitest::run_cli;
using nlohmann::json;
using testkit::kT0;

std::string digest(const std::string& path) {
    std::string hex;
    EXPECT_EQ(platform::sha256_file(path, &hex), 0);
    return hex;
}

const json* channel(const json& doc, const std::string& kind, int number) {
    for (const json& c : doc["channels"]) {
        if (c["kind"] == kind && c["number"] == number) return &c;
    }
    ADD_FAILURE() << kind << " " << number << " missing from " << doc.dump();
    return nullptr;
}

class CheckCli : public ::testing::Test {
protected:
    testkit::TempDir dir_;
};

TEST_F(CheckCli, UntouchedImageIsReadableAndExitsZero) {
    const sample::ChannelData video = checktest::gop_channel(3, kT0, 40);
    const sample::ChannelData audio = checktest::audio_channel(19, kT0, 10);
    const std::string image =
        testkit::make_image(dir_, "rec.img", checktest::recorder_with({video, audio}));
    const std::string before = digest(image);
    const CliResult r = run_cli({"--image", image, "--json", "check"});
    EXPECT_EQ(r.status, 0) << r.err;
    const json doc = r.json();
    EXPECT_EQ(doc["readable"], true);
    EXPECT_EQ(doc["records"], 50);
    EXPECT_EQ(doc["bytes"], checktest::bytes_of(video) + checktest::bytes_of(audio));
    EXPECT_EQ(doc["failures"], 0);
    const json* v1 = channel(doc, "video", 1);
    ASSERT_NE(v1, nullptr);
    EXPECT_EQ((*v1)["state"], "readable");
    EXPECT_EQ((*v1)["first_text"], "2026-03-14 07:00:00");
    EXPECT_EQ((*v1)["last_text"], "2026-03-14 07:00:39");
    const json* v2 = channel(doc, "video", 2);
    ASSERT_NE(v2, nullptr);
    EXPECT_EQ((*v2)["state"], "empty");
    EXPECT_NE(r.err.find("check: 100%"), std::string::npos) << r.err;
    EXPECT_EQ(digest(image), before);
}

TEST_F(CheckCli, CutShortCopyNamesTheUnreadableSpanAndExitsOne) {
    const std::string image = checktest::cut_short_image(dir_);
    const std::string before = digest(image);
    CliResult r = run_cli({"--image", image, "--json", "check"});
    EXPECT_EQ(r.status, 1) << r.err;
    const json doc = r.json();
    EXPECT_EQ(doc["readable"], false);
    EXPECT_EQ(doc["failures"], 1);
    const json* v1 = channel(doc, "video", 1);
    ASSERT_NE(v1, nullptr);
    EXPECT_EQ((*v1)["state"], "damaged");
    ASSERT_EQ((*v1)["spans"].size(), 1u);
    const json& span = (*v1)["spans"][0];
    EXPECT_EQ(span["fault"], "read failure");
    EXPECT_EQ(span["error"], -17);
    EXPECT_EQ(span["error_text"], "DVRFS Met Disk Error");
    EXPECT_EQ(span["from_text"], "2026-03-14 07:00:19");
    EXPECT_EQ(span["to"], 0);
    EXPECT_TRUE(span["to_text"].is_null());
    EXPECT_GT(span["image_offset"].get<uint64_t>(), 0u);

    // The text names the span too.
    r = run_cli({"--image", image, "check"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("video 1: read failure (DVRFS Met Disk Error) from 2026-03-14 07:00:19 "
                         "to the end"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(digest(image), before);
}

TEST_F(CheckCli, CaptureLogNeverWrittenListsNoRecords) {
    // Count 29: the capture log is channel 27. Its head slot holds 0, as on a recorder that
    // never captured anything.
    sample::ChannelData never;
    never.channel = 27;
    never.zero_block = 0;
    const std::string image = testkit::make_image(
        dir_, "rec.img", checktest::recorder_with({checktest::gop_channel(3, kT0, 5), never}));
    const std::string before = digest(image);
    CliResult r = run_cli({"--image", image, "--json", "log", "capture", "--date", "2026-03-14"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.json()["records"], json::array());
    EXPECT_EQ(r.err, "");

    r = run_cli({"--image", image, "log", "capture", "--date", "2026-03-14"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("0 records", 0), 0u) << r.out;
    // A day the session does not hold is still refused.
    r = run_cli({"--image", image, "log", "capture", "--date", "2026-03-15"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(digest(image), before);
}

TEST_F(CheckCli, HelpListsTheCommand) {
    const CliResult r = run_cli({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("check"), std::string::npos) << r.out;
    const CliResult c = run_cli({"check", "--help"});
    EXPECT_EQ(c.status, 0);
    EXPECT_NE(c.out.find("--session"), std::string::npos) << c.out;
}

}  // namespace
