#include "ui/dialogs/backup_rules.h"

namespace ui {
namespace {

int slot_of(const DateTime& t) { return t.minute * 4 + t.second / 15; }

} // namespace

uint32_t backup_channel_mask(const uint32_t* search_map, size_t count, const DateTime& start,
                             const DateTime& end, uint32_t checked) {
    if (search_map == nullptr || checked == 0)
        return 0;
    uint32_t found = 0;
    for (int hour = start.hour; hour <= end.hour && hour < 24; ++hour) {
        const int first = hour == start.hour ? slot_of(start) : 0;
        const int last = hour == end.hour ? slot_of(end) : kBackupSlotsPerHour - 1;
        for (int slot = first; slot <= last && slot < kBackupSlotsPerHour; ++slot) {
            const auto index = static_cast<size_t>(hour * kBackupSlotsPerHour + slot);
            if (index < count)
                found |= search_map[index];
        }
    }
    return found & checked;
}

QString backup_folder(const QString& folder, int time_format, const DateTime& start) {
    const int year = start.year;
    const int month = start.month;
    const int day = start.day;
    QString date;
    switch (time_format) {
    case 1:
    case 4:
        date = QString::asprintf("%02d-%02d-%d", month, day, year);
        break;
    case 2:
    case 5:
        date = QString::asprintf("%02d-%02d-%d", day, month, year);
        break;
    default:
        date = QString::asprintf("%d-%02d-%02d", year, month, day);
        break;
    }
    QString base = folder;
    while (base.size() > 1 && base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + QLatin1Char('/') + date;
}

} // namespace ui
