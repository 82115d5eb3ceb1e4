// Pieces the export and capture dialogs share: the skinned text buttons, a labelled line edit
// and the folder browser.
#pragma once

#include <QString>

class QLineEdit;
class QWidget;

namespace ui {

class SkinButton;

inline constexpr int kDialogButtonWidth = 76;
inline constexpr int kDialogButtonHeight = 26;

// A push button with a caption and a control id.
SkinButton* make_text_button(QWidget* parent, const QString& caption, int id);
// A line edit with a control id.
QLineEdit* make_edit(QWidget* parent, int id);
// The folder browser titled "Select folder", starting at `start`; empty when cancelled.
QString browse_folder(QWidget* parent, const QString& start);
// The capture folder used when the user names none, without the trailing slash.
QString default_capture_folder();

} // namespace ui
