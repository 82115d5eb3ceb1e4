// Raw access to sample images: build with a summary, read and patch sectors, rewrite super
// block fields with the checksum kept (or broken) on purpose, and inspect open descriptors.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "disk/format.h"
#include "tests/testkit/temp_image.h"
#include "tools/sample/sample.h"

namespace testkit {

// Writes the disk description to dir/name and returns what the builder placed; fails the test
// on error.
sample::ImageSummary build_image(const TempDir& dir, const std::string& name,
                                 const sample::DiskSpec& spec);

// The 512 bytes of an image sector (zeros where the file ends).
std::vector<uint8_t> read_sector(const std::string& path, uint64_t sector);
// Overwrites bytes of an image in place (never truncates or extends a sparse hole elsewhere).
void write_bytes(const std::string& path, uint64_t offset, const void* data, size_t n);

// Sum of the n / 4 little-endian words, computed here and not with the code under test.
uint32_t word_sum(const uint8_t* data, size_t n);

// Applies edit to the recorder super block at the start of the sector. With rebalance, the
// unused word 2 is then set so that the 34 words sum to zero again.
void patch_recorder_sb(const std::string& path, uint64_t sector,
                       const std::function<void(DvrSuperBlock&)>& edit, bool rebalance = true);
// The same for a backup super block; its checksum word 17 is rebalanced.
void patch_backup_sb(const std::string& path, uint64_t sector,
                     const std::function<void(BackupSuperBlock&)>& edit, bool rebalance = true);

// Descriptors of this process that are open on the file, and the access mode (O_RDONLY,
// O_WRONLY, O_RDWR) that /proc/self/fdinfo reports for one of them, -1 when unknown.
std::vector<int> fds_open_on(const std::string& path);
int fd_access_mode(int fd);

}  // namespace testkit
