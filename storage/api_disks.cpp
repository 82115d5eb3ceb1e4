// Disk and session calls of the storage API, and the display channel count.
#include <cstring>

#include "disk/format.h"
#include "storage/api_state.h"

namespace {

// 4, 8, 9 or 16 from the highest video channel that holds data; other counts keep the old.
void decide_display_channels(ApiState& st, const VolumeRecord& v) {
    int32_t highest = 0;
    for (int32_t c = 3; c <= 18; ++c) {
        if (backup_channel_size(c) != 0) highest = c - 2;
    }
    if (v.channel_count == 15) {
        st.display_channels = 4;
    } else if (v.channel_count == 27 || v.channel_count == 29) {
        st.display_channels = highest <= 4 ? 4 : highest <= 8 ? 8 : highest == 9 ? 9 : 16;
    }
}

void close_playback_slots(ApiState& st) {
    for (int32_t& s : st.slots) {
        if (s >= 0) backup_close(s);
        s = -1;
    }
}

}  // namespace

int32_t api_scan_disks(DiskEntry* table) {
    const int32_t rc = backup_scan_disks();
    if (rc < 0) return rc;
    if (table != nullptr) std::memcpy(table, backup_disk_table(), sizeof(DiskEntry) * kDiskTableSize);
    return 0;
}

int32_t api_disk_count() { return backup_disk_count(); }

int32_t api_mount_disk(int32_t disk) {
    api_state().nMountDiskId = disk;
    // An entry outside the table is refused by the mount itself.
    const DiskEntry* entry = disk >= 0 && disk < kDiskTableSize ? backup_disk_table() + disk : nullptr;
    return backup_mount_disk(entry);
}

int32_t api_unmount_disk() {
    api_state().nMountDiskId = -1;
    return backup_unmount_disk();
}

int32_t api_read_super_block(int32_t disk, void* buffer) {
    if (disk < 0 || disk >= backup_disk_count() || buffer == nullptr) return DVR_EINVAL;
    uint8_t sb[sizeof(DvrSuperBlock)];
    const int32_t rc = hdd_read_super_block(backup_disk_table()[disk].sector_count, sb);
    if (rc >= 0) std::memcpy(buffer, sb, sizeof sb);
    return rc;
}

int32_t api_get_sessions(VolumeRecord* records) {
    if (records != nullptr) {
        std::memcpy(records, backup_volume_records(), sizeof(VolumeRecord) * kVolumeRecordCount);
    }
    return 0;
}

int32_t api_session_count() { return backup_volume_count(); }

int32_t api_mount_session(int32_t session) {
    ApiState& st = api_state();
    st.mounted_session = session;
    const VolumeRecord* record =
        session >= 0 && session < kVolumeRecordCount ? backup_volume_records() + session : nullptr;
    const int32_t rc = backup_mount_session(record);
    dvrfs_trace("backup_mount_session ret = %d\n", rc);
    for (int32_t c = 0; c < backup_channel_count(); ++c) {
        dvrfs_trace("Channel %d  : %lldB\n", c, static_cast<long long>(backup_channel_size(c)));
    }
    if (record != nullptr) decide_display_channels(st, *record);
    dvrfs_trace("Disk channel %d\n", st.display_channels);
    return rc;
}

int32_t api_unmount_session() {
    ApiState& st = api_state();
    {
        std::lock_guard<std::mutex> guard(st.lock);
        close_playback_slots(st);
    }
    st.mounted_session = -1;
    return backup_unmount_session();
}

int32_t api_display_channels() { return api_state().display_channels; }
