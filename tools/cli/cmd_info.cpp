// info: mounts one row of the disk table and shows its super block and volume records.
#include <cstdio>
#include <ostream>
#include <string>

#include "disk/disk.h"
#include "tools/cli/cli.h"
#include "tools/cli/records.h"

namespace cli {
namespace {

bool is_mountable(const DiskEntry& entry) {
    return entry.fs_type == FS_PSOS || entry.fs_type == FS_BACKUP10 || entry.fs_type == FS_BACKUP20;
}

// The row to mount: the one asked for, else the first recorder volume or backup disk.
// -1 after reporting that there is none.
int choose_row(const InfoOptions& info) {
    const int count = backup_disk_count();
    if (info.row) {
        if (*info.row >= count) {
            fail("no disk at row " + std::to_string(*info.row) + " (the scan found " +
                 std::to_string(count) + ")");
            return -1;
        }
        return *info.row;
    }
    const DiskEntry* table = backup_disk_table();
    for (int row = 0; row < count; ++row) {
        if (is_mountable(table[row])) return row;
    }
    fail(no_mountable_disk(), DVR_ENOBACKUP);
    return -1;
}

// Super blocks of the mounted disk: the recorder's as the disk dialog reads it, or the
// backup disk's as the mount retained it.
int32_t add_super_blocks(const DiskEntry& entry, Json* doc) {
    (*doc)["super_block"] = nullptr;
    (*doc)["mounted_super_block"] = nullptr;
    (*doc)["backup_super_block"] = nullptr;
    if (entry.fs_type == FS_PSOS) {
        DvrSuperBlock sb;
        const int32_t rc = hdd_read_super_block(entry.sector_count, &sb);
        if (rc != 0) return rc;
        (*doc)["super_block"] = dvr_super_block_json(sb);
        // The display read looks only at the area's own middle; a volume at sector 2552 keeps
        // its super block elsewhere, so the copy the mount used is shown as well.
        if (const DvrSuperBlock* mounted = dvrfs_super_block()) {
            (*doc)["mounted_super_block"] = dvr_super_block_json(*mounted);
        }
    } else if (const BackupSuperBlock* sb = bkfs_super_block()) {
        (*doc)["backup_super_block"] = backup_super_block_json(*sb);
    }
    return 0;
}

std::string hex(const Json& value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value.get<uint32_t>());
    return text;
}

// Name and value lines of a flat object; times show their text, magic numbers in hex.
void print_fields(const Json& object, std::ostream& out) {
    TextTable table;
    for (const auto& [key, value] : object.items()) {
        if (key.size() > 5 && key.ends_with("_text")) continue;
        std::string shown = key == "magic" ? hex(value) : cell(value);
        if (object.contains(key + "_text")) shown = cell(object[key + "_text"]);
        table.add({key, shown});
    }
    table.print(out, "  ");
}

// The container line and, for E01, what the acquisition stored.
void print_container(const Json& c, std::ostream& out) {
    const size_t files = c["files"].size();
    out << "Container: " << cell(c["kind"]);
    if (files > 1) out << ", " << files << " files from " << cell(c["files"][0]);
    if (c.value("incomplete", false)) out << ", incomplete or damaged";
    out << '\n';
    if (c.contains("acquisition")) print_fields(c["acquisition"], out);
}

void print_info(const Json& doc, std::ostream& out) {
    const Json& d = doc["disk"];
    out << "Disk row " << cell(d["row"]) << ": " << cell(d["device"]) << ", "
        << cell(d["fs_type_name"]) << ", partition " << cell(d["partition"]) << ", sectors "
        << cell(d["start_sector"]) << " + " << cell(d["sector_count"]) << '\n';
    print_container(doc["container"], out);
    if (!doc["super_block"].is_null()) {
        out << "Super block\n";
        print_fields(doc["super_block"], out);
    }
    const Json& mounted = doc["mounted_super_block"];
    if (!mounted.is_null() && mounted != doc["super_block"]) {
        out << "Super block the mount used\n";
        print_fields(mounted, out);
    }
    if (!doc["backup_super_block"].is_null()) {
        out << "Backup super block\n";
        print_fields(doc["backup_super_block"], out);
    }
    if (doc["sessions"].empty()) {
        out << "No sessions.\n";
        return;
    }
    out << "Sessions\n";
    TextTable table(
        {"INDEX", "NAME", "SLOT", "CREATED", "INTERVAL", "OLDEST", "NEWEST", "CHANNELS", "DATA"});
    for (const Json& s : doc["sessions"]) {
        table.add({cell(s["index"]), cell(s["name"]), cell(s["slot"]), cell(s["created_text"]),
                   cell(s["interval"]), cell(s["oldest_text"]), cell(s["newest_text"]),
                   cell(s["channel_count"]), cell(s["data_channel_count"])});
    }
    table.print(out, "  ");
}

}  // namespace

int run_info(const GlobalOptions& options, const InfoOptions& info) {
    if (!scan_drives()) return kExitFailure;
    const int row = choose_row(info);
    if (row < 0) return kExitFailure;
    const DiskEntry& entry = backup_disk_table()[row];
    int32_t rc = backup_mount_disk(&entry);
    if (rc != 0) return fail("mount failed", rc);

    Json doc;
    doc["disk"] = disk_row_json(row, entry);
    doc["container"] = container_json(doc["disk"]["device"]);
    rc = add_super_blocks(entry, &doc);
    Json sessions = Json::array();
    const VolumeRecord* records = backup_volume_records();
    for (int i = 0; i < backup_volume_count(); ++i) sessions.push_back(session_json(i, records[i]));
    doc["sessions"] = std::move(sessions);

    const int32_t unmount_rc = backup_unmount_disk();
    if (rc != 0) return fail("reading the super block failed", rc);
    if (unmount_rc != 0) return fail("unmount failed", unmount_rc);
    emit(options.json, doc, print_info);
    return kExitOk;
}

}  // namespace cli
