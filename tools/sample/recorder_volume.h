// Lays out a recorder volume and writes its super block copies.
#pragma once

#include <string>

#include "disk/format.h"
#include "tools/sample/channel_layout.h"
#include "tools/sample/image_writer.h"
#include "tools/sample/sample.h"

namespace sample {

// Where a recorder volume's pieces lie. Sector numbers relative to the origin, as the super
// block keeps them.
struct RecorderPlan {
    DvrSuperBlock sb{};       // the authoritative copy, before damage
    uint64_t origin = 0;      // first sector of the area on the disk
    uint64_t probe_start = 0; // 0, or 2552 on a bare disk that keeps the volume there
    uint64_t probe_size = 0;  // the size the probe is given
    uint64_t middle = 0;      // probe_start + probe_size / 2
    uint64_t super_block = 0; // where the probe ends up reading the super block
    uint64_t layout_block_size = 0;  // the block size the data was laid out with
    VolumeLayout layout;      // the channels and their blocks
};

// First sector of a block, relative to the origin.
uint64_t recorder_block_sector(const DvrSuperBlock& sb, uint32_t block);

// False with a message when the area is too small for the volume.
bool plan_recorder_volume(const RecorderVolumeSpec& spec, uint64_t origin, uint64_t probe_start,
                          uint64_t probe_size, uint64_t area_sectors, RecorderPlan* plan,
                          std::string* error);

void write_recorder_volume(ImageWriter& image, const RecorderVolumeSpec& spec,
                           const RecorderPlan& plan);

}  // namespace sample
