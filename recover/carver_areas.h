// The carver's volume walk: which bytes of which blocks lie outside every channel's stored
// range, in the order they lie on the disk. Nothing here looks at the bytes themselves.
#pragma once

#include <cstdint>
#include <vector>

struct ChannelRecord;

namespace recover {

// Bytes [begin, end) of a block whose first sector, relative to the mounted origin, is `sector`.
struct ScanPiece {
    uint32_t block = 0;
    uint64_t sector = 0;
    uint32_t begin = 0, end = 0;
};

struct ScanPlan {
    uint32_t block_size = 0;
    std::vector<ScanPiece> pieces;  // by sector, then by begin; no byte twice
    uint64_t total_bytes = 0;
};

// Byte ranges of one block that some channel stores.
using HeldRanges = std::vector<std::pair<uint32_t, uint32_t>>;

// Marks in held[block] what the channel stores: the blocks of its map from the head slot to the
// tail slot, the head block from the head offset, the tail block up to the tail offset. A record
// whose slots or offsets make no sense holds every block its map names, whole. `ring`: after
// the map's last slot comes slot 0 (recorder volumes); else slots only count up.
void mark_stored(const ChannelRecord& record, uint32_t block_size, bool ring,
                 std::vector<HeldRanges>* held);

// The parts of [0, block_size) that no range of `held` covers.
HeldRanges free_ranges(HeldRanges held, uint32_t block_size);

// Plans of the mounted disk's volume: the selected recorder volume, or the backup disk with the
// stored ranges of every session in use. 0, or a negative error code.
int32_t plan_recorder_scan(ScanPlan* plan);
int32_t plan_backup_scan(ScanPlan* plan);

}  // namespace recover
