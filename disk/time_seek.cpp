// Time seek through the hourly super index and the 15-second index, shared by both drivers.
#include "disk/channel_i.h"
#include "disk/disk_i.h"
#include "disk/volume_select.h"

namespace {

constexpr int32_t kSuperIndexEntrySize = 24;

struct SuperIndexEntry {
    uint32_t index_block;
    uint32_t index_offset;
    uint32_t slog_block;
    uint32_t slog_offset;
    uint32_t time;
    uint32_t channel_mask;
};
static_assert(sizeof(SuperIndexEntry) == kSuperIndexEntrySize);

constexpr int64_t kSearchLogRecordSize = 16;
constexpr uint32_t kMaxIndexRecordWords = 1 + 2 * kMaxChannels;

// Positions stored on disk are u32; ones that do not fit the signed form are not positions.
bool to_position(uint32_t block, uint32_t offset, ChannelPosition* p) {
    if (block == 0 || block > INT32_MAX || offset > INT32_MAX) return false;
    *p = ChannelPosition{static_cast<int32_t>(block), static_cast<int32_t>(offset)};
    return true;
}

// Descriptors the seek opens for itself; closed on every way out.
struct ScratchDescriptors {
    int32_t super = -1;
    int32_t index = -1;
    ~ScratchDescriptors() {
        if (super >= 0) backup_close(super);
        if (index >= 0) backup_close(index);
    }
};

int32_t read_super_entry(int32_t fd, int64_t offset, bool recorder_trace, SuperIndexEntry* e) {
    if (offset != 0) {
        int32_t rc = backup_lseek(fd, offset, SEEK_HEAD);
        if (rc != 0) {
            dvrfs_trace("Fail to lseek super index");
            return rc;
        }
    }
    int32_t n = backup_read(fd, e, kSuperIndexEntrySize);
    if (n < 0) {
        dvrfs_trace("Fail to read super index");
        return n;
    }
    if (n != kSuperIndexEntrySize) {
        if (recorder_trace) {
            dvrfs_trace("Fail to read super index by Super Index Size -->%d", n);
        } else {
            dvrfs_trace("Fail to read super index by Super Index Size");
        }
        return DVR_ENOINDEX;
    }
    return 0;
}

// Moves fd to the hour's first position, then n records further on.
int32_t seek_within_hour(int32_t fd, const ChannelPosition& start, int64_t forward,
                         const char* iseek_failure) {
    int32_t rc = backup_iseek(fd, &start);
    if (rc != 0) {
        dvrfs_trace("%s", iseek_failure);
        return rc;
    }
    if (forward != 0) {
        rc = backup_lseek(fd, forward, SEEK_CURRENT);
        if (rc != 0) {
            dvrfs_trace("Fail to lseek in index Channel");
            return rc;
        }
    }
    return 0;
}

int32_t seek_media(int32_t fd, const SuperIndexEntry& e, int64_t n, int64_t record_size,
                   int32_t index_fd, uint32_t column) {
    ChannelPosition start;
    if (!to_position(e.index_block, e.index_offset, &start)) return DVR_ENOINDEX;
    int32_t rc = seek_within_hour(index_fd, start, n * record_size,
                                  "Fail to iseek to hour starting point");
    if (rc != 0) return rc;
    uint32_t record[kMaxIndexRecordWords];
    const int32_t size = static_cast<int32_t>(record_size);
    int32_t got = backup_read(index_fd, record, size);
    if (got < 0) {
        dvrfs_trace("Fail to read index");
        return got;
    }
    if (got != size) {
        dvrfs_trace("Fail to read index by Index Size");
        return DVR_ENOINDEX;
    }
    ChannelPosition target;
    rc = DVR_ENOINDEX;
    if (to_position(record[1 + 2 * column], record[2 + 2 * column], &target)) {
        rc = backup_iseek(fd, &target);
    }
    if (rc != 0) dvrfs_trace("Fail to lseek to designated point");
    return rc;
}

}  // namespace

uint32_t volume_first_indexed_time(const VolumeRecord& v) {
    if (v.interval == 0 || v.interval > INT32_MAX) return v.oldest;
    return v.oldest / v.interval * v.interval;
}

int32_t index_time_seek(const ChannelSpace& space, ChannelDescriptor* d, int32_t time,
                        ChannelPosition* out, bool recorder_trace) {
    if (channel_empty(*d->record)) return DVR_ENOINDEX;  // no time lies in a channel never written
    const VolumeRecord& v = *selected_volume();
    const int32_t fd = static_cast<int32_t>(d - channel_layer().descriptors);
    // Entry 0 is the hour that holds the oldest time, wherever in its hour that time lies.
    const int64_t hour = int64_t{time / 3600} - int64_t{v.oldest / 3600};
    if (hour < 0) return DVR_ENOINDEX;  // before the first hour the super index holds
    const int64_t super_offset = hour * kSuperIndexEntrySize;
    const int64_t interval = v.interval;
    const int64_t record_size = 4 + 8 * int64_t{v.data_channel_count};

    // The index record is read whole, so its columns must fit the record buffer.
    if (v.data_channel_count > kMaxChannels || d->record->index_column >= kMaxChannels) {
        return DVR_ENEED_FSCK;
    }

    if (d->channel == DVR_CH_SUPER) {
        // A byte seek clamps at the tail; an hour past the stored entries has no entry.
        if (super_offset + kSuperIndexEntrySize > channel_stored_bytes(space, *d->record)) {
            return DVR_ENOINDEX;
        }
        int32_t rc = backup_lseek(fd, super_offset, SEEK_HEAD);
        if (rc != 0) {
            dvrfs_trace("Fail to lseek super index");
            return rc;
        }
    } else {
        ScratchDescriptors scratch;
        scratch.super = backup_open(DVR_CH_SUPER);
        if (scratch.super < 0) {
            dvrfs_trace("Fail to open Super Index Channel");
            return scratch.super;
        }
        if (d->channel >= 3) {
            scratch.index = backup_open(DVR_CH_INDEX);
            if (scratch.index < 0) {
                dvrfs_trace("Fail to open Index Channel");
                return scratch.index;
            }
        }
        SuperIndexEntry e;
        int32_t rc = read_super_entry(scratch.super, super_offset, recorder_trace, &e);
        if (rc != 0) return rc;
        const int64_t n = (int64_t{time} - int64_t{e.time}) / interval;
        // A record before the hour's first one is not in this hour's run of records.
        if (n < 0) return DVR_ENOINDEX;
        ChannelPosition start;
        if (d->channel == DVR_CH_INDEX) {
            if (!to_position(e.index_block, e.index_offset, &start)) return DVR_ENOINDEX;
            rc = seek_within_hour(fd, start, n * record_size, "Fail to lseek to hour starting point");
        } else if (d->channel == DVR_CH_SLOG) {
            if (!to_position(e.slog_block, e.slog_offset, &start)) return DVR_ENOINDEX;
            rc = seek_within_hour(fd, start, n * kSearchLogRecordSize,
                                  "Fail to lseek to hour starting point");
        } else {
            if (d->record->index_column >= v.data_channel_count) return DVR_ENEED_FSCK;
            rc = seek_media(fd, e, n, record_size, scratch.index, d->record->index_column);
        }
        if (rc != 0) return rc;
    }
    if (out != nullptr) *out = ChannelPosition{d->block, d->offset};
    return 0;
}
