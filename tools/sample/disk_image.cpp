// Puts areas on a disk: a partition table, a bare volume or an MS boot sector.
#include <cstring>

#include "tools/sample/backup_disk.h"
#include "tools/sample/recorder_volume.h"
#include "tools/sample/sample.h"

namespace sample {
namespace {

constexpr uint32_t kFirstPartitionSector = 2048;

// Writes one area; probe_size is what the scan gives the recorder probe for this area.
bool write_area(ImageWriter& image, const AreaSpec& area, uint64_t origin, uint64_t probe_start,
                uint64_t probe_size, uint64_t area_sectors, ImageSummary* summary,
                std::string* error) {
    VolumeSummary v;
    v.origin = origin;
    v.kind = area.kind;
    v.probe_start = probe_start;
    if (area.kind == AreaKind::Recorder) {
        RecorderPlan plan;
        if (!plan_recorder_volume(area.recorder, origin, probe_start, probe_size, area_sectors,
                                  &plan, error)) {
            return false;
        }
        write_recorder_volume(image, area.recorder, plan);
        v.super_block_sector = plan.super_block;
        v.created = plan.sb.created;
    } else if (area.kind == AreaKind::Backup) {
        BackupPlan plan;
        if (!plan_backup_disk(area.backup, origin, area_sectors, &plan, error)) return false;
        write_backup_disk(image, area.backup, plan);
        v.created = plan.sb.created;
    }
    summary->volumes.push_back(v);
    return true;
}

bool write_partitioned(ImageWriter& image, const DiskSpec& spec, ImageSummary* summary,
                       std::string* error) {
    if (spec.partitions.size() > kPartitionEntries) {
        *error = "a partition table has at most 4 entries";
        return false;
    }
    unsigned char mbr[kSectorSize] = {};
    uint64_t next = kFirstPartitionSector;
    for (size_t i = 0; i < spec.partitions.size(); ++i) {
        const PartitionSpec& p = spec.partitions[i];
        PartitionEntry e{};
        e.boot_indicator = p.bootable ? 0x80 : 0x00;
        e.type_byte = p.type_byte;
        e.start_sector = p.start ? p.start : static_cast<uint32_t>(next);
        e.sector_count = p.count;
        std::memcpy(mbr + kPartitionTableOffset + i * sizeof e, &e, sizeof e);
        if (p.count == 0) continue;
        next = uint64_t{e.start_sector} + e.sector_count;
        // Partitions that reach past the disk are allowed in the table (damaged disks) but
        // their content is only written when it fits.
        if (p.area.kind == AreaKind::Empty || next > spec.total_sectors) continue;
        if (!write_area(image, p.area, e.start_sector, 0, e.sector_count, e.sector_count, summary,
                        error)) {
            return false;
        }
    }
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    image.write(0, mbr, sizeof mbr);
    return true;
}

void write_ms_boot_sector(ImageWriter& image) {
    unsigned char boot[kSectorSize] = {0xEB, 0x52, 0x90};
    std::memcpy(boot + 3, "NTFS    ", 8);
    boot[510] = 0x55;
    boot[511] = 0xAA;
    image.write(0, boot, sizeof boot);
}

}  // namespace

int write_image(const std::string& path, const DiskSpec& spec, ImageSummary* summary,
                std::string* error) {
    ImageSummary local;
    ImageSummary* out = summary ? summary : &local;
    *out = ImageSummary{};
    out->path = path;
    std::string err;
    ImageWriter image;
    bool ok = image.create(path, spec.total_sectors);
    if (ok) {
        switch (spec.layout) {
            case DiskLayout::Partitioned:
                ok = write_partitioned(image, spec, out, &err);
                break;
            case DiskLayout::Bare:
                // The scan probes a bare disk with the whole disk's size, also from 2552.
                ok = write_area(image, spec.bare, 0, spec.bare_start, spec.total_sectors,
                                spec.total_sectors, out, &err);
                break;
            case DiskLayout::MsBoot:
                write_ms_boot_sector(image);
                break;
        }
        for (const Overwrite& o : spec.overwrites) image.write(o.sector, o.bytes.data(), o.bytes.size());
    }
    if (!image.close() && err.empty()) err = image.error();
    if (!ok && err.empty()) err = image.error();
    if (!err.empty()) {
        if (error) *error = err;
        return -1;
    }
    return 0;
}

}  // namespace sample
