// --image and --drive: what the drive scan will find at drive numbers 0..29.
#include <sys/stat.h>

#include <charconv>
#include <string>

#include "platform/container.h"
#include "platform/drive.h"
#include "tools/cli/cli.h"
#include "tools/cli/output.h"

namespace cli {

namespace {

// A damaged E01 set or split image would only go missing from the scan: say why instead.
int check_opens(const std::string& path) {
    std::string why;
    if (platform::check_container(path, &why) == 0) return kExitOk;
    return fail(std::string("cannot open the ") +
                platform::container_kind_name(platform::container_kind(path)) + " image " + path +
                ": " + why);
}

}  // namespace

int attach_drives(const GlobalOptions& options) {
    // Chosen numbers first, so that the images fill the numbers left free.
    for (const std::string& arg : options.drives) {
        const size_t eq = arg.find('=');
        int number = -1;
        const char* end = arg.data() + (eq == std::string::npos ? arg.size() : eq);
        const auto [ptr, ec] = std::from_chars(arg.data(), end, number);
        if (eq == std::string::npos || ec != std::errc() || ptr != end ||
            platform::attach_drive(number, arg.substr(eq + 1)) != 0) {
            return usage_error("--drive " + arg + ": expected N=PATH with N from 0 to " +
                               std::to_string(platform::kMaxDrives - 1));
        }
        if (const int rc = check_opens(arg.substr(eq + 1)); rc != kExitOk) return rc;
    }
    for (const std::string& path : options.images) {
        if (const int rc = check_opens(path); rc != kExitOk) return rc;
        if (platform::attach_image(path) < 0) {
            return usage_error("--image " + path +
                               ": no free drive number, or the path is longer than " +
                               std::to_string(platform::kMaxPathLength) + " bytes");
        }
    }
    return kExitOk;
}

std::string drive_under(const std::string& path) {
    struct stat target {};
    if (::stat(path.c_str(), &target) != 0) return "";  // a new file cannot be a drive
    for (int n = 0; n < platform::kMaxDrives; ++n) {
        const std::string drive = platform::drive_path(n);
        if (drive.empty()) continue;
        // Every segment or piece of an image is evidence, not only the one it was named by.
        for (const std::string& file : platform::container_files(drive)) {
            struct stat st {};
            if (::stat(file.c_str(), &st) != 0) continue;
            const bool same_file = st.st_dev == target.st_dev && st.st_ino == target.st_ino;
            const bool same_device = S_ISBLK(st.st_mode) && S_ISBLK(target.st_mode) &&
                                     st.st_rdev == target.st_rdev;
            if (same_file || same_device) return drive;
        }
    }
    // Any other block device is a disk too, if not one of ours.
    return S_ISBLK(target.st_mode) ? path : "";
}

}  // namespace cli
