// Public interface of the recorder disk layer: error codes, time text, the trace, the disk
// table with its scan and mount, sector reads and the volume records of the mounted disk.
#pragma once

#include <cstdint>

// --- Error codes ------------------------------------------------------------------------------
enum DvrfsError : int32_t {
    DVR_ENOMEM_BUFFER = -1,  // also the storage layer's own refusal
    DVR_ENOSPC = -2,         // allocation failed, or the descriptor table is full
    DVR_EWRITER = -3,
    DVR_EINTERNAL = -4,
    DVR_EPERM = -5,
    DVR_ENOINDEX = -6,
    DVR_EBADF = -7,
    DVR_EWOULDBLOCK = -8,
    DVR_ENEED_RECYCLE = -9,
    DVR_EINVAL = -10,
    DVR_EBUSY = -11,
    DVR_ENOFS = -12,
    DVR_EBROKEN = -13,
    DVR_ENODISK = -14,
    DVR_ENEED_FSCK = -15,
    DVR_ELOCKED = -16,
    DVR_EDISK = -17,
    DVR_ENODRIVER = -18,
    DVR_EMOUNTED = -19,
    DVR_EVERSION = -20,
    DVR_ENOTSUP = -21,
    DVR_ENOTMOUNTED = -22,
    DVR_EFREEMAP = -50,
    DVR_ECHECKSUM = -51,
    DVR_EOFFSET = -52,
    DVR_ECHANNEL = -53,
    DVR_ECDOPEN = -54,
    DVR_ENOCD = -55,
    DVR_EBADCD = -56,
    DVR_ECDRECORD = -57,
    DVR_ENOBACKUP = -58,
    DVR_ENOCHANNEL = -59,
};

// Message of an error code. Unknown codes share one buffer that the next unknown code reuses.
const char* dvrfs_strerror(int32_t code);

// --- Time text ------------------------------------------------------------------------------
// "NULL" for 0; else "YYYY/MM/DD-hh:mm:ss" (long) or "YYMMDD:hhmmss" (short), recorder clock.
// The result lives in a ring of 8 buffers: it stays valid for the next 7 calls.
const char* dvrfs_time_string(uint32_t time, int short_form);

// --- Trace ----------------------------------------------------------------------------------
void dvrfs_set_trace(bool on);
bool dvrfs_trace_enabled();
void dvrfs_trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// --- Disk table -----------------------------------------------------------------------------
enum FsType : uint32_t {
    FS_NONE = 0,
    FS_OTHER = 1,
    FS_MS = 2,
    FS_LINUX = 3,
    FS_DVR20 = 4,
    FS_DVR30 = 5,
    FS_PSOS = 6,
    FS_BACKUP10 = 7,
    FS_BACKUP20 = 8,
    FS_WHOLE = 9,
};
const char* fs_type_name(uint32_t code);  // "WHAT?" for codes outside the table

inline constexpr int kDiskTableSize = 30;
inline constexpr int kDevicePathSize = 128;

struct DiskEntry {
    char device_path[kDevicePathSize];  // NUL-terminated path that opened the drive
    uint32_t fs_type;                    // what the probe found in the area
    uint32_t partition;                  // 1..4 for a table entry, 0 for a whole disk
    uint32_t partition_type;             // from the type byte; whole disk: same as fs_type
    uint32_t bootable;                   // boot indicator 0x80
    uint64_t start_sector;
    uint64_t sector_count;
};
static_assert(sizeof(DiskEntry) == 160);

// Rebuilds the disk table from drives 1..29; returns the entry count or -19 while mounted.
int32_t backup_scan_disks();
// The table filled by the last scan and its entry count.
const DiskEntry* backup_disk_table();
int32_t backup_disk_count();

int32_t backup_mount_disk(const DiskEntry* entry);
int32_t backup_unmount_disk();
const DiskEntry* backup_mounted_disk();  // nullptr when nothing is mounted

// Reads count whole sectors relative to the mounted origin: 0 or -17.
int32_t hdd_read_sectors(uint64_t sector, uint32_t count, void* buffer);
// Sector reads the drive failed or cut short since the last clear. Layers above report many
// such failures as the end of the data; a caller can tell its results are partial by this.
uint64_t hdd_failed_reads();
void hdd_clear_failed_reads();

// Display copy of the mounted area's recorder super block (136 bytes).
int32_t hdd_read_super_block(uint64_t size, void* buffer);
// The super block the mount retained, nullptr when no disk of that kind is mounted; the
// layouts are in disk/format.h.
struct DvrSuperBlock;
struct BackupSuperBlock;
const DvrSuperBlock* dvrfs_super_block();
const BackupSuperBlock* bkfs_super_block();

// --- Volume records ---------------------------------------------------------------------------
inline constexpr int kVolumeRecordCount = 32;

struct VolumeRecord {
    char name[128];               // "PSOS" or the session name, NUL-terminated
    uint32_t slot;                // session slot on a backup disk, 0 on a recorder volume
    uint32_t created;             // 0 marks an unused record
    uint32_t interval;            // index interval in seconds
    uint32_t oldest;
    uint32_t newest;
    uint32_t channel_count;       // system channels included
    uint32_t data_channel_count;  // columns of an index record
    uint8_t extra[20];
};
static_assert(sizeof(VolumeRecord) == 176);

// The oldest recording's time rounded down to the index interval: the time of the volume's
// first index record and search-log record. The index tells no two times within one interval
// apart, so every comparison with the oldest time uses this one. An interval that cannot round
// (0, or beyond the signed range) leaves the time as it is.
uint32_t volume_first_indexed_time(const VolumeRecord& volume);

const VolumeRecord* backup_volume_records();
int32_t backup_volume_count();

// Word checksum: two's complement of the sum of the n / 4 little-endian words (0 = valid).
uint32_t dvrfs_checksum(const void* data, uint32_t n);

// --- Channel files of the selected volume -----------------------------------------------------
inline constexpr int kMaxChannels = 32;
inline constexpr int kDescriptorCount = 32;

enum ChannelRole : int32_t {
    DVR_CH_SUPER = 0,  // super index: one entry per recorded hour
    DVR_CH_INDEX = 1,  // index: one record per index interval
    DVR_CH_SLOG = 2,   // search log
};

// A position in a channel: block number and byte offset within that block.
struct ChannelPosition {
    int32_t block;
    int32_t offset;
};

enum SeekOrigin : int { SEEK_HEAD = 0, SEEK_CURRENT = 1, SEEK_TAIL = 2 };

// Selects a volume record of the mounted disk and loads its channel tables.
int32_t backup_mount_session(const VolumeRecord* record);
int32_t backup_unmount_session();
const VolumeRecord* backup_selected_volume();  // nullptr when none is selected
int32_t backup_channel_count();                // 0 when none is selected
// Size in bytes of a channel of the selected volume (0 for channels without data).
uint64_t backup_channel_size(int32_t channel);

int32_t backup_open(int32_t channel);  // descriptor number 0..31 or an error
int32_t backup_close(int32_t fd);
int32_t backup_read(int32_t fd, void* buffer, int32_t length);
int32_t backup_lseek(int32_t fd, int64_t offset, int origin);
int32_t backup_iseek(int32_t fd, const ChannelPosition* position);
int32_t backup_tell(int32_t fd, ChannelPosition* position);
// Byte offset in the drive or image as a whole (not in the partition) of the descriptor's
// current position, so that what a channel delivered can be traced to the disk's sectors and
// read again from the image. 0, or a negative error code.
int32_t backup_image_offset(int32_t fd, uint64_t* offset);
// A number that names this open of the descriptor and no other, across mounts; 0 when the
// descriptor is not open. Bytes read through one open never change, so a reader may keep them.
uint64_t backup_open_serial(int32_t fd);
// A stretch of bytes in the drive or image as a whole.
struct ImageRange {
    uint64_t offset;
    uint64_t length;
};
// Where in the drive or image lie the length bytes of the channel that begin `from` bytes after
// the descriptor's position (before it when negative): up to max ranges in channel order,
// pieces that follow each other on the disk joined into one. The position does not move.
// Returns the number of ranges, DVR_EINVAL when the bytes reach outside the stored data or
// need more than max ranges, or another negative error code.
int32_t backup_image_ranges(int32_t fd, int64_t from, int64_t length, ImageRange* ranges,
                            int32_t max);
int32_t backup_locate_index(int32_t fd, int32_t time, ChannelPosition* position);
