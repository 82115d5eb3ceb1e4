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

namespace {

constexpr uint32_t kDaySeconds = 86400;

// The channels of one day's map recorded in its slots first..last.
uint32_t slots_mask(const uint32_t* map, size_t count, uint32_t first, uint32_t last) {
    uint32_t found = 0;
    for (uint32_t slot = first; slot <= last && slot < count; ++slot)
        found |= map[slot];
    return found;
}

} // namespace

uint32_t backup_span_mask(const uint32_t* search_map, size_t count, uint32_t map_day,
                          uint32_t start, uint32_t end, uint32_t checked,
                          const DayMapReader& read_day) {
    if (checked == 0 || end < start)
        return 0;
    const uint32_t first_day = start - start % kDaySeconds;
    const uint32_t last_day = end - end % kDaySeconds;
    if ((last_day - first_day) / kDaySeconds >= kBackupSearchDaysMax)
        return checked;
    uint32_t found = 0;
    std::vector<uint32_t> other;
    for (uint64_t day = first_day; day <= last_day; day += kDaySeconds) {
        const auto midnight = static_cast<uint32_t>(day);
        const uint32_t from = midnight == first_day ? (start - midnight) / 15 : 0;
        const uint32_t to = midnight == last_day ? (end - midnight) / 15 : kDaySlots - 1;
        if (midnight == map_day && search_map != nullptr) {
            found |= slots_mask(search_map, count, from, to);
            continue;
        }
        other.assign(kDaySlots, 0);
        if (!read_day || !read_day(midnight, &other))
            return checked;
        found |= slots_mask(other.data(), other.size(), from, to);
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
