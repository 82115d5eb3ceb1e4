// Reading and positioning inside a channel: the walk over map slots that both drivers share.
// Every slot and block number comes from the disk, so each is checked before it is used.
#include <algorithm>
#include <cstring>

#include "disk/channel_i.h"
#include "disk/format.h"

namespace {

uint32_t next_slot(const ChannelSpace& space, const ChannelRecord& r, uint32_t slot) {
    if (space.ring && slot + 1 >= r.map_slots) return 0;
    return slot + 1;
}

uint32_t prev_slot(const ChannelSpace& space, const ChannelRecord& r, uint32_t slot) {
    if (space.ring && slot == 0) return r.map_slots - 1;
    return slot - 1;  // a linear map never steps below the head slot
}

// The block a slot names, or -15 for a slot outside the map, an empty slot or a block
// outside the data areas.
int32_t block_at(const ChannelSpace& space, const ChannelRecord& r, uint32_t slot) {
    if (slot >= r.map_slots) return DVR_ENEED_FSCK;
    const uint16_t block = r.map[slot];
    if (block == 0 || !space.block_in_range(block)) return DVR_ENEED_FSCK;
    return block;
}

int32_t move_to(const ChannelSpace& space, ChannelDescriptor* d, uint32_t slot, int32_t offset) {
    int32_t block = block_at(space, *d->record, slot);
    if (block < 0) return block;
    d->slot = slot;
    d->block = block;
    d->offset = offset;
    return 0;
}

uint64_t sector_of(const ChannelSpace& space, const ChannelDescriptor* d) {
    return space.block_sector(d->block, d->offset);
}

// Bytes left in the current block: up to the tail in the tail slot, else to the block's end.
int32_t available(const ChannelSpace& space, const ChannelDescriptor* d) {
    const ChannelRecord& r = *d->record;
    const int64_t end = d->slot == r.tail_slot ? int64_t{r.tail_offset} : space.block_size;
    return static_cast<int32_t>(std::max<int64_t>(0, end - d->offset));
}

}  // namespace

bool channel_record_sane(const ChannelSpace& space, const ChannelRecord& r) {
    if (r.map == nullptr || r.map_slots == 0) return false;
    if (r.head_slot >= r.map_slots || r.tail_slot >= r.map_slots) return false;
    if (r.head_offset >= static_cast<uint32_t>(space.block_size)) return false;
    if (r.tail_offset > static_cast<uint32_t>(space.block_size)) return false;
    if (r.head_slot == r.tail_slot && r.head_offset > r.tail_offset && !space.ring) return false;
    // Without wrap-around the tail can only lie at or after the head.
    return space.ring || r.tail_slot >= r.head_slot;
}

int32_t channel_open_at_head(const ChannelSpace& space, ChannelDescriptor* d) {
    if (channel_empty(*d->record)) {
        d->slot = 0;
        d->block = 0;
        d->offset = 0;
        return 0;
    }
    if (!channel_record_sane(space, *d->record)) return DVR_ENEED_FSCK;
    return move_to(space, d, d->record->head_slot, static_cast<int32_t>(d->record->head_offset));
}

int64_t channel_stored_bytes(const ChannelSpace& space, const ChannelRecord& r) {
    if (channel_empty(r)) return 0;
    if (!channel_record_sane(space, r)) return DVR_ENEED_FSCK;
    if (r.head_slot == r.tail_slot && r.head_offset <= r.tail_offset) {
        return int64_t{r.tail_offset} - r.head_offset;
    }
    int64_t bytes = int64_t{space.block_size} - r.head_offset;
    for (uint32_t s = next_slot(space, r, r.head_slot); s != r.tail_slot;
         s = next_slot(space, r, s)) {
        bytes += space.block_size;
    }
    return bytes + r.tail_offset;
}

int32_t channel_read(const ChannelSpace& space, ChannelDescriptor* d, void* buffer,
                     int32_t length) {
    auto* out = static_cast<unsigned char*>(buffer);
    const ChannelRecord& r = *d->record;
    if (channel_empty(r)) return 0;
    unsigned char sector[kSectorSize];
    int32_t done = 0;
    int32_t left = length;
    // A failed sector read keeps what was already copied.
    auto failed = [&done]() { return done > 0 ? done : DVR_EDISK; };

    while (left > 0) {
        int32_t avail = available(space, d);
        if (avail == 0) {
            if (d->slot == r.tail_slot) return done;
            int32_t rc = move_to(space, d, next_slot(space, r, d->slot), 0);
            if (rc != 0) return rc;
            continue;
        }
        if (d->slot == r.tail_slot) left = std::min(left, avail);

        const int32_t misalign = d->offset % static_cast<int32_t>(kSectorSize);
        if (misalign != 0 || std::min(left, avail) < static_cast<int32_t>(kSectorSize)) {
            // A part sector: through the own buffer.
            if (hdd_read_sectors(sector_of(space, d), 1, sector) != 0) return failed();
            const int32_t n = std::min({static_cast<int32_t>(kSectorSize) - misalign, left, avail});
            std::memcpy(out + done, sector + misalign, static_cast<size_t>(n));
            done += n;
            d->offset += n;
            left -= n;
            continue;
        }
        // The aligned middle of the block: whole sectors straight into the caller's buffer.
        const int32_t k = std::min(left, avail) / static_cast<int32_t>(kSectorSize);
        if (hdd_read_sectors(sector_of(space, d), static_cast<uint32_t>(k), out + done) != 0) {
            return failed();
        }
        const int32_t n = k * static_cast<int32_t>(kSectorSize);
        done += n;
        d->offset += n;
        left -= n;
    }
    return done;
}

int32_t channel_image_ranges(const ChannelSpace& space, ChannelDescriptor* d, int64_t length,
                             uint64_t origin, ImageRange* ranges, int32_t max) {
    const ChannelRecord& r = *d->record;
    if (length < 0 || max < 0) return DVR_EINVAL;
    int32_t count = 0;
    while (length > 0) {
        const int32_t avail = available(space, d);
        if (avail == 0) {
            // The bytes asked for run past the stored data.
            if (d->slot == r.tail_slot) return DVR_EINVAL;
            const int32_t rc = move_to(space, d, next_slot(space, r, d->slot), 0);
            if (rc != 0) return rc;
            continue;
        }
        const auto n = static_cast<int32_t>(std::min<int64_t>(length, avail));
        d->offset += n;
        length -= n;
        if (ranges == nullptr) continue;  // only walking
        const int32_t start = d->offset - n;
        const uint64_t at = (space.block_sector(d->block, start) + origin) * kSectorSize +
                            static_cast<uint64_t>(start) % kSectorSize;
        if (count > 0 && ranges[count - 1].offset + ranges[count - 1].length == at) {
            ranges[count - 1].length += static_cast<uint64_t>(n);
        } else {
            if (count == max) return DVR_EINVAL;
            ranges[count++] = ImageRange{at, static_cast<uint64_t>(n)};
        }
    }
    return count;
}

bool channel_same_place(const ChannelSpace& space, const ChannelDescriptor& a,
                        const ChannelDescriptor& b) {
    if (a.slot == b.slot && a.offset == b.offset) return true;
    // The end of a block and the start of the next name the same place.
    const ChannelRecord& r = *a.record;
    if (a.offset == space.block_size && b.offset == 0) return next_slot(space, r, a.slot) == b.slot;
    if (b.offset == space.block_size && a.offset == 0) return next_slot(space, r, b.slot) == a.slot;
    return false;
}

int32_t channel_byte_seek(const ChannelSpace& space, ChannelDescriptor* d, int64_t offset,
                          int origin) {
    const ChannelRecord& r = *d->record;
    if (channel_empty(r)) return 0;  // head and tail are one place
    if (!channel_record_sane(space, r)) return DVR_ENEED_FSCK;
    uint32_t slot = 0;
    int64_t at = 0;
    switch (origin) {
        case SEEK_HEAD: slot = r.head_slot; at = r.head_offset; break;
        case SEEK_CURRENT: slot = d->slot; at = d->offset; break;
        case SEEK_TAIL: slot = r.tail_slot; at = r.tail_offset; break;
        default: return DVR_EINVAL;
    }
    if (slot >= r.map_slots) return DVR_ENEED_FSCK;
    const int64_t size = space.block_size;
    // Each step moves one block toward the tail or the head, which a sane record reaches
    // within one turn of the map.
    for (uint32_t steps = 0; offset != 0; ++steps) {
        if (steps > r.map_slots) return DVR_ENEED_FSCK;
        if (offset > 0) {
            if (slot == r.tail_slot && at + offset >= r.tail_offset) {
                at = r.tail_offset;
                break;
            }
            const int64_t room = size - at;
            if (offset < room) {
                at += offset;
                break;
            }
            offset -= room;
            slot = next_slot(space, r, slot);
            at = 0;
        } else {
            if (slot == r.head_slot && at + offset <= r.head_offset) {
                at = r.head_offset;
                break;
            }
            if (at + offset >= 0) {
                at += offset;
                break;
            }
            offset += at;
            slot = prev_slot(space, r, slot);
            at = size;
        }
    }
    return move_to(space, d, slot, static_cast<int32_t>(at));
}

int32_t channel_position_seek(const ChannelSpace& space, ChannelDescriptor* d,
                              const ChannelPosition* p, int32_t block_limit) {
    if (p->block > block_limit || p->offset >= space.block_size) return DVR_ENOINDEX;
    const ChannelRecord& r = *d->record;
    if (channel_empty(r)) return DVR_ENOINDEX;
    if (!channel_record_sane(space, r)) return DVR_ENEED_FSCK;
    uint32_t slot = r.head_slot;
    for (uint32_t steps = 0;; ++steps) {
        int32_t block = block_at(space, r, slot);
        if (block < 0 || steps > r.map_slots) return DVR_ENEED_FSCK;
        if (block == p->block) break;
        if (slot == r.tail_slot) return DVR_ENOINDEX;
        slot = next_slot(space, r, slot);
    }
    if (slot == r.head_slot && static_cast<uint32_t>(p->offset) < r.head_offset) return DVR_ENOINDEX;
    // Past the tail is outside the data also when head and tail share a block.
    if (slot == r.tail_slot && static_cast<uint32_t>(p->offset) > r.tail_offset) {
        return DVR_ENOINDEX;
    }
    d->slot = slot;
    d->block = p->block;
    d->offset = p->offset;
    return 0;
}
