#include "disk/partition_types.h"

#include <algorithm>
#include <iterator>

#include "disk/disk.h"
#include "disk/format.h"

namespace {

constexpr uint8_t kMsBytes[] = {0x01, 0x04, 0x05, 0x06, 0x07, 0x0B, 0x0C, 0x0E, 0x0F, 0x14,
                                0x16, 0x1B, 0x1C, 0x1E, 0x86, 0x87, 0x8B, 0x8C, 0x8D, 0x90,
                                0x91, 0x92, 0x97, 0x98, 0x9A, 0x9B, 0xC6, 0xC7, 0xFE};
constexpr uint8_t kLinuxBytes[] = {0x41, 0x43, 0x81, 0x82, 0x83, 0x85, 0x88,
                                   0x8A, 0x8E, 0x93, 0xC2, 0xC3, 0xFD};

bool listed(const uint8_t* first, const uint8_t* last, uint8_t b) {
    return std::find(first, last, b) != last;
}

}  // namespace

uint32_t fs_type_from_type_byte(uint8_t b) {
    if (listed(std::begin(kMsBytes), std::end(kMsBytes), b)) return FS_MS;
    if (listed(std::begin(kLinuxBytes), std::end(kLinuxBytes), b)) return FS_LINUX;
    return FS_OTHER;
}

uint32_t partition_type_from_type_byte(uint8_t b) {
    if (b == kPartTypeRecorder) return FS_DVR20;
    if (b == kPartTypeBackup) return FS_BACKUP10;
    return fs_type_from_type_byte(b);
}
