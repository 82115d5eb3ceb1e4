// The information box: the program and its version, the libraries it uses, and the keyboard
// shortcuts of the main window.
#pragma once

#include "ui/dialog_frame.h"

namespace ui {

class AboutBox : public DialogFrame {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr);

    // The texts shown, for tests and for copying.
    static QString program_text();
    static QString libraries_text();
    static QString shortcuts_text();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace ui
