// The main window's recovery commands on sample disks: Check disk marks a cut-short copy's
// unreadable span in red and nothing on an untouched disk; Recovered video lists the runs found
// outside the stored data, plays one in the single view and exports it; a capture log the
// recorder never wrote shows an empty list. No image changes.
#include <fstream>
#include <memory>

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <QTreeWidget>

#include <nlohmann/json.hpp>

#include "platform/drive.h"
#include "storage/api.h"
#include "tests/recover/check_images.h"
#include "tests/testkit/recording_display.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/volume_helpers.h"
#include "ui/control_id.h"
#include "ui/controls/search_slider.h"
#include "ui/day_spans.h"
#include "ui/dialogs/capture_log_dialog.h"
#include "ui/dialogs/check_dialog.h"
#include "ui/dialogs/recovered_dialog.h"
#include "ui/dialogs/run_player.h"
#include "ui/disk_state.h"
#include "ui/main_window.h"
#include "ui/settings.h"

using testkit::DisplayCall;
using testkit::kT0;

namespace {

int slot_of(uint32_t time) { return static_cast<int>(time % 86400 / ui::DaySpans::kSlotSeconds); }

bool menu_has(QMenu* menu, int id, bool enabled) {
    for (QAction* a : menu->actions())
        if (a->data().toInt() == id)
            return a->isEnabled() == enabled;
    return false;
}

} // namespace

class RecoveryWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void check_disk_marks_the_unreadable_span_of_a_cut_short_copy();
    void check_disk_marks_nothing_on_an_untouched_disk();
    void recovered_video_lists_plays_and_exports_the_runs();
    void capture_log_never_written_shows_an_empty_list();

private:
    void open_window_on(const std::string& image);

    QTemporaryDir home_;
    std::unique_ptr<testkit::TempDir> dir_;
    std::string image_;
    std::string fingerprint_;
    std::unique_ptr<QTemporaryDir> settings_dir_;
    std::unique_ptr<QSettings> settings_;
    std::unique_ptr<testkit::RecordingDisplay> display_;
    std::unique_ptr<ui::MainWindow> window_;
};

void RecoveryWindowTest::initTestCase() {
    QVERIFY(home_.isValid());
    qputenv("HOME", home_.path().toUtf8());
    QStandardPaths::setTestModeEnabled(true);
}

void RecoveryWindowTest::init() {
    dir_ = std::make_unique<testkit::TempDir>();
    settings_dir_ = std::make_unique<QTemporaryDir>();
    settings_ = ui::open_settings(settings_dir_->filePath("Quillon.conf"));
    display_ = std::make_unique<testkit::RecordingDisplay>();
}

void RecoveryWindowTest::cleanup() {
    window_.reset();
    platform::detach_all();
    // Nothing the program did wrote to the disk.
    if (!image_.empty())
        QCOMPARE(testkit::fingerprint(image_), fingerprint_);
    image_.clear();
    dir_.reset();
}

void RecoveryWindowTest::open_window_on(const std::string& image) {
    image_ = image;
    fingerprint_ = testkit::fingerprint(image_);
    auto* surface = new QWidget();
    window_ = std::make_unique<ui::MainWindow>(display_.get(), surface, settings_.get());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QVERIFY(!ui::find_control(window_.get(), ui::kIdRecoveredVideo)->isEnabled());
    std::unique_ptr<QMenu> before(window_->build_context_menu());
    QVERIFY(menu_has(before.get(), ui::kMenuCheckDisk, false));
    QVERIFY(menu_has(before.get(), ui::kMenuRecoveredVideo, false));
    QVERIFY(platform::attach_image(image_) >= 0);
    ui::DiskState state;
    std::string error;
    QCOMPARE(ui::open_first_disk(0, &state, &error), 0);
    window_->disk_loaded(state);
    QTRY_VERIFY(window_->timeline()->next_recorded_position() >= 0);
    std::unique_ptr<QMenu> after(window_->build_context_menu());
    QVERIFY(menu_has(after.get(), ui::kMenuCheckDisk, true));
    QVERIFY(menu_has(after.get(), ui::kMenuRecoveredVideo, true));
}

void RecoveryWindowTest::check_disk_marks_the_unreadable_span_of_a_cut_short_copy() {
    open_window_on(checktest::cut_short_image(*dir_));
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!window_->timeline()->unreadable(slot_of(kT0 + 30)));
    window_->on_check_disk();
    QPointer<ui::CheckDialog> dialog = window_->check_dialog();
    QVERIFY(dialog != nullptr);
    QVERIFY(dialog->isVisible());
    QTRY_VERIFY(!dialog->running());
    QVERIFY(dialog->complete());
    QVERIFY2(dialog->message().contains(QStringLiteral("1 unreadable spans")),
             qPrintable(dialog->message()));
    QCOMPARE(dialog->list()->topLevelItemCount(), 1);
    QTreeWidgetItem* row = dialog->list()->topLevelItem(0);
    QCOMPARE(row->text(0), QStringLiteral("Ch 1"));
    QVERIFY(row->text(1).startsWith(QStringLiteral("read failure")));
    QCOMPARE(row->text(3), QStringLiteral("the end"));
    // From the last readable second to the end of the day, and nothing before it.
    ui::SearchSlider* timeline = window_->timeline();
    QVERIFY(timeline->unreadable(slot_of(kT0 + 19)));
    QVERIFY(timeline->unreadable(slot_of(kT0 + 59)));
    QVERIFY(timeline->unreadable(slot_of(kT0 + 3600)));
    QVERIFY(!timeline->unreadable(slot_of(kT0) - 1));
    // The marks stay when the day is shown again.
    window_->go_to(kT0 + 5);
    QTRY_VERIFY(timeline->unreadable(slot_of(kT0 + 30)));
    // Close ends the dialog.
    auto* close = qobject_cast<QAbstractButton*>(ui::find_control(dialog, ui::CheckDialog::kCancelId));
    QVERIFY(close != nullptr);
    QCOMPARE(close->text(), QStringLiteral("Close"));
    close->click();
    QTRY_VERIFY(dialog == nullptr);
}

void RecoveryWindowTest::check_disk_marks_nothing_on_an_untouched_disk() {
    const sample::ChannelData video = checktest::gop_channel(3, kT0, 40);
    open_window_on(testkit::make_image(*dir_, "rec.img", checktest::recorder_with({video})));
    if (QTest::currentTestFailed())
        return;
    window_->on_check_disk();
    QPointer<ui::CheckDialog> dialog = window_->check_dialog();
    QVERIFY(dialog != nullptr);
    QTRY_VERIFY(!dialog->running());
    QVERIFY(dialog->complete());
    QCOMPARE(dialog->report().records, 40u);
    QVERIFY2(dialog->message().startsWith(QStringLiteral("Everything recorded can be read")),
             qPrintable(dialog->message()));
    QCOMPARE(dialog->list()->topLevelItemCount(), 0);
    for (int slot = 0; slot < ui::SearchSlider::kSlots; ++slot)
        QVERIFY(!window_->timeline()->unreadable(slot));
    dialog->close();
}

void RecoveryWindowTest::recovered_video_lists_plays_and_exports_the_runs() {
    bool known = false;
    open_window_on(testkit::make_image(*dir_, "remnants.img", sample::preset("recorder-remnants", &known)));
    QVERIFY(known);
    if (QTest::currentTestFailed())
        return;
    // The button opens it as the menu does.
    auto* button = qobject_cast<QAbstractButton*>(ui::find_control(window_.get(), ui::kIdRecoveredVideo));
    QVERIFY(button != nullptr);
    QVERIFY(button->isEnabled());
    button->click();
    QPointer<ui::RecoveredDialog> dialog = window_->recovered_dialog();
    QVERIFY(dialog != nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog->busy(), 60000);
    QVERIFY2(dialog->scanned(), qPrintable(dialog->message()));
    const recover::RecoveryResult& result = dialog->result();
    QVERIFY(!result.runs.empty());
    QCOMPARE(dialog->list()->topLevelItemCount(), static_cast<int>(result.runs.size()));
    const recover::RecoveredRun& first = result.runs[0];
    QTreeWidgetItem* row = dialog->list()->topLevelItem(0);
    QCOMPARE(row->text(3), QStringLiteral("%1x%2").arg(first.width).arg(first.height));
    QCOMPARE(row->text(4), QString::fromStdString(first.codec));
    QCOMPARE(row->text(5), QString::number(first.gops.size()));

    // Play: the single view shows the run's frames, the first a key frame of its picture size.
    const size_t before = display_->calls().size();
    QVERIFY(dialog->play_selected());
    QTRY_VERIFY(dialog->player()->frames_shown() >= 3);
    dialog->stop_playing();
    bool single_view = false;
    const uint32_t picture = static_cast<uint32_t>(first.width) << 16 | static_cast<uint32_t>(first.height);
    uint32_t first_picture = 0;
    bool seen_frame = false;
    const std::vector<testkit::RecordedDisplayCall> calls = display_->calls();
    for (size_t i = before; i < calls.size(); ++i) {
        const testkit::RecordedDisplayCall& call = calls[i];
        if (call.call == DisplayCall::Layout && call.numbers == std::vector<int64_t>{0, 1})
            single_view = true;
        if (call.call == DisplayCall::Frame && !seen_frame) {
            seen_frame = true;
            QVERIFY(single_view);
            first_picture = static_cast<uint32_t>(call.numbers.at(4));
        }
    }
    QVERIFY(single_view);
    QCOMPARE(first_picture, picture);
    QCOMPARE(dialog->player()->gops_skipped(), 0);

    // Export of the selected run: its files and a report that marks them recovered.
    QTemporaryDir out;
    QVERIFY(dialog->export_to(out.path()));
    QTRY_VERIFY_WITH_TIMEOUT(!dialog->busy(), 60000);
    QVERIFY2(dialog->export_error().isEmpty(), qPrintable(dialog->export_error()));
    QVERIFY(!dialog->report_path().isEmpty());
    std::ifstream in(dialog->report_path().toStdString());
    QVERIFY(in.good());
    const nlohmann::json report = nlohmann::json::parse(in);
    bool recovered = false;
    for (const auto& file : report["files"])
        recovered = recovered || file.value("recovered", false);
    QVERIFY2(recovered, report.dump().c_str());
    // Closing gives the display back its split layout.
    const size_t at_close = display_->calls().size();
    dialog->close();
    QTRY_VERIFY(dialog == nullptr);
    const std::vector<testkit::RecordedDisplayCall> after = display_->calls();
    QVERIFY(after.size() > at_close);
    QCOMPARE(after.back().call, DisplayCall::Layout);
    QCOMPARE(after.back().numbers.at(0), int64_t{kDisplayAllChannels});
}

void RecoveryWindowTest::capture_log_never_written_shows_an_empty_list() {
    // Count 29: the capture log is channel 27; its head slot holds 0.
    sample::ChannelData never;
    never.channel = 27;
    never.zero_block = 0;
    open_window_on(testkit::make_image(
        *dir_, "rec.img", checktest::recorder_with({checktest::gop_channel(3, kT0, 5), never})));
    if (QTest::currentTestFailed())
        return;
    std::vector<CaptureLogRecord> list(kCaptureLogMax);
    QCOMPARE(api_get_capture_log(window_->selected_day(), list.data()), 0);
    QVERIFY(window_->capture_log().empty());
    auto* button = qobject_cast<QAbstractButton*>(ui::find_control(window_.get(), ui::kIdCaptureLog));
    QVERIFY(button != nullptr);
    QVERIFY(button->isEnabled());
    button->click();
    QPointer<ui::CaptureLogDialog> dialog = window_->capture_log_dialog();
    QVERIFY(dialog != nullptr);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->list()->topLevelItemCount(), 0);
    // View with nothing to view shows nothing.
    QVERIFY(!dialog->on_view());
    dialog->close();
}

QTEST_MAIN(RecoveryWindowTest)
#include "recovery_window_test.moc"
