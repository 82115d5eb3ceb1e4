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
    player_->set_video_channels(disk_.display_channels);
    player_->session_closed();  // the session before, if any, leaves nothing on screen
    player_->session_opened();
    api_set_no_pacing(0);
    timeline_->clear_span_map();
    timeline_->clear_unreadable();
    forget_check();
    const bool logs = disk_.recorder_disk();
    for (int id : {kIdEventLog, kIdCaptureLog, kIdSystemLog})
        buttons_[id]->setVisible(logs && !full_monitor_);
    const int channels = disk_.display_channels;
    display_->set_layout(kDisplayAllChannels, channels <= 4 ? 4 : channels <= 9 ? 9 : 16);
    apply_disk_buttons();
    month_mask_ = 0;
    follow_disk_in_calendar();
    // The session's first recorded day, as the calendar would show it.
    const uint32_t first_day = first_recorded_day();
    if (first_day == 0) {
        show_status(QStringLiteral("The session holds no recorded day."));
        return;
    }
    post_message(this, kMsgDayChosen, 1, static_cast<intptr_t>(day_midnight(first_day)));
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
    player_->set_key_frame_only(settings_.iframe != 0);
}

void MainWindow::on_full_monitor() {
    if (full_monitor_)
        leave_full_monitor();
    else
        enter_full_monitor();
}

// The picture fills the window's screen. The window's state changes, never its flags: new
// flags would hide and re-create the window, which ends its modal loop and with it the program.
void MainWindow::enter_full_monitor() {
    saved_rect_ = geometry();
    full_monitor_ = true;
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (child != display_widget_ && !child->isWindow())
            child->hide();
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    const QRect monitor = (screen() ? screen() : QGuiApplication::primaryScreen())->geometry();
    setGeometry(monitor);
    showFullScreen();
    display_widget_->setGeometry(rect());
    display_widget_->raise();
}

void MainWindow::leave_full_monitor() {
    full_monitor_ = false;
    showNormal();
    setFixedSize(saved_rect_.size());
    setGeometry(saved_rect_);
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (!child->isWindow())
            child->show();
    buttons_[kIdBackup]->hide();
    buttons_[kIdFullScreen]->hide();
    const bool logs = disk_.disk_kind != 7 && disk_.disk_kind != 8;
    for (int id : {kIdEventLog, kIdCaptureLog, kIdSystemLog})
        buttons_[id]->setVisible(logs);
    place_controls();
}

// The display follows the window's size in full monitor, whatever the window manager made of it.
void MainWindow::changeEvent(QEvent* event) {
    DialogFrame::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && full_monitor_)
        display_widget_->setGeometry(rect());
}

void MainWindow::on_record() {
    if (!disk_.ready())
        return;
    if (!player_->marked_in()) {
        show_message(this, QStringLiteral("Start time is less than stop time."),
                     QStringLiteral("Record"));
        return;
    }
    if (player_->marked_span())
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
    const DateTime t = broken_down(player_->time());
    timeline_->set_time(t.hour, t.minute, t.second);
    show_player_state();
}

void MainWindow::on_time_format(int index) {
    settings_.time_format = index;
    display_->set_time_format(index);
    show_player_state();
}

OverlayPlace MainWindow::overlay_place() const {
    const int stored = store_->value(kOverlayKey, static_cast<int>(OverlayPlace::Top)).toInt();
    return stored >= 0 && stored <= 2 ? static_cast<OverlayPlace>(stored) : OverlayPlace::Top;
}

// Where the tiles show their label and time: a view choice, kept at once.
void MainWindow::on_overlay_place(OverlayPlace place) {
    store_->setValue(kOverlayKey, static_cast<int>(place));
    display_->set_overlay_place(place);
}

void MainWindow::on_about() {
    AboutBox about(this);
    about.exec();
}

void MainWindow::on_exit() {
    end_backup_job();
    save_settings(*store_, settings_);
    player_->stop();
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
    QMenu* places = menu->addMenu("Tile text");
    const std::pair<const char*, OverlayPlace> place_entries[] = {
        {"Top", OverlayPlace::Top}, {"Bottom", OverlayPlace::Bottom}, {"Hidden", OverlayPlace::Hidden}};
    for (const auto& [text, place] : place_entries) {
        QAction* action = places->addAction(QString::fromLatin1(text));
        action->setCheckable(true);
        action->setChecked(place == overlay_place());
        connect(action, &QAction::triggered, this, [this, p = place] { on_overlay_place(p); });
    }
    QAction* iframe = add("I-Frame Only", kMenuIFrameOnly, ready);
    iframe->setCheckable(true);
    iframe->setChecked(settings_.iframe != 0);
    connect(iframe, &QAction::triggered, this, &MainWindow::on_iframe_toggle);
    connect(add("Go to time...", kMenuGoToTime, ready), &QAction::triggered, this,
            &MainWindow::on_go_to_time);
    connect(add("Check disk", kMenuCheckDisk, ready), &QAction::triggered, this,
            &MainWindow::on_check_disk);
    connect(add("Recovered video...", kMenuRecoveredVideo, ready), &QAction::triggered, this,
            &MainWindow::on_recovered_video);
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
