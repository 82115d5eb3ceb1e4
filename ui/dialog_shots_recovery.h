// Pictures of the Check disk and Recovered video dialogs, each after its job has run on the disk
// the window shows, for a look without a display (`make demo`).
#pragma once

#include <QString>

namespace ui {

class MainWindow;

// Writes dialog-check.png and dialog-recovered.png into `folder`; the number of pictures that
// could not be written.
int save_recovery_dialog_shots(MainWindow* window, const QString& folder);

} // namespace ui
