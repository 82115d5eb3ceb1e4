// Pictures of the export and capture dialogs, filled from the disk the window shows, for a
// look without a display (`make demo`).
#pragma once

#include <QString>

namespace ui {

class MainWindow;

// Writes dialog-backup.png, dialog-capture.png, dialog-capturelog.png and dialog-saveas.png
// into `folder`; the number of pictures that could not be written.
int save_export_dialog_shots(MainWindow* window, const QString& folder);

} // namespace ui
