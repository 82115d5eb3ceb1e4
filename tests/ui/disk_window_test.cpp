// The main window with the disk load dialog, the calendar and the log dialogs, on sample
// recorder and backup disks, with a recording display in place of the video display.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <functional>

#include "platform/drive.h"
#include "storage/api.h"
#include "tests/testkit/recording_display.h"
#include "tests/testkit/temp_image.h"
#include "ui/control_id.h"
#include "ui/controls/search_slider.h"
#include "ui/controls/skin_button.h"
#include "ui/dialogs/calendar_widget.h"
#include "ui/dialogs/disk_load_dialog.h"
#include "ui/dialogs/event_log_dialog.h"
#include "ui/dialogs/system_log_dialog.h"
#include "ui/main_window.h"
#include "ui/posted_event.h"
#include "ui/settings.h"
#include "ui/time_format.h"

using ui::CalendarWidget;
using ui::DiskLoadDialog;

namespace {

QAbstractButton* button_of(QWidget* root, int id) {
    return qobject_cast<QAbstractButton*>(ui::find_control(root, id));
}

int row_of(const QTreeWidget* list, const QString& type) {
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        if (list->topLevelItem(row)->text(0).endsWith(QStringLiteral("] ") + type))
            return row;
    return -1;
}

QAction* menu_entry(QMenu* menu, int id) {
    for (QAction* action : menu->actions())
        if (action->data().toInt() == id)
            return action;
    return nullptr;
}

QDate date_of(uint32_t time) { return CalendarWidget::date_of_day(time / 86400); }

// The time display once the window has shown the midnight of `date`.
QString midnight_text(const ui::MainWindow& window, const QDate& date) {
    return ui::format_time(window.settings().time_format, date.year(), date.month(), date.day(),
                           0, 0, 0);
}

} // namespace

class DiskWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void open_disk_marks_the_sessions_days_in_the_calendar();
    void a_calendar_click_shows_that_day();
    void the_event_log_plays_from_its_entry_and_closes_on_a_timeline_click();
    void the_system_log_button_opens_and_closes_its_dialog();
    void unmount_while_playing_stops_and_clears_the_window();
    void a_backup_session_offers_no_logs();
    void ctrl_o_opens_the_disk_dialog();

private:
    void open_window();
    // Runs `steps` on the disk load dialog once it is up and filled; closes whatever modal
    // window stands in its way after a few seconds, so that a failure cannot hang the test.
    void drive_dialog(std::function<void(DiskLoadDialog*)> steps);
    void open_disk(const QString& type, bool last_session);

    std::unique_ptr<testkit::TempDir> dir_;
    std::string recorder_;
    std::string backup_;
    std::string recorder_print_;
    std::string backup_print_;
    std::unique_ptr<QTemporaryDir> settings_dir_;
    std::unique_ptr<QSettings> settings_;
    std::unique_ptr<testkit::RecordingDisplay> display_;
    std::unique_ptr<ui::MainWindow> window_;
    bool drove_ = false;
};

void DiskWindowTest::initTestCase() {
    dir_ = std::make_unique<testkit::TempDir>();
    bool known = false;
    recorder_ = testkit::make_image(*dir_, "recorder.img", sample::preset("recorder", &known));
    backup_ = testkit::make_image(*dir_, "backup.img", sample::preset("backup", &known));
    QVERIFY(known);
    recorder_print_ = testkit::fingerprint(recorder_);
    backup_print_ = testkit::fingerprint(backup_);
}

// Whatever the window did, no image changed by a byte.
void DiskWindowTest::cleanupTestCase() {
    QCOMPARE(testkit::fingerprint(recorder_), recorder_print_);
    QCOMPARE(testkit::fingerprint(backup_), backup_print_);
}

void DiskWindowTest::init() {
    settings_dir_ = std::make_unique<QTemporaryDir>();
    settings_ = ui::open_settings(settings_dir_->filePath("Quillon.conf"));
    display_ = std::make_unique<testkit::RecordingDisplay>();
    drove_ = false;
}

void DiskWindowTest::cleanup() {
    window_.reset();
    platform::detach_all();
}

void DiskWindowTest::open_window() {
    window_ = std::make_unique<ui::MainWindow>(display_.get(), new QWidget(), settings_.get());
    window_->show();
}

void DiskWindowTest::drive_dialog(std::function<void(DiskLoadDialog*)> steps) {
    auto* timer = new QTimer(this);
    auto* clock = new QElapsedTimer;
    clock->start();
    connect(timer, &QTimer::timeout, this, [this, timer, clock, steps] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* dialog = qobject_cast<DiskLoadDialog*>(modal);
        if (dialog != nullptr && dialog->disk_list()->topLevelItemCount() > 0) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            drove_ = true;
            steps(dialog);
        } else if (clock->elapsed() > 10000) {
            if (auto* stuck = qobject_cast<QDialog*>(modal))
                stuck->reject();
            if (dialog == nullptr && modal == nullptr)
                return;
        }
    });
    timer->start(10);
}

void DiskWindowTest::open_disk(const QString& type, bool last_session) {
    drive_dialog([type, last_session](DiskLoadDialog* dialog) {
        dialog->disk_list()->setCurrentItem(
            dialog->disk_list()->topLevelItem(row_of(dialog->disk_list(), type)));
        dialog->button(DiskLoadDialog::kIdMount)->click();
        QTreeWidget* sessions = dialog->session_list();
        if (sessions->topLevelItemCount() > 0)
            sessions->setCurrentItem(
                sessions->topLevelItem(last_session ? sessions->topLevelItemCount() - 1 : 0));
        dialog->button(DiskLoadDialog::kIdOpenSession)->click();
        dialog->button(DiskLoadDialog::kIdOk)->click();
    });
    button_of(window_.get(), ui::kIdDiskLoad)->click();
    QVERIFY(drove_);
    QVERIFY(window_->disk().ready());
    QTRY_VERIFY(window_->timeline()->next_recorded_position() >= 0);
}

void DiskWindowTest::open_disk_marks_the_sessions_days_in_the_calendar() {
    QVERIFY(platform::attach_image(recorder_) >= 0);
    open_window();
    QVERIFY(button_of(window_.get(), ui::kIdDiskLoad)->isEnabled());
    QVERIFY(!button_of(window_.get(), ui::kIdPlay)->isEnabled());
    open_disk(QStringLiteral("DVR HDD"), false);
    if (QTest::currentTestFailed())
        return;
    const ui::DiskState& disk = window_->disk();
    QVERIFY(disk.recorder_disk());
    QVERIFY(button_of(window_.get(), ui::kIdPlay)->isEnabled());
    QVERIFY(button_of(window_.get(), ui::kIdEventLog)->isEnabled());
    // The calendar shows the session's first day, and marks exactly the days the sample
    // recorded: those from its oldest to its newest recording.
    CalendarWidget* calendar = window_->calendar();
    QCOMPARE(calendar->shown_date(), date_of(disk.session_oldest));
    QCOMPARE(window_->selected_day(), CalendarWidget::day_number(date_of(disk.session_oldest)) * 86400);
    const QDate first = date_of(disk.session_oldest);
    const QDate last = date_of(disk.session_newest);
    QTRY_VERIFY(calendar->recorded(first));
    for (int d = 1; d <= first.daysInMonth(); ++d) {
        const QDate date(first.year(), first.month(), d);
        QCOMPARE(calendar->recorded(date), date >= first && date <= last);
    }
    QVERIFY(!window_->event_log().empty());
}

void DiskWindowTest::a_calendar_click_shows_that_day() {
    QVERIFY(platform::attach_image(recorder_) >= 0);
    open_window();
    open_disk(QStringLiteral("DVR HDD"), false);
    if (QTest::currentTestFailed())
        return;
    CalendarWidget* calendar = window_->calendar();
    const QDate recorded = calendar->shown_date();
    QVERIFY(recorded.day() < recorded.daysInMonth());  // the sample's day is not a month's last
    const QDate empty = recorded.addDays(1);
    QTest::mouseClick(calendar, Qt::LeftButton, {}, calendar->day_rect(empty.day()).center());
    QTRY_COMPARE(window_->osd_text(), midnight_text(*window_, empty));
    QCOMPARE(window_->selected_day(), CalendarWidget::day_number(empty) * 86400);
    QVERIFY(window_->timeline()->next_recorded_position() < 0);
    QVERIFY(window_->event_log().empty());
    QTest::mouseClick(calendar, Qt::LeftButton, {}, calendar->day_rect(recorded.day()).center());
    QTRY_COMPARE(window_->osd_text(), midnight_text(*window_, recorded));
    QCOMPARE(window_->selected_day(), CalendarWidget::day_number(recorded) * 86400);
    QVERIFY(window_->timeline()->next_recorded_position() >= 0);
    QVERIFY(!window_->event_log().empty());
}

void DiskWindowTest::the_event_log_plays_from_its_entry_and_closes_on_a_timeline_click() {
    QVERIFY(platform::attach_image(recorder_) >= 0);
    open_window();
    open_disk(QStringLiteral("DVR HDD"), false);
    if (QTest::currentTestFailed())
        return;
    QAbstractButton* log_button = button_of(window_.get(), ui::kIdEventLog);
    log_button->click();
    ui::EventLogDialog* dialog = window_->event_log_dialog();
    QVERIFY(dialog != nullptr && dialog->isVisible());
    QVERIFY(log_button->isChecked());
    QCOMPARE(static_cast<size_t>(dialog->list()->topLevelItemCount()), window_->event_log().size());
    const int row = dialog->list()->topLevelItemCount() / 2;
    const uint32_t time = window_->event_log()[static_cast<size_t>(row)].t;
    dialog->list()->setCurrentItem(dialog->list()->topLevelItem(row));
    button_of(dialog, ui::LogListDialog::kIdPlay)->click();
    QTRY_COMPARE(window_->ui_mode(), int32_t{PM_PLAY});
    QVERIFY(window_->current_time() >= time);
    QVERIFY(window_->current_time() < time + 60);
    // A click on the timeline closes the log dialogs and their buttons return to rest.
    post_message(window_.get(), ui::kMsgTimelineClick);
    QTRY_VERIFY(window_->event_log_dialog() == nullptr);
    QVERIFY(!log_button->isChecked());
}

void DiskWindowTest::the_system_log_button_opens_and_closes_its_dialog() {
    QVERIFY(platform::attach_image(recorder_) >= 0);
    open_window();
    open_disk(QStringLiteral("DVR HDD"), false);
    if (QTest::currentTestFailed())
        return;
    QAbstractButton* log_button = button_of(window_.get(), ui::kIdSystemLog);
    log_button->click();
    QVERIFY(window_->system_log_dialog() != nullptr);
    QCOMPARE(window_->system_log_dialog()->windowTitle(), QStringLiteral("Systemlog"));
    QCOMPARE(static_cast<size_t>(window_->system_log_dialog()->list()->topLevelItemCount()),
             window_->system_log().size());
    log_button->click();
    QTRY_VERIFY(window_->system_log_dialog() == nullptr);
    QVERIFY(!log_button->isChecked());
    // The menu entry opens it again.
    std::unique_ptr<QMenu> menu(window_->build_context_menu());
    QVERIFY(menu_entry(menu.get(), ui::kMenuSystemLog)->isEnabled());
    menu_entry(menu.get(), ui::kMenuSystemLog)->trigger();
    QVERIFY(window_->system_log_dialog() != nullptr && window_->system_log_dialog()->isVisible());
}

void DiskWindowTest::unmount_while_playing_stops_and_clears_the_window() {
    QVERIFY(platform::attach_image(recorder_) >= 0);
    open_window();
    open_disk(QStringLiteral("DVR HDD"), false);
    if (QTest::currentTestFailed())
        return;
    button_of(window_.get(), ui::kIdEventLog)->click();
    button_of(window_.get(), ui::kIdPlay)->click();
    QCOMPARE(window_->ui_mode(), int32_t{PM_PLAY});
    QTRY_VERIFY_WITH_TIMEOUT(window_->current_time() > window_->selected_day(), 15000);
    int32_t mode_at_unmount = -1;
    drive_dialog([this, &mode_at_unmount](DiskLoadDialog* dialog) {
        dialog->disk_list()->setCurrentItem(dialog->disk_list()->topLevelItem(
            row_of(dialog->disk_list(), QStringLiteral("DVR HDD"))));
        dialog->button(DiskLoadDialog::kIdUnmount)->click();
        mode_at_unmount = window_->ui_mode();
        dialog->button(DiskLoadDialog::kIdCancel)->click();
    });
    button_of(window_.get(), ui::kIdDiskLoad)->click();
    QVERIFY(drove_);
    QCOMPARE(mode_at_unmount, int32_t{PM_STOP});
    QVERIFY(!window_->disk().ready());
    QCOMPARE(window_->ui_mode(), int32_t{PM_STOP});
    QVERIFY(!button_of(window_.get(), ui::kIdPlay)->isEnabled());
    QVERIFY(!button_of(window_.get(), ui::kIdEventLog)->isEnabled());
    QTRY_VERIFY(window_->event_log_dialog() == nullptr);
    QVERIFY(window_->timeline()->next_recorded_position() < 0);
    QVERIFY(window_->event_log().empty());
    QVERIFY(backup_mounted_disk() == nullptr);
}

void DiskWindowTest::a_backup_session_offers_no_logs() {
    QVERIFY(platform::attach_image(backup_) >= 0);
    open_window();
    open_disk(QStringLiteral("BACKUP HDD"), true);
    if (QTest::currentTestFailed())
        return;
    const ui::DiskState& disk = window_->disk();
    QVERIFY(disk.disk_kind == 7 || disk.disk_kind == 8);
    QVERIFY(disk.session > 0);
    QVERIFY(!button_of(window_.get(), ui::kIdEventLog)->isEnabled());
    QVERIFY(!button_of(window_.get(), ui::kIdSystemLog)->isEnabled());
    std::unique_ptr<QMenu> menu(window_->build_context_menu());
    QVERIFY(menu_entry(menu.get(), ui::kMenuOpenDisk)->isEnabled());
    QVERIFY(!menu_entry(menu.get(), ui::kMenuEventLog)->isEnabled());
    QVERIFY(!menu_entry(menu.get(), ui::kMenuSystemLog)->isEnabled());
    button_of(window_.get(), ui::kIdEventLog)->click();
    QVERIFY(window_->event_log_dialog() == nullptr);
    QCOMPARE(window_->calendar()->shown_date(), date_of(disk.session_oldest));
    QTRY_VERIFY(window_->calendar()->recorded(date_of(disk.session_oldest)));
}

void DiskWindowTest::ctrl_o_opens_the_disk_dialog() {
    open_window();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));  // the keys are the window's
    QString title;
    drive_dialog([&title](DiskLoadDialog* dialog) {
        title = dialog->windowTitle();
        dialog->button(DiskLoadDialog::kIdCancel)->click();
    });
    QVERIFY(platform::attach_image(recorder_) >= 0);
    QTest::keyClick(window_.get(), Qt::Key_O, Qt::ControlModifier);
    QVERIFY(drove_);
    QCOMPARE(title, QStringLiteral("Open Disk"));
    QVERIFY(!window_->disk().ready());
}

QTEST_MAIN(DiskWindowTest)
#include "disk_window_test.moc"
