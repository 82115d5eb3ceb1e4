#include "ui/dialog_shots_export.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTreeWidget>

#include "ui/controls/search_slider.h"
#include "ui/dialogs/backup_dialog.h"
#include "ui/dialogs/backup_done_dialog.h"
#include "ui/dialogs/capture_dialog.h"
#include "ui/dialogs/capture_log_dialog.h"
#include "ui/dialogs/save_as_dialog.h"
#include "ui/main_window.h"

namespace ui {
namespace {

int shoot(QWidget* dialog, const QString& path) {
    dialog->show();
    QCoreApplication::processEvents();
    const bool saved = dialog->grab().save(path);
    dialog->hide();
    return saved ? 0 : 1;
}

// The first recorded moment of the shown day, or its midnight.
uint32_t first_recorded(const MainWindow* window) {
    const auto& map = window->timeline()->span_map();
    for (size_t i = 0; i < map.size(); ++i)
        if (map[i] != 0)
            return window->selected_day() + static_cast<uint32_t>(i * 15);
    return window->selected_day();
}

} // namespace

int save_export_dialog_shots(MainWindow* window, const QString& folder) {
    QDir().mkpath(folder);
    const int format = window->settings().time_format;
    int failed = 0;

    BackupDialog backup(nullptr, window);
    backup.set_display_channels(window->disk().display_channels);
    const uint32_t from = first_recorded(window);
    backup.set_span(from, from + 30);
    backup.set_folder(QDir::homePath() + QStringLiteral("/Storage/Backup"));
    failed += shoot(&backup, folder + QStringLiteral("/dialog-backup.png"));

    DateTime shown{};
    time_to_systemtime(from, &shown);
    CaptureDialog capture(shown, format, window);
    failed += shoot(&capture, folder + QStringLiteral("/dialog-capture.png"));

    CaptureLogDialog log(nullptr, window);
    log.fill(window->capture_log(), format);
    log.show();
    if (log.list()->topLevelItemCount() > 0) {
        log.list()->setCurrentItem(log.list()->topLevelItem(0));
        log.on_view();
    }
    failed += shoot(&log, folder + QStringLiteral("/dialog-capturelog.png"));

    SaveAsDialog save_as(log.picture_name(), window);
    failed += shoot(&save_as, folder + QStringLiteral("/dialog-saveas.png"));

    // The folder holds no report: the check's answer shows where its lines go.
    BackupDoneDialog done(QDir::homePath() + QStringLiteral("/Storage/Backup/2026-03-14"), QString(), window);
    failed += shoot(&done, folder + QStringLiteral("/dialog-backupdone.png"));
    QEventLoop wait;
    QObject::connect(&done, &BackupDoneDialog::verified, &wait, &QEventLoop::quit);
    done.show();
    if (done.verify())
        wait.exec();
    failed += shoot(&done, folder + QStringLiteral("/dialog-backupdone-verified.png"));
    return failed;
}

} // namespace ui
