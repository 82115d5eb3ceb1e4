// Mounting one entry of the disk table: opens its drive and installs the matching driver.
#include "disk/disk_i.h"
#include "disk/volume_select.h"

namespace {

const DriverOps* driver_for(uint32_t fs_type) {
    switch (fs_type) {
        case FS_PSOS:
            return &kDvrfsOps;
        case FS_BACKUP10:
        case FS_BACKUP20:
            return &kBkfsOps;
        default:
            return nullptr;
    }
}

void forget_mount() {
    DiskState& st = disk_state();
    st.drive.reset();
    st.drive_path.clear();
    st.mounted = nullptr;
    st.ops = nullptr;
    st.origin = 0;
}

}  // namespace

int32_t backup_mount_disk(const DiskEntry* entry) {
    DiskState& st = disk_state();
    if (st.mounted != nullptr) return DVR_EMOUNTED;
    if (entry == nullptr || entry < st.table || entry >= st.table + st.count) return DVR_ENODISK;
    volume_table_clear();

    const DriverOps* ops = driver_for(entry->fs_type);
    if (ops == nullptr) return DVR_ENOBACKUP;

    st.mounted = entry;
    st.ops = ops;
    st.drive = platform::open_drive(entry->device_path);
    st.drive_path = entry->device_path;
    if (!st.drive) {
        forget_mount();
        return DVR_ENODISK;
    }
    st.origin = entry->start_sector;
    int32_t rc = st.ops->mount();
    if (rc != 0) {
        forget_mount();
        volume_table_clear();
        return rc;
    }
    return 0;
}

int32_t backup_unmount_disk() {
    DiskState& st = disk_state();
    if (st.mounted == nullptr) return DVR_ENOTMOUNTED;
    if (volume_selected()) return DVR_EBUSY;
    st.ops->unmount();
    forget_mount();
    return 0;
}
