#include "playback/read_ahead.h"

#include <cstring>
#include <memory>
#include <new>

#include "disk/disk.h"

namespace {

// What one descriptor's open read ahead. The bytes of one open of a channel never change (the
// disk is only read), so they stay good for as long as the open lasts.
struct Ahead {
    uint64_t serial = 0;       // the open the bytes belong to; 0 = nothing held
    ChannelPosition next{};    // the file position at bytes[used]
    int32_t used = 0;
    int32_t size = 0;
    ChannelPosition last_end{};  // where the last read of this open ended
    uint64_t last_serial = 0;
    std::unique_ptr<uint8_t[]> bytes;
};

Ahead& ahead_of(int32_t fd) {
    static Ahead table[kDescriptorCount];
    return table[fd];
}

// How far position b lies ahead of a, when both are in one block; -1 when that is unknown (a
// block's successor depends on the channel's map) or b lies behind.
int64_t ahead_by(const ChannelPosition& a, const ChannelPosition& b) {
    if (a.block != b.block || b.offset < a.offset) return -1;
    return int64_t{b.offset} - a.offset;
}

int32_t plain_read(Ahead& a, int32_t fd, uint64_t serial, void* buffer, int32_t length) {
    a.serial = 0;
    const int32_t n = backup_read(fd, buffer, length);
    a.last_serial = serial;
    if (n < 0 || backup_tell(fd, &a.last_end) != 0) a.last_serial = 0;
    return n;
}

}  // namespace

void read_ahead_clear() {
    for (int32_t fd = 0; fd < kDescriptorCount; ++fd) ahead_of(fd) = Ahead{};
}

int32_t read_ahead_read(int32_t fd, void* buffer, int32_t length) {
    const uint64_t serial = backup_open_serial(fd);
    ChannelPosition at{};
    if (serial == 0 || length <= 0 || buffer == nullptr || backup_tell(fd, &at) != 0) {
        return backup_read(fd, buffer, length);
    }
    Ahead& a = ahead_of(fd);
    // Readers skip small pieces (a GOP's trailer) between reads: still within what was read.
    const int64_t skipped = a.serial == serial ? ahead_by(a.next, at) : -1;
    if (skipped >= 0 && skipped + length <= a.size - a.used) {
        // Served from what was read ahead; the position moves over the bytes handed out.
        if (backup_lseek(fd, length, SEEK_CURRENT) == 0 && backup_tell(fd, &a.next) == 0) {
            a.used += static_cast<int32_t>(skipped);
            std::memcpy(buffer, a.bytes.get() + a.used, static_cast<size_t>(length));
            a.used += length;
            a.last_serial = serial;
            a.last_end = a.next;
            return length;
        }
        return plain_read(a, fd, serial, buffer, length);
    }
    // Only reads that follow the one before are read ahead: play backward and searches jump,
    // and reading ahead there would only read more.
    const int64_t gap = a.last_serial == serial ? ahead_by(a.last_end, at) : -1;
    const bool follows = gap >= 0 && gap < kReadAheadBytes;
    if (!follows || length >= kReadAheadBytes) return plain_read(a, fd, serial, buffer, length);
    if (!a.bytes) a.bytes.reset(new (std::nothrow) uint8_t[kReadAheadBytes]);
    if (!a.bytes) return plain_read(a, fd, serial, buffer, length);
    const int32_t n = backup_read(fd, a.bytes.get(), kReadAheadBytes);
    if (n < length) {
        // An error or the end of the data ahead: the plain read decides what the caller gets,
        // exactly as without reading ahead.
        if (n > 0) backup_lseek(fd, -int64_t{n}, SEEK_CURRENT);
        return plain_read(a, fd, serial, buffer, length);
    }
    std::memcpy(buffer, a.bytes.get(), static_cast<size_t>(length));
    if (backup_lseek(fd, -int64_t{n - length}, SEEK_CURRENT) != 0 || backup_tell(fd, &a.next) != 0) {
        a.serial = 0;
        a.last_serial = 0;
        return length;
    }
    a.serial = serial;
    a.used = length;
    a.size = n;
    a.last_serial = serial;
    a.last_end = a.next;
    return length;
}
