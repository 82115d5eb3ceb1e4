// The transport buttons: play, fast forward, rewind, frame steps and minute jumps, and the
// restart sequence that every new start of playback goes through.

#include "ui/controls/search_slider.h"
#include "ui/controls/skin_button.h"
#include "ui/core_bridge.h"
#include "ui/dialogs/dispatch_wait.h"
#include "ui/main_window.h"
#include "ui/recorder_clock.h"

namespace ui {
namespace {

bool plausible_year(uint32_t time) {
    const DateTime t = broken_down(time);
    return t.year >= 1970 && t.year <= 3000;
}

} // namespace

uint32_t MainWindow::position_time(int position) const {
    return day_ + static_cast<uint32_t>(timeline_->seconds_of_position(position));
}

int32_t MainWindow::second_of_day(uint32_t time) const {
    return static_cast<int32_t>(time - day_midnight(time));
}

// The engine's channels close first; the frames already under way land before the display is
// cleared, and every channel arms again on its next key frame.
void MainWindow::restart(uint32_t time, int32_t mode, uint32_t mask, bool close_first) {
    if (close_first)
        api_set_channel_mask(0);
    bridge_->clear_armed();
    // Painting and posted messages go on, user input waits: no second action starts midway.
    wait_dispatching_events(50);
    display_->clear();
    api_set_channel_mask(mask);
    api_play_from(time);
    api_set_play_mode(mode);
    ui_mode_ = mode;
    no_picture_ = false;
}

void MainWindow::reset_transport_buttons() {
    const std::pair<int, const char*> idle[] = {
        {kIdPlay, "Play"},          {kIdFastForward, "FF"},       {kIdFrameForward, "1 Frame"},
        {kIdFrameBack, "1 Frame"},  {kIdMinuteForward, "1 Minute"}, {kIdMinuteBack, "1 Minute"},
        {kIdRewind, "Rew"},
    };
    for (const auto& [id, tip] : idle) {
        buttons_[id]->set_check(false);
        buttons_[id]->setToolTip(QString::fromLatin1(tip));
    }
    buttons_[kIdPlay]->set_skin("play");
}

void MainWindow::show_play_state() {
    const bool running = ui_mode_ != PM_STOP;
    buttons_[kIdPlay]->set_skin(running ? "pause" : "play");
    buttons_[kIdPlay]->setToolTip(running ? "Pause" : "Play");
}

void MainWindow::on_play() {
    if (!disk_.ready() || !play_hold_.accept(clock_()))
        return;
    reset_transport_buttons();
    if (ui_mode_ == PM_STOP || ui_mode_ == PM_FRAME_F || ui_mode_ == PM_FRAME_B) {
        const int next = timeline_->next_recorded_position();
        if (next < 0) {
            show_play_state();
            return;
        }
        if (next != timeline_->position()) {
            timeline_->set_position(next);
            restart(position_time(next), PM_PLAY, kPlayChannelsMask);
        } else {
            const uint32_t time = next == 0 ? position_time(next) + 1 : current_time_;
            restart(time, PM_PLAY, kPlayChannelsMask, false);
        }
    } else {
        const int32_t mode = ui_mode_ == PM_PLAY ? PM_STOP : PM_PLAY;
        display_->clear();
        bridge_->clear_armed();
        api_set_channel_mask(kAllChannelsMask);
        api_play_from(plausible_year(current_time_) ? current_time_
                                                    : position_time(timeline_->position()));
        api_set_play_mode(mode);
        ui_mode_ = mode;
    }
    show_play_state();
}

void MainWindow::on_fast_forward() {
    if (!disk_.ready() || !ff_hold_.accept(clock_()))
        return;
    reset_transport_buttons();
    const int next = timeline_->next_recorded_position();
    if (next < 0) {
        api_set_play_mode(PM_STOP);
        ui_mode_ = PM_STOP;
        show_play_state();
        return;
    }
    const uint32_t time = position_time(next);
    if (ui_mode_ == PM_STOP) {
        bridge_->clear_armed();
        api_set_channel_mask(kAllChannelsMask);
        api_play_from(time);
        timeline_->set_position(next);
    } else if (is_rewind_speed(ui_mode_)) {
        restart(time, ui_mode_, kAllChannelsMask);
    }
    ui_mode_ = next_forward_speed(ui_mode_);
    api_set_play_mode(ui_mode_);
    no_picture_ = false;
    buttons_[kIdFastForward]->set_check(true);
    buttons_[kIdFastForward]->setToolTip(speed_tooltip(ui_mode_));
}

void MainWindow::on_rewind() {
    if (!disk_.ready() || !rew_hold_.accept(clock_()))
        return;
    reset_transport_buttons();
    const int previous = timeline_->previous_recorded_position();
    if (previous < 0)
        return;
    uint32_t time = current_time_;
    if (previous != timeline_->position()) {
        time = position_time(previous);
        timeline_->set_position(previous);
    }
    if (ui_mode_ == PM_STOP) {
        bridge_->clear_armed();
        api_set_channel_mask(kAllChannelsMask);
        api_play_from(time);
    } else if (ui_mode_ == PM_PLAY || is_forward_speed(ui_mode_)) {
        restart(time, ui_mode_, kAllChannelsMask);
    }
    ui_mode_ = next_rewind_speed(ui_mode_);
    api_set_play_mode(ui_mode_);
    no_picture_ = false;
    buttons_[kIdRewind]->set_check(true);
    buttons_[kIdRewind]->setToolTip(speed_tooltip(ui_mode_));
}

void MainWindow::on_frame_step(bool forward) {
    if (!disk_.ready() || ui_mode_ == PM_STOP)
        return;
    reset_transport_buttons();
    ui_mode_ = forward ? PM_FRAME_F : PM_FRAME_B;
    api_set_play_mode(ui_mode_);
    buttons_[forward ? kIdFrameForward : kIdFrameBack]->set_check(true);
}

void MainWindow::on_minute_jump(bool forward) {
    HoldOff& hold = forward ? minute_forward_hold_ : minute_back_hold_;
    if (!disk_.ready() || !hold.accept(clock_()))
        return;
    const bool at_day_end = timeline_->scale() == 0 && timeline_->position() >= timeline_->range();
    const auto second = minute_jump(second_of_day(current_time_), forward, at_day_end);
    if (!second)
        return;
    reset_transport_buttons();
    current_time_ = day_midnight(current_time_) + static_cast<uint32_t>(*second);
    if (playing()) {
        restart(current_time_, forward ? PM_MINUTE_F : PM_MINUTE_B, kAllChannelsMask);
        buttons_[forward ? kIdMinuteForward : kIdMinuteBack]->set_check(true);
    }
    show_time(current_time_);
}

} // namespace ui
