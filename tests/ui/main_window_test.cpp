// The main window driving the real core on a sample disk, with a recording display in place
// of the video display.
#include <QAbstractButton>
#include <QApplication>
#include <QScreen>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "platform/drive.h"
#include "storage/api.h"
#include "tests/testkit/recording_display.h"
#include "tests/testkit/temp_image.h"
#include "ui/control_id.h"
#include "ui/controls/search_slider.h"
#include "ui/core_bridge.h"
#include "ui/main_window.h"
#include "ui/posted_event.h"
#include "ui/settings.h"

using testkit::DisplayCall;

namespace {

int count_of(const testkit::RecordingDisplay& display, DisplayCall kind) {
    const auto kinds = display.call_kinds();
    return static_cast<int>(std::count(kinds.begin(), kinds.end(), kind));
}

QString tooltip_of(QWidget* window, int id) { return ui::find_control(window, id)->toolTip(); }

void click(QWidget* window, int id) {
    auto* button = qobject_cast<QAbstractButton*>(ui::find_control(window, id));
    QVERIFY(button != nullptr);
    button->click();
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void opens_the_first_day_and_follows_playback();
    void play_ignores_a_second_press_within_its_hold_off();
    void fast_forward_walks_the_speeds_and_wraps();
    void status_no_data_stops_and_resets_the_buttons();
    void only_exit_saves_the_settings();
    void context_menu_greys_without_a_session();
    void split_buttons_follow_the_channel_count();
    void keys_act_after_clicks_and_never_end_the_program();
    void full_monitor_fills_the_screen_and_f11_restores();
    void a_disk_loaded_in_full_monitor_keeps_the_log_buttons_hidden();
    void log_buttons_wait_for_a_disk();
    void marks_survive_a_scale_change();
    void a_restart_shows_the_first_key_frame_and_no_older_time();

private:
    void open_window();
    void load_sample();

    std::unique_ptr<testkit::TempDir> dir_;
    std::string image_;
    std::unique_ptr<QTemporaryDir> settings_dir_;
    std::unique_ptr<QSettings> settings_;
    std::unique_ptr<testkit::RecordingDisplay> display_;
    std::unique_ptr<ui::MainWindow> window_;
    int64_t now_ = 1'000'000;
};

void MainWindowTest::initTestCase() {
    dir_ = std::make_unique<testkit::TempDir>();
    bool known = false;
    image_ = testkit::make_image(*dir_, "recorder.img", sample::preset("recorder", &known));
    QVERIFY(known);
}

void MainWindowTest::init() {
    settings_dir_ = std::make_unique<QTemporaryDir>();
    settings_ = ui::open_settings(settings_dir_->filePath("Quillon.conf"));
    display_ = std::make_unique<testkit::RecordingDisplay>();
    now_ = 1'000'000;
}

void MainWindowTest::cleanup() {
    window_.reset();
    platform::detach_all();
}

void MainWindowTest::open_window() {
    auto* surface = new QWidget();  // the window takes it over
    window_ = std::make_unique<ui::MainWindow>(display_.get(), surface, settings_.get());
    window_->set_clock([this] { return now_; });
}

void MainWindowTest::load_sample() {
    QVERIFY(platform::attach_image(image_) >= 0);
    ui::DiskState state;
    std::string error;
    QCOMPARE(ui::open_first_disk(0, &state, &error), 0);
    window_->disk_loaded(state);
    QTRY_VERIFY(window_->timeline()->next_recorded_position() >= 0);
}

void MainWindowTest::opens_the_first_day_and_follows_playback() {
    open_window();
    load_sample();
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!window_->osd_text().isEmpty());
    const uint32_t day = window_->selected_day();
    click(window_.get(), ui::kIdPlay);
    QCOMPARE(window_->ui_mode(), int32_t{PM_PLAY});
    QCOMPARE(tooltip_of(window_.get(), ui::kIdPlay), QStringLiteral("Pause"));
    // Pictures arrive, the clock follows them, and the day stays the chosen one.
    QTRY_VERIFY_WITH_TIMEOUT(count_of(*display_, DisplayCall::Frame) > 0, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(window_->current_time() > day, 15000);
    QVERIFY(window_->current_time() < day + 86400);
    QVERIFY(window_->armed_channels() != 0);
    QVERIFY(count_of(*display_, DisplayCall::Clear) >= 1);  // the restart cleared the pictures
}

void MainWindowTest::play_ignores_a_second_press_within_its_hold_off() {
    open_window();
    load_sample();
    if (QTest::currentTestFailed())
        return;
    click(window_.get(), ui::kIdPlay);
    QCOMPARE(window_->ui_mode(), int32_t{PM_PLAY});
    now_ += 399;
    click(window_.get(), ui::kIdPlay);
    QCOMPARE(window_->ui_mode(), int32_t{PM_PLAY});
    now_ += 1;
    click(window_.get(), ui::kIdPlay);  // a pause: the pictures stay where they are
    QCOMPARE(window_->ui_mode(), int32_t{PM_PAUSE});
    QCOMPARE(tooltip_of(window_.get(), ui::kIdPlay), QStringLiteral("Play"));
}

void MainWindowTest::fast_forward_walks_the_speeds_and_wraps() {
    open_window();
    load_sample();
    if (QTest::currentTestFailed())
        return;
    click(window_.get(), ui::kIdPlay);
    const QStringList expected = {"2X", "4X", "8X", "16X", "32X", "2X"};
    const int32_t modes[] = {PM_FF_2, PM_FF_4, PM_FF_8, PM_FF_16, PM_FF_32, PM_FF_2};
    for (int i = 0; i < expected.size(); ++i) {
        now_ += 500;
        click(window_.get(), ui::kIdFastForward);
        QCOMPARE(tooltip_of(window_.get(), ui::kIdFastForward), expected[i]);
        QCOMPARE(window_->ui_mode(), modes[i]);
        QCOMPARE(api_play_mode(), modes[i]);
        // The other transport buttons are back to their idle tooltips.
        QCOMPARE(tooltip_of(window_.get(), ui::kIdRewind), QStringLiteral("Rew"));
    }
    // Within the hold-off a press changes nothing.
    now_ += 100;
    click(window_.get(), ui::kIdFastForward);
    QCOMPARE(window_->ui_mode(), int32_t{PM_FF_2});
}

void MainWindowTest::status_no_data_stops_and_resets_the_buttons() {
    open_window();
    load_sample();
    if (QTest::currentTestFailed())
        return;
    click(window_.get(), ui::kIdPlay);
    now_ += 500;
    click(window_.get(), ui::kIdFastForward);
    ui::CoreBridge::status_callback(PLAYBACK_STATUS_NO_DATA, -1);
    QTRY_COMPARE(window_->ui_mode(), int32_t{PM_STOP});
    QCOMPARE(api_play_mode(), int32_t{PM_STOP});
    QCOMPARE(tooltip_of(window_.get(), ui::kIdPlay), QStringLiteral("Play"));
    QCOMPARE(tooltip_of(window_.get(), ui::kIdFastForward), QStringLiteral("FF"));
}

void MainWindowTest::only_exit_saves_the_settings() {
    open_window();
    QCOMPARE(window_->settings().volume, 12);  // the first run's values
    settings_->setValue("Quillon/Volume", 3);
    settings_->sync();
    window_.reset();  // leaving any other way stores nothing
    QCOMPARE(settings_->value("Quillon/Volume").toInt(), 3);

    open_window();
    QCOMPARE(window_->settings().volume, 3);
    QMenu* menu = window_->build_context_menu();
    for (QAction* action : menu->findChildren<QAction*>())
        if (action->text() == "MM/DD/YYYY")
            action->trigger();
    delete menu;
    click(window_.get(), ui::kIdExit);
    QCOMPARE(settings_->value("Quillon/TimeFormat").toInt(), 4);
    QCOMPARE(settings_->value("Quillon/Volume").toInt(), 3);
}

void MainWindowTest::context_menu_greys_without_a_session() {
    open_window();
    auto entry = [](QMenu* menu, int id) -> QAction* {
        for (QAction* action : menu->actions())
            if (action->data().toInt() == id)
                return action;
        return nullptr;
    };
    std::unique_ptr<QMenu> before(window_->build_context_menu());
    QVERIFY(entry(before.get(), ui::kMenuIFrameOnly) != nullptr);
    QVERIFY(!entry(before.get(), ui::kMenuIFrameOnly)->isEnabled());
    QVERIFY(entry(before.get(), ui::kMenuIFrameOnly)->isChecked());
    load_sample();
    std::unique_ptr<QMenu> after(window_->build_context_menu());
    QVERIFY(entry(after.get(), ui::kMenuIFrameOnly)->isEnabled());
    entry(after.get(), ui::kMenuIFrameOnly)->trigger();
    QCOMPARE(window_->settings().iframe, 0);
    std::unique_ptr<QMenu> again(window_->build_context_menu());
    QVERIFY(!entry(again.get(), ui::kMenuIFrameOnly)->isChecked());
}

void MainWindowTest::split_buttons_follow_the_channel_count() {
    open_window();
    load_sample();
    if (QTest::currentTestFailed())
        return;
    const int channels = window_->disk().display_channels;
    QVERIFY(channels > 0);
    QCOMPARE(ui::find_control(window_.get(), ui::kIdSplit9)->isEnabled(), channels >= 8);
    QCOMPARE(ui::find_control(window_.get(), ui::kIdSplit16)->isEnabled(), channels >= 16);
    const auto layouts = display_->calls();
    const auto last = std::find_if(layouts.rbegin(), layouts.rend(), [](const auto& c) {
        return c.call == DisplayCall::Layout;
    });
    QVERIFY(last != layouts.rend());
    QCOMPARE(last->numbers.at(1), int64_t{channels <= 4 ? 4 : channels <= 9 ? 9 : 16});
}

// Space, the arrows and Escape after clicks on the buttons and the timeline: each key means what
// the About box says, and none ends the program.
void MainWindowTest::keys_act_after_clicks_and_never_end_the_program() {
    open_window();
    window_->show();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    load_sample();
    if (QTest::currentTestFailed())
        return;
    QSignalSpy finished(window_.get(), &QDialog::finished);
    QTest::mouseClick(ui::find_control(window_.get(), ui::kIdExit), Qt::RightButton);
    QTest::mouseClick(ui::find_control(window_.get(), ui::kIdPlay), Qt::LeftButton);
    QCOMPARE(window_->ui_mode(), int32_t{PM_PLAY});
    QWidget* focus = QApplication::focusWidget();
    QVERIFY2(qobject_cast<QAbstractButton*>(focus) == nullptr,
             qPrintable(focus ? focus->objectName() + " " + focus->metaObject()->className() : ""));
    now_ += 1000;
    QTest::keyClick(window_.get(), Qt::Key_Space);
    QCOMPARE(window_->ui_mode(), int32_t{PM_PAUSE});
    QTest::mouseClick(window_->timeline(), Qt::LeftButton, {}, QPoint(100, 30));
    QTest::keyClick(window_.get(), Qt::Key_Right);
    QCOMPARE(api_play_mode() == PM_FRAME_F || api_play_mode() == PM_PAUSE, true);
    QCOMPARE(window_->ui_mode(), int32_t{PM_PAUSE});
    QTest::keyClick(window_.get(), Qt::Key_Escape);
    QTest::keyClick(window_.get(), Qt::Key_Return);
    now_ += 1000;
    QTest::keyClick(window_.get(), Qt::Key_Space);
    QCOMPARE(window_->ui_mode(), int32_t{PM_PLAY});
    QVERIFY(window_->isVisible());
    QCOMPARE(finished.count(), 0);
}

// F11 fills the window's screen without ending the program; F11 or Escape bring the window
// back as it was.
void MainWindowTest::full_monitor_fills_the_screen_and_f11_restores() {
    open_window();
    window_->show();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    load_sample();
    if (QTest::currentTestFailed())
        return;
    QSignalSpy finished(window_.get(), &QDialog::finished);
    const QRect before = window_->geometry();
    QTest::keyClick(window_.get(), Qt::Key_F11);
    QVERIFY(window_->full_monitor());
    QVERIFY(window_->isVisible());
    const QRect screen = window_->screen()->geometry();
    QTRY_COMPARE(window_->size(), screen.size());
    QWidget* display = ui::find_control(window_.get(), ui::kIdDisplay);
    QTRY_COMPARE(display->size(), screen.size());
    QVERIFY(!ui::find_control(window_.get(), ui::kIdPlay)->isVisible());
    QTest::keyClick(window_.get(), Qt::Key_F11);
    QVERIFY(!window_->full_monitor());
    QTRY_COMPARE(window_->geometry().size(), before.size());
    QVERIFY(ui::find_control(window_.get(), ui::kIdPlay)->isVisible());
    QTest::keyClick(window_.get(), Qt::Key_F11);
    QTest::keyClick(window_.get(), Qt::Key_Escape);
    QVERIFY(!window_->full_monitor());
    QVERIFY(window_->isVisible());
    QCOMPARE(finished.count(), 0);
}

void MainWindowTest::a_disk_loaded_in_full_monitor_keeps_the_log_buttons_hidden() {
    open_window();
    window_->show();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    QTest::keyClick(window_.get(), Qt::Key_F11);
    QVERIFY(window_->full_monitor());
    load_sample();
    for (int id : {ui::kIdEventLog, ui::kIdSystemLog, ui::kIdCaptureLog})
        QVERIFY(!ui::find_control(window_.get(), id)->isVisible());
    QTest::keyClick(window_.get(), Qt::Key_F11);
    for (int id : {ui::kIdEventLog, ui::kIdSystemLog, ui::kIdCaptureLog})
        QVERIFY(ui::find_control(window_.get(), id)->isVisible());
}

void MainWindowTest::log_buttons_wait_for_a_disk() {
    open_window();
    for (int id : {ui::kIdEventLog, ui::kIdSystemLog, ui::kIdCaptureLog})
        QVERIFY(!ui::find_control(window_.get(), id)->isEnabled());
    load_sample();
    for (int id : {ui::kIdEventLog, ui::kIdSystemLog, ui::kIdCaptureLog})
        QVERIFY(ui::find_control(window_.get(), id)->isEnabled());
}

// The span to export is what the user marked, whatever the timeline shows afterwards.
void MainWindowTest::marks_survive_a_scale_change() {
    open_window();
    load_sample();
    if (QTest::currentTestFailed())
        return;
    const uint32_t day = window_->selected_day();
    window_->player()->seek(day + 3600 + 15);
    click(window_.get(), ui::kIdMarkIn);
    window_->player()->seek(day + 3600 + 75);
    click(window_.get(), ui::kIdMarkOut);
    click(window_.get(), ui::kIdTimeSearch);  // the 60-minute scale
    QCOMPARE(window_->timeline()->scale(), 1);
    const auto span = window_->player()->marked_span();
    QVERIFY(span.has_value());
    QCOMPARE(span->first, day + 3600 + 15);
    QCOMPARE(span->second, day + 3600 + 75);
    // The band is drawn where the marked times are on the new scale.
    const int start = window_->timeline()->selection_start();
    const int second = window_->timeline()->seconds_of_position(start);
    QVERIFY(second <= 3600 + 15 && second > 3600 + 15 - 3600 / window_->timeline()->range() - 1);
}

// After a restart the first pictures shown are the new time's, from its first key frame, and
// the clock never shows a time from before the restart.
void MainWindowTest::a_restart_shows_the_first_key_frame_and_no_older_time() {
    open_window();
    load_sample();
    if (QTest::currentTestFailed())
        return;
    click(window_.get(), ui::kIdPlay);
    QTRY_VERIFY_WITH_TIMEOUT(count_of(*display_, DisplayCall::Frame) > 0, 15000);
    const uint32_t day = window_->selected_day();
    const uint32_t target = window_->player()->spans().previous_recorded(day + 86399);
    QVERIFY(target != 0);
    const size_t calls_before = display_->calls().size();
    window_->player()->seek(target - 20);
    QCOMPARE(window_->ui_mode(), int32_t{PM_PLAY});
    QTRY_VERIFY_WITH_TIMEOUT(display_->calls().size() > calls_before + 3, 15000);
    const auto calls = display_->calls();
    bool cleared = false;
    for (size_t i = calls_before; i < calls.size(); ++i) {
        if (calls[i].call == DisplayCall::Clear) {
            cleared = true;
            continue;
        }
        if (calls[i].call != DisplayCall::Frame || !cleared || calls[i].numbers.at(2) != 0)
            continue;
        // The first video frame after the clear is a key frame of the new time.
        QVERIFY(calls[i].numbers.at(4) != 0);
        QVERIFY(calls[i].numbers.at(0) + 20 >= int64_t{target} - 20);
        break;
    }
    QVERIFY(cleared);
    QTRY_VERIFY_WITH_TIMEOUT(window_->current_time() >= target - 40, 15000);
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
