// What an ended AVI backup left: the folder of the files and of export-report.json, why the
// job failed when it did, and a button that opens the folder in the file manager.
#pragma once

#include <QString>

#include "ui/dialog_frame.h"

class QLabel;

namespace ui {

class BackupDoneDialog : public DialogFrame {
    Q_OBJECT
public:
    static constexpr int kMessageId = 1022;
    static constexpr int kOpenFolderId = 1086;
    static constexpr int kOkId = 1;

    // `error` is empty after a whole export. `report` is the report the job wrote (its path or
    // name); empty for export-report.json.
    BackupDoneDialog(const QString& folder, const QString& error, QWidget* parent = nullptr,
                     const QString& report = QString());

    QString message() const;
    QString folder() const { return folder_; }
    // Opens the folder with the desktop's file manager; false when it refused.
    bool open_folder();

private:
    QString folder_;
    QLabel* message_ = nullptr;
};

} // namespace ui
