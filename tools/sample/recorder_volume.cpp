#include "tools/sample/recorder_volume.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace sample {
namespace {

constexpr uint64_t kInfoTableSector = 64;  // past the pointer copies at 0, 10, 20 and 30

uint64_t align8(uint64_t sector) { return (sector + 7) & ~uint64_t{7}; }

void seal(DvrSuperBlock* sb) { seal_words(sb, sizeof *sb, offsetof(DvrSuperBlock, unused24) + 36); }

void apply_damage(DvrSuperBlock* sb, const SuperBlockDamage& damage) {
    if (damage.magic) sb->magic = kDvrMagic ^ 0x00010000u;
    if (damage.version) sb->version = kDvrVersionMax + 1;
    if (damage.created_zero) sb->created = 0;
    seal(sb);
    if (damage.checksum) sb->unused24[9] += 1;
}

// Hands out blocks 1..max_block, each once.
std::function<uint32_t(uint32_t)> block_allocator(uint32_t max_block) {
    auto used = std::make_shared<std::vector<bool>>(size_t{max_block} + 1, false);
    return [used, max_block](uint32_t preferred) -> uint32_t {
        const uint32_t start = preferred >= 1 && preferred <= max_block ? preferred : 1;
        for (uint64_t i = 0; i < max_block; ++i) {
            const uint32_t b = static_cast<uint32_t>((start - 1 + i) % max_block + 1);
            if (!(*used)[b]) {
                (*used)[b] = true;
                return b;
            }
        }
        return 0;
    };
}

bool lay_out_channels(const RecorderVolumeSpec& spec, RecorderPlan* p, std::string* error) {
    LayoutRules rules;
    rules.block_size = static_cast<int32_t>(p->layout_block_size);
    rules.map_slots = spec.map_sectors_per_channel * (kSectorSize / 2);
    rules.ring = true;
    rules.channel_count = static_cast<uint32_t>(std::clamp(spec.channel_count, 0, 32));
    rules.data_channel_count = rules.channel_count >= 3 ? rules.channel_count - 3 : 0;
    rules.oldest = spec.oldest;
    rules.newest = spec.newest;
    rules.allocate_block = block_allocator(static_cast<uint32_t>(p->sb.max_block));
    return lay_out_volume(spec.content, rules, &p->layout, error);
}

void write_tables(ImageWriter& image, const RecorderPlan& plan) {
    const DvrSuperBlock& sb = plan.sb;
    std::vector<uint8_t> info(size_t{sb.info_sectors} * kSectorSize, 0);
    std::vector<uint16_t> maps(size_t{sb.map_sectors} * kSectorSize / 2, 0);
    const size_t slots = size_t{sb.map_sectors_per_channel} * kSectorSize / 2;
    for (const LaidChannel& c : plan.layout.channels) {
        const uint32_t record[8] = {static_cast<uint32_t>(c.size), static_cast<uint32_t>(c.size >> 32),
                                    0, c.head_slot, c.head_offset, c.tail_slot, c.tail_offset, 0};
        if ((c.channel + 1) * sizeof record <= info.size()) {
            std::memcpy(info.data() + c.channel * sizeof record, record, sizeof record);
        }
        for (size_t j = 0; j < c.blocks.size(); ++j) {
            const size_t at = c.channel * slots + c.slots[j];
            if (at < maps.size()) maps[at] = c.zero_block == j ? 0 : static_cast<uint16_t>(c.blocks[j]);
        }
    }
    image.write(plan.origin + sb.info_sector, info.data(), info.size());
    image.write(plan.origin + sb.map_sector, maps.data(), maps.size() * 2);
    write_channel_blocks(image, plan.layout, static_cast<int32_t>(plan.layout_block_size),
                         [&](uint32_t block) { return plan.origin + recorder_block_sector(sb, block); });
}

void write_sb(ImageWriter& image, uint64_t sector, const DvrSuperBlock& sb) {
    unsigned char buf[kSectorSize] = {};
    std::memcpy(buf, &sb, sizeof sb);
    image.write(sector, buf, sizeof buf);
}

}  // namespace

uint64_t recorder_block_sector(const DvrSuperBlock& sb, uint32_t block) {
    const uint64_t per_block = static_cast<uint64_t>(sb.block_size) / kSectorSize;
    if (block >= sb.area2_block) return sb.area2_sector + (block - sb.area2_block) * per_block;
    return sb.area1_sector + (uint64_t{block} - 1) * per_block;
}

bool plan_recorder_volume(const RecorderVolumeSpec& spec, uint64_t origin, uint64_t probe_start,
                          uint64_t probe_size, uint64_t area_sectors, RecorderPlan* plan,
                          std::string* error) {
    RecorderPlan p;
    p.origin = origin;
    p.probe_start = probe_start;
    p.probe_size = probe_size;
    p.middle = probe_start + probe_size / 2;

    DvrSuperBlock& sb = p.sb;
    sb.magic = kDvrMagic;
    sb.version = spec.version;
    sb.created = spec.created ? spec.created : kDefaultTime;
    sb.oldest = spec.oldest ? spec.oldest : sb.created;
    sb.newest = spec.newest ? spec.newest : sb.oldest + 3600;
    sb.block_size = spec.block_size;
    sb.channel_count = spec.channel_count;

    const uint64_t channels = static_cast<uint64_t>(std::clamp(spec.channel_count, 0, 1024));
    sb.info_sector = static_cast<uint32_t>(probe_start + kInfoTableSector);
    sb.info_sectors = static_cast<uint32_t>(std::max<uint64_t>(1, (channels * 32 + 511) / 512));
    sb.map_sector = static_cast<uint32_t>(align8(sb.info_sector + sb.info_sectors));
    sb.map_sectors_per_channel = spec.map_sectors_per_channel;
    sb.map_sectors = static_cast<uint32_t>(channels * spec.map_sectors_per_channel);
    sb.area1_sector = static_cast<uint32_t>(align8(sb.map_sector + sb.map_sectors));

    // Damaged block sizes are still written as given; the layout uses a sane one.
    const uint64_t per_block =
        spec.block_size >= 512 && spec.block_size % 512 == 0 ? uint64_t(spec.block_size) / 512 : 2048;
    p.layout_block_size = per_block * kSectorSize;
    const uint64_t end = std::min(area_sectors, probe_start + probe_size);
    if (p.middle + 8 + per_block > end || sb.area1_sector + per_block > p.middle) {
        *error = "the area is too small for a recorder volume with this block size";
        return false;
    }
    const uint64_t area1_blocks = (p.middle - sb.area1_sector) / per_block;
    sb.area2_sector = static_cast<uint32_t>(align8(p.middle + 1));
    const uint64_t area2_blocks = (end - sb.area2_sector) / per_block;
    sb.area2_block = static_cast<uint32_t>(area1_blocks + 1);
    sb.max_block = static_cast<int32_t>(std::min<uint64_t>(area1_blocks + area2_blocks, 65535));
    if (!spec.content.channels.empty() || spec.content.build_index) {
        if (!lay_out_channels(spec, &p, error)) return false;
        if (spec.oldest == 0 && p.layout.oldest != 0) sb.oldest = p.layout.oldest;
        if (spec.newest == 0 && p.layout.newest != 0) sb.newest = p.layout.newest;
    }

    const bool pointer = spec.placement == Placement::Pointer;
    const uint64_t authoritative = pointer ? probe_start + spec.authoritative_sector : p.middle;
    sb.authoritative_sector = static_cast<int32_t>(authoritative - probe_start);
    p.super_block = authoritative;
    seal(&sb);
    *plan = p;
    return true;
}

void write_recorder_volume(ImageWriter& image, const RecorderVolumeSpec& spec,
                           const RecorderPlan& plan) {
    DvrSuperBlock good = plan.sb;
    apply_damage(&good, spec.damage);
    const uint64_t base = plan.origin;
    write_sb(image, base + plan.super_block, good);
    if (!plan.layout.channels.empty()) write_tables(image, plan);

    std::vector<PointerCopy> copies = spec.pointer_copies;
    if (spec.placement == Placement::Pointer) {
        // The middle copy is torn, so the probe turns to the pointer copies.
        DvrSuperBlock torn = plan.sb;
        torn.unused24[9] += 0x5A5A;
        write_sb(image, base + plan.middle, torn);
        if (copies.empty()) copies.push_back(PointerCopy{});
    }
    for (const PointerCopy& c : copies) {
        DvrSuperBlock copy = plan.sb;
        if (c.version) copy.version = *c.version;
        if (c.word9) copy.authoritative_sector = *c.word9;
        if (c.bad_magic) copy.magic = kDvrMagic ^ 0x00010000u;
        seal(&copy);
        if (c.bad_checksum) copy.unused24[9] += 1;
        write_sb(image, base + plan.probe_start + c.sector, copy);
    }
}

}  // namespace sample
