// The main window's keyboard shortcuts: the window binds these keys, the About box lists them.
#pragma once

#include <QKeySequence>

#include <vector>

namespace ui {

struct Shortcut {
    QKeySequence keys;
    const char* action; // as the About box shows it
};

std::vector<Shortcut> keyboard_shortcuts();

} // namespace ui
