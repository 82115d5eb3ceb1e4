// The check of an export folder against its report: every file the report lists is found by
// its name in the report's own folder (so a copied folder checks too) and hashed again, every
// frame hash list is made again from its media file, and, given the image, every stored frame
// is compared with the GOP records its list of sources names there.
#pragma once

#include <string>
#include <vector>

namespace verify {

inline constexpr int kVerifyMatch = 0;
inline constexpr int kVerifyMismatch = 1;
inline constexpr int kVerifyUnusable = 2;  // the report or the image cannot be used

struct VerifyOptions {
    std::string image;  // the drive or image the export was read from; "" for none
};

struct VerifyOutcome {
    int status = kVerifyMatch;
    std::vector<std::string> lines;  // one a check: "OK ..." or "MISMATCH ..."
    int checked = 0;
    int mismatches = 0;
    std::string error;  // kVerifyUnusable: why
};

VerifyOutcome verify_report(const std::string& report, const VerifyOptions& options);

// The image file the report says the export was read from, when it is still an image file
// (not a device, which may hold another disk by now); "" otherwise.
std::string report_source(const std::string& report);

// "All N checks match." or "M of N checks do not match."
std::string verify_summary(const VerifyOutcome& outcome);

}  // namespace verify
