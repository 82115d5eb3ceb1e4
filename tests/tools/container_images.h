// One small recorder disk with real recordings and logs, and the same disk as E01 segment sets
// (compressed and not) and as a split raw image, made once per test program.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/testkit/temp_image.h"

namespace clitest {

struct ContainerImages {
    testkit::TempDir dir;
    std::string raw;                  // the disk itself
    std::string e01_fast, e01_none;   // first segments of the E01 sets
    std::string split;                // first piece of the split raw image
    std::string md5, sha1;            // of the disk, as md5sum and sha1sum give them
};

// Builds the images (the test fails when a tool does); nullptr after a failure.
ContainerImages* container_images();

// Every file of an E01 set or split image whose first file is first, in order, found with ls.
std::vector<std::string> files_of_set(const testkit::TempDir& dir, const std::string& first);

// A second set of the same files in dir/name: hard links, except the files in copies, which are
// copied so that they can be damaged. Returns the new first file's path.
std::string link_set(const testkit::TempDir& dir, const std::string& name,
                     const std::vector<std::string>& files, const std::vector<size_t>& copies);

// Where the chunk that holds a byte of the disk is stored in an E01 set: the segment and the
// offset of the chunk's stored bytes in it, and whether they are compressed.
struct StoredChunk {
    size_t segment = 0;
    uint64_t offset = 0;
    bool compressed = false;
};

// The stored chunk (32 KiB, the acquisition's default) that holds the disk's byte at offset;
// nullopt when no segment holds it as stored or compressed bytes.
std::optional<StoredChunk> find_stored_chunk(const std::vector<std::string>& segments,
                                             const std::string& raw, uint64_t offset);

// The byte offset in the raw disk where the first bytes of channel 3 lie (found through
// the tool's read command); -1 when they are not found.
int64_t channel_offset(const std::string& raw);

}  // namespace clitest
