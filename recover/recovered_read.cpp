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
    const uint64_t bytes = uint64_t{audio.length} + kTrailerSize;
    std::vector<uint8_t> read;
    const uint8_t* data = nullptr;
    if (const int32_t rc = read_area_bytes(*entry, audio.image_offset, bytes, &read, &data);
        rc != 0) {
        return rc;
    }
    AudioFields fields;
    if (check_audio(data, bytes, &fields) != RecordVerdict::Whole || fields.length != audio.length ||
        fields.time != audio.time) {
        return DVR_EBROKEN;
    }
    record->assign(data, data + bytes);
    return 0;
}

}  // namespace recover
