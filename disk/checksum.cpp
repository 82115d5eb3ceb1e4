#include <cstring>

#include "disk/disk.h"

uint32_t dvrfs_checksum(const void* data, uint32_t n) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    uint32_t sum = 0;
    for (uint32_t i = 0; i + 4 <= n; i += 4) {
        uint32_t word;
        std::memcpy(&word, bytes + i, 4);
        sum += word;
    }
    return 0u - sum;
}
