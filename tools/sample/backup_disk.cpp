#include "tools/sample/backup_disk.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "disk/disk.h"

namespace sample {
namespace {

void apply_damage(BackupSuperBlock* sb, const SuperBlockDamage& damage) {
    if (damage.magic) sb->magic = kBackupMagic ^ 0x00010000u;
    if (damage.version) sb->layout = kBackupLayout + 1;
    if (damage.created_zero) sb->created = 0;
    seal_words(sb, sizeof *sb, offsetof(BackupSuperBlock, checksum));
    if (damage.checksum) sb->checksum += 1;
}

// Damaged block sizes are still written to the super block; data is laid out with a sane one.
int32_t layout_block_size(const BackupDiskSpec& spec) {
    const bool usable = spec.block_size > 0 && spec.block_size <= kBackupBlockSize &&
                        spec.block_size % 512 == 0;
    return usable ? spec.block_size : kBackupBlockSize;
}

bool lay_out_sessions(const BackupDiskSpec& spec, BackupPlan* p, std::string* error) {
    // Blocks are numbered across the whole disk; each session has a block map of its own.
    auto next_block = std::make_shared<uint32_t>(1);
    const uint32_t limit = static_cast<uint32_t>(std::max(p->sb.block_limit, 1));
    for (const SessionSpec& s : spec.sessions) {
        LayoutRules rules;
        rules.block_size = layout_block_size(spec);
        rules.map_slots = kSessionBlockMapSlots;
        rules.ring = false;
        rules.channel_count = std::min<uint32_t>(s.channel_count, kMaxSessionSlots);
        rules.data_channel_count = s.data_channel_count;
        rules.interval = s.interval ? s.interval : 15;
        rules.empty_channels_get_block = false;
        rules.oldest = s.oldest;
        rules.newest = s.newest;
        rules.allocate_block = [next_block, limit](uint32_t) -> uint32_t {
            return *next_block < limit ? (*next_block)++ : 0;
        };
        VolumeLayout layout;
        if (!lay_out_volume(s.content, rules, &layout, error)) return false;
        p->sessions.push_back(std::move(layout));
    }
    return true;
}

}  // namespace

bool plan_backup_disk(const BackupDiskSpec& spec, uint64_t origin, uint64_t area_sectors,
                      BackupPlan* plan, std::string* error) {
    BackupPlan p;
    p.origin = origin;
    // Damaged slot counts are written as given; headers go only where the area has room.
    const uint64_t slots = spec.slot_count > 0 ? static_cast<uint64_t>(spec.slot_count) : 0;
    p.data_start = kSessionHeaderFirstSector + kSessionHeaderSectors * slots;
    if (p.data_start > area_sectors) {
        *error = "the area is too small for the backup session headers";
        return false;
    }
    p.block_count = (area_sectors - p.data_start) / kBackupBlockSectors;

    BackupSuperBlock& sb = p.sb;
    sb.magic = kBackupMagic;
    sb.layout = kBackupLayout;
    sb.created = spec.created ? spec.created : kDefaultTime;
    sb.block_limit = spec.block_limit ? *spec.block_limit : static_cast<int32_t>(p.block_count + 1);
    sb.slot_count = spec.slot_count;
    sb.sessions_used =
        spec.sessions_used ? *spec.sessions_used : static_cast<uint32_t>(spec.sessions.size());
    sb.block_size = spec.block_size;
    seal_words(&sb, sizeof sb, offsetof(BackupSuperBlock, checksum));
    if (!lay_out_sessions(spec, &p, error)) return false;
    *plan = std::move(p);
    return true;
}

std::vector<unsigned char> session_header(const SessionSpec& s, const VolumeLayout& layout) {
    std::vector<unsigned char> header(kSessionHeaderBytes, 0);
    VolumeRecord record{};
    // A name of 128 bytes or more fills the field without a terminating NUL, as a damaged disk may.
    std::memcpy(record.name, s.name.data(), std::min(s.name.size(), sizeof record.name));
    record.slot = s.slot;
    record.created = s.created ? s.created : kDefaultTime;
    record.interval = s.interval;
    record.oldest = s.oldest ? s.oldest : layout.oldest ? layout.oldest : record.created;
    record.newest = s.newest ? s.newest : layout.newest ? layout.newest : record.oldest + 3600;
    record.channel_count = s.channel_count;
    record.data_channel_count = s.data_channel_count;
    std::memcpy(header.data(), &record, sizeof record);
    std::vector<uint16_t> map(kSessionBlockMapSlots, 0);
    for (const LaidChannel& c : layout.channels) {
        SessionChannelRecord r{c.size, c.index_column, c.head_slot, c.head_offset,
                               c.tail_slot, c.tail_offset, {}};
        std::memcpy(header.data() + kSessionChannelRecordsOffset + c.channel * sizeof r, &r,
                    sizeof r);
        for (size_t j = 0; j < c.blocks.size(); ++j) {
            map[c.slots[j]] = c.zero_block == j ? 0 : static_cast<uint16_t>(c.blocks[j]);
        }
    }
    std::memcpy(header.data() + kSessionBlockMapOffset, map.data(), map.size() * 2);
    seal_words(header.data(), kSessionChecksummedBytes, kSessionChecksumOffset);
    if (s.bad_checksum) header[kSessionChecksumOffset] ^= 0x01;
    return header;
}

void write_backup_disk(ImageWriter& image, const BackupDiskSpec& spec, const BackupPlan& plan) {
    BackupSuperBlock sb = plan.sb;
    apply_damage(&sb, spec.damage);
    unsigned char sector[kSectorSize] = {};
    std::memcpy(sector, &sb, sizeof sb);
    image.write(plan.origin, sector, sizeof sector);

    for (size_t i = 0; i < spec.sessions.size(); ++i) {
        const SessionSpec& s = spec.sessions[i];
        const VolumeLayout& layout = plan.sessions[i];
        const std::vector<unsigned char> header = session_header(s, layout);
        image.write(plan.origin + session_header_sector(s.slot), header.data(), header.size());
        write_channel_blocks(image, layout, layout_block_size(spec), [&](uint32_t block) {
            return plan.origin + plan.data_start + (uint64_t{block} - 1) * kBackupBlockSectors;
        });
    }
}

}  // namespace sample
