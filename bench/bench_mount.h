// Shared by the benchmarks: the image attached, scanned, and its recorder volume mounted
// through the storage API.
#pragma once

#include <string>

#include "platform/drive.h"
#include "storage/api.h"

inline int32_t mount_recorder_image(const std::string& path) {
    if (platform::attach_image(path) < 0) return -1;
    DiskEntry table[kDiskTableSize];
    int32_t rc = api_scan_disks(table);
    if (rc != 0) return rc;
    for (int row = 0; row < api_disk_count(); ++row) {
        if (table[row].fs_type == FS_PSOS) {
            if ((rc = api_mount_disk(row)) != 0) return rc;
            return api_mount_session(0);
        }
    }
    return -1;
}
