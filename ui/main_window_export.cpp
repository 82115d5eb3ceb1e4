// The export and capture commands of the window: the AVI backup dialog and its job, the still
// capture, and the capture log dialog.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>

#include "export/still_capture.h"
#include "mux/container_file.h"
#include "ui/controls/search_slider.h"
#include "ui/controls/skin_button.h"
#include "ui/controls/volume_bar.h"
#include "ui/core_bridge.h"
#include "ui/dialogs/backup_case_box.h"
#include "ui/dialogs/backup_dialog.h"
#include "ui/dialogs/backup_done_dialog.h"
#include "ui/dialogs/capture_dialog.h"
#include "ui/dialogs/capture_log_dialog.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
#include "ui/posted_event.h"
#include "ui/scope_exit.h"
#include "verify/frame_hash.h"

namespace ui {
namespace {

constexpr int kBackupPumpMs = 50;
constexpr const char* kBackupFolderKey = "BackupFolder";
constexpr const char* kBackupFormatKey = "BackupFormat";  // "avi", "mkv" or "mp4"

QString default_backup_folder() { return QDir::homePath() + QStringLiteral("/Storage/Backup"); }

} // namespace

// The job's window steps; the job calls them on the UI thread, from start() and process().
class WindowBackupHooks final : public BackupJobHooks {
public:
    explicit WindowBackupHooks(MainWindow* window) : window_(window) {}
    void mute_display() override { window_->display_->set_volume(0); }
    void clear_pictures() override {
        window_->bridge_->clear_armed();
        window_->display_->clear();
    }
    void restore_display() override {
        window_->display_->set_volume(window_->volume_bar_->position());
    }
    void progress(int32_t percent) override {
        post_message(window_->backup_dialog_, kMsgBackupProgress, percent, percent);
    }
    void create_failed() override { window_->backup_create_failed_ = true; }

private:
    MainWindow* window_;
};

void MainWindow::connect_export_controls() {
    connect(buttons_[kIdCaptureLog], &QAbstractButton::clicked, this, &MainWindow::on_capture_log);
    backup_pump_ = new QTimer(this);
    connect(backup_pump_, &QTimer::timeout, this, &MainWindow::pump_backup_job);
    // The desktop session ending may never close the window: the export ends here too.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { end_backup_job(); });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { end_backup_job(); });
}

// The capture log is the recorder's own; backup disks have none.
void MainWindow::apply_export_buttons() {
    buttons_[kIdCaptureLog]->setEnabled(disk_.ready() && disk_.recorder_disk());
}

void MainWindow::handle_export_message(const PostedEvent& message) {
    switch (message.message()) {
    case kMsgBackupStart: start_backup_job(); break;
    case kMsgBackupEnd:
        // A split restarts inside the job; only the stop is the window's.
        if (message.wparam() == 0 && backup_running()) {
            end_backup_job();
            show_backup_result();
        }
        break;
    case kMsgCaptureLogClosed:
        if (capture_log_dialog_ && !capture_log_dialog_->isVisible())
            capture_log_dialog_->deleteLater();
        break;
    default: break;
    }
}

BackupDialog* MainWindow::backup_dialog() const { return backup_dialog_; }

CaptureLogDialog* MainWindow::capture_log_dialog() const { return capture_log_dialog_; }

bool MainWindow::backup_running() const { return backup_job_ && backup_job_->active(); }

void MainWindow::open_backup_dialog() {
    if (backup_running())
        return;
    if (backup_dialog_)
        backup_dialog_->close();
    if (!player_->marked_span())
        return;
    auto* dialog = new BackupDialog(this, this);
    backup_dialog_ = dialog;
    dialog->set_display_channels(disk_.display_channels);
    // The span the user marked, as recorder times: never re-read from the timeline, whose
    // scale or day may have changed since.
    const auto span = player_->marked_span();
    if (!span)
        return;
    dialog->set_span(span->first, span->second);
    dialog->set_search_map(timeline_->span_map().data(), timeline_->span_map().size());
    dialog->set_time_format(settings_.time_format);
    const QString last = store_->value(kBackupFolderKey).toString();
    dialog->set_folder(last.isEmpty() ? default_backup_folder() : last);
    const auto format =
        parse_export_format(store_->value(kBackupFormatKey).toString().toStdString());
    dialog->set_format(format.value_or(ExportFormat::Avi));
    dialog->case_box()->load(*store_);
    dialog->set_selected_channel(display_->selected_channel());
    connect(dialog, &QDialog::finished, this, &MainWindow::on_backup_dialog_closed);
    // Modal for the user, while the event loop keeps running the job.
    dialog->setModal(true);
    dialog->show();
}

void MainWindow::start_backup_job() {
    BackupDialog* dialog = backup_dialog_;
    if (dialog == nullptr || backup_running())
        return;
    if (!backup_job_) {
        backup_hooks_ = std::make_unique<WindowBackupHooks>(this);
        backup_job_ = std::make_unique<BackupJob>(backup_hooks_.get());
        // The frame hash list beside each file; the maker keeps no state of its own.
        static verify::FrameHashSideFiles frame_hashes;
        backup_job_->set_side_files(&frame_hashes);
    }
    store_->setValue(kBackupFolderKey, dialog->folder());
    store_->setValue(kBackupFormatKey, QString::fromLatin1(export_format_name(dialog->format())));
    backup_job_->set_container(dialog->format(), mux::make_container_writer);
    if (dialog->format() != ExportFormat::Avi) mux::quiet_library_notes();
    dialog->case_box()->save(store_);
    backup_job_->set_case(dialog->case_info());
    backup_job_folder_ = dialog->job_folder();
    backup_create_failed_ = false;
    BackupJob::install(backup_job_.get());
    bridge_->set_export_running(true);
    // The job mutes the display, clears it and stops the engine as it starts. A start that
    // fails gives the sound back, and the transport shows what the engine does now.
    ScopeExit undo([this] {
        detach_backup_job();
        display_->set_volume(audio_on_ ? volume_bar_->position() : 0);
        player_->follow_engine();
    });
    if (backup_job_->start(dialog->start_time(), dialog->end_time(), dialog->channel_mask(),
                           backup_job_folder_.toStdString()) != 0) {
        const std::string why = backup_job_->error();
        dialog->job_ended(false);
        show_message(this, QString::fromStdString(why.empty() ? "The backup did not start." : why),
                     QStringLiteral("Quillon"));
        return;
    }
    undo.dismiss();
    player_->engine_taken();
    backup_pump_->start(kBackupPumpMs);
}

void MainWindow::pump_backup_job() {
    if (!backup_job_ || backup_job_->process(0))
        return;
    detach_backup_job();
    if (backup_dialog_)
        backup_dialog_->job_ended(backup_job_->error().empty());
    show_backup_result();
}

// Stops a running job and waits until its files are finished and its report is written.
void MainWindow::end_backup_job() {
    if (!backup_job_)
        return;
    if (backup_job_->active()) {
        backup_job_->stop();
        while (backup_job_->process(100)) {
        }
    }
    detach_backup_job();
}

void MainWindow::detach_backup_job() {
    if (backup_pump_ != nullptr)
        backup_pump_->stop();
    bridge_->set_export_running(false);
    BackupJob::install(nullptr);
}

void MainWindow::show_backup_result() {
    if (!backup_job_ || backup_job_folder_.isEmpty())
        return;
    if (backup_create_failed_) {
        backup_create_failed_ = false;
        show_message(this, QStringLiteral("AVI file create faile."), QStringLiteral("Quillon"));
    }
    auto* result = new BackupDoneDialog(backup_job_folder_,
                                        QString::fromStdString(backup_job_->error()), this,
                                        QString::fromStdString(backup_job_->report_path()));
    result->setAttribute(Qt::WA_DeleteOnClose);
    result->show();
}

void MainWindow::on_backup_dialog_closed() {
    if (backup_running()) {
        end_backup_job();
        show_backup_result();
    }
    display_->export_closed(0, 0);
    display_->export_closed_reset(0, 0, 0, "", 0, 0, 0);
    display_widget_->update();
    if (backup_dialog_)
        backup_dialog_->deleteLater();
}

// Whatever closes the window, a running export ends cleanly first.
void MainWindow::done(int result) {
    end_backup_job();
    if (capture_log_dialog_)
        capture_log_dialog_->close();
    DialogFrame::done(result);
}

void MainWindow::on_capture() {
    if (!player_->has_picture()) {
        show_message(this, QStringLiteral("Capture Failed!!!"), QStringLiteral("Quillon"));
        return;
    }
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(cache);
    const std::string temp = (cache + QLatin1Char('/') + QLatin1String(kStillTempName)).toStdString();
    buttons_[kIdCapture]->setDown(true);
    // Without the display's picture there is nothing to name or save.
    if (display_->capture(temp) != 0) {
        buttons_[kIdCapture]->setDown(false);
        show_message(this, QStringLiteral("Capture Failed!!!"), QStringLiteral("Quillon"));
        return;
    }
    StillCaptureRequest request;
    if (run_capture_dialog(&request)) {
        std::string saved, error;
        const int32_t rc = still_save_capture(temp, request, &saved, &error);
        if (rc != 0) {
            show_message(this, QString::fromStdString(error),
                         rc == STILL_ERR_JPEG ? QStringLiteral("JPEG Error")
                                              : QStringLiteral("Quillon"));
        } else {
            message_->setText(QStringLiteral("Saved %1").arg(QString::fromStdString(saved)));
        }
    }
    buttons_[kIdCapture]->setDown(false);
    buttons_[kIdCapture]->update();
}

bool MainWindow::run_capture_dialog(StillCaptureRequest* request) {
    DateTime shown{};
    time_to_systemtime(player_->time(), &shown);
    CaptureDialog dialog(shown, settings_.time_format, this);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *request = dialog.request();
    return true;
}

void MainWindow::on_capture_log() {
    if (capture_log_dialog_) {
        capture_log_dialog_->close();
        return;
    }
    if (!disk_.ready() || !disk_.recorder_disk())
        return;
    auto* dialog = new CaptureLogDialog(this, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->fill(capture_log_, settings_.time_format);
    capture_log_dialog_ = dialog;
    dialog->show();
}

void MainWindow::refresh_capture_log() {
    if (capture_log_dialog_)
        capture_log_dialog_->fill(capture_log_, settings_.time_format);
}

} // namespace ui
