// The sample builder: writes recorder disks and backup disks as a recorder would, into sparse
// image files, with switches that damage what tests need damaged. A disk is described by a
// DiskSpec (partition table or bare disk) whose areas hold a recorder volume or a backup disk.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "disk/format.h"

namespace sample {

// Bytes a channel received at a recorder time. A channel's writes come in time order.
struct ChannelWrite {
    uint32_t time = 0;
    std::vector<uint8_t> bytes;
};

// What a channel holds and where the builder puts it.
struct ChannelData {
    int32_t channel = 3;
    std::vector<ChannelWrite> writes;
    uint32_t head_slot = 0;    // recorder: ring slot of the first block (near the end: wraps)
    uint32_t head_offset = 0;  // bytes of older, overwritten data before the first stored byte
    std::optional<uint32_t> first_block;   // recorder: allocate blocks from here (data area 2)
    std::optional<uint32_t> index_column;  // backup: default channel - 3
    std::optional<uint32_t> zero_block;    // damage: the map slot of this block (0-based) is 0
    // Damage: the image ends at the sector that holds this write's first byte (0-based), as a
    // copy of the disk that was cut short there.
    std::optional<size_t> image_ends_at_write;
    std::optional<uint64_t> size;          // default: the bytes written
};

// The channels of a recorder volume or a backup session. With build_index, channels 0, 1 and 2
// (super index, index, search log) are made from the writes' times; channels without writes get
// one empty block so that they can be opened.
struct VolumeContent {
    std::vector<ChannelData> channels;
    bool build_index = true;
    uint32_t index_head_slot = 0;  // ring slot of the index channels' first blocks
    std::optional<uint32_t> index_end;  // damage: the index stops before the newest recording
    // Damage: bytes appended to a built channel 0, 1 or 2 (a torn last record).
    std::map<int32_t, std::vector<uint8_t>> trailing_bytes;
};

// Where the probe finds the recorder super block.
enum class Placement {
    Middle,   // a valid copy in the middle sector of the probed area
    Pointer,  // the middle sector fails its checksum; a pointer copy at 0, 10 or 20 names
              // the authoritative copy through word 9
};

// A copy of the super block at a pointer sector (0, 10 or 20 of the probed area).
struct PointerCopy {
    uint32_t sector = 0;                  // 0, 10 or 20, relative to the probe start
    std::optional<uint32_t> version;      // default: the volume's version
    bool bad_checksum = false;
    bool bad_magic = false;
    std::optional<int32_t> word9;         // default: the authoritative copy's sector
};

// Damage switches, applied to the copy that the probe would accept.
struct SuperBlockDamage {
    bool checksum = false;
    bool magic = false;   // wrong magic with a valid checksum
    bool version = false; // version 20 with a valid checksum
    bool created_zero = false;
};

struct RecorderVolumeSpec {
    uint32_t version = 19;
    uint32_t created = 0;     // 0: the builder's default recorder time
    uint32_t oldest = 0;
    uint32_t newest = 0;
    int32_t channel_count = 29;
    int32_t block_size = 1 << 20;
    uint32_t map_sectors_per_channel = 4;  // 1,024 map slots per channel
    Placement placement = Placement::Middle;
    std::vector<PointerCopy> pointer_copies;  // Pointer placement: default one copy at sector 0
    uint32_t authoritative_sector = 30;       // relative to the probe start
    SuperBlockDamage damage;
    VolumeContent content;  // oldest/newest default to the writes' span when there are writes
};

struct SessionSpec {
    uint32_t slot = 0;
    std::string name = "SESSION";
    uint32_t created = 0;  // 0: the builder's default; an empty slot is left out of the list
    uint32_t interval = 15;
    uint32_t oldest = 0;
    uint32_t newest = 0;
    uint32_t channel_count = 29;
    uint32_t data_channel_count = 26;
    bool bad_checksum = false;
    VolumeContent content;  // oldest/newest default to the writes' span when there are writes
};

struct BackupDiskSpec {
    int32_t slot_count = 4;
    std::optional<uint32_t> sessions_used;  // default: the number of sessions listed
    uint32_t created = 0;                   // 0: the builder's default recorder time
    std::optional<int32_t> block_limit;     // default: one past the last whole block
    int32_t block_size = kBackupBlockSize;
    std::vector<SessionSpec> sessions;
    SuperBlockDamage damage;  // magic: wrong magic; version: wrong layout
};

enum class AreaKind { Empty, Recorder, Backup };

struct AreaSpec {
    AreaKind kind = AreaKind::Empty;
    RecorderVolumeSpec recorder;
    BackupDiskSpec backup;
};

struct PartitionSpec {
    uint8_t type_byte = kPartTypeRecorder;
    bool bootable = false;
    uint32_t start = 0;   // 0: placed after the previous partition
    uint32_t count = 0;   // 0: an unused table entry
    AreaSpec area;
};

enum class DiskLayout {
    Partitioned,  // boot signature and a partition table
    Bare,         // no boot signature: one area at sector 0 or 2552
    MsBoot,       // an MS-DOS/NTFS boot sector
};

// Bytes put on the disk after everything else, over whatever lay there: what an earlier
// recording or an earlier format of the disk left behind.
struct Overwrite {
    uint64_t sector = 0;  // of the whole disk
    std::vector<uint8_t> bytes;
};

struct DiskSpec {
    uint64_t total_sectors = 8u << 20;  // 4 GiB, sparse
    DiskLayout layout = DiskLayout::Bare;
    uint64_t bare_start = 0;            // 0 or 2552
    AreaSpec bare;
    std::vector<PartitionSpec> partitions;  // table positions 1..4
    std::vector<Overwrite> overwrites;      // in order, after the areas
};

// What the builder placed, for the caller's report.
struct VolumeSummary {
    uint64_t origin = 0;  // first sector of the area on the disk
    AreaKind kind = AreaKind::Empty;
    uint64_t probe_start = 0;
    uint64_t super_block_sector = 0;  // relative to the origin, where the probe finds it
    uint32_t created = 0;
};

struct ImageSummary {
    std::string path;
    std::vector<VolumeSummary> volumes;
};

// A recorder time used when a spec leaves times at 0: 2026-03-14 09:26:53.
inline constexpr uint32_t kDefaultTime = 1773480413;

// Writes a sparse image; 0 on success, -1 with a message.
int write_image(const std::string& path, const DiskSpec& spec, ImageSummary* summary,
                std::string* error);

// Ready-made disks for the demo and the command line.
DiskSpec preset(const std::string& name, bool* known);
std::vector<std::string> preset_names();

}  // namespace sample
