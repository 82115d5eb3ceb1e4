// A raw image split into numbered pieces (disk.001, disk.002, ...): the names of the pieces and
// the arithmetic that splits a read across them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/drive.h"

namespace platform {

// The part of one read that falls into one piece.
struct PieceRead {
    size_t piece = 0;
    uint64_t offset = 0;  // inside the piece
    size_t length = 0;
    size_t buffer_offset = 0;  // where its bytes go in the caller's buffer
};

// Start offsets of the pieces in the whole image, and its total size, from the piece sizes.
// False when the sizes add up beyond what a byte offset can hold.
bool piece_starts(const std::vector<uint64_t>& sizes, std::vector<uint64_t>* starts,
                  uint64_t* total);

// Splits the read of n bytes at offset into per-piece reads, in order, ending at the image's end.
// Pieces of size 0 take no part.
std::vector<PieceRead> plan_piece_reads(const std::vector<uint64_t>& starts,
                                        const std::vector<uint64_t>& sizes, uint64_t offset,
                                        size_t n);

// The pieces of a split image whose first piece is path: path itself, then every following
// number for as long as the file exists. Empty when path is not named like a first piece
// ("NAME.001", three or more digits) or when no second piece exists.
std::vector<std::string> split_raw_pieces(const std::string& path);

// The first missing piece of a split image whose first piece is path, when a later one exists
// (disk.003 gone, disk.004 there): the pieces before it would make a shorter disk that looks
// whole. Empty when the pieces run without a gap.
std::string split_raw_gap(const std::string& path);

// Opens every piece read-only as one drive; nullptr when a piece cannot be opened.
std::unique_ptr<Drive> open_split_raw(const std::vector<std::string>& pieces);

}  // namespace platform
