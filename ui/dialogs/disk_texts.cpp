#include "ui/dialogs/disk_texts.h"

#include "storage/api.h"
#include "ui/time_format.h"

namespace ui {

QString fs_type_name(uint32_t fs_type) {
    static const char* const kNames[] = {"NONE",  "OTHER",   "MS",         "LINUX",      "DVR20",
                                         "DVR30", "DVR HDD", "BACKUP HDD", "BACKUP HDD", "WHOLE"};
    constexpr uint32_t kCount = sizeof kNames / sizeof kNames[0];
    return QString::fromLatin1(fs_type < kCount ? kNames[fs_type] : "?");
}

QString disk_type_cell(int row, uint32_t fs_type) {
    return QStringLiteral("[%1] %2").arg(row).arg(fs_type_name(fs_type));
}

QString disk_size_cell(uint64_t sector_count) {
    constexpr uint64_t kSectorsPerGiB = 2097152;
    constexpr uint64_t kSectorsPerMiB = 2048;
    const uint64_t gib = sector_count / kSectorsPerGiB;
    // The line break belongs to the recorder's own text; the cell shows one line.
    if (gib > 10)
        return QStringLiteral("(%1GB)\n").arg(gib);
    return QStringLiteral("(%1MB)\n").arg(sector_count / kSectorsPerMiB);
}

QString recorder_time_cell(int format, uint32_t time) {
    DateTime t{};
    time_to_systemtime(time, &t);
    return format_time(format, t.year, t.month, t.day, t.hour, t.minute, t.second);
}

bool mountable_fs_type(uint32_t fs_type) {
    return fs_type == FS_PSOS || fs_type == FS_BACKUP10 || fs_type == FS_BACKUP20;
}

} // namespace ui
