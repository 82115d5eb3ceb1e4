// One sample recorder image and one export of it through quillon-cli, made once for a test
// suite; each test works on a copy of the export folder.
#pragma once

#include <string>

#include "tests/testkit/temp_image.h"

namespace verifytest {

struct Exported {
    testkit::TempDir dir;
    std::string image;   // the sample image
    std::string folder;  // the export's folder, never changed by a test
    std::string report;  // its report
};

// Two H.264 channels of 20 s, 352x240 at 15 frames a second, channel 1 with audio, on 64 KiB
// blocks; exported from 07:00:03 to 07:00:15. nullptr (and a failure) when that fails.
const Exported* exported();

// A copy of the export folder at dir/name; returns its path.
std::string copy_folder(const testkit::TempDir& dir, const std::string& name);

// Flips one byte of a file in place.
void flip_byte(const std::string& path, uint64_t offset);

}  // namespace verifytest
