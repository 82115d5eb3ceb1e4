// The save-as dialog of the capture log: the folder and the name of a picture's copy.
#pragma once

#include <QString>

#include "ui/dialog_frame.h"

class QLineEdit;

namespace ui {

class SaveAsDialog : public DialogFrame {
    Q_OBJECT
public:
    static constexpr int kFolderId = 1056;
    static constexpr int kNameId = 1055;
    static constexpr int kBrowseId = 1058;
    static constexpr int kOkId = 1;
    static constexpr int kCancelId = 2;

    SaveAsDialog(const QString& name, QWidget* parent = nullptr);

    // What OK stored.
    QString folder() const { return folder_text_; }
    QString name() const { return name_text_; }

    void on_ok();
    void on_browse();

private:
    QLineEdit* folder_ = nullptr;
    QLineEdit* name_ = nullptr;
    QString folder_text_;
    QString name_text_;
};

} // namespace ui
