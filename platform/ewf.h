// Expert Witness (E01) segment sets through libewf. The library's types stay in ewf_drive.cpp.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/container.h"
#include "platform/drive.h"

namespace platform {

// True when the file starts with an EWF segment signature.
bool is_ewf_file(const std::string& path);
// The same for a file already open: reads its first bytes, moves no file position.
bool has_ewf_signature(int fd);

// The segments of the set whose first segment (or any segment) is path, as libewf's glob finds
// them next to it; empty when there are none.
std::vector<std::string> ewf_segments(const std::string& path);

// Opens the whole set read-only as one drive; nullptr when libewf cannot open it, with its
// reason in why when given.
std::unique_ptr<Drive> open_ewf(const std::string& path, std::string* why = nullptr);

// Fills the E01 fields of info (files, metadata, stored hashes). 0, or -1 when it cannot open.
int describe_ewf(const std::string& path, ContainerInfo* info);

}  // namespace platform
