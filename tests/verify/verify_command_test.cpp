// quillon-cli verify: a good export and a copied folder verify; a changed byte in a file or in
// the image, a changed frame list or a missing file is named and fails the check; a missing
// report or one that is no report is a usage error; the image is never written.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/testkit/tool_run.h"
#include "tests/tools/cli_runner.h"
#include "tests/verify/export_fixture.h"
#include "verify/sources_list.h"

namespace {

using clitest::CliResult;
using clitest::run_cli;

class VerifyCommand : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(verifytest::exported(), nullptr); }

    // The report's path inside a folder copied from the export.
    static std::string report_in(const std::string& folder) {
        return folder + "/" + std::filesystem::path(verifytest::exported()->report).filename().string();
    }
    static nlohmann::json report() {
        std::ifstream in(verifytest::exported()->report);
        return nlohmann::json::parse(in);
    }
    static std::string first_avi() { return report()["files"][0]["avi"]["name"].get<std::string>(); }

    testkit::TempDir dir_;
};

bool has_line(const std::string& out, const std::string& start) {
    return out.find("\n" + start) != std::string::npos || out.rfind(start, 0) == 0;
}

TEST_F(VerifyCommand, AGoodExportVerifies) {
    const CliResult r = run_cli({"verify", verifytest::exported()->report});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    // Two channels, each with its AVI, SAMI, frame hash list and list of sources, and each
    // frame hash list made again from its AVI.
    EXPECT_TRUE(has_line(r.out, "All 10 checks match.")) << r.out;
    EXPECT_TRUE(has_line(r.out, "OK " + first_avi())) << r.out;
    EXPECT_TRUE(has_line(r.out, "OK " + first_avi() + ".framehash matches the frames of " + first_avi()))
        << r.out;
}

TEST_F(VerifyCommand, ACopiedFolderVerifiesAgainstTheImage) {
    const std::string copy = verifytest::copy_folder(dir_, "elsewhere");
    const std::string before = testkit::fingerprint(verifytest::exported()->image);
    const CliResult r = run_cli({"verify", "--json", report_in(copy), "--image", verifytest::exported()->image});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto doc = r.json();
    EXPECT_EQ(doc["result"], "match");
    EXPECT_EQ(doc["mismatches"], 0);
    size_t image_checks = 0;
    for (const auto& line : doc["checks"]) {
        const std::string text = line.get<std::string>();
        if (text.find("stored frames match the image") != std::string::npos) ++image_checks;
    }
    EXPECT_EQ(image_checks, 2u);
    EXPECT_EQ(testkit::fingerprint(verifytest::exported()->image), before);
}

TEST_F(VerifyCommand, AFlippedByteInAMediaFileIsNamed) {
    const std::string copy = verifytest::copy_folder(dir_, "flipped");
    const std::string avi = copy + "/" + first_avi();
    verifytest::flip_byte(avi, std::filesystem::file_size(avi) / 2);
    const CliResult r = run_cli({"verify", report_in(copy)});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_line(r.out, "MISMATCH " + first_avi() + ": SHA-256")) << r.out;
    EXPECT_TRUE(has_line(r.out, "1 of 10 checks do not match.") || has_line(r.out, "2 of 10 checks do not match."))
        << r.out;
}

TEST_F(VerifyCommand, AFlippedByteInAFrameListIsNamed) {
    const std::string copy = verifytest::copy_folder(dir_, "list");
    const std::string list = copy + "/" + first_avi() + ".framehash";
    verifytest::flip_byte(list, std::filesystem::file_size(list) - 10);
    const CliResult r = run_cli({"verify", report_in(copy)});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_line(r.out, "MISMATCH " + first_avi() + ".framehash")) << r.out;
}

// A frame list changed together with the report's digest of it: made again from the file it
// no longer matches.
TEST_F(VerifyCommand, AFrameListThatNoLongerFitsItsFileIsNamedEvenWithAMatchingDigest) {
    const std::string copy = verifytest::copy_folder(dir_, "relisted");
    const std::string name = first_avi() + ".framehash";
    const std::string list = copy + "/" + name;
    verifytest::flip_byte(list, std::filesystem::file_size(list) - 10);
    nlohmann::json doc = report();
    std::string digest;
    const testkit::ToolRun sum = testkit::run_tool(dir_, "sha256sum " + testkit::quoted(list));
    ASSERT_EQ(sum.status, 0);
    doc["files"][0]["framehash"]["sha256"] = sum.out.substr(0, 64);
    std::ofstream(report_in(copy), std::ios::trunc) << doc.dump(2);
    const CliResult r = run_cli({"verify", report_in(copy)});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_line(r.out, "OK " + name + "\n")) << r.out;
    EXPECT_TRUE(has_line(r.out, "MISMATCH " + name + ": differs from the frames of " + first_avi())) << r.out;
}

TEST_F(VerifyCommand, ADeletedFileIsNamed) {
    const std::string copy = verifytest::copy_folder(dir_, "deleted");
    const std::string smi = report()["files"][1]["smi"]["name"].get<std::string>();
    ASSERT_TRUE(std::filesystem::remove(copy + "/" + smi));
    const CliResult r = run_cli({"verify", report_in(copy)});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_line(r.out, "MISMATCH " + smi + ": missing")) << r.out;
    EXPECT_TRUE(has_line(r.out, "1 of 10 checks do not match.")) << r.out;
}

// One byte of a stored frame changed in (a copy of) the image: the file that holds the frame no
// longer matches it. The image verify was given is left as it was.
TEST_F(VerifyCommand, ATamperedImageByteIsNamed) {
    const std::string image = dir_.file("tampered.img");
    ASSERT_EQ(testkit::run_tool(dir_, "cp --sparse=always " + testkit::quoted(verifytest::exported()->image) +
                                          " " + testkit::quoted(image)).status, 0);
    std::vector<verify::SourceLine> lines;
    std::string error;
    const std::string sources = verifytest::exported()->folder + "/" + first_avi() + ".sources.csv";
    ASSERT_EQ(verify::read_sources_list(sources, &lines, &error), 0) << error;
    ASSERT_GT(lines.size(), 2u);
    // Inside the first frame of the second GOP the file holds.
    ASSERT_GT(lines[1].ranges[0].length, 200u);
    verifytest::flip_byte(image, lines[1].ranges[0].offset + 150);
    const std::string before = testkit::fingerprint(image);
    const CliResult r = run_cli({"verify", verifytest::exported()->report, "--image", image});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_line(r.out, "MISMATCH " + first_avi() + " against the image: ")) << r.out;
    EXPECT_EQ(testkit::fingerprint(image), before);
    // The other channel's frames still match.
    EXPECT_TRUE(has_line(r.out, "1 of 12 checks do not match.")) << r.out;
}

// Every GOP in a list of sources belongs to the file's channel and to the exported span.
TEST_F(VerifyCommand, ListsOfSourcesNameTheChannelsGopsInTheSpan) {
    const nlohmann::json doc = report();
    for (const auto& f : doc["files"]) {
        const std::string sources =
            verifytest::exported()->folder + "/" + f["sources"]["name"].get<std::string>();
        std::vector<verify::SourceLine> lines;
        std::string error;
        ASSERT_EQ(verify::read_sources_list(sources, &lines, &error), 0) << error;
        ASSERT_FALSE(lines.empty());
        uint64_t frames = 0;
        for (const verify::SourceLine& s : lines) {
            EXPECT_EQ(s.channel, f["channel"].get<int>());
            EXPECT_GE(s.time_text, "2026-03-14 07:00:02");
            EXPECT_LE(s.time_text, "2026-03-14 07:00:15");
            uint64_t bytes = 0;
            for (const ImageRange& r : s.ranges) bytes += r.length;
            EXPECT_EQ(bytes, s.gop_length);
            frames += s.frame_count;
        }
        EXPECT_GE(frames, f["counts"]["stored_frames"].get<uint64_t>());
        EXPECT_LT(frames, f["counts"]["stored_frames"].get<uint64_t>() + 2 * 15);
    }
}

// Split into parts, each part's files name the GOPs of their own frames: a restart reads part
// of the span again, and no GOP is listed for a file that does not hold it.
TEST_F(VerifyCommand, ASplitExportVerifiesAgainstTheImage) {
    const std::string folder = dir_.file("split");
    const CliResult e = run_cli({"export", "--json", "--image", verifytest::exported()->image, "--channels", "1,2",
                                 "--from", "2026-03-14 07:00:03", "--to", "2026-03-14 07:00:15", "--out", folder,
                                 "--split-bytes", "60000"});
    ASSERT_EQ(e.status, 0) << e.err;
    const auto files = e.json()["files"];
    ASSERT_GE(files.size(), 4u) << "not split";
    const CliResult r = run_cli({"verify", e.json()["report"].get<std::string>(), "--image", verifytest::exported()->image});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(has_line(r.out, "All " + std::to_string(files.size() * 6) + " checks match.")) << r.out;
}

TEST_F(VerifyCommand, AMissingOrBrokenReportOrImageIsAUsageError) {
    EXPECT_EQ(run_cli({"verify", dir_.file("absent.json")}).status, 2);
    const std::string broken = dir_.file("broken.json");
    std::ofstream(broken) << "{\"files\": [";
    const CliResult r = run_cli({"verify", broken});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("is not an export report"), std::string::npos) << r.err;
    EXPECT_EQ(run_cli({"verify", verifytest::exported()->report, "--image", dir_.file("absent.img")}).status, 2);
    EXPECT_EQ(run_cli({"verify"}).status, 2);
}

// Fields of the wrong type are mismatches, not a crash.
TEST_F(VerifyCommand, AReportWithFieldsOfTheWrongTypeIsNamedNotFollowed) {
    const std::string copy = verifytest::copy_folder(dir_, "types");
    nlohmann::json doc = report();
    doc["files"][0]["avi"]["size"] = "a lot";
    doc["files"][0]["smi"]["name"] = 17;
    doc["files"][1]["smi"]["sha256"] = nlohmann::json::array();
    doc["files"].push_back("not an entry");
    doc["source"] = 5;
    std::ofstream(report_in(copy), std::ios::trunc) << doc.dump(2);
    const CliResult r = run_cli({"verify", report_in(copy)});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(has_line(r.out, "MISMATCH " + first_avi() + ": size")) << r.out;
    EXPECT_TRUE(has_line(r.out, "MISMATCH smi entry: \"\" is not a file name")) << r.out;
    EXPECT_TRUE(has_line(r.out, "3 of 10 checks do not match.")) << r.out;
}

// A report cannot send the check outside its own folder.
TEST_F(VerifyCommand, NamesWithAFolderAreRefused) {
    const std::string copy = verifytest::copy_folder(dir_, "escape");
    nlohmann::json doc = report();
    doc["files"][0]["smi"]["name"] = "../elsewhere.smi";
    std::ofstream(report_in(copy), std::ios::trunc) << doc.dump(2);
    const CliResult r = run_cli({"verify", report_in(copy)});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_line(r.out, "MISMATCH smi entry: \"../elsewhere.smi\" is not a file name")) << r.out;
}

}  // namespace
