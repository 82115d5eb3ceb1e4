// The AVI backup dialog's rules that need no window: which checked channels have a recording
// in the span, and the dated subfolder the files go to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include <QString>

#include "storage/api.h"

namespace ui {

// Slots of one hour in the day's search map: one per 15 seconds.
inline constexpr int kBackupSlotsPerHour = 240;

// The channels of `checked` (bit c = channel c) that the search map shows recorded in some
// 15-second slot from the start's slot to the end's slot, both included. Only the hour of day
// counts: the hours from the start's to the end's; a start hour after the end hour finds
// nothing. `count` bounds the map.
uint32_t backup_channel_mask(const uint32_t* search_map, size_t count, const DateTime& start,
                             const DateTime& end, uint32_t checked);

// Reads the search map (kDaySlots masks) of the recorder day that starts at `day`; false when
// it cannot.
using DayMapReader = std::function<bool(uint32_t day, std::vector<uint32_t>* map)>;

// Spans longer than this many days are not searched day by day: every checked channel counts.
inline constexpr int kBackupSearchDaysMax = 31;

// The channels of `checked` recorded somewhere in the span [start, end] (recorder times), which
// may cross midnight: on the day that starts at map_day the given map answers, on other days
// the reader's; a day whose map cannot be read counts every checked channel as recorded (the
// job finds out).
uint32_t backup_span_mask(const uint32_t* search_map, size_t count, uint32_t map_day,
                          uint32_t start, uint32_t end, uint32_t checked,
                          const DayMapReader& read_day);

// The folder followed by the start day's subfolder in the order of the date format:
// "Y-MM-DD" for 0 and 3, "MM-DD-Y" for 1 and 4, "DD-MM-Y" for 2 and 5.
QString backup_folder(const QString& folder, int time_format, const DateTime& start);

} // namespace ui
