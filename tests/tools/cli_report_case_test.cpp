// quillon-cli export with the examiner's data: the case, the recorder's clock and zone, the
// command line and the job's times reach the report; an offset or zone that cannot be used is a
// usage error that writes nothing; a file that cannot be written ends in a report that names
// the failure and lists the files written with their digests.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include <gtest/gtest.h>

#include "platform/sha256.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/tool_run.h"
#include "tests/tools/cli_runner.h"

namespace {

using clitest::CliResult;
using clitest::run_cli;
using nlohmann::json;

struct Sample {
    testkit::TempDir dir;
    std::string path;
};
Sample* sample_disk = nullptr;

json read_report(const std::string& path) {
    std::ifstream in(path);
    return json::parse(in, nullptr, false);
}

std::string digest(const std::string& path) {
    std::string hex;
    EXPECT_EQ(platform::sha256_file(path, &hex), 0) << path;
    return hex;
}

class ExportCaseCommand : public testing::Test {
protected:
    // The sample recorder: channels 1 and 2 recorded from 07:00 on 2026-03-14.
    static void SetUpTestSuite() {
        auto s = std::make_unique<Sample>();
        s->path = s->dir.file("case.img");
        const CliResult made = run_cli({"make-sample", "--out", s->path, "--preset", "recorder"});
        ASSERT_EQ(made.status, 0) << made.err;
        sample_disk = s.release();
    }
    static void TearDownTestSuite() {
        delete sample_disk;
        sample_disk = nullptr;
    }
    void SetUp() override { ASSERT_NE(sample_disk, nullptr); }

    std::vector<std::string> export_args(const std::string& out) const {
        return {"--image",  sample_disk->path,     "export", "--channels", "1,2",
                "--from",   "2026-03-14 07:00:00", "--to",   "2026-03-14 07:01:00",
                "--out",    out};
    }
    testkit::TempDir out_;
};

TEST_F(ExportCaseCommand, CaseClockAndCommandLineReachTheReport) {
    const std::string folder = out_.file("case");
    std::vector<std::string> args = export_args(folder);
    for (const char* a : {"--case", "K-2026/17", "--exhibit", "HDD 1", "--examiner", "an examiner",
                          "--notes", "it's seized", "--clock-offset", "+75", "--recorder-tz",
                          "Europe/Berlin"}) {
        args.push_back(a);
    }
    const CliResult r = run_cli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const json doc = read_report(folder + "/export-report.json");
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_EQ(doc["case"]["case_number"], "K-2026/17");
    EXPECT_EQ(doc["case"]["exhibit"], "HDD 1");
    EXPECT_EQ(doc["case"]["examiner"], "an examiner");
    EXPECT_EQ(doc["case"]["notes"], "it's seized");
    const std::string invoked = doc["job"]["invoked_by"];
    EXPECT_NE(invoked.find("export --channels 1,2"), std::string::npos) << invoked;
    EXPECT_NE(invoked.find("--exhibit 'HDD 1'"), std::string::npos) << invoked;
    const std::string started = doc["job"]["started_utc"], ended = doc["job"]["ended_utc"];
    EXPECT_EQ(started.size(), 20u);
    EXPECT_LE(started, ended);
    const json& clock = doc["recorder_clock"];
    EXPECT_EQ(clock["offset_seconds"], 75);
    EXPECT_EQ(clock["time_zone"], "Europe/Berlin");
    // 07:00:00 on the recorder is 06:58:45 on the reference clock, winter time in Berlin.
    EXPECT_EQ(clock["span"]["from"]["corrected"], "2026-03-14 06:58:45");
    EXPECT_EQ(clock["span"]["from"]["utc"], "2026-03-14T05:58:45Z");
    ASSERT_EQ(doc["files"].size(), 2u);
    for (const json& f : doc["files"]) {
        EXPECT_EQ(f["avi"]["sha256"], digest(f["avi"]["path"]));
        EXPECT_EQ(f["smi"]["sha256"], digest(f["smi"]["path"]));
        ASSERT_EQ(f["streams"].size(), 3u);
        EXPECT_EQ(f["streams"][0]["kind"], "video");
        EXPECT_EQ(f["streams"][0]["handling"], "copied");
        EXPECT_EQ(f["streams"][1]["codec"], "pcm_mulaw");
        EXPECT_EQ(f["failed_writes"], 0);
        // The captions carry the reference clock's time beside the recorder's.
        const auto smi = testkit::read_file(f["smi"]["path"]);
        EXPECT_NE(std::string(smi.begin(), smi.end()).find("<br>corrected "), std::string::npos);
    }
    const auto first = testkit::read_file(doc["files"][0]["smi"]["path"]);
    EXPECT_NE(std::string(first.begin(), first.end()).find("2026/03/14 07:00:00<br>corrected 06:58:45"),
              std::string::npos);
}

TEST_F(ExportCaseCommand, AnOffsetOrZoneThatCannotBeUsedWritesNothing) {
    const std::vector<std::vector<std::string>> wrong = {
        {"--clock-offset", "12x"},         {"--clock-offset", "+1.5"},
        {"--clock-offset", "--"},          {"--recorder-tz", "Nowhere/Town"},
        {"--recorder-tz", "../../etc/passwd"}, {"--recorder-tz", "/etc/localtime"}};
    for (const auto& extra : wrong) {
        const std::string folder = out_.file("never");
        std::vector<std::string> args = export_args(folder);
        args.insert(args.end(), extra.begin(), extra.end());
        const CliResult r = run_cli(args);
        EXPECT_EQ(r.status, 2) << extra[1] << ": " << r.err;
        EXPECT_FALSE(std::filesystem::exists(folder)) << extra[1];
    }
    std::vector<std::string> args = export_args(out_.file("never"));
    args.insert(args.end(), {"--recorder-tz", "Nowhere/Town"});
    EXPECT_NE(run_cli(args).err.find("unknown time zone \"Nowhere/Town\""), std::string::npos);
}

// Files may not grow past 600 KiB here: the first part's files fill up, the job goes on in new
// ones, and ends failed with every file listed as it lies on disk.
TEST_F(ExportCaseCommand, AFileThatCannotBeWrittenIsNamedInTheReport) {
    const char* cli = std::getenv("QUILLON_CLI");
    ASSERT_NE(cli, nullptr);
    const std::string folder = out_.file("limited");
    std::string command = "trap '' XFSZ; ulimit -f 600; exec " + testkit::quoted(cli);
    for (const std::string& a : export_args(folder)) command += " " + testkit::quoted(a);
    const testkit::ToolRun r = testkit::run_tool(out_, command);
    EXPECT_NE(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("failed"), std::string::npos) << r.err;
    const json doc = read_report(folder + "/export-report.json");
    ASSERT_FALSE(doc.is_discarded()) << r.err;
    EXPECT_EQ(doc["result"], "failed");
    EXPECT_NE(doc["error"].get<std::string>().find("is the disk full?"), std::string::npos);
    ASSERT_FALSE(doc["files"].empty());
    uint64_t failed = 0;
    for (const json& f : doc["files"]) {
        EXPECT_EQ(f["avi"]["sha256"], digest(f["avi"]["path"]));
        EXPECT_EQ(f["avi"]["size"], std::filesystem::file_size(f["avi"]["path"].get<std::string>()));
        EXPECT_LE(f["avi"]["size"].get<uint64_t>(), 600u * 1024);
        failed += f["failed_writes"].get<uint64_t>();
    }
    EXPECT_GT(failed, 0u);
}

}  // namespace
