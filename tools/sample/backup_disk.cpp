#include "tools/sample/backup_disk.h"

#include <algorithm>
#include <cstring>

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
    *plan = p;
    return true;
}

std::vector<unsigned char> session_header(const SessionSpec& s) {
    std::vector<unsigned char> header(kSessionHeaderBytes, 0);
    VolumeRecord record{};
    // A name of 128 bytes or more fills the field without a terminating NUL, as a damaged disk may.
    std::memcpy(record.name, s.name.data(), std::min(s.name.size(), sizeof record.name));
    record.slot = s.slot;
    record.created = s.created ? s.created : kDefaultTime;
    record.interval = s.interval;
    record.oldest = s.oldest ? s.oldest : record.created;
    record.newest = s.newest ? s.newest : record.oldest + 3600;
    record.channel_count = s.channel_count;
    record.data_channel_count = s.data_channel_count;
    std::memcpy(header.data(), &record, sizeof record);
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

    for (const SessionSpec& s : spec.sessions) {
        const std::vector<unsigned char> header = session_header(s);
        image.write(plan.origin + session_header_sector(s.slot), header.data(), header.size());
    }
}

}  // namespace sample
