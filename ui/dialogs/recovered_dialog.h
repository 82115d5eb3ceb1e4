// Recovered video: the carver's scan of the mounted volume off the UI thread (progress bar and
// Cancel), the runs of older video it found (stream, first and last time, picture size, codec,
// GOPs), a selected run played in the display's single view, and its export as the command
// line's recover --export writes it.
#pragma once

#include <functional>
#include <memory>

#include <QString>

#include "recover/carver.h"
#include "ui/dialog_frame.h"

class DisplayControl;
class QLabel;
class QProgressBar;
class QTreeWidget;

namespace ui {

class RecoveryTask;
class RunPlayer;
class SkinButton;

class RecoveredDialog : public DialogFrame {
    Q_OBJECT
public:
    static constexpr int kMessageId = 1211;
    static constexpr int kProgressId = 1212;
    static constexpr int kListId = 1213;
    static constexpr int kPlayId = 1214;
    static constexpr int kStopId = 1215;
    static constexpr int kExportId = 1216;
    static constexpr int kCancelId = 2;

    // `before_play` is called on the UI thread before a run plays: the owner stops its own
    // playback and gives the display to the run.
    RecoveredDialog(DisplayControl* display, std::function<void()> before_play, int time_format,
                    QWidget* parent = nullptr);
    ~RecoveredDialog() override;

    // Starts the scan of the mounted volume.
    void start_scan();
    bool busy() const;
    const recover::RecoveryResult& result() const { return *result_; }
    bool scanned() const { return scanned_; }

    // Plays the selected run; false without one.
    bool play_selected();
    void stop_playing();
    RunPlayer* player() const { return player_; }
    // Exports the selected run (every run when none is selected) into `folder`; false when a
    // job is running.
    bool export_to(const QString& folder);
    // After an export: the report's path, or the error.
    QString report_path() const { return report_path_; }
    QString export_error() const { return export_error_; }

    QString message() const;
    QTreeWidget* list() const { return list_; }

signals:
    void scan_finished(int rc);
    void export_finished(bool ok);

protected:
    void done(int result) override;

private:
    void on_scan_finished(int rc);
    void on_export_finished(int rc);
    void fill_list();
    void set_buttons();
    int selected_run() const;

    std::function<void()> before_play_;
    int time_format_;
    std::shared_ptr<recover::RecoveryResult> result_;
    bool scanned_ = false;
    bool exporting_ = false;
    std::shared_ptr<std::string> export_report_;
    std::shared_ptr<std::string> export_error_text_;
    QString report_path_;
    QString export_error_;
    RecoveryTask* task_ = nullptr;
    RunPlayer* player_ = nullptr;
    QLabel* message_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QTreeWidget* list_ = nullptr;
    SkinButton* play_ = nullptr;
    SkinButton* stop_ = nullptr;
    SkinButton* export_ = nullptr;
    SkinButton* cancel_ = nullptr;
};

} // namespace ui
