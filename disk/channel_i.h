// Internals of the channel layer: descriptors, the in-memory channel records both drivers
// fill, and the geometry through which the shared read and seek walk a channel's blocks.
#pragma once

#include <cstdint>

#include "disk/disk.h"

// Where a channel's stored data lies, as either driver loaded it.
struct ChannelRecord {
    uint64_t size = 0;
    uint32_t index_column = 0;  // column of the index record holding this channel's positions
    uint32_t head_slot = 0;
    uint32_t head_offset = 0;
    uint32_t tail_slot = 0;
    uint32_t tail_offset = 0;
    const uint16_t* map = nullptr;  // block numbers by slot
    uint32_t map_slots = 0;
};

struct ChannelDescriptor {
    int32_t channel = 0;
    int32_t block = 0;
    int32_t offset = 0;
    uint32_t slot = 0;
    const ChannelRecord* record = nullptr;  // nullptr: the descriptor is free
    uint64_t serial = 0;                    // which open this is: see backup_open_serial
};

// A channel whose information record says it holds no bytes was never written: its head slot
// may name no block at all. It opens at its own end, reads nothing and has no positions.
inline bool channel_empty(const ChannelRecord& r) { return r.size == 0; }

// How a driver's blocks are laid out.
struct ChannelSpace {
    int32_t block_size;  // bytes, a positive multiple of 512
    bool ring;           // recorder: after the last slot comes slot 0
    uint64_t (*block_sector)(int32_t block, int32_t offset);
    bool (*block_in_range)(uint32_t block);  // inside the data areas
};

// --- Shared channel operations (both drivers call these with their space) ---------------------
int32_t channel_read(const ChannelSpace& space, ChannelDescriptor* d, void* buffer, int32_t length);
int32_t channel_byte_seek(const ChannelSpace& space, ChannelDescriptor* d, int64_t offset,
                          int origin);
int32_t channel_position_seek(const ChannelSpace& space, ChannelDescriptor* d,
                              const ChannelPosition* position, int32_t block_limit);
int32_t channel_open_at_head(const ChannelSpace& space, ChannelDescriptor* d);
// The image ranges of the length bytes from d's position, which moves past them: see
// backup_image_ranges. origin: the mounted area's first sector in the drive or image. With
// ranges nullptr the walk only moves d (0, or DVR_EINVAL past the stored data).
int32_t channel_image_ranges(const ChannelSpace& space, ChannelDescriptor* d, int64_t length,
                             uint64_t origin, ImageRange* ranges, int32_t max);
// Whether two positions of one channel name the same byte.
bool channel_same_place(const ChannelSpace& space, const ChannelDescriptor& a,
                        const ChannelDescriptor& b);
// Bytes stored between head and tail, or -15 for a broken record.
int64_t channel_stored_bytes(const ChannelSpace& space, const ChannelRecord& record);
// Checks a record's slots and offsets against its map and the block size.
bool channel_record_sane(const ChannelSpace& space, const ChannelRecord& record);

// Time seek shared by both drivers, through the super index and the index record column of the
// descriptor's channel; recorder_trace picks the recorder volume's wording of one trace line.
int32_t index_time_seek(const ChannelSpace& space, ChannelDescriptor* d, int32_t time,
                        ChannelPosition* out, bool recorder_trace);

// --- Channel layer state ----------------------------------------------------------------------
struct ChannelLayer {
    const VolumeRecord* selected = nullptr;
    int32_t channel_count = 0;
    uint64_t sizes[kMaxChannels] = {};
    ChannelDescriptor descriptors[kDescriptorCount] = {};
    int32_t open_count = 0;
};
ChannelLayer& channel_layer();
ChannelDescriptor* descriptor_of(int32_t fd);  // nullptr when out of range or free

// Driver hooks that load and describe the selected volume's channels.
int32_t dvrfs_load_channels(const VolumeRecord* record);
int32_t dvrfs_free_channels();
int32_t dvrfs_open_channel(ChannelDescriptor* d);
const ChannelRecord* dvrfs_channel_record(int32_t channel);
const ChannelSpace& dvrfs_space();

int32_t bkfs_load_session(const VolumeRecord* record);
int32_t bkfs_free_session();
int32_t bkfs_open_channel(ChannelDescriptor* d);
const ChannelRecord* bkfs_channel_record(int32_t channel);
const ChannelSpace& bkfs_space();
