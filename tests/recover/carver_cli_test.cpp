// quillon-cli recover on the remnants disk: the JSON document's shape, offsets that point at the
// records they name in the image, the text form, and an image that stays as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <set>

#include "playback/record_format.h"
#include "tests/testkit/image_tools.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/tool_run.h"
#include "tests/tools/cli_runner.h"

namespace {

using clitest::run_cli;

class RecoverCommand : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new testkit::TempDir;
        image_ = dir_->file("remnants.img");
        const auto made = run_cli({"make-sample", "--preset", "recorder-remnants", "--out", image_});
        ASSERT_EQ(made.status, 0) << made.err;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    static testkit::TempDir* dir_;
    static std::string image_;
};
testkit::TempDir* RecoverCommand::dir_ = nullptr;
std::string RecoverCommand::image_;

bool is_time_text(const nlohmann::json& v) {
    static const std::regex form(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})");
    return v.is_string() && std::regex_match(v.get<std::string>(), form);
}

uint32_t word(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t w = 0;
    std::memcpy(&w, bytes.data() + at, sizeof w);
    return w;
}

TEST_F(RecoverCommand, JsonNamesEveryRecordItFound) {
    const std::string before = testkit::fingerprint(image_);
    const auto r = run_cli({"--image", image_, "recover", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("recover: 100%"), std::string::npos);
    const nlohmann::json doc = r.json();
    EXPECT_EQ(doc["volume"]["name"], "PSOS");
    ASSERT_TRUE(doc["scanned_bytes"].is_number_unsigned());
    EXPECT_GT(doc["scanned_bytes"].get<uint64_t>(), 0u);
    ASSERT_TRUE(doc["cut_records"].is_number_unsigned());
    EXPECT_GT(doc["cut_records"].get<uint64_t>(), 0u);  // the disk holds records cut at block ends
    ASSERT_TRUE(doc["runs"].is_array());
    ASSERT_FALSE(doc["runs"].empty());

    const std::vector<uint8_t> image = testkit::read_file(image_);
    std::set<uint64_t> offsets;
    std::string previous_first;
    for (const auto& run : doc["runs"]) {
        EXPECT_GE(run["stream"].get<int>(), 1);
        EXPECT_TRUE(run["codec"] == "h264" || run["codec"] == "mpeg4");
        EXPECT_TRUE(is_time_text(run["first"]));
        EXPECT_TRUE(is_time_text(run["last"]));
        EXPECT_LE(run["first"].get<std::string>(), run["last"].get<std::string>());
        EXPECT_LE(previous_first, run["first"].get<std::string>());  // by first time
        previous_first = run["first"].get<std::string>();
        EXPECT_TRUE(run["audio"].is_number_unsigned());
        ASSERT_FALSE(run["gops"].empty());
        EXPECT_EQ(run["gops"].front()["time"], run["first"]);
        EXPECT_EQ(run["gops"].back()["time"], run["last"]);
        for (const auto& g : run["gops"]) {
            EXPECT_TRUE(is_time_text(g["time"]));
            EXPECT_LE(g["ms"].get<int>(), 999);
            const auto at = g["image_offset"].get<uint64_t>();
            const auto length = g["length"].get<uint32_t>();
            EXPECT_TRUE(offsets.insert(at).second) << "reported twice: " << at;
            ASSERT_LE(at + length + 4, image.size());
            // The offset is the header's in the whole image, and the record is whole there.
            EXPECT_EQ(word(image, at), kStartBits);
            EXPECT_EQ(word(image, at + 16), length);
            EXPECT_EQ(word(image, at + 24), g["frames"].get<uint32_t>());
            EXPECT_EQ(word(image, at + length), length);
            const uint32_t size = word(image, at + 92);
            EXPECT_EQ(picture_width(size), run["width"].get<uint32_t>());
            EXPECT_EQ(picture_height(size), run["height"].get<uint32_t>());
        }
    }
    EXPECT_EQ(testkit::fingerprint(image_), before);
}

TEST_F(RecoverCommand, TextTableAndUsage) {
    const auto r = run_cli({"--image", image_, "recover"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("STREAM"), std::string::npos);
    EXPECT_NE(r.out.find("h264"), std::string::npos);
    EXPECT_NE(r.out.find("Records cut at a block end"), std::string::npos);

    const auto help = run_cli({"recover", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--export"), std::string::npos);
    EXPECT_NE(help.out.find("--disk"), std::string::npos);
    EXPECT_EQ(run_cli({"--image", image_, "recover", "--disk", "7"}).status, 1);
    EXPECT_EQ(run_cli({"--image", image_, "recover", "--bogus"}).status, 2);
}

}  // namespace
