// Internals of the disk layer shared by its files and its tests: the process-wide disk state,
// the volume record table, the driver table and the probes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "disk/disk.h"
#include "disk/format.h"
#include "platform/drive.h"

struct ChannelDescriptor;
struct ChannelPosition;

// Operations of one file-system driver, in the order the channel layer keeps them.
struct DriverOps {
    int32_t (*open)(ChannelDescriptor* d);
    int32_t (*close)(ChannelDescriptor* d);
    int32_t (*read)(ChannelDescriptor* d, void* buffer, int32_t length);
    int32_t (*time_seek)(ChannelDescriptor* d, int32_t time, ChannelPosition* out);
    int32_t (*position_seek)(ChannelDescriptor* d, const ChannelPosition* position);
    int32_t (*byte_seek)(ChannelDescriptor* d, int64_t offset, int origin);
    int32_t (*mount)();
    int32_t (*unmount)();
    int32_t (*load_channels)(const VolumeRecord* record);
    int32_t (*free_channels)();
};

extern const DriverOps kDvrfsOps;  // recorder volume, file-system type 6
extern const DriverOps kBkfsOps;   // backup disk, types 7 and 8

// The one disk that may be open at a time, and the table of what the last scan found.
struct DiskState {
    DiskEntry table[kDiskTableSize] = {};
    int32_t count = 0;
    std::unique_ptr<platform::Drive> drive;
    std::string drive_path;            // what the open drive was opened by, for the trace
    uint64_t origin = 0;               // start sector of the mounted area
    const DiskEntry* mounted = nullptr;
    const DriverOps* ops = nullptr;
};
DiskState& disk_state();

struct VolumeTable {
    VolumeRecord records[kVolumeRecordCount] = {};
    int32_t count = 0;
};
VolumeTable& volume_table();
void volume_table_clear();

// Returns the disk layer to its state at program start (tests only): closes the drive and
// forgets the table, the mount, the retained super blocks, the volume records, the selected
// volume and every descriptor.
void disk_layer_reset();

// --- Recorder volume driver -------------------------------------------------------------------
// Probes [start, start + size) for a recorder super block; keep retains it for the mount.
int32_t _hdd_blk_read(uint64_t start, uint64_t size, int keep);
int32_t dvrfs_mount();
int32_t dvrfs_unmount();
uint64_t dvrfs_block_sector(int32_t block, int32_t offset);

// --- Backup driver ----------------------------------------------------------------------------
int32_t backup_sb_read(uint64_t start, int keep);
int32_t bkfs_mount();
int32_t bkfs_unmount();
uint64_t bkfs_block_sector(int32_t block, int32_t offset);
