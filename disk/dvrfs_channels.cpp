// The recorder volume's channel information table and channel maps.
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "disk/channel_i.h"
#include "disk/disk_i.h"

namespace {

// Block numbers are 16 bits, so no channel needs more than 65,536 slots (256 sectors). The
// bounds keep a damaged super block from asking for gigabytes of tables.
constexpr uint32_t kMaxMapSectorsPerChannel = 256;
constexpr uint32_t kMaxMapSectors = 65536;
constexpr uint32_t kMaxInfoSectors = 64;

struct LoadedChannels {
    std::unique_ptr<uint8_t[]> info;
    std::unique_ptr<uint16_t[]> maps;
    ChannelRecord records[kMaxChannels] = {};
    ChannelSpace space{512, true, dvrfs_block_sector, nullptr};
};

LoadedChannels& loaded() {
    static LoadedChannels l;
    return l;
}

struct InfoRecord {
    uint64_t size;
    uint32_t unused8;
    uint32_t head_slot;
    uint32_t head_offset;
    uint32_t tail_slot;
    uint32_t tail_offset;
    uint32_t unused28;
};
static_assert(sizeof(InfoRecord) == 32);

bool block_in_range(uint32_t block) {
    const DvrSuperBlock* sb = dvrfs_super_block();
    return sb != nullptr && block >= 1 && block <= static_cast<uint32_t>(sb->max_block);
}

// A table layout that would make the loader read past its own buffers is refused.
bool tables_fit(const DvrSuperBlock& sb) {
    const uint64_t count = static_cast<uint64_t>(sb.channel_count);
    return sb.channel_count >= 3 && sb.channel_count <= kMaxChannels &&
           uint64_t{sb.info_sectors} * kSectorSize >= count * sizeof(InfoRecord) &&
           sb.info_sectors <= kMaxInfoSectors && sb.map_sectors_per_channel >= 1 &&
           sb.map_sectors_per_channel <= kMaxMapSectorsPerChannel &&
           uint64_t{sb.map_sectors} >= count * sb.map_sectors_per_channel &&
           sb.map_sectors <= kMaxMapSectors && sb.max_block >= 1;
}

template <typename T>
std::unique_ptr<T[]> allocate(uint64_t sectors) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[sectors * kSectorSize / sizeof(T)]);
}

}  // namespace

const ChannelSpace& dvrfs_space() { return loaded().space; }

int32_t dvrfs_load_channels(const VolumeRecord* record) {
    if (record != &volume_table().records[0]) return DVR_EINVAL;
    const DvrSuperBlock& sb = *dvrfs_super_block();
    if (!tables_fit(sb)) return DVR_ENEED_FSCK;

    LoadedChannels& l = loaded();
    l.info = allocate<uint8_t>(sb.info_sectors);
    if (!l.info) {
        dvrfs_trace("Channel Information Allocation");
        return DVR_ENOSPC;
    }
    l.maps = allocate<uint16_t>(sb.map_sectors);
    if (!l.maps) {
        dvrfs_trace("Channel MAP Allocation");
        l.info.reset();
        return DVR_ENOSPC;
    }
    int32_t rc = hdd_read_sectors(sb.info_sector, sb.info_sectors, l.info.get());
    if (rc != 0) dvrfs_trace("Channel Information read Error");
    if (rc == 0) {
        rc = hdd_read_sectors(sb.map_sector, sb.map_sectors, l.maps.get());
        if (rc != 0) dvrfs_trace("Channel MAP read Error");
    }
    if (rc != 0) {
        dvrfs_free_channels();
        return DVR_EDISK;
    }

    l.space = ChannelSpace{sb.block_size, true, dvrfs_block_sector, block_in_range};
    ChannelLayer& cl = channel_layer();
    const uint32_t slots = sb.map_sectors_per_channel * (kSectorSize / 2);
    for (int32_t c = 0; c < sb.channel_count; ++c) {
        InfoRecord info;
        std::memcpy(&info, l.info.get() + c * sizeof info, sizeof info);
        ChannelRecord& r = l.records[c];
        r = ChannelRecord{info.size,      static_cast<uint32_t>(c >= 3 ? c - 3 : 0),
                          info.head_slot, info.head_offset,
                          info.tail_slot, info.tail_offset,
                          l.maps.get() + size_t{static_cast<uint32_t>(c)} * slots,
                          slots};
        cl.sizes[c] = info.size;
    }
    cl.selected = record;
    cl.channel_count = sb.channel_count;
    return 0;
}

int32_t dvrfs_free_channels() {
    loaded() = LoadedChannels{};
    return 0;
}

const ChannelRecord* dvrfs_channel_record(int32_t channel) {
    if (channel < 0 || channel >= kMaxChannels || !loaded().info) return nullptr;
    return &loaded().records[channel];
}

int32_t dvrfs_open_channel(ChannelDescriptor* d) {
    d->record = dvrfs_channel_record(d->channel);
    if (d->record == nullptr) return DVR_EINVAL;
    return channel_open_at_head(dvrfs_space(), d);
}
