// Compares an exported file's frames with the GOP records its list of sources names in the
// image: every stored frame in the file must be, in order, a frame of those records as the
// image holds them now.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/drive.h"
#include "verify/sources_list.h"

namespace verify {

struct ImageCheck {
    bool match = false;
    uint64_t frames = 0;  // stored frames of the file found in the image
    std::string detail;   // the first difference, when there is one
};

// 0 with the outcome, or -1 with a message when the media file cannot be read.
int check_against_image(platform::Drive& image, const std::string& media,
                        const std::vector<SourceLine>& sources, ImageCheck* out, std::string* error);

}  // namespace verify
