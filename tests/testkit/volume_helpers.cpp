#include "tests/testkit/volume_helpers.h"

#include <gtest/gtest.h>

#include "disk/disk.h"
#include "platform/drive.h"

namespace testkit {

std::vector<uint8_t> pattern_bytes(int32_t channel, uint32_t time, size_t length) {
    std::vector<uint8_t> out(length);
    uint32_t x = time * 2654435761u ^ static_cast<uint32_t>(channel) * 40503u;
    for (size_t i = 0; i < length; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = static_cast<uint8_t>(x >> 16);
    }
    return out;
}

sample::ChannelData steady_channel(int32_t channel, uint32_t from, uint32_t to, size_t length) {
    sample::ChannelData data;
    data.channel = channel;
    for (uint32_t t = from; t < to; t += 15) data.writes.push_back({t, pattern_bytes(channel, t, length)});
    return data;
}

std::vector<uint8_t> stored_bytes(const sample::ChannelData& data) {
    std::vector<uint8_t> out;
    for (const auto& w : data.writes) out.insert(out.end(), w.bytes.begin(), w.bytes.end());
    return out;
}

sample::DiskSpec small_recorder(const sample::VolumeContent& content, int32_t channel_count) {
    sample::DiskSpec d;
    d.total_sectors = 1u << 20;
    d.layout = sample::DiskLayout::Bare;
    d.bare.kind = sample::AreaKind::Recorder;
    d.bare.recorder.block_size = 4096;
    d.bare.recorder.map_sectors_per_channel = 1;
    d.bare.recorder.channel_count = channel_count;
    d.bare.recorder.content = content;
    return d;
}

sample::DiskSpec small_backup(const std::vector<sample::SessionSpec>& sessions,
                              int32_t slot_count) {
    sample::DiskSpec d;
    d.total_sectors = 8u << 20;  // 4 GiB, sparse: blocks are 32 MiB apart
    d.layout = sample::DiskLayout::Partitioned;
    sample::PartitionSpec p;
    p.type_byte = kPartTypeBackup;
    p.count = (8u << 20) - 4096;
    p.area.kind = sample::AreaKind::Backup;
    p.area.backup.slot_count = slot_count;
    p.area.backup.block_size = 4096;
    p.area.backup.sessions = sessions;
    d.partitions = {p};
    return d;
}

int32_t mount_first(const std::string& path) {
    if (platform::attach_image(path) < 0) return DVR_ENODISK;
    const int32_t count = backup_scan_disks();
    if (count < 0) return count;
    for (int32_t row = 0; row < count; ++row) {
        const DiskEntry* e = backup_disk_table() + row;
        if (e->fs_type == FS_PSOS || e->fs_type == FS_BACKUP10 || e->fs_type == FS_BACKUP20) {
            return backup_mount_disk(e);
        }
    }
    return DVR_ENOBACKUP;
}

int32_t mount_volume(const std::string& path, int record) {
    int32_t rc = mount_first(path);
    if (rc != 0) return rc;
    return backup_mount_session(backup_volume_records() + record);
}

std::vector<uint8_t> read_all(int32_t fd, int32_t chunk) {
    std::vector<uint8_t> out;
    std::vector<uint8_t> buf(static_cast<size_t>(chunk));
    for (int guard = 0; guard < 1000000; ++guard) {
        int32_t n = backup_read(fd, buf.data(), chunk);
        if (n < 0) ADD_FAILURE() << "backup_read: " << n;
        if (n <= 0) break;
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    }
    return out;
}

}  // namespace testkit
