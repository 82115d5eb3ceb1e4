// The three user settings that survive between runs, in QSettings under the group "Quillon"
// (~/.config/Quillon/Quillon.conf by default).
#pragma once

#include "ui/time_format.h"

#include <QSettings>
#include <QString>

#include <memory>

namespace ui {

struct Settings {
    int volume = 12;     // 0..15
    int iframe = 1;      // "I-Frame Only": 0 or 1
    int time_format = 0; // index of time_format_menu(), 0..5
};

inline constexpr int kMaxVolume = 15;

// The program's settings store: organisation and application "Quillon" in the native format,
// or, for tests and portable use, the INI file at `file_path` when it is not empty.
std::unique_ptr<QSettings> open_settings(const QString& file_path = {});

// A store without the group gets the first-run values (volume 12, I-frames only, format 0),
// which are written at once; a store with the group reads a missing or unreadable value as 0.
// Values out of range are brought into range: volume clamped to 0..15, any non-zero "IFrame"
// counts as 1, a "TimeFormat" outside 0..5 falls back to format 0 so that the clock still shows.
Settings load_settings(QSettings& store);

// Writes "IFrame", "Volume" and "TimeFormat", in this order. A store that cannot be written
// is ignored: the values stay in memory.
void save_settings(QSettings& store, const Settings& settings);

} // namespace ui
