// The callbacks' routing: arming on the first key frame, the generation of the messages, audio slots, the export's frames and
// the stop message.
#include <QtTest>

#include "storage/api.h"
#include "tests/testkit/recording_display.h"
#include "ui/core_bridge.h"
#include "ui/posted_event.h"
#include "ui/transport_rules.h"

using testkit::DisplayCall;

namespace {

// Keeps the messages posted to it.
class Receiver : public QObject {
public:
    std::vector<std::pair<int, intptr_t>> messages;
    std::vector<intptr_t> generations;

protected:
    bool event(QEvent* event) override {
        if (const auto* posted = dynamic_cast<const ui::PostedEvent*>(event)) {
            messages.emplace_back(posted->message(), posted->lparam());
            generations.push_back(posted->wparam());
            return true;
        }
        return QObject::event(event);
    }
};

const uint8_t kBytes[8] = {0, 0, 0, 1, 0x65, 1, 2, 3};

void frame(int32_t slot, uint32_t time, uint32_t picture_size) {
    ui::CoreBridge::frame_callback(slot, time, 0, kBytes, sizeof kBytes, 0, picture_size);
}

std::vector<testkit::RecordedDisplayCall> frames_of(const testkit::RecordingDisplay& display) {
    std::vector<testkit::RecordedDisplayCall> out;
    for (const auto& call : display.calls())
        if (call.call == DisplayCall::Frame)
            out.push_back(call);
    return out;
}

} // namespace

class CoreBridgeTest : public QObject {
    Q_OBJECT

private slots:
    void a_channel_shows_frames_from_its_first_key_frame();
    void audio_slots_follow_the_video_channels();
    void an_export_takes_every_frame();
    void only_no_data_of_the_whole_play_stops();
    void minute_jumps_stay_within_the_day();
    void speeds_cycle_with_their_tooltips();
};

void CoreBridgeTest::a_channel_shows_frames_from_its_first_key_frame() {
    Receiver window;
    testkit::RecordingDisplay display;
    ui::CoreBridge bridge(&window, &display);
    bridge.set_display_channels(4);
    const uint32_t size = (352u << 16) | 288u;
    frame(2, 100, 0);     // a frame before any key frame: it would decode from nothing
    QVERIFY(frames_of(display).empty());
    frame(2, 100, size);  // the first key frame arms the channel and is shown
    QCOMPARE(bridge.armed(), 1u << 2);
    frame(2, 101, 0);
    auto shown = frames_of(display);
    QCOMPARE(shown.size(), size_t{2});
    QCOMPARE(shown[0].numbers.at(4), int64_t{size});  // picture size of the key frame
    QCOMPARE(shown[0].numbers.at(5), int64_t{2});     // the channel
    // After a restart cleared the mask, the same holds again.
    bridge.clear_armed();
    frame(2, 102, 0);
    QCOMPARE(frames_of(display).size(), size_t{2});
    frame(2, 102, size);
    QCOMPARE(frames_of(display).size(), size_t{3});
    // Every frame, shown or not, tells the receiver its time, in the generation of its post.
    bridge.set_generation(7);
    frame(2, 103, 0);
    QCoreApplication::sendPostedEvents(&window);
    QCOMPARE(window.messages.size(), size_t{6});
    QCOMPARE(window.messages.back(), std::make_pair(int{ui::kMsgFrameTime}, intptr_t{103}));
    QCOMPARE(window.generations.back(), intptr_t{7});
}

void CoreBridgeTest::audio_slots_follow_the_video_channels() {
    Receiver window;
    testkit::RecordingDisplay display;
    ui::CoreBridge bridge(&window, &display);
    bridge.set_display_channels(8);
    ui::CoreBridge::frame_callback(9, 50, 0, kBytes, sizeof kBytes, 1, 0);
    const auto shown = frames_of(display);
    QCOMPARE(shown.size(), size_t{1});
    QCOMPARE(shown[0].numbers.at(2), int64_t{1});  // kind: audio
    QCOMPARE(shown[0].numbers.at(5), int64_t{1});  // audio channel 9 - 8
    // Slots outside the engine's range never reach the display.
    ui::CoreBridge::frame_callback(kPlaybackSlots, 50, 0, kBytes, sizeof kBytes, 1, 0);
    QCOMPARE(frames_of(display).size(), size_t{1});
}

void CoreBridgeTest::an_export_takes_every_frame() {
    Receiver window;
    testkit::RecordingDisplay display;
    ui::CoreBridge bridge(&window, &display);
    bridge.set_export_running(true);
    frame(0, 10, (352u << 16) | 288u);
    frame(0, 10, (352u << 16) | 288u);
    ui::CoreBridge::status_callback(PLAYBACK_STATUS_NO_DATA, -1);
    QCoreApplication::sendPostedEvents(&window);
    QVERIFY(frames_of(display).empty());
    QVERIFY(window.messages.empty());
    QCOMPARE(bridge.armed(), 0u);
}

void CoreBridgeTest::only_no_data_of_the_whole_play_stops() {
    Receiver window;
    testkit::RecordingDisplay display;
    ui::CoreBridge bridge(&window, &display);
    ui::CoreBridge::status_callback(PLAYBACK_STATUS_END, 3);
    ui::CoreBridge::status_callback(7, -1);
    ui::CoreBridge::status_callback(PLAYBACK_STATUS_NO_DATA, -1);
    QCoreApplication::sendPostedEvents(&window);
    QCOMPARE(window.messages.size(), size_t{1});
    QCOMPARE(window.messages[0].first, int{ui::kMsgStop});
}

void CoreBridgeTest::minute_jumps_stay_within_the_day() {
    QCOMPARE(ui::minute_jump(23 * 3600 + 59 * 60, true, false), std::nullopt);
    QCOMPARE(ui::minute_jump(23 * 3600 + 58 * 59, true, false),
             std::optional<int32_t>(23 * 3600 + 58 * 59 + 60));
    QCOMPARE(ui::minute_jump(59, false, false), std::nullopt);
    QCOMPARE(ui::minute_jump(60, false, false), std::optional<int32_t>(0));
    QCOMPARE(ui::minute_jump(12 * 3600, false, true), std::optional<int32_t>(23 * 3600 + 59 * 60));
}

void CoreBridgeTest::speeds_cycle_with_their_tooltips() {
    QStringList rewind;
    int32_t mode = PM_PLAY;
    for (int i = 0; i < 7; ++i) {
        mode = ui::next_rewind_speed(mode);
        rewind << ui::speed_tooltip(mode);
    }
    QCOMPARE(rewind, QStringList({"1X", "2X", "4X", "8X", "16X", "32X", "1X"}));
    QCOMPARE(ui::next_forward_speed(PM_REW_4), int32_t{PM_FF_2});
    QVERIFY(ui::speed_tooltip(PM_PLAY).isEmpty());
}

QTEST_MAIN(CoreBridgeTest)
#include "core_bridge_test.moc"
