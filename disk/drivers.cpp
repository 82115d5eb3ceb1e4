// The two drivers' operation tables: the recorder volume walks each channel's map as a ring,
// the backup disk walks its session's shared map straight up.
#include "disk/channel_i.h"
#include "disk/disk_i.h"

namespace {

int32_t close_nothing(ChannelDescriptor*) { return 0; }

int32_t dvrfs_read(ChannelDescriptor* d, void* buffer, int32_t length) {
    return channel_read(dvrfs_space(), d, buffer, length);
}
int32_t dvrfs_time_seek(ChannelDescriptor* d, int32_t time, ChannelPosition* out) {
    return index_time_seek(dvrfs_space(), d, time, out, true);
}
int32_t dvrfs_position_seek(ChannelDescriptor* d, const ChannelPosition* p) {
    return channel_position_seek(dvrfs_space(), d, p, dvrfs_super_block()->max_block);
}
int32_t dvrfs_byte_seek(ChannelDescriptor* d, int64_t offset, int origin) {
    return channel_byte_seek(dvrfs_space(), d, offset, origin);
}

int32_t bkfs_read(ChannelDescriptor* d, void* buffer, int32_t length) {
    return channel_read(bkfs_space(), d, buffer, length);
}
int32_t bkfs_time_seek(ChannelDescriptor* d, int32_t time, ChannelPosition* out) {
    return index_time_seek(bkfs_space(), d, time, out, false);
}
int32_t bkfs_position_seek(ChannelDescriptor* d, const ChannelPosition* p) {
    // Block numbers below word 4 exist on a backup disk.
    return channel_position_seek(bkfs_space(), d, p, bkfs_super_block()->block_limit - 1);
}
int32_t bkfs_byte_seek(ChannelDescriptor* d, int64_t offset, int origin) {
    return channel_byte_seek(bkfs_space(), d, offset, origin);
}

}  // namespace

const DriverOps kDvrfsOps = {
    .open = dvrfs_open_channel,
    .close = close_nothing,
    .read = dvrfs_read,
    .time_seek = dvrfs_time_seek,
    .position_seek = dvrfs_position_seek,
    .byte_seek = dvrfs_byte_seek,
    .mount = dvrfs_mount,
    .unmount = dvrfs_unmount,
    .load_channels = dvrfs_load_channels,
    .free_channels = dvrfs_free_channels,
};

const DriverOps kBkfsOps = {
    .open = bkfs_open_channel,
    .close = close_nothing,
    .read = bkfs_read,
    .time_seek = bkfs_time_seek,
    .position_seek = bkfs_position_seek,
    .byte_seek = bkfs_byte_seek,
    .mount = bkfs_mount,
    .unmount = bkfs_unmount,
    .load_channels = bkfs_load_session,
    .free_channels = bkfs_free_session,
};
