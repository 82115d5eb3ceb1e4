#include <cstring>

#include "disk/channel_i.h"
#include "disk/disk_i.h"

DiskState& disk_state() {
    static DiskState state;
    return state;
}

VolumeTable& volume_table() {
    static VolumeTable table;
    return table;
}

void volume_table_clear() { volume_table() = VolumeTable{}; }

const DiskEntry* backup_disk_table() { return disk_state().table; }

int32_t backup_disk_count() { return disk_state().count; }

const DiskEntry* backup_mounted_disk() { return disk_state().mounted; }

const VolumeRecord* backup_volume_records() { return volume_table().records; }

int32_t backup_volume_count() { return volume_table().count; }

void disk_layer_reset() {
    for (ChannelDescriptor& d : channel_layer().descriptors) d = ChannelDescriptor{};
    channel_layer() = ChannelLayer{};
    dvrfs_free_channels();
    bkfs_free_session();
    dvrfs_unmount();
    bkfs_unmount();
    disk_state() = DiskState{};
    volume_table_clear();
    hdd_clear_failed_reads();
}
