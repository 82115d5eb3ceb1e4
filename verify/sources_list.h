// The list of sources beside an exported file, read back: one GOP a line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk/disk.h"

namespace verify {

struct SourceLine {
    int line = 0;           // in the file, from 1
    std::string time_text;  // "YYYY-MM-DD HH:MM:SS"
    uint32_t milliseconds = 0;
    int channel = 0;
    uint32_t gop_length = 0;
    uint32_t frame_count = 0;
    std::vector<ImageRange> ranges;
};

// 0 with the lines, or -1 with the first line that cannot be read in *error.
int read_sources_list(const std::string& path, std::vector<SourceLine>* out, std::string* error);

}  // namespace verify
