// Check disk: reads every stored record of the mounted session off the UI thread, with a
// progress bar and Cancel, then lists the unreadable spans it found. The owner marks them on
// the timeline.
#pragma once

#include <memory>

#include "recover/check.h"
#include "ui/dialog_frame.h"

class QLabel;
class QProgressBar;
class QTreeWidget;

namespace ui {

class RecoveryTask;
class SkinButton;

class CheckDialog : public DialogFrame {
    Q_OBJECT
public:
    static constexpr int kMessageId = 1201;
    static constexpr int kProgressId = 1202;
    static constexpr int kListId = 1203;
    static constexpr int kCancelId = 2;

    CheckDialog(int time_format, QWidget* parent = nullptr);
    ~CheckDialog() override;

    // Starts the check of the mounted session.
    void start();
    bool running() const;
    // The report once the check has ended (complete or cancelled).
    const recover::CheckReport& report() const { return *report_; }
    bool complete() const { return complete_; }

    QString message() const;
    QTreeWidget* list() const { return list_; }

signals:
    // The check ended; `complete` is false when it was cancelled or failed.
    void checked(bool complete);

private:
    void on_finished(int rc);
    void fill_list();

    int time_format_;
    std::shared_ptr<recover::CheckReport> report_;
    bool complete_ = false;
    RecoveryTask* task_ = nullptr;
    QLabel* message_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QTreeWidget* list_ = nullptr;
    SkinButton* cancel_ = nullptr;
};

} // namespace ui
