// The program's message box: a message (static 1022) in the dialog frame, with OK only (style
// 1, the default) or OK and Cancel. Enter acts as OK; Escape does not close it.
#pragma once

#include "ui/dialog_frame.h"

class QLabel;

namespace ui {

class MessageBoxDialog : public DialogFrame {
    Q_OBJECT
public:
    static constexpr int kMessageId = 1022;
    static constexpr int kOkId = 1;
    static constexpr int kCancelId = 2;

    explicit MessageBoxDialog(QWidget* parent = nullptr);

    // 1: OK only; any other value: OK and Cancel.
    void set_style(int style);
    int style() const { return style_; }
    void set_texts(const QString& message, const QString& caption);

    SkinButton* ok_button() const { return ok_; }
    SkinButton* cancel_button() const { return cancel_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void lay_out();

    int style_ = 1;
    QLabel* message_ = nullptr;
    SkinButton* ok_ = nullptr;
    SkinButton* cancel_ = nullptr;
};

// Runs a message box modally; QDialog::Accepted for OK, QDialog::Rejected otherwise.
int show_message(QWidget* parent, const QString& text, const QString& caption, int style = 1);

} // namespace ui
