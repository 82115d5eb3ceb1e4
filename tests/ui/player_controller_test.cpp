// The player controller without a window: its transport against an engine that records what
// it is asked, with the recording display and the real bridge posting the engine's messages.
#include <QSignalSpy>
#include <QtTest>

#include <string>
#include <utility>
#include <vector>

#include "storage/api.h"
#include "tests/testkit/recording_display.h"
#include "ui/core_bridge.h"
#include "ui/day_spans.h"
#include "ui/engine_port.h"
#include "ui/player_controller.h"

using testkit::DisplayCall;
using ui::DaySpans;
using ui::PlayerController;

namespace {

constexpr uint32_t kDay = 1'700'006'400;  // a midnight
constexpr uint32_t kHour = 3600;

struct EngineCall {
    std::string what;
    int64_t value = 0;
    size_t display_calls = 0;  // how many display calls came before this one
};

// Answers as the engine would and records every call, with how far the display had got.
class FakeEngine final : public ui::EnginePort {
public:
    explicit FakeEngine(const testkit::RecordingDisplay* display) : display_(display) {}

    void halt(int32_t mode) override {
        record("halt", mode);
        mode_ = mode;
        mask_ = 0;
    }
    int32_t open_channels(uint32_t mask) override {
        record("open", mask);
        if (mode_ != PM_STOP && mode_ != PM_PAUSE)
            return kApiRefused;
        mask_ = mask;
        return 0;
    }
    int32_t play_from(uint32_t time) override {
        record("play_from", time);
        return mask_ == 0 ? kApiRefused : 0;
    }
    int32_t set_mode(int32_t mode) override {
        record("mode", mode);
        if (mask_ == 0)
            return kApiRefused;
        mode_ = mode;
        return mode;
    }
    int32_t mode() const override { return mode_; }
    void set_key_frame_only(bool on) override { record("key_frames", on ? 1 : 0); }
    std::vector<PlaybackReadFailure> take_read_failures() override {
        return std::exchange(failures, {});
    }
    std::vector<PlaybackReadFailure> failures;

    // The engine's own fall-back, as after a frame step or at the end of the data.
    void fall_back_to(int32_t mode) { mode_ = mode; }
    std::vector<EngineCall> calls;

    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& c : calls)
            out.push_back(c.what);
        return out;
    }
    int64_t last(const std::string& what) const {
        for (auto c = calls.rbegin(); c != calls.rend(); ++c)
            if (c->what == what)
                return c->value;
        return -1;
    }

private:
    void record(const char* what, int64_t value) {
        calls.push_back({what, value, display_->calls().size()});
    }
    const testkit::RecordingDisplay* display_;
    int32_t mode_ = PM_STOP;
    uint32_t mask_ = 0;
};

// A day recorded 08:00-09:00 and 10:00:00-10:00:59.
DaySpans::Masks sample_day() {
    DaySpans::Masks masks{};
    for (int slot = 8 * 240; slot < 9 * 240; ++slot)
        masks[static_cast<size_t>(slot)] = 0x3;
    for (int slot = 10 * 240; slot < 10 * 240 + 4; ++slot)
        masks[static_cast<size_t>(slot)] = 0x1;
    return masks;
}

// The lines the controller said; an empty one only clears the strip.
int said(const QSignalSpy& status) {
    int n = 0;
    for (const auto& args : status)
        n += args[0].toString().isEmpty() ? 0 : 1;
    return n;
}

int count_of(const testkit::RecordingDisplay& display, DisplayCall kind) {
    int n = 0;
    for (DisplayCall call : display.call_kinds())
        n += call == kind ? 1 : 0;
    return n;
}

} // namespace

class PlayerControllerTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void day_spans_find_the_next_and_previous_recording();
    void a_restart_halts_before_it_clears_and_forgets_older_messages();
    void pause_keeps_the_pictures_and_play_goes_on_from_there();
    void the_mode_is_what_the_engine_does_after_its_fall_backs();
    void a_minute_jump_keeps_the_playing_mode();
    void the_engines_stop_counts_only_for_its_own_generation();
    void a_new_day_stops_clears_and_plays_from_its_first_recording();
    void a_seek_while_playing_goes_on_in_the_same_mode();
    void rewind_without_an_earlier_recording_changes_nothing();
    void marks_are_recorder_times_across_days();
    void playback_crossing_midnight_asks_for_the_next_day_only_forward();
    void a_session_closing_leaves_no_picture();
    void transport_text_names_speed_and_frames();
    void a_read_failure_is_named_and_its_span_marked();
    void after_a_failed_export_start_the_transport_shows_what_the_engine_does();

private:
    void post_frame_time(uint32_t time);
    void start_playing();

    std::unique_ptr<testkit::RecordingDisplay> display_;
    std::unique_ptr<FakeEngine> engine_;
    std::unique_ptr<PlayerController> player_;
    std::unique_ptr<ui::CoreBridge> bridge_;
    int64_t now_ = 0;
};

void PlayerControllerTest::init() {
    display_ = std::make_unique<testkit::RecordingDisplay>();
    engine_ = std::make_unique<FakeEngine>(display_.get());
    player_ = std::make_unique<PlayerController>(engine_.get(), display_.get());
    bridge_ = std::make_unique<ui::CoreBridge>(player_.get(), display_.get());
    player_->set_bridge(bridge_.get());
    // Every press comes a second after the one before, beyond every hold-off.
    player_->set_clock([this] { return now_ += 1000; });
    player_->session_opened();
    player_->show_day(kDay, sample_day());
}

void PlayerControllerTest::cleanup() {
    bridge_.reset();
    player_.reset();
    engine_.reset();
    display_.reset();
}

// As the engine reports a frame: through the bridge's callback, delivered to the controller.
void PlayerControllerTest::post_frame_time(uint32_t time) {
    const uint8_t bytes[4] = {0, 0, 0, 1};
    ui::CoreBridge::frame_callback(0, time, 0, bytes, sizeof bytes, 0, (352u << 16) | 288u);
    QCoreApplication::sendPostedEvents(player_.get());
}

void PlayerControllerTest::start_playing() {
    player_->play();
    QCOMPARE(player_->mode(), int32_t{PM_PLAY});
}

void PlayerControllerTest::day_spans_find_the_next_and_previous_recording() {
    DaySpans spans;
    spans.reset(kDay);
    spans.masks() = sample_day();
    QCOMPARE(spans.first_recorded(), kDay + 8 * kHour);
    QCOMPARE(spans.next_recorded(kDay + 8 * kHour + 17), kDay + 8 * kHour + 17);  // inside
    QCOMPARE(spans.next_recorded(kDay + 9 * kHour), kDay + 10 * kHour);         // in the gap
    QCOMPARE(spans.next_recorded(kDay + 10 * kHour + 60), 0u);                   // after the last
    QCOMPARE(spans.previous_recorded(kDay + 9 * kHour + 5), kDay + 9 * kHour - 1);
    QCOMPARE(spans.previous_recorded(kDay + 7 * kHour), 0u);
    QCOMPARE(spans.previous_recorded(kDay + 20 * kHour), kDay + 10 * kHour + 59);
    // Times of other days find nothing, or clamp to the day's ends.
    QCOMPARE(spans.next_recorded(kDay + DaySpans::kDaySeconds), 0u);
    QCOMPARE(spans.next_recorded(kDay - 5), kDay + 8 * kHour);
    QCOMPARE(spans.previous_recorded(kDay - 5), 0u);
    QVERIFY(!spans.recorded_at(kDay + DaySpans::kDaySeconds + 8 * kHour));
}

void PlayerControllerTest::a_restart_halts_before_it_clears_and_forgets_older_messages() {
    start_playing();
    // Play from the thumb at midnight starts at the day's first recording.
    QCOMPARE(engine_->last("play_from"), int64_t{kDay + 8 * kHour});
    const auto names = engine_->names();
    const auto last_halt = std::find(names.rbegin(), names.rend(), "halt");
    QVERIFY(last_halt != names.rend());
    const auto halt = std::prev(last_halt.base());
    QCOMPARE(std::vector<std::string>(halt, names.end()),
             (std::vector<std::string>{"halt", "open", "play_from", "mode"}));
    // The pictures were cleared after the halt, so no frame of the pass before lands after.
    const auto kinds = display_->call_kinds();
    const size_t at_halt = engine_->calls[static_cast<size_t>(halt - names.begin())].display_calls;
    QVERIFY(std::find(kinds.begin() + static_cast<long>(at_halt), kinds.end(),
                      DisplayCall::Clear) != kinds.end());
    // A frame time of the old generation no longer moves the clock.
    const uint32_t old_generation = player_->generation();
    post_frame_time(kDay + 8 * kHour + 40);
    QCOMPARE(player_->time(), kDay + 8 * kHour + 40);
    bridge_->set_generation(old_generation - 1);
    const uint8_t bytes[4] = {0, 0, 0, 1};
    ui::CoreBridge::frame_callback(0, kDay + 3 * kHour, 0, bytes, sizeof bytes, 0, 0);
    bridge_->set_generation(old_generation);
    QCoreApplication::sendPostedEvents(player_.get());
    QCOMPARE(player_->time(), kDay + 8 * kHour + 40);
}

void PlayerControllerTest::pause_keeps_the_pictures_and_play_goes_on_from_there() {
    start_playing();
    post_frame_time(kDay + 8 * kHour + 10);
    const int clears = count_of(*display_, DisplayCall::Clear);
    const size_t calls = engine_->calls.size();
    player_->play();
    QCOMPARE(player_->mode(), int32_t{PM_PAUSE});
    QCOMPARE(count_of(*display_, DisplayCall::Clear), clears);
    QVERIFY(player_->has_picture());
    QCOMPARE(engine_->names().back(), std::string("mode"));
    QCOMPARE(engine_->last("mode"), int64_t{PM_PAUSE});
    // Play again goes on from the engine's clock: no halt, no new time.
    player_->play();
    QCOMPARE(player_->mode(), int32_t{PM_PLAY});
    QCOMPARE(engine_->calls.size(), calls + 2);
    QCOMPARE(count_of(*display_, DisplayCall::Clear), clears);
}

void PlayerControllerTest::the_mode_is_what_the_engine_does_after_its_fall_backs() {
    start_playing();
    player_->frame_step(true);
    QCOMPARE(engine_->last("mode"), int64_t{PM_FRAME_F});
    QCOMPARE(player_->mode(), int32_t{PM_PAUSE});
    engine_->fall_back_to(PM_PAUSE);
    post_frame_time(kDay + 8 * kHour + 1);
    QCOMPARE(player_->mode(), int32_t{PM_PAUSE});
    // Play from that pause plays; it does not start over.
    player_->play();
    QCOMPARE(player_->mode(), int32_t{PM_PLAY});
    QCOMPARE(engine_->last("mode"), int64_t{PM_PLAY});
    // The engine stopped by itself: the next message says so, and Play starts anew.
    engine_->fall_back_to(PM_STOP);
    post_frame_time(kDay + 8 * kHour + 2);
    QCOMPARE(player_->mode(), int32_t{PM_STOP});
}

void PlayerControllerTest::a_minute_jump_keeps_the_playing_mode() {
    start_playing();
    player_->fast_forward();
    player_->fast_forward();
    QCOMPARE(player_->mode(), int32_t{PM_FF_4});
    post_frame_time(kDay + 8 * kHour + 100);
    player_->minute_jump(true);
    QCOMPARE(player_->mode(), int32_t{PM_FF_4});
    QCOMPARE(engine_->last("play_from"), int64_t{kDay + 8 * kHour + 160});
    QCOMPARE(engine_->last("mode"), int64_t{PM_FF_4});
    // FF goes on to the next speed, not back to 2X.
    player_->fast_forward();
    QCOMPARE(player_->mode(), int32_t{PM_FF_8});
}

void PlayerControllerTest::the_engines_stop_counts_only_for_its_own_generation() {
    start_playing();
    const uint32_t before = player_->generation();
    ui::CoreBridge::status_callback(PLAYBACK_STATUS_NO_DATA, -1);  // posted in this generation
    player_->seek(kDay + 8 * kHour + 30 * 60);                     // a restart: a new generation
    QVERIFY(player_->generation() != before);
    QCoreApplication::sendPostedEvents(player_.get());
    QCOMPARE(player_->mode(), int32_t{PM_PLAY});
    QSignalSpy status(player_.get(), &PlayerController::status);
    ui::CoreBridge::status_callback(PLAYBACK_STATUS_NO_DATA, -1);
    QCoreApplication::sendPostedEvents(player_.get());
    QCOMPARE(player_->mode(), int32_t{PM_STOP});
    QCOMPARE(engine_->last("halt"), int64_t{PM_STOP});
    QCOMPARE(said(status), 1);
}

void PlayerControllerTest::a_new_day_stops_clears_and_plays_from_its_first_recording() {
    start_playing();
    post_frame_time(kDay + 8 * kHour + 300);
    const int clears = count_of(*display_, DisplayCall::Clear);
    DaySpans::Masks next{};
    next[12 * 240] = 0x1;
    player_->show_day(kDay + DaySpans::kDaySeconds, next);
    QCOMPARE(player_->mode(), int32_t{PM_STOP});
    QCOMPARE(count_of(*display_, DisplayCall::Clear), clears + 1);
    QVERIFY(!player_->has_picture());
    // Thumb and clock agree: both at the new day's midnight.
    QCOMPARE(player_->time(), kDay + DaySpans::kDaySeconds);
    player_->play();
    QCOMPARE(engine_->last("play_from"), int64_t{kDay + DaySpans::kDaySeconds + 12 * kHour});
    // A day with nothing: Play says so and asks nothing of the engine.
    player_->show_day(kDay + 2 * DaySpans::kDaySeconds, DaySpans::Masks{});
    const size_t calls = engine_->calls.size();
    QSignalSpy status(player_.get(), &PlayerController::status);
    player_->play();
    QCOMPARE(engine_->calls.size(), calls);
    QCOMPARE(said(status), 1);
    QCOMPARE(player_->mode(), int32_t{PM_STOP});
}

void PlayerControllerTest::a_seek_while_playing_goes_on_in_the_same_mode() {
    start_playing();
    player_->fast_forward();
    QCOMPARE(player_->mode(), int32_t{PM_FF_2});
    QSignalSpy status(player_.get(), &PlayerController::status);
    player_->seek(kDay + 9 * kHour + 600);  // in the gap: on from the next recording
    QCOMPARE(player_->mode(), int32_t{PM_FF_2});
    QCOMPARE(engine_->last("play_from"), int64_t{kDay + 10 * kHour});
    QCOMPARE(said(status), 1);
    // Beyond the last recording: stop, the pictures of another time go, the clock shows it.
    player_->seek(kDay + 20 * kHour);
    QCOMPARE(player_->mode(), int32_t{PM_STOP});
    QCOMPARE(player_->time(), kDay + 20 * kHour);
    QVERIFY(!player_->has_picture());
    // Stopped, a seek only moves the thumb and clock.
    const size_t calls = engine_->calls.size();
    player_->seek(kDay + 8 * kHour + 5);
    QCOMPARE(player_->time(), kDay + 8 * kHour + 5);
    QCOMPARE(engine_->last("halt"), int64_t{PM_STOP});
    QVERIFY(engine_->calls.size() <= calls + 1);
}

void PlayerControllerTest::rewind_without_an_earlier_recording_changes_nothing() {
    player_->seek(kDay + 7 * kHour);
    const size_t calls = engine_->calls.size();
    QSignalSpy changed(player_.get(), &PlayerController::changed);
    QSignalSpy status(player_.get(), &PlayerController::status);
    player_->rewind();
    QCOMPARE(engine_->calls.size(), calls);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(said(status), 1);
    QCOMPARE(player_->mode(), int32_t{PM_STOP});
    // With a recording before the thumb, rewind starts at its end.
    player_->seek(kDay + 9 * kHour + 30);
    player_->rewind();
    QCOMPARE(player_->mode(), int32_t{PM_REW_1});
    QCOMPARE(engine_->last("play_from"), int64_t{kDay + 9 * kHour - 1});
}

void PlayerControllerTest::marks_are_recorder_times_across_days() {
    player_->seek(kDay + 23 * kHour + 59 * 60);
    player_->mark_in();
    player_->show_day(kDay + DaySpans::kDaySeconds, DaySpans::Masks{});
    player_->seek(kDay + DaySpans::kDaySeconds + 60);
    player_->mark_out();
    const auto span = player_->marked_span();
    QVERIFY(span.has_value());
    QCOMPARE(span->first, kDay + 23 * kHour + 59 * 60);
    QCOMPARE(span->second, kDay + DaySpans::kDaySeconds + 60);
    // A mark out before the mark in still gives the span in order.
    player_->mark_in();  // both set: clears
    QVERIFY(!player_->marked_in());
    player_->mark_in();
    player_->seek(kDay + DaySpans::kDaySeconds + 10);
    player_->mark_out();
    QCOMPARE(player_->marked_span()->first, kDay + DaySpans::kDaySeconds + 10);
    QCOMPARE(player_->marked_span()->second, kDay + DaySpans::kDaySeconds + 60);
}

void PlayerControllerTest::playback_crossing_midnight_asks_for_the_next_day_only_forward() {
    start_playing();
    QSignalSpy reached(player_.get(), &PlayerController::day_reached);
    post_frame_time(kDay - 2);  // a late frame of the day before
    QCOMPARE(reached.count(), 0);
    post_frame_time(kDay + DaySpans::kDaySeconds + 1);
    QCOMPARE(reached.count(), 1);
    QCOMPARE(reached[0][0].toUInt(), kDay + DaySpans::kDaySeconds);
    player_->follow_day(kDay + DaySpans::kDaySeconds, DaySpans::Masks{});
    QCOMPARE(player_->mode(), int32_t{PM_PLAY});  // following a day does not stop the play
    QCOMPARE(player_->day(), kDay + DaySpans::kDaySeconds);
}

void PlayerControllerTest::a_session_closing_leaves_no_picture() {
    start_playing();
    post_frame_time(kDay + 8 * kHour + 10);
    QVERIFY(player_->has_picture());
    const int clears = count_of(*display_, DisplayCall::Clear);
    player_->session_closed();
    QCOMPARE(count_of(*display_, DisplayCall::Clear), clears + 1);
    QVERIFY(!player_->has_picture());
    QCOMPARE(player_->mode(), int32_t{PM_STOP});
    QCOMPARE(engine_->last("halt"), int64_t{PM_STOP});
    // Nothing plays without a session.
    const size_t calls = engine_->calls.size();
    player_->play();
    player_->fast_forward();
    QCOMPARE(engine_->calls.size(), calls);
}

void PlayerControllerTest::transport_text_names_speed_and_frames() {
    start_playing();
    QCOMPARE(player_->transport_text(), QStringLiteral("▶ 1×"));
    player_->fast_forward();
    player_->fast_forward();
    player_->fast_forward();
    QCOMPARE(player_->transport_text(), QStringLiteral("▶▶ 8×"));
    player_->set_key_frame_only(true);
    QVERIFY(player_->transport_text().endsWith(QStringLiteral("I-frames")));
    player_->rewind();
    QCOMPARE(player_->transport_text(), QStringLiteral("◀◀ 1×  I-frames"));
    player_->play();
    player_->play();
    QCOMPARE(player_->transport_text(), QStringLiteral("❚❚"));
}

void PlayerControllerTest::a_read_failure_is_named_and_its_span_marked() {
    start_playing();
    player_->set_video_channels(4);
    QSignalSpy status(player_.get(), &PlayerController::status);
    QSignalSpy unreadable(player_.get(), &PlayerController::unreadable);
    engine_->failures = {{1, -17, kDay + 8 * kHour + 20, kDay + 8 * kHour + 45},
                         {5, -17, kDay + 8 * kHour + 50, 0}};  // slot 5: audio 2
    ui::CoreBridge::status_callback(PLAYBACK_STATUS_READ_ERROR, 1);
    QCoreApplication::sendPostedEvents(player_.get());
    QCOMPARE(said(status), 2);
    QCOMPARE(status[status.count() - 2][0].toString(),
             QStringLiteral("Read error on CH02 at 08:00:20; skipped to 08:00:45"));
    QCOMPARE(status[status.count() - 1][0].toString(),
             QStringLiteral("Read error on audio 2 at 08:00:50; nothing readable after it"));
    QCOMPARE(unreadable.count(), 1);  // the timeline marks video channels' spans
    QCOMPARE(unreadable[0][0].toInt(), 1);
    QCOMPARE(unreadable[0][1].toUInt(), kDay + 8 * kHour + 20);
    QCOMPARE(unreadable[0][2].toUInt(), kDay + 8 * kHour + 45);
    // Failures reported before a restart belong to the play before it: taken, not shown.
    engine_->failures = {{0, -17, kDay + 8 * kHour + 30, kDay + 8 * kHour + 60}};
    ui::CoreBridge::status_callback(PLAYBACK_STATUS_READ_ERROR, 0);
    player_->seek(kDay + 8 * kHour + 600);
    QCoreApplication::sendPostedEvents(player_.get());
    QCOMPARE(unreadable.count(), 1);
    QVERIFY(engine_->failures.empty());
}

// An export that failed before it stopped the engine leaves play as it was; one that failed
// after stopping it leaves a stopped transport with no picture claimed.
void PlayerControllerTest::after_a_failed_export_start_the_transport_shows_what_the_engine_does() {
    start_playing();
    post_frame_time(kDay + 8 * kHour + 5);
    player_->follow_engine();
    QCOMPARE(player_->mode(), int32_t{PM_PLAY});
    QVERIFY(player_->has_picture());
    engine_->fall_back_to(PM_STOP);  // the job stopped the engine, then failed
    player_->follow_engine();
    QCOMPARE(player_->mode(), int32_t{PM_STOP});
    QVERIFY(!player_->has_picture());
    QCOMPARE(engine_->last("halt"), int64_t{PM_STOP});
}

QTEST_MAIN(PlayerControllerTest)
#include "player_controller_test.moc"
