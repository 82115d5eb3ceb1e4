#include "ui/shortcuts.h"

namespace ui {

std::vector<Shortcut> keyboard_shortcuts() {
    return {
        {QKeySequence(Qt::Key_Space), "Play / pause"},
        {QKeySequence(Qt::Key_Right), "One frame forward"},
        {QKeySequence(Qt::Key_Left), "One frame back"},
        {QKeySequence(Qt::CTRL | Qt::Key_Right), "One minute forward"},
        {QKeySequence(Qt::CTRL | Qt::Key_Left), "One minute back"},
        {QKeySequence(Qt::Key_F), "Fast forward"},
        {QKeySequence(Qt::Key_R), "Rewind"},
        {QKeySequence(Qt::Key_1), "1 split"},
        {QKeySequence(Qt::Key_4), "4 splits"},
        {QKeySequence(Qt::Key_9), "9 splits"},
        {QKeySequence(Qt::Key_6), "16 splits"},
        {QKeySequence(Qt::Key_F11), "Full monitor (F11 or Escape leaves it)"},
        {QKeySequence(Qt::CTRL | Qt::Key_G), "Go to time"},
        {QKeySequence(Qt::CTRL | Qt::Key_O), "Open disk"},
        {QKeySequence(Qt::CTRL | Qt::Key_S), "Capture"},
        {QKeySequence(Qt::Key_I), "Mark in"},
        {QKeySequence(Qt::Key_O), "Mark out"},
        {QKeySequence(Qt::CTRL | Qt::Key_Q), "Exit"},
    };
}

} // namespace ui
