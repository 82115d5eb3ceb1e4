// JSON forms of the disk layer's records, shared by the commands that show them.
#pragma once

#include <string>

#include "disk/disk.h"
#include "disk/format.h"
#include "tools/cli/output.h"

namespace cli {

// One row of the disk table: row, device, fs_type, fs_type_name, partition, partition_type,
// partition_type_name, bootable, start_sector, sector_count, container.
Json disk_row_json(int row, const DiskEntry& entry);

// What the image of a device path is made of: kind, files and, for E01, the acquisition
// metadata and stored hashes.
Json container_json(const std::string& device);

// The recorder super block as the disk shows it, with checksum_valid for the 136 bytes.
Json dvr_super_block_json(const DvrSuperBlock& sb);

// The backup super block retained by the mount.
Json backup_super_block_json(const BackupSuperBlock& sb);

// A volume record (a recorder volume or one backup session) at its index in the table.
Json session_json(int index, const VolumeRecord& record);

}  // namespace cli
