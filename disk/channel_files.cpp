// The public channel-file operations: they check descriptors and arguments, then dispatch to
// the installed driver.
#include "disk/channel_i.h"
#include "disk/disk_i.h"
#include "disk/volume_select.h"

ChannelLayer& channel_layer() {
    static ChannelLayer layer;
    return layer;
}

ChannelDescriptor* descriptor_of(int32_t fd) {
    if (fd < 0 || fd >= kDescriptorCount) return nullptr;
    ChannelDescriptor* d = &channel_layer().descriptors[fd];
    return d->record != nullptr ? d : nullptr;
}

const VolumeRecord* selected_volume() { return channel_layer().selected; }

bool volume_selected() { return selected_volume() != nullptr; }

const VolumeRecord* backup_selected_volume() { return selected_volume(); }

int32_t backup_channel_count() { return channel_layer().channel_count; }

uint64_t backup_channel_size(int32_t channel) {
    if (channel < 0 || channel >= kMaxChannels) return 0;
    return channel_layer().sizes[channel];
}

int32_t backup_mount_session(const VolumeRecord* record) {
    ChannelLayer& cl = channel_layer();
    if (cl.selected != nullptr) return DVR_EMOUNTED;
    const VolumeTable& vt = volume_table();
    if (record == nullptr || record < vt.records || record >= vt.records + vt.count ||
        record->created == 0) {
        return DVR_EINVAL;
    }
    const DriverOps* ops = disk_state().ops;
    if (ops == nullptr) return DVR_ENOTMOUNTED;
    int32_t rc = ops->load_channels(record);
    if (rc != 0) {
        cl = ChannelLayer{};
    }
    return rc;
}

int32_t backup_unmount_session() {
    ChannelLayer& cl = channel_layer();
    if (cl.open_count > 0) return DVR_EBUSY;
    if (cl.selected == nullptr) return DVR_ENOTMOUNTED;
    disk_state().ops->free_channels();
    cl = ChannelLayer{};
    return 0;
}

int32_t backup_open(int32_t channel) {
    ChannelLayer& cl = channel_layer();
    if (cl.selected == nullptr) return DVR_ENOTMOUNTED;
    if (channel < 0 || channel >= cl.channel_count) return DVR_EINVAL;
    for (int32_t fd = 0; fd < kDescriptorCount; ++fd) {
        ChannelDescriptor& d = cl.descriptors[fd];
        if (d.record != nullptr) continue;
        // Opens are numbered across mounts, so that a number never names two opens.
        static uint64_t opens = 0;
        d = ChannelDescriptor{};
        d.channel = channel;
        d.serial = ++opens;
        int32_t rc = disk_state().ops->open(&d);
        if (rc != 0) {
            d = ChannelDescriptor{};
            return rc;
        }
        ++cl.open_count;
        return fd;
    }
    return DVR_ENOSPC;
}

int32_t backup_close(int32_t fd) {
    ChannelDescriptor* d = descriptor_of(fd);
    if (d == nullptr) return DVR_EBADF;
    disk_state().ops->close(d);
    --channel_layer().open_count;
    *d = ChannelDescriptor{};
    return 0;
}

int32_t backup_read(int32_t fd, void* buffer, int32_t length) {
    ChannelDescriptor* d = descriptor_of(fd);
    if (d == nullptr) return DVR_EBADF;
    if (length < 0) return DVR_EINVAL;
    if (length == 0) return 0;
    if (buffer == nullptr) return DVR_EINVAL;
    return disk_state().ops->read(d, buffer, length);
}

int32_t backup_lseek(int32_t fd, int64_t offset, int origin) {
    ChannelDescriptor* d = descriptor_of(fd);
    if (d == nullptr) return DVR_EBADF;
    if (origin != SEEK_HEAD && origin != SEEK_CURRENT && origin != SEEK_TAIL) return DVR_EINVAL;
    return disk_state().ops->byte_seek(d, offset, origin);
}

int32_t backup_iseek(int32_t fd, const ChannelPosition* position) {
    ChannelDescriptor* d = descriptor_of(fd);
    if (d == nullptr) return DVR_EBADF;
    if (position == nullptr || position->block <= 0 || position->offset < 0) return DVR_EINVAL;
    return disk_state().ops->position_seek(d, position);
}

uint64_t backup_open_serial(int32_t fd) {
    const ChannelDescriptor* d = descriptor_of(fd);
    return d != nullptr ? d->serial : 0;
}

int32_t backup_tell(int32_t fd, ChannelPosition* position) {
    ChannelDescriptor* d = descriptor_of(fd);
    if (d == nullptr) return DVR_EBADF;
    if (position == nullptr) return DVR_EINVAL;
    *position = ChannelPosition{d->block, d->offset};
    return 0;
}

int32_t backup_image_offset(int32_t fd, uint64_t* offset) {
    ChannelDescriptor* d = descriptor_of(fd);
    if (d == nullptr) return DVR_EBADF;
    if (offset == nullptr) return DVR_EINVAL;
    if (channel_empty(*d->record)) return DVR_ENOINDEX;  // no byte of the image is its position
    const DiskState& st = disk_state();
    const ChannelSpace& space = st.ops == &kDvrfsOps ? dvrfs_space() : bkfs_space();
    const uint64_t sector = space.block_sector(d->block, d->offset);
    *offset = (sector + st.origin) * kSectorSize + static_cast<uint64_t>(d->offset) % kSectorSize;
    return 0;
}

int32_t backup_image_ranges(int32_t fd, int64_t from, int64_t length, ImageRange* ranges,
                            int32_t max) {
    ChannelDescriptor* d = descriptor_of(fd);
    if (d == nullptr) return DVR_EBADF;
    if (length < 0 || max < 0 || (max > 0 && ranges == nullptr)) return DVR_EINVAL;
    const DiskState& st = disk_state();
    const ChannelSpace& space = st.ops == &kDvrfsOps ? dvrfs_space() : bkfs_space();
    // Walked on a copy, so the descriptor itself never moves.
    ChannelDescriptor at = *d;
    if (from > 0) {
        const int32_t rc = channel_image_ranges(space, &at, from, st.origin, nullptr, 0);
        if (rc != 0) return rc;
    } else if (from < 0) {
        const int32_t rc = channel_byte_seek(space, &at, from, SEEK_CURRENT);
        if (rc != 0) return rc;
        // A seek back stops at the head: walking forward again must end where it began.
        ChannelDescriptor back = at;
        if (channel_image_ranges(space, &back, -from, st.origin, nullptr, 0) != 0 ||
            !channel_same_place(space, back, *d)) {
            return DVR_EINVAL;
        }
    }
    return channel_image_ranges(space, &at, length, st.origin, ranges, max);
}

int32_t backup_locate_index(int32_t fd, int32_t time, ChannelPosition* position) {
    ChannelDescriptor* d = descriptor_of(fd);
    if (d == nullptr) return DVR_EBADF;
    const VolumeRecord* v = selected_volume();
    // An interval of 0 or above the signed range cannot round a time.
    if (v->interval == 0 || v->interval > INT32_MAX) return DVR_ENOINDEX;
    const int32_t interval = static_cast<int32_t>(v->interval);
    const int64_t t = int64_t{time / interval} * interval;
    if (t < int64_t{volume_first_indexed_time(*v)} || t > int64_t{v->newest}) return DVR_ENOINDEX;
    return disk_state().ops->time_seek(d, static_cast<int32_t>(t), position);
}
