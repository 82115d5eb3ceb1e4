// Numbers drives 0..29: attached images first; with none, the machine's whole disks.
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/drive.h"

namespace platform {
namespace {

struct DriveTable {
    std::array<std::string, kMaxDrives> paths;
    bool any_attached = false;
};

DriveTable& table() {
    static DriveTable t;
    return t;
}

// Whole-disk block devices in name order; loop, RAM and optical devices are no recorder disks.
std::vector<std::string> system_disks() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/sys/block", ec)) {
        std::string name = e.path().filename().string();
        static const char* const kSkip[] = {"loop", "ram", "zram", "sr"};
        bool skip = std::any_of(std::begin(kSkip), std::end(kSkip),
                                [&](const char* p) { return name.rfind(p, 0) == 0; });
        if (!skip) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

int attach_image(const std::string& path) {
    for (int n = 1; n < kMaxDrives; ++n) {
        if (table().paths[n].empty()) return attach_drive(n, path) == 0 ? n : -1;
    }
    return -1;
}

int attach_drive(int number, const std::string& path) {
    if (number < 0 || number >= kMaxDrives) return -1;
    if (path.empty() || path.size() > kMaxPathLength) return -1;
    table().paths[number] = path;
    table().any_attached = true;
    return 0;
}

void detach_all() { table() = DriveTable{}; }

std::string drive_path(int number) {
    if (number < 0 || number >= kMaxDrives) return {};
    if (table().any_attached) return table().paths[number];
    std::vector<std::string> disks = system_disks();
    if (static_cast<size_t>(number) >= disks.size()) return {};
    std::string path = "/dev/" + disks[number];
    return path.size() <= kMaxPathLength ? path : std::string{};
}

}  // namespace platform
