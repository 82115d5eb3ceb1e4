// recover_read_audio: an audio record found by the scan, read again and checked again.
#include <vector>

#include "disk/disk.h"
#include "disk/format.h"
#include "playback/record_format.h"
#include "recover/carver_block.h"
#include "recover/recovered_export.h"

namespace recover {

int32_t recover_read_audio(const RecoveredAudio& audio, std::vector<uint8_t>* record) {
    if (record == nullptr) return DVR_EINVAL;
    record->clear();
    const DiskEntry* entry = backup_mounted_disk();
    if (entry == nullptr) return DVR_ENOTMOUNTED;
    if (audio.length < static_cast<uint32_t>(kAudioHeaderSize) ||
        audio.length > static_cast<uint32_t>(kAudioHeaderSize + kMaxAudioSample)) {
        return DVR_EINVAL;
    }
    const uint64_t origin = entry->start_sector * kSectorSize;
    const uint64_t area = entry->sector_count * kSectorSize;
    const uint64_t bytes = uint64_t{audio.length} + kTrailerSize;
    if (audio.image_offset < origin || audio.image_offset - origin > area ||
        area - (audio.image_offset - origin) < bytes) {
        return DVR_EINVAL;
    }
    const uint64_t at = audio.image_offset - origin;
    const uint64_t first = at / kSectorSize;
    const uint64_t sectors = (at + bytes + kSectorSize - 1) / kSectorSize - first;
    std::vector<uint8_t> read(sectors * kSectorSize);
    const int32_t rc = hdd_read_sectors(first, static_cast<uint32_t>(sectors), read.data());
    if (rc != 0) return rc;
    const uint8_t* data = read.data() + (at - first * kSectorSize);
    AudioFields fields;
    if (check_audio(data, bytes, &fields) != RecordVerdict::Whole || fields.length != audio.length ||
        fields.time != audio.time) {
        return DVR_EBROKEN;
    }
    record->assign(data, data + bytes);
    return 0;
}

}  // namespace recover
