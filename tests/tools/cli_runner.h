// Runs the built quillon-cli (path in QUILLON_CLI) with standard output and standard error
// captured apart.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/testkit/temp_image.h"

namespace clitest {

struct CliResult {
    int status = -1;  // exit status; -1 when the tool did not exit normally
    std::string out;
    std::string err;
    // Standard output as JSON; a discarded value (and a test failure) when it is not.
    nlohmann::json json() const;
};

// Extra environment entries ("NAME=value") are added to the test's own environment.
CliResult run_cli(const std::vector<std::string>& args,
                  const std::vector<std::string>& extra_env = {});

// Writes dir/name.json with the disk description and builds dir/name.img from it through make-sample;
// returns the image path (the test fails when the tool does).
std::string make_sample(const testkit::TempDir& dir, const std::string& name,
                        const std::string& description_json);

}  // namespace clitest
