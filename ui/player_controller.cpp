// The controller's state and what it hears from the engine: frame times and the engine's own
// stop, each dropped when it belongs to a generation before the last restart.
#include "ui/player_controller.h"

#include <QDateTime>

#include "playback/display_control.h"
#include "storage/api.h"
#include "ui/core_bridge.h"
#include "ui/engine_port.h"
#include "ui/posted_event.h"
#include "ui/recorder_clock.h"

namespace ui {

QString clock_text(uint32_t time) {
    const DateTime t = broken_down(time);
    return QStringLiteral("%1:%2:%3")
        .arg(t.hour, 2, 10, QLatin1Char('0'))
        .arg(t.minute, 2, 10, QLatin1Char('0'))
        .arg(t.second, 2, 10, QLatin1Char('0'));
}

PlayerController::PlayerController(EnginePort* engine, DisplayControl* display, QObject* parent)
    : QObject(parent), engine_(engine), display_(display),
      clock_([] { return QDateTime::currentMSecsSinceEpoch(); }) {}

void PlayerController::set_bridge(CoreBridge* bridge) {
    bridge_ = bridge;
    if (bridge_ != nullptr)
        bridge_->set_generation(generation_);
}

bool PlayerController::playing() const { return mode_ != PM_STOP && mode_ != PM_PAUSE; }

void PlayerController::session_opened() {
    ready_ = true;
    engine_->set_key_frame_only(key_frame_only_);
    emit changed();
}

void PlayerController::session_closed() {
    halt(PM_STOP);
    clear_pictures();
    ready_ = false;
    spans_.reset(0);
    time_ = 0;
    mark_in_.reset();
    mark_out_.reset();
    emit changed();
}

void PlayerController::show_day(uint32_t midnight, const DaySpans::Masks& masks) {
    halt(PM_STOP);
    clear_pictures();
    spans_.reset(midnight);
    spans_.masks() = masks;
    time_ = midnight;
    emit changed();
}

void PlayerController::follow_day(uint32_t midnight, const DaySpans::Masks& masks) {
    spans_.reset(midnight);
    spans_.masks() = masks;
    emit changed();
}

void PlayerController::set_key_frame_only(bool on) {
    key_frame_only_ = on;
    if (ready_)
        engine_->set_key_frame_only(on);
    emit changed();
}

void PlayerController::engine_taken() {
    ++generation_;
    if (bridge_ != nullptr)
        bridge_->set_generation(generation_);
    mode_ = PM_STOP;
    has_picture_ = false;
    emit changed();
}

void PlayerController::follow_engine() {
    if (engine_->mode() == PM_STOP && mode_ != PM_STOP) {
        halt(PM_STOP);
        has_picture_ = false;
    }
    emit changed();
}

// Halt first, so that the pass under way ends before the pictures go; then a new generation,
// so that its frame times and its stop are no longer heard; then the new start.
void PlayerController::restart(uint32_t time, int32_t mode) {
    say(QString());  // what the line said was about the play before
    halt(PM_PAUSE);
    clear_pictures();
    engine_->open_channels(0xFFFFFFFFu);
    engine_->play_from(time);
    engine_->set_mode(mode);
    mode_ = mode;
    follow_engine_mode();
    time_ = time;
    emit changed();
}

void PlayerController::halt(int32_t mode) {
    engine_->halt(mode);
    ++generation_;
    if (bridge_ != nullptr) {
        bridge_->set_generation(generation_);
        bridge_->clear_armed();
    }
    mode_ = mode;
}

void PlayerController::clear_pictures() {
    display_->clear();
    has_picture_ = false;
}

void PlayerController::stop() {
    halt(PM_STOP);
    emit changed();
}

// Frame steps fall back to a pause after their step, a minute jump to the mode before it; the
// engine's own mode word says which it is now.
void PlayerController::follow_engine_mode() {
    int32_t mode = engine_->mode();
    if (mode == PM_FRAME_F || mode == PM_FRAME_B)
        mode = PM_PAUSE;
    if (mode == PM_MINUTE_F || mode == PM_MINUTE_B)
        return;
    mode_ = mode;
}

bool PlayerController::event(QEvent* event) {
    const int message = posted_message(event);
    const auto* posted = message >= 0 ? dynamic_cast<const PostedEvent*>(event) : nullptr;
    if (posted == nullptr)
        return QObject::event(event);
    const auto generation = static_cast<uint32_t>(posted->wparam());
    switch (message) {
    case kMsgFrameTime: on_frame_time(generation, static_cast<uint32_t>(posted->lparam())); break;
    case kMsgStop: on_engine_stopped(generation); break;
    case kMsgReadError: on_read_error(generation); break;
    default: return QObject::event(event);
    }
    return true;
}

void PlayerController::on_frame_time(uint32_t generation, uint32_t time) {
    if (generation != generation_ || !ready_ || broken_down(time).year < 1970)
        return;
    const int32_t was_mode = mode_;
    const bool was_picture = has_picture_;
    follow_engine_mode();
    has_picture_ = true;
    const bool moved = time != time_;
    time_ = time;
    // Only in the direction of play, so that a late frame of the day before cannot turn the
    // calendar back.
    const int32_t direction = play_mode_direction(mode_);
    if (spans_.day() != 0 && !spans_.on_day(time) &&
        (direction < 0 ? time < spans_.day() : time > spans_.day()))
        emit day_reached(time - time % DaySpans::kDaySeconds);
    if (moved || was_mode != mode_ || !was_picture)
        emit changed();
}

// One line per failure, naming the channel, where its data could not be read and where play
// went on; a hole is never passed over without a word.
void PlayerController::on_read_error(uint32_t generation) {
    const std::vector<PlaybackReadFailure> failures = engine_->take_read_failures();
    if (generation != generation_)
        return;
    for (const PlaybackReadFailure& f : failures) {
        const bool audio = f.slot >= video_channels_;
        const int channel = audio ? f.slot - video_channels_ : f.slot;
        const QString name = audio ? QStringLiteral("audio %1").arg(channel + 1)
                                   : QStringLiteral("CH%1").arg(channel + 1, 2, 10, QLatin1Char('0'));
        const QString where = f.resumed_at != 0
                                  ? QStringLiteral("skipped to %1").arg(clock_text(f.resumed_at))
                                  : QStringLiteral("nothing readable after it");
        say(QStringLiteral("Read error on %1 at %2; %3").arg(name, clock_text(f.failed_at), where));
        if (!audio)
            emit unreadable(channel, f.failed_at, f.resumed_at);
    }
}

void PlayerController::on_engine_stopped(uint32_t generation) {
    if (generation != generation_)
        return;
    const bool backward = play_mode_direction(mode_) < 0;
    halt(PM_STOP);
    say((backward ? QStringLiteral("Nothing more to play before %1.")
                  : QStringLiteral("Nothing more to play after %1."))
            .arg(clock_text(time_)));
    emit changed();
}

} // namespace ui
