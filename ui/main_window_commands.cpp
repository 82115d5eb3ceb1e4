// The window's other commands: audio, "I-Frame Only", full monitor, marks, capture, layout,
// time formats, the context menu, About and exit.
#include <QContextMenuEvent>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>

#include "export/still_capture.h"
#include "ui/about_box.h"
#include "ui/controls/search_slider.h"
#include "ui/controls/skin_button.h"
#include "ui/controls/volume_bar.h"
#include "ui/core_bridge.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
#include "ui/posted_event.h"
#include "ui/recorder_clock.h"
#include "ui/scale_text.h"
#include "ui/still_names.h"

namespace ui {

void MainWindow::disk_loaded(const DiskState& state) {
    disk_ = state;
    bridge_->set_display_channels(disk_.display_channels);
    api_set_key_frame_only(settings_.iframe);
    api_set_no_pacing(0);
    const bool logs = disk_.recorder_disk();
    for (int id : {kIdEventLog, kIdCaptureLog, kIdSystemLog})
        buttons_[id]->setVisible(logs || !full_monitor_);
    const int channels = disk_.display_channels;
    display_->set_layout(kDisplayAllChannels, channels <= 4 ? 4 : channels <= 9 ? 9 : 16);
    apply_disk_buttons();
    follow_disk_in_calendar();
    // The session's first recorded day, as the calendar would show it.
    const uint32_t first_day = first_recorded_day();
    if (first_day == 0)
        return;
    day_ = day_midnight(first_day);
    current_time_ = day_;
    timeline_moved_at_ = 0;
    post_message(this, kMsgDayChosen, 1, 0);
}

void MainWindow::on_audio_toggle() {
    if (audio_on_) {
        saved_volume_ = settings_.volume;
        display_->set_volume(0);
        volume_bar_->set_position(0);
        buttons_[kIdAudio]->set_skin("volume_off");
        buttons_[kIdAudio]->setToolTip("Audio on");
    } else {
        display_->set_volume(saved_volume_);
        volume_bar_->set_position(saved_volume_);
        buttons_[kIdAudio]->set_skin("volume_on");
        buttons_[kIdAudio]->setToolTip("Audio off");
    }
    audio_on_ = !audio_on_;
}

void MainWindow::on_iframe_toggle() {
    if (!disk_.ready())
        return;
    settings_.iframe = settings_.iframe ? 0 : 1;
    api_set_key_frame_only(settings_.iframe);
}

void MainWindow::on_full_monitor() {
    if (!full_monitor_) {
        saved_rect_ = geometry();
        const QRect monitor = (screen() ? screen() : QGuiApplication::primaryScreen())->geometry();
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
        setFixedSize(monitor.size());
        setGeometry(monitor);
        for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (child != display_widget_)
                child->hide();
        display_widget_->setGeometry(rect());
        full_monitor_ = true;
    } else {
        setWindowFlag(Qt::WindowStaysOnTopHint, false);
        setFixedSize(saved_rect_.size());
        setGeometry(saved_rect_);
        for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            child->show();
        buttons_[kIdBackup]->hide();
        buttons_[kIdFullScreen]->hide();
        const bool logs = disk_.disk_kind != 7 && disk_.disk_kind != 8;
        for (int id : {kIdEventLog, kIdCaptureLog, kIdSystemLog})
            buttons_[id]->setVisible(logs);
        place_controls();
        full_monitor_ = false;
    }
    show();
}

void MainWindow::on_mark_in() {
    if (!disk_.ready())
        return;
    if (mark_in_ && mark_out_) {
        mark_in_ = mark_out_ = false;
        timeline_->clear_selection();
    } else {
        mark_in_ = true;
        mark_out_ = false;
        timeline_->clear_selection();
        timeline_->set_selection(timeline_->position(), timeline_->position());
    }
    buttons_[kIdMarkIn]->set_check(mark_in_);
    buttons_[kIdMarkOut]->set_check(false);
    timeline_->update();
}

void MainWindow::on_mark_out() {
    if (!disk_.ready() || !mark_in_)
        return;
    timeline_->set_selection(-1, timeline_->position());
    mark_out_ = true;
    buttons_[kIdMarkOut]->set_check(true);
    timeline_->update();
}

void MainWindow::on_record() {
    if (!disk_.ready())
        return;
    if (!mark_in_) {
        show_message(this, QStringLiteral("Start time is less than stop time."),
                     QStringLiteral("Record"));
        return;
    }
    if (mark_out_)
        open_backup_dialog();
}

void MainWindow::on_split(int splits) {
    if (splits == 1)
        display_->set_layout(display_->selected_channel(), 1);
    else if (buttons_[splits == 4 ? kIdSplit4 : splits == 9 ? kIdSplit9 : kIdSplit16]->isEnabled())
        display_->set_layout(kDisplayAllChannels, splits);
}

void MainWindow::on_time_search() {
    timeline_->set_scale(timeline_->scale() == 0 ? 1 : 0);
    const DateTime t = broken_down(current_time_);
    timeline_->set_time(t.hour, t.minute, t.second);
    timeline_->update();
    scale_text_->update();
}

void MainWindow::on_time_format(int index) {
    settings_.time_format = index;
    show_time(current_time_);
}

void MainWindow::on_about() {
    AboutBox about(this);
    about.exec();
}

void MainWindow::on_exit() {
    end_backup_job();
    save_settings(*store_, settings_);
    api_set_play_mode(PM_STOP);
    ui_mode_ = PM_STOP;
    accept();
}

QMenu* MainWindow::build_context_menu() {
    auto* menu = new QMenu(this);
    const bool ready = disk_.ready();
    auto add = [menu](const QString& text, int id, bool enabled) {
        QAction* action = menu->addAction(text);
        action->setData(id);
        action->setEnabled(enabled);
        return action;
    };
    connect(add("Open Disk", kMenuOpenDisk, true), &QAction::triggered, this,
            &MainWindow::on_disk_load);
    connect(add("Event log", kMenuEventLog, logs_offered()), &QAction::triggered, this,
            &MainWindow::toggle_event_log);
    connect(add("Capture log", kMenuCaptureLog, logs_offered()), &QAction::triggered, this,
            &MainWindow::on_capture_log);
    connect(add("System log", kMenuSystemLog, logs_offered()), &QAction::triggered, this,
            &MainWindow::toggle_system_log);
    connect(add("Capture", kMenuCapture, true), &QAction::triggered, this, &MainWindow::on_capture);
    QMenu* formats = menu->addMenu("Time format");
    const auto entries = time_format_menu();
    for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
        QAction* action = formats->addAction(entries[static_cast<size_t>(i)].menu_text);
        action->setData(entries[static_cast<size_t>(i)].menu_id);
        action->setCheckable(true);
        action->setChecked(i == settings_.time_format);
        connect(action, &QAction::triggered, this, [this, i] { on_time_format(i); });
    }
    QAction* iframe = add("I-Frame Only", kMenuIFrameOnly, ready);
    iframe->setCheckable(true);
    iframe->setChecked(settings_.iframe != 0);
    connect(iframe, &QAction::triggered, this, &MainWindow::on_iframe_toggle);
    connect(add("About...", kMenuAbout, true), &QAction::triggered, this, &MainWindow::on_about);
    connect(add("Exit", kMenuExit, true), &QAction::triggered, this, &MainWindow::on_exit);
    return menu;
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = build_context_menu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

} // namespace ui
