// On-disk layouts of recorder volumes and backup disks. All fields are little-endian; the
// structures are read by copying sector bytes into them, so the host must be little-endian.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "on-disk structures are copied byte for byte; a big-endian host needs swapping");

inline constexpr uint32_t kSectorSize = 512;

// --- Partition table (classic MBR) ---------------------------------------------------------
inline constexpr size_t kPartitionTableOffset = 446;
inline constexpr int kPartitionEntries = 4;

struct PartitionEntry {
    uint8_t boot_indicator;  // 0x80 = bootable
    uint8_t chs_first[3];
    uint8_t type_byte;
    uint8_t chs_last[3];
    uint32_t start_sector;
    uint32_t sector_count;
};
static_assert(sizeof(PartitionEntry) == 16);

inline constexpr uint8_t kPartTypeRecorder = 0xF0;
inline constexpr uint8_t kPartTypeBackup = 0xF2;

// --- Recorder super block: 136 bytes at the start of a sector --------------------------------
inline constexpr uint32_t kDvrMagic = 0xC6C6A5A5;
inline constexpr uint32_t kDvrVersionMin = 17;
inline constexpr uint32_t kDvrVersionMax = 19;
inline constexpr uint64_t kDvrSecondProbeStart = 2552;  // bare disks may keep the volume here
inline constexpr uint32_t kDvrCandidateSectors[3] = {0, 10, 20};

struct DvrSuperBlock {
    uint32_t magic;                  // word 0
    uint32_t version;                // word 1: layout 17..19
    uint32_t unused2;                // word 2
    uint32_t created;                // word 3: time stamp of the volume
    uint32_t unused4;                // word 4
    int32_t block_size;              // word 5: bytes, a multiple of 512
    int32_t max_block;               // word 6: highest valid block number
    int32_t channel_count;           // word 7: system channels included
    uint32_t area1_sector;           // word 8: first sector of data area 1
    int32_t authoritative_sector;    // word 9: copy's sector relative to the probe start
    uint32_t unused10[3];            // words 10-12
    uint32_t info_sector;            // word 13: channel information table
    uint32_t info_sectors;           // word 14
    uint32_t map_sector;             // word 15: channel map area
    uint32_t map_sectors_per_channel;  // word 16
    uint32_t map_sectors;            // word 17: whole map area
    uint32_t unused18[2];            // words 18-19
    uint32_t area2_block;            // word 20: first block number of data area 2
    uint32_t area2_sector;           // word 21: first sector of data area 2
    uint32_t oldest;                 // word 22: oldest recording
    uint32_t newest;                 // word 23: newest recording
    uint32_t unused24[10];           // words 24-33 (one of them balances the checksum)
};
static_assert(sizeof(DvrSuperBlock) == 136);

// --- Backup super block: 72 bytes at the start of sector 0 -----------------------------------
inline constexpr uint32_t kBackupMagic = 0xC3C3BABA;
inline constexpr uint32_t kBackupLayout = 0x100;
inline constexpr int32_t kBackupBlockSize = 33554432;
inline constexpr uint32_t kBackupBlockSectors = 65536;
inline constexpr int32_t kMaxSessionSlots = 32;

struct BackupSuperBlock {
    uint32_t magic;          // word 0
    uint32_t layout;         // word 1: 0x100
    uint32_t unused2;        // word 2
    uint32_t created;        // word 3: creation time; 0 is not a backup disk
    int32_t block_limit;     // word 4: one more than the highest block number
    uint32_t unused5;        // word 5
    int32_t slot_count;      // word 6: session slots (at most 32)
    uint32_t sessions_used;  // word 7: 0 means no session
    int32_t block_size;      // word 8: 33,554,432
    uint32_t unused9[8];     // words 9-16
    uint32_t checksum;       // word 17: the 18 words sum to zero
};
static_assert(sizeof(BackupSuperBlock) == 72);

// --- Backup area layout -----------------------------------------------------------------------
inline constexpr uint32_t kBitmapFirstSector = 1;
inline constexpr uint32_t kBitmapSectors = 128;
inline constexpr uint32_t kSessionHeaderFirstSector = 129;
inline constexpr uint32_t kSessionHeaderSectors = 270;
inline constexpr size_t kSessionHeaderBytes = kSessionHeaderSectors * kSectorSize;  // 138,240
inline constexpr size_t kSessionChannelRecordsOffset = 176;
inline constexpr size_t kSessionChannelRecordSize = 48;
inline constexpr size_t kSessionChecksumOffset = 1712;
inline constexpr size_t kSessionBlockMapOffset = 1716;
inline constexpr size_t kSessionBlockMapSlots = 65536;
inline constexpr size_t kSessionChecksummedBytes = 132788;

// One channel's record in a session header.
struct SessionChannelRecord {
    uint64_t size;
    uint32_t index_column;
    uint32_t head_slot;
    uint32_t head_offset;
    uint32_t tail_slot;
    uint32_t tail_offset;
    uint8_t unused[20];
};
static_assert(sizeof(SessionChannelRecord) == kSessionChannelRecordSize);

inline constexpr uint64_t session_header_sector(uint32_t slot) {
    return kSessionHeaderFirstSector + uint64_t{kSessionHeaderSectors} * slot;
}
