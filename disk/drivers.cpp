// The two drivers' operation tables. Channel operations are filled in by the channel layer.
#include "disk/disk_i.h"

const DriverOps kDvrfsOps = {
    .open = nullptr,
    .close = nullptr,
    .read = nullptr,
    .time_seek = nullptr,
    .position_seek = nullptr,
    .byte_seek = nullptr,
    .mount = dvrfs_mount,
    .unmount = dvrfs_unmount,
    .load_channels = nullptr,
    .free_channels = nullptr,
};

const DriverOps kBkfsOps = {
    .open = nullptr,
    .close = nullptr,
    .read = nullptr,
    .time_seek = nullptr,
    .position_seek = nullptr,
    .byte_seek = nullptr,
    .mount = bkfs_mount,
    .unmount = bkfs_unmount,
    .load_channels = nullptr,
    .free_channels = nullptr,
};
