// The transport actions of the player controller: play and pause, the speeds, frame steps,
// minute jumps, seeks and the marks.
#include "storage/api.h"
#include "ui/engine_port.h"
#include "ui/player_controller.h"

namespace ui {

// Stopped at `time`: the pictures of another time go, thumb and clock stand there.
void PlayerController::stand_at(uint32_t time) {
    halt(PM_STOP);
    clear_pictures();
    time_ = time;
    emit changed();
}

void PlayerController::say_nothing_after(uint32_t time) {
    say(QStringLiteral("Nothing recorded after %1 on this day.").arg(clock_text(time)));
}

// Play starts at the thumb (or the next recording after it), pauses what plays, and goes on
// from a pause where the pause left the engine.
void PlayerController::play() {
    if (!ready_ || !accept(play_hold_))
        return;
    follow_engine_mode();
    if (mode_ == PM_PLAY) {
        engine_->set_mode(PM_PAUSE);
        mode_ = PM_PAUSE;
        emit changed();
        return;
    }
    if (mode_ == PM_PAUSE) {
        engine_->set_mode(PM_PLAY);
        mode_ = PM_PLAY;
        emit changed();
        return;
    }
    if (mode_ != PM_STOP) {
        restart(time_, PM_PLAY);  // from a speed: the direction or the frames shown change
        return;
    }
    const uint32_t start = spans_.next_recorded(time_);
    if (start == 0) {
        say_nothing_after(time_);
        return;
    }
    restart(start, PM_PLAY);
}

void PlayerController::fast_forward() {
    if (!ready_ || !accept(ff_hold_))
        return;
    follow_engine_mode();
    const int32_t speed = next_forward_speed(mode_);
    if (mode_ == PM_STOP || is_rewind_speed(mode_)) {
        const uint32_t start = mode_ == PM_STOP ? spans_.next_recorded(time_) : time_;
        if (start == 0) {
            say_nothing_after(time_);
            return;
        }
        restart(start, speed);
        return;
    }
    // Forward from play, a pause or another speed: the engine goes on from its clock.
    engine_->set_mode(speed);
    mode_ = speed;
    emit changed();
}

void PlayerController::rewind() {
    if (!ready_ || !accept(rew_hold_))
        return;
    follow_engine_mode();
    const uint32_t start = spans_.previous_recorded(time_);
    if (start == 0) {
        say(QStringLiteral("Nothing recorded before %1 on this day.").arg(clock_text(time_)));
        return;
    }
    const int32_t speed = next_rewind_speed(mode_);
    if (is_rewind_speed(mode_)) {
        engine_->set_mode(speed);
        mode_ = speed;
        emit changed();
        return;
    }
    restart(mode_ == PM_STOP ? start : time_, speed);
}

// One frame from a pause or from play; from a speed or a stop the engine first stands at the
// shown time, so that the step starts where the picture is.
void PlayerController::frame_step(bool forward) {
    if (!ready_)
        return;
    follow_engine_mode();
    const int32_t step = forward ? PM_FRAME_F : PM_FRAME_B;
    if (mode_ == PM_PLAY || mode_ == PM_PAUSE) {
        engine_->set_mode(step);
        mode_ = PM_PAUSE;
        emit changed();
        return;
    }
    const uint32_t at = mode_ == PM_STOP ? spans_.next_recorded(time_) : time_;
    if (at == 0) {
        say_nothing_after(time_);
        return;
    }
    restart(at, step);
}

// A minute jump restarts in the mode that plays, so that the transport never believes it is in
// a jump mode afterwards; paused, it shows the frame of the new minute; stopped, it only moves.
void PlayerController::minute_jump(bool forward) {
    if (!ready_ || !accept(forward ? minute_forward_hold_ : minute_back_hold_))
        return;
    follow_engine_mode();
    const uint32_t day = spans_.day();
    if (day == 0)
        return;
    const int32_t second = spans_.on_day(time_) ? static_cast<int32_t>(time_ - day) : 0;
    const auto jumped = ui::minute_jump(second, forward, false);
    if (!jumped)
        return;
    const uint32_t to = day + static_cast<uint32_t>(*jumped);
    if (playing()) {
        restart(to, mode_);
    } else if (mode_ == PM_PAUSE && spans_.recorded_at(to)) {
        restart(to, PM_FRAME_F);
    } else {
        stand_at(to);
    }
}

// A seek while playing goes on in the same mode from the nearest recording in the direction of
// play; stopped or paused, the thumb and clock move there and the pictures of another time go.
void PlayerController::seek(uint32_t time) {
    if (!ready_)
        return;
    follow_engine_mode();
    if (playing()) {
        const bool backward = play_mode_direction(mode_) < 0;
        const uint32_t at = backward ? spans_.previous_recorded(time) : spans_.next_recorded(time);
        if (at != 0) {
            restart(at, mode_);
            if (at != time)
                say(QStringLiteral("No recording at %1; playing from %2.")
                        .arg(clock_text(time), clock_text(at)));
            return;
        }
        if (backward)
            say(QStringLiteral("Nothing recorded before %1 on this day.").arg(clock_text(time)));
        else
            say_nothing_after(time);
    }
    if (mode_ == PM_PAUSE && spans_.recorded_at(time)) {
        restart(time, PM_FRAME_F);
        return;
    }
    stand_at(time);
}

void PlayerController::play_at(uint32_t time) {
    if (!ready_)
        return;
    const uint32_t at = spans_.next_recorded(time);
    if (at == 0) {
        stand_at(time);
        say_nothing_after(time);
        return;
    }
    restart(at, PM_PLAY);
    if (at != time)
        say(QStringLiteral("No recording at %1; playing from %2.")
                .arg(clock_text(time), clock_text(at)));
}

void PlayerController::mark_in() {
    if (!ready_)
        return;
    if (mark_in_ && mark_out_) {
        mark_in_.reset();
        mark_out_.reset();
    } else {
        mark_in_ = time_;
        mark_out_.reset();
    }
    emit changed();
}

void PlayerController::mark_out() {
    if (!ready_ || !mark_in_)
        return;
    mark_out_ = time_;
    emit changed();
}

std::optional<std::pair<uint32_t, uint32_t>> PlayerController::marked_span() const {
    if (!mark_in_ || !mark_out_)
        return std::nullopt;
    return std::make_pair(std::min(*mark_in_, *mark_out_), std::max(*mark_in_, *mark_out_));
}

QString PlayerController::transport_text() const {
    const QString key_frames = QStringLiteral("  I-frames");
    if (mode_ == PM_PLAY)
        return QStringLiteral("▶ 1×");
    if (mode_ == PM_PAUSE)
        return QStringLiteral("❚❚");
    QString speed = speed_tooltip(mode_);
    speed.replace(QLatin1Char('X'), QStringLiteral("×"));
    if (is_forward_speed(mode_))
        return QStringLiteral("▶▶ ") + speed + (key_frame_only_ ? key_frames : QString());
    if (is_rewind_speed(mode_))
        return QStringLiteral("◀◀ ") + speed + key_frames;
    return QString();
}

} // namespace ui
