// scan: the disk table of the attached drives.
#include <ostream>

#include "disk/disk.h"
#include "tools/cli/cli.h"
#include "tools/cli/records.h"

namespace cli {
namespace {

void print_scan(const Json& doc, std::ostream& out) {
    if (doc["disks"].empty()) {
        out << "No disks found.\n";
        return;
    }
    TextTable table(
        {"ROW", "DEVICE", "CONTAINER", "FS", "PART", "TYPE", "BOOT", "START", "SECTORS"});
    for (const Json& d : doc["disks"]) {
        table.add({cell(d["row"]), cell(d["device"]), cell(d["container"]), cell(d["fs_type_name"]), cell(d["partition"]),
                   cell(d["partition_type_name"]), cell(d["bootable"]), cell(d["start_sector"]),
                   cell(d["sector_count"])});
    }
    table.print(out);
}

}  // namespace

bool scan_drives() {
    const int32_t count = backup_scan_disks();
    if (count < 0) {
        fail("scan failed", count);
        return false;
    }
    return true;
}

int run_scan(const GlobalOptions& options) {
    if (!scan_drives()) return kExitFailure;
    Json disks = Json::array();
    const DiskEntry* table = backup_disk_table();
    for (int row = 0; row < backup_disk_count(); ++row) {
        disks.push_back(disk_row_json(row, table[row]));
    }
    Json doc;
    doc["disks"] = std::move(disks);
    emit(options.json, doc, print_scan);
    return kExitOk;
}

}  // namespace cli
