// Pictures of the disk load dialog, the calendar and the log dialogs, filled from the first
// recorder or backup disk among the attached drives, for a look without a display.
#pragma once

#include <QString>

namespace ui {

// Writes dialog-diskload.png, dialog-calendar.png, dialog-eventlog.png and
// dialog-systemlog.png into `dir`; the number of pictures that could not be written.
int save_disk_dialog_shots(const QString& dir);

} // namespace ui
