#include "tools/cli/records.h"

#include <cstring>
#include <string>

#include "platform/container.h"

namespace cli {

Json disk_row_json(int row, const DiskEntry& entry) {
    Json j;
    j["row"] = row;
    j["device"] =
        std::string(entry.device_path, strnlen(entry.device_path, sizeof entry.device_path));
    j["fs_type"] = entry.fs_type;
    j["fs_type_name"] = fs_type_name(entry.fs_type);
    j["partition"] = entry.partition;
    j["partition_type"] = entry.partition_type;
    j["partition_type_name"] = fs_type_name(entry.partition_type);
    j["bootable"] = entry.bootable != 0;
    j["start_sector"] = entry.start_sector;
    j["sector_count"] = entry.sector_count;
    j["container"] = platform::container_kind_name(platform::container_kind(j["device"]));
    return j;
}

Json container_json(const std::string& device) {
    platform::ContainerInfo info;
    Json j;
    if (platform::describe_container(device, &info) != 0) {
        j["kind"] = platform::container_kind_name(platform::container_kind(device));
        j["files"] = Json::array();
        return j;
    }
    j["kind"] = platform::container_kind_name(info.kind);
    j["files"] = info.files;
    if (info.kind != platform::ContainerKind::kEwf) return j;
    j["incomplete"] = info.incomplete;
    auto text = [](const std::string& s) { return s.empty() ? Json(nullptr) : Json(s); };
    j["acquisition"] = Json{{"case_number", text(info.case_number)},
                            {"evidence_number", text(info.evidence_number)},
                            {"examiner", text(info.examiner)},
                            {"description", text(info.description)},
                            {"notes", text(info.notes)},
                            {"date", text(info.acquisition_date)},
                            {"md5", text(info.md5)},
                            {"sha1", text(info.sha1)}};
    return j;
}

Json dvr_super_block_json(const DvrSuperBlock& sb) {
    Json j;
    j["magic"] = sb.magic;
    j["version"] = sb.version;
    put_time(j, "created", sb.created);
    j["block_size"] = sb.block_size;
    j["max_block"] = sb.max_block;
    j["channel_count"] = sb.channel_count;
    j["area1_sector"] = sb.area1_sector;
    j["authoritative_sector"] = sb.authoritative_sector;
    j["info_sector"] = sb.info_sector;
    j["info_sectors"] = sb.info_sectors;
    j["map_sector"] = sb.map_sector;
    j["map_sectors_per_channel"] = sb.map_sectors_per_channel;
    j["map_sectors"] = sb.map_sectors;
    j["area2_block"] = sb.area2_block;
    j["area2_sector"] = sb.area2_sector;
    put_time(j, "oldest", sb.oldest);
    put_time(j, "newest", sb.newest);
    j["checksum_valid"] = dvrfs_checksum(&sb, sizeof sb) == 0;
    return j;
}

Json backup_super_block_json(const BackupSuperBlock& sb) {
    Json j;
    j["magic"] = sb.magic;
    j["layout"] = sb.layout;
    put_time(j, "created", sb.created);
    j["block_limit"] = sb.block_limit;
    j["slot_count"] = sb.slot_count;
    j["sessions_used"] = sb.sessions_used;
    j["block_size"] = sb.block_size;
    return j;
}

Json session_json(int index, const VolumeRecord& record) {
    Json j;
    j["index"] = index;
    j["name"] = std::string(record.name, strnlen(record.name, sizeof record.name));
    j["slot"] = record.slot;
    put_time(j, "created", record.created);
    j["interval"] = record.interval;
    put_time(j, "oldest", record.oldest);
    put_time(j, "newest", record.newest);
    j["channel_count"] = record.channel_count;
    j["data_channel_count"] = record.data_channel_count;
    return j;
}

}  // namespace cli
