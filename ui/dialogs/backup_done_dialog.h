// What an ended AVI backup left: the folder of the files and of export-report.json, why the
// job failed when it did, a button that opens the folder in the file manager, and one that
// checks the files against the report (and the frames against the disk they came from) as
// `quillon-cli verify` does.
#pragma once

#include <QString>

#include <thread>

#include "ui/dialog_frame.h"

class QLabel;

namespace ui {

class BackupDoneDialog : public DialogFrame {
    Q_OBJECT
public:
    static constexpr int kMessageId = 1022;
    static constexpr int kOpenFolderId = 1086;
    static constexpr int kOkId = 1;
    static constexpr int kVerifyId = 1087;
    static constexpr int kVerifyResultId = 1088;

    // `error` is empty after a whole export. `report` is the report the job wrote (its path or
    // name); empty for export-report.json.
    BackupDoneDialog(const QString& folder, const QString& error, QWidget* parent = nullptr,
                     const QString& report = QString());
    ~BackupDoneDialog() override;

    QString message() const;
    QString folder() const { return folder_; }
    // Opens the folder with the desktop's file manager; false when it refused.
    bool open_folder();

    // Starts the check off the UI thread; the result replaces verify_result() when it is done.
    // The disk is re-read when the report's source can still be opened. False while one runs.
    bool verify();
    bool verifying() const { return verifying_; }
    QString verify_result() const;

signals:
    void verified(int status);  // 0 all match, 1 a mismatch, 2 the report cannot be used

private:
    void show_verified(int status, const QString& text);

    QString folder_;
    QString report_;
    QLabel* message_ = nullptr;
    QLabel* result_ = nullptr;
    std::thread worker_;
    bool verifying_ = false;
};

} // namespace ui
