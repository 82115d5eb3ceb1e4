// The transport state of the player in one place: the mode the engine really has, the day and
// its recorded slots, the time shown (or to start from), the marks as recorder times, and
// whether a picture is on screen. The window shows this state and forwards clicks and keys;
// it never steers the engine itself. Every start at a new time goes through one restart that
// halts the engine before it clears the pictures and opens a new generation, so that nothing
// the engine said about the time before can reach the clock afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

#include <QObject>
#include <QString>

#include "ui/day_spans.h"
#include "ui/transport_rules.h"

class DisplayControl;

namespace ui {

class CoreBridge;
class EnginePort;

class PlayerController : public QObject {
    Q_OBJECT

public:
    PlayerController(EnginePort* engine, DisplayControl* display, QObject* parent = nullptr);

    // The bridge whose messages this controller receives (it posts them here).
    void set_bridge(CoreBridge* bridge);
    // Video slots below this count are channels; the others carry audio.
    void set_video_channels(int count) { video_channels_ = count; }
    // The clock of the hold-offs, in milliseconds; tests replace it.
    void set_clock(std::function<int64_t()> clock) { clock_ = std::move(clock); }

    // A session was mounted, or it went away: nothing of the one before stays on screen.
    void session_opened();
    void session_closed();
    bool ready() const { return ready_; }

    // The user chose a day: playback stops, pictures go, and the thumb and the clock stand at
    // its midnight, so that Play starts at the day's first recording.
    void show_day(uint32_t midnight, const DaySpans::Masks& masks);
    // Playback crossed into another day: its slots replace the old day's, play goes on.
    void follow_day(uint32_t midnight, const DaySpans::Masks& masks);

    // Transport. Each does what the button of the same name does.
    void play();
    void fast_forward();
    void rewind();
    void frame_step(bool forward);
    void minute_jump(bool forward);
    // The timeline was clicked or its thumb released at `time` of the shown day.
    void seek(uint32_t time);
    // Plays from `time` (a log record, Go to time).
    void play_at(uint32_t time);
    // Stops and closes the channels; the pictures stay.
    void stop();
    void set_key_frame_only(bool on);
    bool key_frame_only() const { return key_frame_only_; }
    // An export took the engine: what the transport showed is over.
    void engine_taken();
    // Someone else may have stopped the engine (an export that failed to start): the
    // transport takes the engine's mode again.
    void follow_engine();

    // Marks of the export span.
    void mark_in();
    void mark_out();
    std::optional<uint32_t> marked_in() const { return mark_in_; }
    std::optional<uint32_t> marked_out() const { return mark_out_; }
    // The marked span, earlier time first; nullopt until both marks are set.
    std::optional<std::pair<uint32_t, uint32_t>> marked_span() const;

    int32_t mode() const { return mode_; }
    // Moving in some direction (not stopped, not paused).
    bool playing() const;
    uint32_t time() const { return time_; }
    uint32_t day() const { return spans_.day(); }
    const DaySpans& spans() const { return spans_; }
    bool has_picture() const { return has_picture_; }
    uint32_t generation() const { return generation_; }
    // "▶ 1×", "▶▶ 8×", "◀◀ 2×", "❚❚", with " I-frames" when only key frames are shown.
    QString transport_text() const;

signals:
    // Mode, time, marks, day or picture flag changed.
    void changed();
    // A line for the window's message strip.
    void status(const QString& text);
    // Playback reached another day than the one shown.
    void day_reached(uint32_t midnight);
    // Video channel `channel` (0-based) could not be read from `from` to `to` (recorder times;
    // `to` 0: to the end of its data).
    void unreadable(int channel, uint32_t from, uint32_t to);

protected:
    bool event(QEvent* event) override;

private:
    void restart(uint32_t time, int32_t mode);
    void halt(int32_t mode);
    void clear_pictures();
    void stand_at(uint32_t time);
    void say_nothing_after(uint32_t time);
    void on_frame_time(uint32_t generation, uint32_t time);
    void on_engine_stopped(uint32_t generation);
    void on_read_error(uint32_t generation);
    void follow_engine_mode();
    void say(const QString& text) { emit status(text); }
    bool accept(HoldOff& hold) { return hold.accept(clock_()); }

    EnginePort* engine_;
    DisplayControl* display_;
    CoreBridge* bridge_ = nullptr;
    std::function<int64_t()> clock_;

    bool ready_ = false;
    int video_channels_ = 16;
    DaySpans spans_;
    int32_t mode_ = 0;
    uint32_t time_ = 0;
    uint32_t generation_ = 1;
    bool has_picture_ = false;
    bool key_frame_only_ = false;
    std::optional<uint32_t> mark_in_;
    std::optional<uint32_t> mark_out_;

    HoldOff play_hold_{kPlayHoldOffMs};
    HoldOff ff_hold_{kSpeedHoldOffMs};
    HoldOff rew_hold_{kSpeedHoldOffMs};
    HoldOff minute_forward_hold_{kMinuteHoldOffMs};
    HoldOff minute_back_hold_{kMinuteHoldOffMs};
};

// "HH:MM:SS" of a recorder time, for the status lines.
QString clock_text(uint32_t time);

} // namespace ui
