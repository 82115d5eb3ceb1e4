// Which container an image path names, and what it is made of.
#include <sys/stat.h>

#include "platform/container.h"
#include "platform/ewf.h"
#include "platform/split_raw.h"

namespace platform {

const char* container_kind_name(ContainerKind kind) {
    switch (kind) {
        case ContainerKind::kSplitRaw:
            return "split raw";
        case ContainerKind::kEwf:
            return "E01";
        case ContainerKind::kRaw:
            break;
    }
    return "raw";
}

ContainerKind container_kind(const std::string& path) {
    struct stat st {};
    // Devices and anything else that is not a file are raw drives.
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return ContainerKind::kRaw;
    // The signature decides, whatever the name: an E01 set renamed is still one.
    if (is_ewf_file(path)) return ContainerKind::kEwf;
    if (!split_raw_pieces(path).empty()) return ContainerKind::kSplitRaw;
    return ContainerKind::kRaw;
}

std::vector<std::string> container_files(const std::string& path) {
    switch (container_kind(path)) {
        case ContainerKind::kEwf: {
            std::vector<std::string> segments = ewf_segments(path);
            if (!segments.empty()) return segments;
            break;
        }
        case ContainerKind::kSplitRaw:
            return split_raw_pieces(path);
        case ContainerKind::kRaw:
            break;
    }
    return {path};
}

int check_container(const std::string& path, std::string* why) {
    switch (container_kind(path)) {
        case ContainerKind::kEwf:
            return open_ewf(path, why) ? 0 : -1;
        case ContainerKind::kSplitRaw:
            if (const std::string gap = split_raw_gap(path); !gap.empty()) {
                *why = "piece " + gap + " is missing, later pieces are there";
                return -1;
            }
            if (open_split_raw(split_raw_pieces(path))) return 0;
            *why = "a piece does not open or the pieces add up past any size";
            return -1;
        case ContainerKind::kRaw:
            break;
    }
    return 0;
}

int describe_container(const std::string& path, ContainerInfo* out) {
    *out = ContainerInfo{};
    out->kind = container_kind(path);
    if (out->kind == ContainerKind::kEwf) return describe_ewf(path, out);
    out->files = container_files(path);
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? 0 : -1;
}

}  // namespace platform
