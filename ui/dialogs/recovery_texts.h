// Texts the check and recovered-video dialogs share.
#pragma once

#include <cstdint>

#include <QString>

#include "ui/recorder_clock.h"
#include "ui/time_format.h"

namespace ui {

// A recorder time in the window's time format; "-" for no time.
inline QString recorder_time_text(uint32_t time, int time_format) {
    if (time == 0)
        return QStringLiteral("-");
    const DateTime t = broken_down(time);
    return format_time(time_format, t.year, t.month, t.day, t.hour, t.minute, t.second);
}

} // namespace ui
