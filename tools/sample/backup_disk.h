// Writes a backup area: the backup super block and the session headers of its slots.
#pragma once

#include <string>
#include <vector>

#include "disk/format.h"
#include "tools/sample/channel_layout.h"
#include "tools/sample/image_writer.h"
#include "tools/sample/sample.h"

namespace sample {

struct BackupPlan {
    BackupSuperBlock sb{};          // before damage
    uint64_t origin = 0;
    uint64_t data_start = 0;        // sector of block 1, relative to the origin
    uint64_t block_count = 0;       // whole blocks that fit in the area
    std::vector<VolumeLayout> sessions;  // one per listed session, in the listed order
};

bool plan_backup_disk(const BackupDiskSpec& spec, uint64_t origin, uint64_t area_sectors,
                      BackupPlan* plan, std::string* error);

void write_backup_disk(ImageWriter& image, const BackupDiskSpec& spec, const BackupPlan& plan);

// The 138,240-byte header of one session, sealed (or torn when the description asks for it).
std::vector<unsigned char> session_header(const SessionSpec& session, const VolumeLayout& layout);

}  // namespace sample
