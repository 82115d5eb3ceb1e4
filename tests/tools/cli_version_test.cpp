// The tool's --version: one line with the program's name and the one version text the whole
// program shares (the About box, the export report and the package name the same).
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/tools/cli_runner.h"
#include "version/version.h"

namespace {

using clitest::run_cli;

TEST(cli_version, PrintsTheSharedVersionTextAndExitsZero) {
    const clitest::CliResult r = run_cli({"--version"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string("quillon-cli ") + version::text() + "\n");
    EXPECT_EQ(r.err, "");
}

TEST(cli_version, NeedsNoCommandAndNoDisk) {
    // Without --version the same line is a usage error: no command given.
    EXPECT_EQ(run_cli({}).status, 2);
    const clitest::CliResult r = run_cli({"--image", "/nonexistent/disk.img", "--version"});
    EXPECT_EQ(r.status, 0) << "--version answers before the images are looked at: " << r.err;
}

TEST(cli_version, TextIsTheProjectVersionWithTheCommitBetweenReleases) {
    const std::string text = version::text();
    const std::string project = QUILLON_PROJECT_VERSION;
    ASSERT_EQ(text.compare(0, project.size(), project), 0) << text;
    // A package version: a release as it is, a build between releases with its commit.
    EXPECT_TRUE(std::regex_match(text.substr(project.size()),
                                 std::regex("|[+~]git[0-9]+\\.g[0-9a-f]{7,}")))
        << text;
}

}  // namespace
