// The texts of the disk load dialog's and the log dialogs' cells.
#pragma once

#include <QString>

#include <cstdint>

namespace ui {

// "DVR HDD", "BACKUP HDD", ... for a file-system type; "?" for an unknown one.
QString fs_type_name(uint32_t fs_type);
// "[row] name" of the "DiskType" column.
QString disk_type_cell(int row, uint32_t fs_type);
// The "Space" column: whole GiB above 10 GiB, else whole MiB (512-byte sectors).
QString disk_size_cell(uint64_t sector_count);
// A recorder time in date format `format` (0..5) with hours, minutes and seconds.
QString recorder_time_cell(int format, uint32_t time);
// Only recorder volumes and backup disks can be mounted.
bool mountable_fs_type(uint32_t fs_type);

} // namespace ui
