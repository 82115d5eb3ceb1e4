// quillon-cli recover --export on the remnants presets: one AVI per run named after its stream
// and first time, holding every frame of the run's GOPs, the report beside them, a second export
// into the same folder that replaces nothing, and images that stay as they were.
#include <gtest/gtest.h>

#include <filesystem>
#include <cstdio>
#include <fstream>
#include <set>

#include "platform/sha256.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/tool_run.h"
#include "tests/tools/cli_runner.h"

namespace {

using clitest::run_cli;

class RecoverExportCommand : public testing::Test {
protected:
    static void SetUpTestSuite() { dir_ = new testkit::TempDir; }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    // The preset's image, made on first use.
    static std::string image(const std::string& preset) {
        const std::string path = dir_->file(preset + ".img");
        if (!std::filesystem::exists(path)) {
            const auto made = run_cli({"make-sample", "--preset", preset, "--out", path});
            EXPECT_EQ(made.status, 0) << made.err;
        }
        return path;
    }

    // recover --export into a fresh folder under the test's own; the JSON document.
    nlohmann::json export_to(const std::string& preset, const std::string& folder) {
        std::filesystem::create_directories(folder);
        const auto r = run_cli({"--image", image(preset), "recover", "--json", "--export", folder});
        EXPECT_EQ(r.status, 0) << r.err;
        return r.json();
    }

    static testkit::TempDir* dir_;
    testkit::TempDir out_;
};
testkit::TempDir* RecoverExportCommand::dir_ = nullptr;

int video_packets(const testkit::TempDir& dir, const std::string& avi) {
    const auto r = testkit::run_tool(dir, "ffprobe -v error -select_streams v -count_packets "
                                          "-show_entries stream=nb_read_packets -of csv=p=0 " +
                                              testkit::quoted(avi));
    EXPECT_EQ(r.status, 0) << r.err;
    return r.status == 0 ? std::stoi(r.out) : -1;
}

nlohmann::json read_json(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in, nullptr, false);
}

TEST_F(RecoverExportCommand, OneFilePerRunWithEveryFrameOfItsGops) {
    const std::string before = testkit::fingerprint(image("recorder-remnants"));
    const nlohmann::json doc = export_to("recorder-remnants", out_.path());
    ASSERT_TRUE(doc["runs"].is_array());
    ASSERT_FALSE(doc["runs"].empty());
    ASSERT_TRUE(doc["report"].is_string());
    const nlohmann::json report = read_json(doc["report"].get<std::string>());
    ASSERT_FALSE(report.is_discarded());
    ASSERT_EQ(report["files"].size(), doc["runs"].size());
    for (size_t i = 0; i < doc["runs"].size(); ++i) {
        const nlohmann::json& run = doc["runs"][i];
        const nlohmann::json& file = report["files"][i];
        int frames = 0;
        for (const auto& g : run["gops"]) frames += g["frames"].get<int>();
        const std::string first = run["first"].get<std::string>();  // "YYYY-MM-DD HH:MM:SS"
        char stem[32];
        std::snprintf(stem, sizeof stem, "[R%02d]%s_%s_%s", run["stream"].get<int>(),
                      first.substr(11, 2).c_str(), first.substr(14, 2).c_str(), first.substr(17, 2).c_str());
        EXPECT_EQ(file["avi"]["name"].get<std::string>().rfind(stem, 0), 0u) << stem;
        EXPECT_EQ(file["recovered"], true);
        ASSERT_EQ(file["gop_ranges"].size(), run["gops"].size());
        for (size_t k = 0; k < run["gops"].size(); ++k) {
            EXPECT_EQ(file["gop_ranges"][k]["image_offset"], run["gops"][k]["image_offset"]);
        }
        EXPECT_EQ(video_packets(out_, out_.file(file["avi"]["name"].get<std::string>())), frames);
        EXPECT_TRUE(std::filesystem::exists(out_.file(file["smi"]["name"].get<std::string>())));
    }
    EXPECT_EQ(testkit::fingerprint(image("recorder-remnants")), before);
}

TEST_F(RecoverExportCommand, ASecondExportIntoTheSameFolderReplacesNothing) {
    const nlohmann::json first = export_to("recorder-remnants", out_.path());
    const nlohmann::json first_report = read_json(first["report"].get<std::string>());
    ASSERT_FALSE(first_report.is_discarded());
    const std::string avi = out_.file(first_report["files"][0]["avi"]["name"].get<std::string>());
    std::string digest;
    ASSERT_EQ(platform::sha256_file(avi, &digest), 0);

    const nlohmann::json second = export_to("recorder-remnants", out_.path());
    EXPECT_NE(second["report"], first["report"]);
    const nlohmann::json second_report = read_json(second["report"].get<std::string>());
    ASSERT_FALSE(second_report.is_discarded());
    EXPECT_NE(second_report["files"][0]["avi"]["name"], first_report["files"][0]["avi"]["name"]);
    std::string again;
    ASSERT_EQ(platform::sha256_file(avi, &again), 0);
    EXPECT_EQ(again, digest);
    EXPECT_EQ(read_json(first["report"].get<std::string>()), first_report);
}

TEST_F(RecoverExportCommand, AReformattedDiskExportsBothRecordingsAsTwoStreams) {
    const std::string before = testkit::fingerprint(image("recorder-reformatted"));
    const nlohmann::json doc = export_to("recorder-reformatted", out_.path());
    const nlohmann::json report = read_json(doc["report"].get<std::string>());
    ASSERT_FALSE(report.is_discarded());
    std::set<int> streams;
    for (const auto& f : report["files"]) {
        streams.insert(f["stream"].get<int>());
        const std::string name = f["avi"]["name"].get<std::string>();
        EXPECT_EQ(name.substr(0, 5), "[R0" + std::to_string(f["stream"].get<int>()) + "]") << name;
    }
    EXPECT_EQ(streams, (std::set<int>{1, 2}));
    EXPECT_EQ(testkit::fingerprint(image("recorder-reformatted")), before);
}

}  // namespace
