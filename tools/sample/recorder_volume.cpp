#include "tools/sample/recorder_volume.h"

#include <algorithm>
#include <cstring>

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

void write_sb(ImageWriter& image, uint64_t sector, const DvrSuperBlock& sb) {
    unsigned char buf[kSectorSize] = {};
    std::memcpy(buf, &sb, sizeof sb);
    image.write(sector, buf, sizeof buf);
}

}  // namespace

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
    const uint64_t end = std::min(area_sectors, probe_start + probe_size);
    if (p.middle + 8 + per_block > end || sb.area1_sector + per_block > p.middle) {
        *error = "the area is too small for a recorder volume with this block size";
        return false;
    }
    const uint64_t area1_blocks = (p.middle - sb.area1_sector) / per_block;
    sb.area2_sector = static_cast<uint32_t>(align8(p.middle + 1));
    const uint64_t area2_blocks = (end - sb.area2_sector) / per_block;
    sb.area2_block = static_cast<uint32_t>(area1_blocks + 1);
    sb.max_block = static_cast<int32_t>(area1_blocks + area2_blocks);

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
