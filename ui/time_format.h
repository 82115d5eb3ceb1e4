// The six date formats of the time display and their menu entries.
#pragma once

#include <QString>

#include <array>

namespace ui {

inline constexpr int kTimeFormatCount = 6;

struct TimeFormatEntry {
    const char* menu_text;
    int menu_id;
};

// Indexed by the "TimeFormat" setting.
const std::array<TimeFormatEntry, kTimeFormatCount>& time_format_menu();

// The date and time in format `format_index`; empty for an index outside 0..5.
QString format_time(int format_index, int year, int month, int day, int hour, int minute,
                    int second);

} // namespace ui
