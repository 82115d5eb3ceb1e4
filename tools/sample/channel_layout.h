// Lays out the channels of a volume or session: which blocks and map slots hold each channel's
// bytes, and the time index (super index, index, search log) consistent with the writes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/sample/image_writer.h"
#include "tools/sample/sample.h"

namespace sample {

struct LaidChannel {
    int32_t channel = 0;
    uint64_t size = 0;
    uint32_t index_column = 0;
    uint32_t head_slot = 0;
    uint32_t head_offset = 0;
    uint32_t tail_slot = 0;
    uint32_t tail_offset = 0;
    std::vector<uint32_t> slots;   // map slot of each block, in stream order
    std::vector<uint32_t> blocks;  // block number of each block
    std::vector<uint8_t> stream;   // the stored bytes, from the head on
    std::vector<std::pair<uint32_t, uint64_t>> marks;  // (time, stream offset) of each write
    std::optional<uint32_t> zero_block;
    std::optional<size_t> image_ends_at_write;
};

struct LayoutRules {
    int32_t block_size = 0;
    uint32_t map_slots = 0;          // slots of one channel's ring, or of the session map
    bool ring = true;
    uint32_t channel_count = 0;
    uint32_t data_channel_count = 0;  // columns of an index record
    uint32_t interval = 15;
    uint32_t oldest = 0;              // 0: from the writes
    uint32_t newest = 0;
    // Hands out the next free block, starting the search at preferred (0: anywhere); 0 when
    // the data areas are full.
    std::function<uint32_t(uint32_t preferred)> allocate_block;
    // Linear maps: the next free slot of the shared map.
    uint32_t next_linear_slot = 0;
    // Recorder volumes give every channel a block; a backup session copies only what was
    // recorded, so its empty channels take none.
    bool empty_channels_get_block = true;
};

struct VolumeLayout {
    std::vector<LaidChannel> channels;  // index = channel number
    uint32_t oldest = 0;
    uint32_t newest = 0;
    uint32_t next_linear_slot = 0;
};

bool lay_out_volume(const VolumeContent& content, const LayoutRules& rules, VolumeLayout* out,
                    std::string* error);

// Writes every block of every channel; sector_of gives a block's first sector on the disk.
// Bytes before the head and after the tail get fill patterns, as overwritten data would.
void write_channel_blocks(ImageWriter& image, const VolumeLayout& layout, int32_t block_size,
                          const std::function<uint64_t(uint32_t block)>& sector_of);

}  // namespace sample
