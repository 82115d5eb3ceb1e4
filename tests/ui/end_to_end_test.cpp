// A user's session from start to end, on the real video display and the real core: open the
// disk through the dialog, pick the day, play, jump from the event log, export a marked span,
// save stills, read the capture log, and unmount; once on a recorder disk, once on a backup
// disk. The images stay unchanged throughout.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QDateTimeEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <functional>

#include "display/video_display.h"
#include "platform/drive.h"
#include "storage/api.h"
#include "tests/testkit/temp_image.h"
#include "tests/ui/message_catcher.h"
#include "ui/control_id.h"
#include "ui/controls/search_slider.h"
#include "ui/controls/skin_button.h"
#include "ui/dialogs/backup_dialog.h"
#include "ui/dialogs/calendar_widget.h"
#include "ui/dialogs/capture_dialog.h"
#include "ui/dialogs/capture_log_dialog.h"
#include "ui/dialogs/disk_load_dialog.h"
#include "ui/dialogs/event_log_dialog.h"
#include "ui/dialogs/log_list_dialog.h"
#include "ui/dialogs/save_as_dialog.h"
#include "ui/main_window.h"
#include "ui/settings.h"

using ui::CalendarWidget;
using ui::DiskLoadDialog;

namespace {

QAbstractButton* button_of(QWidget* root, int id) {
    return qobject_cast<QAbstractButton*>(ui::find_control(root, id));
}

QByteArray file_bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Colour bars, not black: the mean of a tile's middle band.
bool shows_a_picture(const QImage& tile) {
    const QImage band = tile.copy(0, tile.height() / 3, tile.width(), tile.height() / 3)
                            .convertToFormat(QImage::Format_RGB32);
    int64_t sum = 0;
    for (int y = 0; y < band.height(); ++y)
        for (int x = 0; x < band.width(); ++x)
            sum += qGray(band.pixel(x, y));
    return band.width() > 0 && sum / (int64_t{band.width()} * band.height()) > 40;
}

// Selects the disk list's row of the area type shown as `type`.
void select_row(DiskLoadDialog* dialog, const QString& type) {
    QTreeWidget* disks = dialog->disk_list();
    for (int row = 0; row < disks->topLevelItemCount(); ++row)
        if (disks->topLevelItem(row)->text(0).endsWith(QStringLiteral("] ") + type))
            disks->setCurrentItem(disks->topLevelItem(row));
}

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void a_recorder_disk_from_opening_to_unmount();
    void a_backup_disk_opens_and_plays();

private:
    void open_disk(const QString& type);
    void pick_first_recorded_day();
    void play_until_pictures();
    void jump_from_the_event_log();
    void export_a_marked_span(QString* report_name);
    void export_twice_into_one_folder();
    void click_timeline_at(uint32_t time);
    void activate();
    void keys_after_clicks();
    void change_day_and_play();
    void save_stills();
    void view_and_save_a_capture();
    void unmount_while_playing(const QString& type);

    QTemporaryDir home_;
    std::unique_ptr<testkit::TempDir> dir_;
    std::string recorder_, backup_, recorder_print_, backup_print_;
    std::unique_ptr<QTemporaryDir> settings_dir_;
    std::unique_ptr<QSettings> settings_;
    std::unique_ptr<ui::MainWindow> window_;
    display::VideoDisplay* display_ = nullptr;
    QTemporaryDir out_;
    QStringList reports_seen_;
    int64_t now_ms_ = 0;
};

void EndToEndTest::initTestCase() {
    QVERIFY(home_.isValid());
    qputenv("HOME", home_.path().toUtf8());
    QStandardPaths::setTestModeEnabled(true);
    dir_ = std::make_unique<testkit::TempDir>();
    bool known = false;
    recorder_ = testkit::make_image(*dir_, "recorder.img", sample::preset("recorder", &known));
    backup_ = testkit::make_image(*dir_, "backup.img", sample::preset("backup", &known));
    QVERIFY(known);
    recorder_print_ = testkit::fingerprint(recorder_);
    backup_print_ = testkit::fingerprint(backup_);
}

void EndToEndTest::cleanupTestCase() {
    QCOMPARE(testkit::fingerprint(recorder_), recorder_print_);
    QCOMPARE(testkit::fingerprint(backup_), backup_print_);
}

void EndToEndTest::init() {
    settings_dir_ = std::make_unique<QTemporaryDir>();
    settings_ = ui::open_settings(settings_dir_->filePath("Quillon.conf"));
    display_ = new display::VideoDisplay();
    window_ = std::make_unique<ui::MainWindow>(display_, display_, settings_.get());
    // A user's presses are seconds apart: no press falls within a button's hold-off.
    window_->set_clock([this] { return now_ms_ += 1000; });
    window_->show();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
}

void EndToEndTest::cleanup() {
    window_.reset();
    platform::detach_all();
}

// Open Disk, Refresh, the row, Mount, the first session, Open Session, OK.
void EndToEndTest::open_disk(const QString& type) {
    bool drove = false;
    testkit::ModalAnswer modal;
    modal.arm([&](QDialog* d) {
        auto* dialog = qobject_cast<DiskLoadDialog*>(d);
        if (dialog == nullptr) {
            d->reject();
            return;
        }
        dialog->button(DiskLoadDialog::kIdRefresh)->click();
        select_row(dialog, type);
        dialog->button(DiskLoadDialog::kIdMount)->click();
        if (dialog->session_list()->topLevelItemCount() > 0)
            dialog->session_list()->setCurrentItem(dialog->session_list()->topLevelItem(0));
        dialog->button(DiskLoadDialog::kIdOpenSession)->click();
        drove = true;
        dialog->button(DiskLoadDialog::kIdOk)->click();
    });
    button_of(window_.get(), ui::kIdDiskLoad)->click();
    QVERIFY(drove);
    QVERIFY(window_->disk().ready());
}

// The calendar marks the recorded day; a click on it fills the timeline with its spans.
void EndToEndTest::pick_first_recorded_day() {
    CalendarWidget* calendar = window_->calendar();
    const QDate first = CalendarWidget::date_of_day(window_->disk().session_oldest / 86400);
    QTRY_VERIFY(calendar->recorded(first));
    QVERIFY(!calendar->recorded(first.addDays(-1)));
    QTest::mouseClick(calendar, Qt::LeftButton, {}, calendar->day_rect(first.day()).center());
    QCoreApplication::sendPostedEvents(window_.get());  // the calendar's stop and chosen day
    QTRY_VERIFY(window_->timeline()->next_recorded_position() >= 0);
    QCOMPARE(window_->selected_day(), CalendarWidget::day_number(first) * 86400);
}

// Play: the clock runs on and the first tile shows its channel's picture.
void EndToEndTest::play_until_pictures() {
    if (window_->ui_mode() != PM_PLAY)
        button_of(window_.get(), ui::kIdPlay)->click();
    QCOMPARE(window_->ui_mode(), int32_t{PM_PLAY});
    QTRY_VERIFY_WITH_TIMEOUT(window_->current_time() > window_->selected_day(), 20000);
    const uint32_t started = window_->current_time();
    QTRY_VERIFY2_WITH_TIMEOUT(window_->current_time() >= started + 2,
                              qPrintable(QStringLiteral("mode %1 time %2 started %3 engine %4 msg %5")
                                             .arg(window_->ui_mode())
                                             .arg(window_->current_time())
                                             .arg(started)
                                             .arg(api_play_mode())
                                             .arg(window_->message_text())),
                              20000);
    QTRY_VERIFY_WITH_TIMEOUT(
        shows_a_picture(display_->grab(QRect(0, 0, display_->width() / 2, display_->height() / 2))
                            .toImage()),
        20000);
}

void EndToEndTest::jump_from_the_event_log() {
    button_of(window_.get(), ui::kIdEventLog)->click();
    ui::EventLogDialog* dialog = window_->event_log_dialog();
    QVERIFY(dialog != nullptr);
    const int row = dialog->list()->topLevelItemCount() - 1;
    QVERIFY(row >= 0);
    const uint32_t time = window_->event_log()[static_cast<size_t>(row)].t;
    dialog->list()->setCurrentItem(dialog->list()->topLevelItem(row));
    button_of(dialog, ui::LogListDialog::kIdPlay)->click();
    QTRY_VERIFY_WITH_TIMEOUT(window_->current_time() >= time && window_->current_time() < time + 30,
                             20000);
    button_of(window_.get(), ui::kIdEventLog)->click();
}

// The window is the active one again after a modal dialog, as the window system makes it: its
// keys are the active window's.
void EndToEndTest::activate() {
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
}

// A click on the timeline where `time` of the shown day is, as a user clicks it.
void EndToEndTest::click_timeline_at(uint32_t time) {
    ui::SearchSlider* timeline = window_->timeline();
    const int position = timeline->position_of_seconds(static_cast<int>(time - window_->selected_day()));
    const QRect channel = timeline->channel_rect();
    const int travel = channel.width() - ui::SearchSlider::kThumbSize;
    // The pixel whose position is `position`: the inverse of the timeline's own mapping.
    int x = channel.left() + ui::SearchSlider::kThumbSize / 2 +
            (position * travel + timeline->range() - 1) / timeline->range();
    QTest::mouseClick(timeline, Qt::LeftButton, {}, QPoint(x, 30));
    QCoreApplication::sendPostedEvents(window_.get());
}

// Mark in and out over about 30 s by clicks on the timeline, Record, OK: the bar reaches 100,
// the dialog closes, and the report lists the files FFmpeg reads back, with their hashes.
// *report_name gets the report's name.
void EndToEndTest::export_a_marked_span(QString* report_name) {
    activate();
    if (window_->ui_mode() != PM_STOP && window_->ui_mode() != PM_PAUSE)
        QTest::keyClick(window_.get(), Qt::Key_Space);  // paused: the clicks only move the thumb
    const uint32_t from = window_->disk().session_oldest + 30;
    click_timeline_at(from);
    button_of(window_.get(), ui::kIdMarkIn)->click();
    const uint32_t in = window_->player()->marked_in().value_or(0);
    QVERIFY2(in + 200 > from && in < from + 200,
             qPrintable(QStringLiteral("mark in %1, clicked at %2, mode %3, day %4")
                            .arg(in).arg(from).arg(window_->ui_mode()).arg(window_->selected_day())));
    click_timeline_at(from + 180);
    button_of(window_.get(), ui::kIdMarkOut)->click();
    QVERIFY(window_->player()->marked_span().has_value());
    button_of(window_.get(), ui::kIdRecord)->click();
    QPointer<ui::BackupDialog> dialog = window_->backup_dialog();
    if (dialog == nullptr) {
        QTest::qFail("no backup dialog", __FILE__, __LINE__);
        return;
    }
    // The dialog starts with the marked span; 30 seconds of it are enough here.
    auto* start = qobject_cast<QDateTimeEdit*>(ui::find_control(dialog, ui::BackupDialog::kStartId));
    auto* end = qobject_cast<QDateTimeEdit*>(ui::find_control(dialog, ui::BackupDialog::kEndId));
    QCOMPARE(start->dateTime().toSecsSinceEpoch(), qint64{window_->player()->marked_span()->first});
    end->setDateTime(start->dateTime().addSecs(30));
    qobject_cast<QLineEdit*>(ui::find_control(dialog, ui::BackupDialog::kFolderId))
        ->setText(out_.path() + "/export");
    int best = 0;
    auto* bar = qobject_cast<QProgressBar*>(ui::find_control(dialog, ui::BackupDialog::kProgressId));
    connect(bar, &QProgressBar::valueChanged, this, [&best](int v) { best = std::max(best, v); });
    button_of(dialog, ui::BackupDialog::kOkId)->click();
    QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull() || !dialog->isVisible(), 120000);
    QCOMPARE(best, 100);
    const QString folder = window_->backup_job_folder();
    const QDir reports(folder, QStringLiteral("export-report*.json"));
    QString report;
    for (const QString& name : reports.entryList())
        if (!reports_seen_.contains(name))
            report = name;
    if (report.isEmpty()) {
        QTest::qFail("no report of its own", __FILE__, __LINE__);
        return;
    }
    reports_seen_ << report;
    *report_name = report;
    const QJsonArray files =
        QJsonDocument::fromJson(file_bytes(folder + "/" + report)).object()["files"].toArray();
    QVERIFY(!files.isEmpty());
    for (const QJsonValue& f : files) {
        for (const char* kind : {"avi", "smi"}) {
            const QJsonObject entry = f.toObject()[kind].toObject();
            const QByteArray bytes = file_bytes(folder + "/" + entry["name"].toString());
            QVERIFY(!bytes.isEmpty());
            QCOMPARE(entry["sha256"].toString(),
                     QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));
        }
        QProcess probe;
        probe.start("ffprobe", {"-v", "error", "-count_packets", "-select_streams", "v:0",
                                "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0",
                                folder + "/" + f.toObject()["avi"].toObject()["name"].toString()});
        QVERIFY(probe.waitForFinished(60000));
        QCOMPARE(probe.exitCode(), 0);
        QVERIFY(probe.readAllStandardOutput().trimmed().toInt() > 0);
    }
}

// The same span again into the same folder: new files and a report of its own; the first
// job's files are as they were.
void EndToEndTest::export_twice_into_one_folder() {
    QString first, second;
    export_a_marked_span(&first);
    if (QTest::currentTestFailed())
        return;
    const QString folder = window_->backup_job_folder();
    QDir dir(folder);
    QMap<QString, QByteArray> before;
    for (const QString& name : dir.entryList(QDir::Files))
        before[name] = file_bytes(folder + "/" + name);
    button_of(window_.get(), ui::kIdMarkIn)->click();  // both marks set: this press clears them
    export_a_marked_span(&second);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(first != second);
    for (auto it = before.begin(); it != before.end(); ++it)
        QCOMPARE(file_bytes(folder + "/" + it.key()), it.value());
    QVERIFY(dir.entryList(QDir::Files).size() > before.size());
}

// A click on a tile and on the timeline, then the keys: Space pauses and the picture stays and
// stands still; Space again plays; the arrows step; F11 fills the screen and restores it.
void EndToEndTest::keys_after_clicks() {
    activate();
    QTest::mouseClick(display_, Qt::LeftButton, {}, QPoint(display_->width() / 4, display_->height() / 4));
    click_timeline_at(window_->player()->spans().first_recorded() + 60);
    QCOMPARE(window_->ui_mode(), int32_t{PM_PLAY});
    QTRY_VERIFY_WITH_TIMEOUT(display_->has_picture(0), 20000);
    QTest::keyClick(window_.get(), Qt::Key_Space);
    QCOMPARE(window_->ui_mode(), int32_t{PM_PAUSE});
    QVERIFY(window_->isVisible());
    // The engine runs its passes paused; the picture stays and its time stands still.
    const uint64_t passes = api_engine_passes();
    QTRY_VERIFY_WITH_TIMEOUT(api_engine_passes() > passes + 30, 20000);
    const decode::FrameTime paused = display_->picture_time(0);
    const uint64_t more = api_engine_passes();
    QTRY_VERIFY_WITH_TIMEOUT(api_engine_passes() > more + 30, 20000);
    QVERIFY(display_->has_picture(0));
    QCOMPARE(display_->picture_time(0).seconds, paused.seconds);
    QCOMPARE(display_->picture_time(0).ms, paused.ms);
    QVERIFY(shows_a_picture(display_->grab(QRect(0, 0, display_->width() / 2, display_->height() / 2))
                                .toImage()));
    // One frame forward moves the picture on by one stored frame.
    QTest::keyClick(window_.get(), Qt::Key_Right);
    QTRY_VERIFY_WITH_TIMEOUT(display_->picture_time(0).seconds * 1000 + display_->picture_time(0).ms >
                                 paused.seconds * 1000 + paused.ms,
                             20000);
    QCOMPARE(window_->ui_mode(), int32_t{PM_PAUSE});
    QTest::keyClick(window_.get(), Qt::Key_Space);
    QCOMPARE(window_->ui_mode(), int32_t{PM_PLAY});
    const uint32_t playing = window_->current_time();
    QTRY_VERIFY_WITH_TIMEOUT(window_->current_time() > playing + 1, 20000);
    QTest::keyClick(window_.get(), Qt::Key_F11);
    QVERIFY(window_->full_monitor());
    QTRY_COMPARE(display_->size(), window_->screen()->geometry().size());
    QTest::keyClick(window_.get(), Qt::Key_F11);
    QVERIFY(!window_->full_monitor());
    QVERIFY(window_->isVisible());
    QCOMPARE(window_->ui_mode(), int32_t{PM_PLAY});
}

// Another day and back: the thumb and clock stand at midnight, the pictures are gone, and
// Space plays from the day's first recording.
void EndToEndTest::change_day_and_play() {
    activate();
    CalendarWidget* calendar = window_->calendar();
    const QDate recorded = CalendarWidget::date_of_day(window_->selected_day() / 86400);
    const QDate other = recorded.addDays(recorded.day() < recorded.daysInMonth() ? 1 : -1);
    QTest::mouseClick(calendar, Qt::LeftButton, {}, calendar->day_rect(other.day()).center());
    QTRY_COMPARE(window_->selected_day(), CalendarWidget::day_number(other) * 86400);
    QCOMPARE(window_->ui_mode(), int32_t{PM_STOP});
    QVERIFY(window_->no_picture());
    QTRY_VERIFY(!display_->has_picture(0));
    QTest::mouseClick(calendar, Qt::LeftButton, {}, calendar->day_rect(recorded.day()).center());
    QTRY_COMPARE(window_->selected_day(), CalendarWidget::day_number(recorded) * 86400);
    QCOMPARE(window_->current_time(), window_->selected_day());
    QTest::keyClick(window_.get(), Qt::Key_Space);
    QCOMPARE(window_->ui_mode(), int32_t{PM_PLAY});
    QTRY_VERIFY_WITH_TIMEOUT(window_->current_time() >= window_->player()->spans().first_recorded(),
                             20000);
}

// The selected picture, taken while playing, saved once as BMP and once as JPEG, both at the
// decoded size.
void EndToEndTest::save_stills() {
    QSize sizes[2];
    for (int format : {0, 1}) {
        QString name;
        testkit::ModalAnswer modal;
        testkit::answer_capture(&modal, out_.path() + "/stills", format, &name);
        button_of(window_.get(), ui::kIdCapture)->click();
        QCOMPARE(modal.answered(), 1);
        const QImage still(out_.path() + "/stills/" + name + (format == 0 ? ".bmp" : ".jpg"));
        QVERIFY(!still.isNull());
        QVERIFY(shows_a_picture(still));
        sizes[format] = still.size();
    }
    QCOMPARE(sizes[0], sizes[1]);
    QVERIFY(sizes[0].width() >= 160);
}

// View shows the stored JPEG, and SaveAs writes the same bytes.
void EndToEndTest::view_and_save_a_capture() {
    button_of(window_.get(), ui::kIdCaptureLog)->click();
    QPointer<ui::CaptureLogDialog> dialog = window_->capture_log_dialog();
    QVERIFY(dialog != nullptr);
    const auto& records = window_->capture_log();
    const auto live = std::find_if(records.begin(), records.end(),
                                   [](const CaptureLogRecord& r) { return r.kind == 0; });
    QVERIFY(live != records.end());
    dialog->list()->setCurrentItem(
        dialog->list()->topLevelItem(static_cast<int>(live - records.begin())));
    QVERIFY(dialog->on_view());
    QVERIFY(!dialog->picture().isNull());
    const QByteArray viewed = file_bytes(dialog->picture_file());
    testkit::ModalAnswer modal;
    testkit::answer_save_as(&modal, out_.path() + "/copies");
    dialog->on_save_as();
    QCOMPARE(file_bytes(dialog->saved_file()), viewed);
    button_of(window_.get(), ui::kIdCaptureLog)->click();
}

// Unmount while playing: playback has stopped before the disk goes.
void EndToEndTest::unmount_while_playing(const QString& type) {
    if (window_->ui_mode() == PM_STOP)
        button_of(window_.get(), ui::kIdPlay)->click();
    QVERIFY(window_->ui_mode() != PM_STOP);
    bool unmounted = false;
    testkit::ModalAnswer modal;
    modal.arm([&](QDialog* d) {
        auto* dialog = qobject_cast<DiskLoadDialog*>(d);
        if (dialog == nullptr) {
            d->reject();
            return;
        }
        QTRY_VERIFY(dialog->disk_list()->topLevelItemCount() > 0);  // the dialog fills its lists
        select_row(dialog, type);
        dialog->button(DiskLoadDialog::kIdUnmount)->click();
        unmounted = true;
        dialog->reject();
    });
    button_of(window_.get(), ui::kIdDiskLoad)->click();
    QVERIFY(unmounted);
    QCOMPARE(window_->ui_mode(), int32_t{PM_STOP});
    QCOMPARE(api_play_mode(), int32_t{PM_STOP});
    QVERIFY(!window_->disk().ready());
}

void EndToEndTest::a_recorder_disk_from_opening_to_unmount() {
    QVERIFY(platform::attach_image(recorder_) >= 0);
    const std::function<void()> steps[] = {
        [this] { open_disk(QStringLiteral("DVR HDD")); },
        [this] { pick_first_recorded_day(); },
        [this] { play_until_pictures(); },
        [this] { keys_after_clicks(); },
        [this] { change_day_and_play(); },
        [this] { jump_from_the_event_log(); },
        [this] { export_twice_into_one_folder(); },
        [this] { play_until_pictures(); },
        [this] { save_stills(); },
        [this] { view_and_save_a_capture(); },
        [this] { unmount_while_playing(QStringLiteral("DVR HDD")); },
    };
    for (const auto& step : steps) {
        step();
        if (QTest::currentTestFailed())
            return;
    }
}

void EndToEndTest::a_backup_disk_opens_and_plays() {
    QVERIFY(platform::attach_image(backup_) >= 0);
    open_disk(QStringLiteral("BACKUP HDD"));
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!button_of(window_.get(), ui::kIdEventLog)->isEnabled());
    pick_first_recorded_day();
    if (QTest::currentTestFailed())
        return;
    play_until_pictures();
    if (QTest::currentTestFailed())
        return;
    unmount_while_playing(QStringLiteral("BACKUP HDD"));
}

QTEST_MAIN(EndToEndTest)
#include "end_to_end_test.moc"
