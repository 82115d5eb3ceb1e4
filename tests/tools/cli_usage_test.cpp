// Exit codes, and how drives are numbered from --image and --drive.
#include <gtest/gtest.h>

#include "tests/tools/cli_runner.h"

namespace {

using clitest::run_cli;
using nlohmann::json;

TEST(cli_usage, BadCommandLinesExitWithTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"scan", "--frobnicate"},
        {"scan", "extra"},
        {"info", "--disk", "-1"},
        {"info", "--disk", "one"},
        {"--image", "/nonexistent/disk.img", "scan"},
        {"--drive", "30=/tmp/x", "scan"},
        {"--drive", "x=/tmp/x", "scan"},
        {"--drive", "/tmp/x", "scan"},
        {"make-sample"},
        {"make-sample", "--out", "/tmp/never-written.img", "--preset", "nope"},
        {"make-sample", "--out", "/tmp/never-written.img", "--damage", "bogus"},
        {"make-sample", "--out", "/tmp/never-written.img", "--size-mib", "0"},
        {"make-sample", "--out", "/tmp/never-written.img", "--preset", "ms", "--damage", "magic"},
    };
    for (const auto& args : cases) {
        std::string line;
        for (const auto& a : args) line += a + " ";
        const clitest::CliResult r = run_cli(args);
        EXPECT_EQ(r.status, 2) << line << "\n" << r.err;
        EXPECT_EQ(r.out, "") << line;
        EXPECT_NE(r.err, "") << line;
    }
    const clitest::CliResult r =
        run_cli({"make-sample", "--out", "/tmp/x.img", "--preset", "nope"});
    EXPECT_NE(r.err.find("recorder"), std::string::npos) << "the known presets are listed";
}

TEST(cli_usage, ImagesTakeTheNumbersThatDrivesLeaveFree) {
    testkit::TempDir dir;
    const std::string recorder = dir.file("r.img");
    const std::string ms = dir.file("ms.img");
    ASSERT_EQ(run_cli({"make-sample", "--out", recorder, "--size-mib", "128"}).status, 0);
    ASSERT_EQ(run_cli({"make-sample", "--out", ms, "--preset", "ms", "--size-mib", "1"}).status, 0);

    // The MS disk is drive 1, so its row comes first; the recorder image moves to drive 2.
    const clitest::CliResult r =
        run_cli({"scan", "--json", "--image", recorder, "--drive", "1=" + ms});
    ASSERT_EQ(r.status, 0) << r.err;
    const json disks = r.json()["disks"];
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[0]["device"], ms);
    EXPECT_EQ(disks[0]["fs_type_name"], "MS");
    EXPECT_EQ(disks[1]["device"], recorder);
}

// A drive that does not open is skipped: the table is empty and nothing can be mounted.
TEST(cli_usage, NothingMountableExitsWithOne) {
    const std::string missing = "3=/nonexistent/disk.img";
    clitest::CliResult r = run_cli({"info", "--drive", missing});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "quillon-cli: no mountable disk: No Backup Data (-58)\n");
    r = run_cli({"scan", "--json", "--drive", missing});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.json(), json({{"disks", json::array()}}));
}

}  // namespace
