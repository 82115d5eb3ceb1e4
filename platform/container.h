// What an image is made of: one raw file, a raw image split into numbered pieces, or an
// Expert Witness (E01) segment set, and what an E01 set says about its acquisition.
#pragma once

#include <string>
#include <vector>

namespace platform {

enum class ContainerKind { kRaw, kSplitRaw, kEwf };

// "raw", "split raw" or "E01".
const char* container_kind_name(ContainerKind kind);

struct ContainerInfo {
    ContainerKind kind = ContainerKind::kRaw;
    std::vector<std::string> files;  // every file of the image, the first segment or piece first
    bool incomplete = false;         // the set lacks segments or its segments are damaged
    // Acquisition metadata an E01 set stores; empty when it stores none.
    std::string case_number, evidence_number, examiner, description, notes, acquisition_date;
    std::string md5, sha1;  // of the media, as stored at acquisition, lower-case hex
};

// The kind of the image at path, from its name, its neighbours and its first bytes.
ContainerKind container_kind(const std::string& path);

// Every file that makes up the image at path (just path for a raw image or a device).
std::vector<std::string> container_files(const std::string& path);

// Whether an E01 set or a split image opens as a drive: 0, or -1 with the reason (libewf's, or
// the piece that does not open). Raw images and devices are not checked here: 0.
int check_container(const std::string& path, std::string* why);

// Kind, files and metadata. 0, or -1 when the image cannot be opened.
int describe_container(const std::string& path, ContainerInfo* out);

}  // namespace platform
