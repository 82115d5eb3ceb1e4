// The posted messages: what the core bridge, the controls and the dialogs tell the window.
#include <QLabel>

#include "ui/controls/search_slider.h"
#include "ui/controls/skin_button.h"
#include "ui/controls/volume_bar.h"
#include "ui/core_bridge.h"
#include "ui/main_window.h"
#include "ui/posted_event.h"
#include "ui/recorder_clock.h"
#include "ui/scale_text.h"

namespace ui {
namespace {

template <typename Record>
std::vector<Record> read_log(int32_t (*reader)(uint32_t, Record*), uint32_t day, int max) {
    std::vector<Record> records(static_cast<size_t>(max));
    const int32_t count = reader(day, records.data());
    records.resize(static_cast<size_t>(count > 0 && count <= max ? count : 0));
    return records;
}

} // namespace

bool MainWindow::event(QEvent* event) {
    if (posted_message(event) >= 0) {
        if (const auto* message = dynamic_cast<const PostedEvent*>(event)) {
            handle_message(*message);
            return true;
        }
    }
    return DialogFrame::event(event);
}

void MainWindow::handle_message(const PostedEvent& message) {
    const auto time = static_cast<uint32_t>(message.lparam());
    switch (message.message()) {
    case kMsgMonthMask: on_month_mask(static_cast<uint32_t>(message.lparam())); break;
    case kMsgShowDay: on_show_day(); break;
    case kMsgFrameTime: on_frame_time(time); break;
    case kMsgStop: on_stop(); break;
    case kMsgVolume: on_volume_bar(); break;
    case kMsgTimelineClick:
        on_timeline_seek();
        close_log_dialogs();
        break;
    case kMsgPlayFrom: on_play_from(time); break;
    case kMsgDayChosen: on_calendar_day(message.wparam(), message.lparam()); break;
    case kMsgEventLogClosed:
    case kMsgSystemLogClosed: on_log_closed(message.message()); break;
    default: handle_export_message(message); break;
    }
}

void MainWindow::on_day_chosen(bool scan_month) {
    if (!disk_.ready())
        return;
    if (scan_month) {
        std::vector<uint32_t> months(kMonthMapMonths * kMonthMapEntries, 0);
        if (tvfs_getexistmonthlog(months.data()) >= 0) {
            const int32_t mask = tvfs_month_day_mask(months.data(), day_);
            post_message(this, kMsgMonthMask, 0, mask < 0 ? 0 : mask);
        }
    }
    timeline_->clear_span_map();
    timeline_->set_scale(0);
    // Playback pauses while the new day loads and resumes in the same mode once it is shown.
    if (playing())
        api_set_play_mode(PM_STOP);
    post_message(this, kMsgShowDay);
}

void MainWindow::on_show_day() {
    if (!disk_.ready())
        return;
    show_time(playing() ? current_time_ : day_);
    timeline_->clear_span_map();
    tvfs_getsearchlog(day_, timeline_->span_map().data());
    read_day_logs();
    hand_logs_to_dialogs();
    if (playing())
        restart(current_time_, ui_mode_, kAllChannelsMask);
    timeline_->set_scale(0);
    timeline_->clear_selection();
    timeline_->update();
    scale_text_->update();
    mark_in_ = mark_out_ = false;
    buttons_[kIdMarkIn]->set_check(false);
    buttons_[kIdMarkOut]->set_check(false);
    if (play_when_shown_) {
        play_when_shown_ = false;
        on_play();
    }
}

void MainWindow::read_day_logs() {
    event_log_ = read_log(&api_get_event_log, day_, kEventLogMax);
    system_log_ = read_log(&api_get_system_log, day_, kSystemLogMax);
    capture_log_ = read_log(&api_get_capture_log, day_, kCaptureLogMax);
    refresh_capture_log();
}

void MainWindow::show_time(uint32_t time) {
    const DateTime t = broken_down(time);
    osd_->setText(format_time(settings_.time_format, t.year, t.month, t.day, t.hour, t.minute,
                              t.second));
}

void MainWindow::on_frame_time(uint32_t time) {
    const DateTime t = broken_down(time);
    if (t.year < 1970 || timeline_->dragging())
        return;
    show_time(time);
    if (playing())
        current_time_ = time;
    const uint32_t moved_gap = time > timeline_moved_at_ ? time - timeline_moved_at_
                                                         : timeline_moved_at_ - time;
    if (moved_gap > 5 && !(t.minute == 59 && t.second == 59)) {
        timeline_->set_time(t.hour, t.minute, t.second);
        timeline_moved_at_ = time;
        const int p = timeline_->position();
        if (p < 10 || p > timeline_->range() - 10 || timeline_->scale() == 1)
            timeline_->update();
    }
    // Playback crossed midnight: the calendar follows to the new day. Only in the direction of
    // play, so that a late frame of the day before cannot turn the calendar back.
    const uint32_t day = day_midnight(time);
    const bool backward = play_mode_direction(ui_mode_) < 0;
    if (playing() && (backward ? day < day_ : day > day_)) {
        day_ = day;
        post_message(this, kMsgDayChosen, 1, 0);
    }
}

void MainWindow::on_stop() {
    ui_mode_ = PM_STOP;
    api_set_play_mode(PM_STOP);
    api_set_channel_mask(0);
    reset_transport_buttons();
    show_play_state();
}

void MainWindow::on_volume_bar() {
    settings_.volume = volume_bar_->position();
    display_->set_volume(settings_.volume);
}

void MainWindow::on_timeline_seek() {
    const uint32_t time = position_time(timeline_->position());
    show_time(time);
    current_time_ = time;
    timeline_moved_at_ = time;
    if (!playing())
        return;
    const int next = timeline_->next_recorded_position();
    if (next == timeline_->position()) {
        restart(time, ui_mode_, kAllChannelsMask);
    } else {
        ui_mode_ = PM_STOP;
        api_set_play_mode(PM_STOP);
        reset_transport_buttons();
        show_play_state();
    }
}

void MainWindow::on_play_from(uint32_t time) {
    const DateTime t = broken_down(time);
    timeline_->set_time(t.hour, t.minute, t.second);
    current_time_ = time;
    if (timeline_->next_recorded_position() != timeline_->position()) {
        on_stop();
        return;
    }
    reset_transport_buttons();
    restart(time, PM_PLAY, kAllChannelsMask);
    show_play_state();
}

} // namespace ui
