// A backup session: its header, channel records and the block map its channels share.
#include <cstring>
#include <memory>
#include <new>

#include "disk/channel_i.h"
#include "disk/disk_i.h"

namespace {

struct LoadedSession {
    std::unique_ptr<uint8_t[]> header;
    uint16_t map[kSessionBlockMapSlots] = {};
    ChannelRecord records[kMaxChannels] = {};
    ChannelSpace space{kBackupBlockSize, false, bkfs_block_sector, nullptr};
};

LoadedSession& loaded() {
    static auto* session = new LoadedSession;  // 128 KiB of map: kept off the stack
    return *session;
}

bool block_in_range(uint32_t block) {
    const BackupSuperBlock* sb = bkfs_super_block();
    return sb != nullptr && block >= 1 && block < static_cast<uint32_t>(sb->block_limit);
}

// The header's own counts decide how much of it is read; they must stay inside it.
bool header_fits(const VolumeRecord& v, const uint8_t* header) {
    if (v.channel_count > kMaxChannels || v.data_channel_count > kMaxChannels) return false;
    for (uint32_t c = 3; c < v.channel_count; ++c) {
        SessionChannelRecord ch;
        std::memcpy(&ch, header + kSessionChannelRecordsOffset + c * sizeof ch, sizeof ch);
        if (ch.size != 0 && ch.index_column >= v.data_channel_count) return false;
    }
    return true;
}

}  // namespace

const ChannelSpace& bkfs_space() { return loaded().space; }

int32_t bkfs_load_session(const VolumeRecord* record) {
    LoadedSession& s = loaded();
    // The slot number comes from the disk: beyond the slots it would name no session header.
    if (record->slot >= static_cast<uint32_t>(bkfs_super_block()->slot_count)) {
        dvrfs_trace("Session Header Read");
        return DVR_ENEED_FSCK;
    }
    s.header.reset(new (std::nothrow) uint8_t[kSessionHeaderBytes]);
    if (!s.header) return DVR_ENOSPC;
    if (hdd_read_sectors(session_header_sector(record->slot), kSessionHeaderSectors,
                         s.header.get()) != 0) {
        dvrfs_trace("Session Header Read");
        s.header.reset();
        return DVR_EDISK;
    }
    if (dvrfs_checksum(s.header.get(), kSessionChecksummedBytes) != 0) {
        dvrfs_trace("Back up session Checksum");
        s.header.reset();
        return DVR_ENEED_FSCK;
    }
    VolumeRecord v;
    std::memcpy(&v, s.header.get(), sizeof v);
    if (!header_fits(v, s.header.get())) {
        s.header.reset();
        return DVR_ENEED_FSCK;
    }
    std::memcpy(s.map, s.header.get() + kSessionBlockMapOffset, sizeof s.map);
    const BackupSuperBlock& sb = *bkfs_super_block();
    s.space = ChannelSpace{sb.block_size, false, bkfs_block_sector, block_in_range};

    ChannelLayer& cl = channel_layer();
    for (uint32_t c = 0; c < v.channel_count; ++c) {
        SessionChannelRecord ch;
        std::memcpy(&ch, s.header.get() + kSessionChannelRecordsOffset + c * sizeof ch, sizeof ch);
        s.records[c] = ChannelRecord{ch.size,      ch.index_column, ch.head_slot,
                                     ch.head_offset, ch.tail_slot,  ch.tail_offset,
                                     s.map,         kSessionBlockMapSlots};
        cl.sizes[c] = ch.size;
    }
    cl.channel_count = static_cast<int32_t>(v.channel_count);
    cl.selected = record;
    return 0;
}

int32_t bkfs_free_session() {
    LoadedSession& s = loaded();
    s.header.reset();
    for (ChannelRecord& r : s.records) r = ChannelRecord{};
    return 0;
}

const ChannelRecord* bkfs_channel_record(int32_t channel) {
    if (channel < 0 || channel >= kMaxChannels || !loaded().header) return nullptr;
    return &loaded().records[channel];
}

int32_t bkfs_open_channel(ChannelDescriptor* d) {
    d->record = bkfs_channel_record(d->channel);
    if (d->record == nullptr) return DVR_EINVAL;
    return channel_open_at_head(bkfs_space(), d);
}
