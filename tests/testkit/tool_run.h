// Running FFmpeg's tools (or any shell command) from a test, and reading back the files they
// and the code under test wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/testkit/temp_image.h"

namespace testkit {

struct ToolRun {
    int status = -1;  // exit status; -1 when the command did not exit normally
    std::string out;
    std::string err;
};

// Runs a shell command with standard output and standard error captured apart; standard error
// passes through a file in dir.
ToolRun run_tool(const TempDir& dir, const std::string& command);

// A file's bytes; empty when it cannot be read.
std::vector<uint8_t> read_file(const std::string& path);

// A path in single quotes for a shell command.
std::string quoted(const std::string& path);

}  // namespace testkit
