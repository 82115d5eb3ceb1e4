// Check disk and Recovered video: the two dialogs of the recovery core, opened from the menu,
// and the check's unreadable spans on the timeline.
#include <QAbstractButton>

#include "playback/display_control.h"
#include "ui/controls/skin_button.h"
#include "ui/controls/search_slider.h"
#include "ui/dialogs/check_dialog.h"
#include "ui/dialogs/recovered_dialog.h"
#include "ui/main_window.h"

namespace ui {

void MainWindow::connect_recovery_controls() {
    connect(buttons_[kIdRecoveredVideo], &QAbstractButton::clicked, this,
            &MainWindow::on_recovered_video);
}

CheckDialog* MainWindow::check_dialog() const { return check_dialog_; }

RecoveredDialog* MainWindow::recovered_dialog() const { return recovered_dialog_; }

void MainWindow::on_check_disk() {
    if (!disk_.ready() || check_dialog_ || recovered_dialog_)
        return;
    auto* dialog = new CheckDialog(settings_.time_format, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    check_dialog_ = dialog;
    connect(dialog, &CheckDialog::checked, this, &MainWindow::on_checked);
    dialog->open();
    dialog->start();
}

// Each channel's unreadable spans, whatever channel: the timeline has one row.
void MainWindow::on_checked(bool /*complete*/) {
    if (!check_dialog_)
        return;
    forget_check();
    for (const recover::ChannelCheck& c : check_dialog_->report().channels)
        for (const recover::UnreadableSpan& s : c.spans)
            check_marks_.emplace_back(s.from_time, s.to_time);
    apply_check_marks();
    timeline_->update();
}

void MainWindow::apply_check_marks() {
    for (const auto& [from, to] : check_marks_)
        on_unreadable(0, from, to);
}

void MainWindow::forget_check() { check_marks_.clear(); }

void MainWindow::on_recovered_video() {
    if (!disk_.ready() || check_dialog_ || recovered_dialog_)
        return;
    // The scan reads the disk beside no playback; a run then plays alone in the single view.
    player_->stop();
    auto* dialog = new RecoveredDialog(
        display_,
        [this] {
            player_->stop();
            display_->clear();
            display_->set_layout(0, 1);
        },
        settings_.time_format, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    recovered_dialog_ = dialog;
    // A run played in the single view leaves it: the session's own layout comes back.
    connect(dialog, &QDialog::finished, this, [this] {
        display_->clear();
        const int channels = disk_.display_channels;
        display_->set_layout(kDisplayAllChannels, channels <= 4 ? 4 : channels <= 9 ? 9 : 16);
    });
    dialog->open();
    dialog->start_scan();
}

} // namespace ui
