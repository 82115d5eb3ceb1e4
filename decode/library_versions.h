// The versions of the decoding libraries, for the program's information box.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace decode {

// (library name, "major.minor.micro") of each FFmpeg library the decoder links, as loaded at
// run time.
std::vector<std::pair<std::string, std::string>> library_versions();

} // namespace decode
