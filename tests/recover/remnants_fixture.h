// The remnants disks for the recovery tests, built once per test program, and a reader of what
// an image holds that goes by the image's own bytes: its super block and channel tables, and
// records parsed with the record layouts and decoded with libavcodec.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "disk/format.h"
#include "playback/record_format.h"
#include "tools/sample/remnants.h"

namespace remnants_test {

struct Built {
    std::string path;
    sample::RemnantsTruth truth;
};

// The image of a variant, written on first use into a folder that lives until the program ends.
const Built& built(sample::RemnantsVariant variant);

std::vector<uint8_t> read_bytes(const std::string& path, uint64_t offset, size_t n);

// Recorder time of a record time, through the C library.
uint32_t seconds_of(const RecordTime& t);

struct GopRead {
    GopHeader header{};
    uint32_t trailer = 0;
    bool table_adds_up = false;  // 96 plus the frame table's lengths is the GOP length
    std::vector<std::vector<uint8_t>> frames;  // cut by the frame table when it adds up
};

// The GOP record whose header starts at the offset; nullopt when its length field cannot be a
// record's or the image ends first.
std::optional<GopRead> read_gop(const std::string& path, uint64_t offset);

// Whether the frame decodes on its own into a picture (H.264), and its size.
bool key_frame_decodes(const std::vector<uint8_t>& frame, int* width = nullptr, int* height = nullptr);

// The volume's layout as the image's super block (in the middle of the disk) gives it.
DvrSuperBlock super_block(const std::string& path);

// [begin, end) image byte offsets of the block that holds the offset.
std::pair<uint64_t, uint64_t> block_of(const DvrSuperBlock& sb, uint64_t offset);

// [begin, end) image byte ranges of every channel's stored bytes, from the channel tables.
std::vector<std::pair<uint64_t, uint64_t>> stored_ranges(const std::string& path);

bool overlaps(uint64_t begin, uint64_t end, const std::vector<std::pair<uint64_t, uint64_t>>& ranges);

}  // namespace remnants_test
