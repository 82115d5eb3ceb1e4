// The export and capture dialogs on their own: the backup span rule and OK's checks, the dated
// names and folders, and the capture log's rows.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QDateTimeEdit>
#include <QTreeWidget>
#include <QtTest>

#include "storage/api.h"
#include "tests/ui/message_catcher.h"
#include "ui/control_id.h"
#include "ui/controls/skin_button.h"
#include "ui/dialogs/backup_case_box.h"
#include "ui/dialogs/backup_dialog.h"
#include "ui/dialogs/backup_done_dialog.h"
#include "ui/dialogs/backup_rules.h"
#include "ui/dialogs/capture_dialog.h"
#include "ui/dialogs/capture_log_dialog.h"
#include "ui/dialogs/save_as_dialog.h"
#include "ui/posted_event.h"

using ui::BackupDialog;

namespace {

DateTime at(int year, int month, int day, int hour, int minute, int second) {
    DateTime t{};
    t.year = static_cast<uint16_t>(year);
    t.month = static_cast<uint16_t>(month);
    t.day = static_cast<uint16_t>(day);
    t.hour = static_cast<uint16_t>(hour);
    t.minute = static_cast<uint16_t>(minute);
    t.second = static_cast<uint16_t>(second);
    return t;
}

uint32_t stamp(const DateTime& t) {
    uint32_t out = 0;
    systemtime_to_time(&t, &out);
    return out;
}

size_t slot_index(int hour, int minute, int second) {
    return static_cast<size_t>(hour * 240 + minute * 4 + second / 15);
}

// Records the messages a dialog posts to its owner.
class Owner : public QObject {
public:
    std::vector<std::pair<int, intptr_t>> messages;

protected:
    bool event(QEvent* event) override {
        if (const auto* m = dynamic_cast<const ui::PostedEvent*>(event)) {
            messages.emplace_back(m->message(), m->wparam());
            return true;
        }
        return QObject::event(event);
    }
};

template <typename T>
T* control(QWidget* root, int id) {
    return qobject_cast<T*>(ui::find_control(root, id));
}

} // namespace

class ExportDialogsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(home_.isValid());
        qputenv("HOME", home_.path().toUtf8());
        QStandardPaths::setTestModeEnabled(true);
    }

    void span_rule_takes_the_slots_of_the_span_only() {
        std::vector<uint32_t> map(kDaySlots, 0);
        map[slot_index(10, 0, 0)] = 1u << 1;    // channel 2: 10:00:00 .. 10:00:14
        map[slot_index(10, 0, 15)] = 1u << 2;   // channel 3: the next slot
        map[slot_index(9, 59, 45)] = 1u << 3;   // channel 4: the slot before
        map[slot_index(11, 30, 0)] = 1u << 4;   // channel 5: a later hour
        const DateTime from = at(2009, 8, 13, 10, 0, 0);
        const DateTime to = at(2009, 8, 13, 10, 0, 10);
        QCOMPARE(ui::backup_channel_mask(map.data(), map.size(), from, to, 0xFFFF), 1u << 1);
        // Only checked channels count.
        QCOMPARE(ui::backup_channel_mask(map.data(), map.size(), from, to, 1u << 2), 0u);
        // The end's own slot is included, the hours between are whole.
        QCOMPARE(ui::backup_channel_mask(map.data(), map.size(), at(2009, 8, 13, 9, 59, 50),
                                         at(2009, 8, 13, 11, 30, 5), 0xFFFF),
                 (1u << 1) | (1u << 2) | (1u << 3) | (1u << 4));
        // Across midnight only the hours of day count, and a start hour after the end hour
        // finds nothing.
        map[slot_index(0, 0, 0)] = 1u << 5;
        QCOMPARE(ui::backup_channel_mask(map.data(), map.size(), at(2009, 8, 13, 23, 59, 50),
                                         at(2009, 8, 14, 0, 0, 10), 0xFFFF),
                 0u);
        // A short map is never read past its end.
        QCOMPARE(ui::backup_channel_mask(map.data(), slot_index(10, 0, 0), from, to, 0xFFFF), 0u);
    }

    void subfolder_and_capture_name_follow_the_date_format() {
        const DateTime noon = at(2009, 8, 13, 12, 30, 0);
        QCOMPARE(ui::backup_folder("/b", 2, noon), QString("/b/13-08-2009"));
        QCOMPARE(ui::backup_folder("/b/", 5, noon), QString("/b/13-08-2009"));
        QCOMPARE(ui::backup_folder("/b", 0, noon), QString("/b/2009-08-13"));
        QCOMPARE(ui::backup_folder("/b", 4, noon), QString("/b/08-13-2009"));
        ui::CaptureDialog dialog(noon, 2);
        QCOMPARE(dialog.windowTitle(), QString("Capture"));
        QCOMPARE(control<QLineEdit>(&dialog, ui::CaptureDialog::kNameId)->text(),
                 QString("13-08-2009-123000"));
        QCOMPARE(control<QLineEdit>(&dialog, ui::CaptureDialog::kFolderId)->text(),
                 home_.path() + "/Storage/Capture");
        auto* format = control<QComboBox>(&dialog, ui::CaptureDialog::kFormatId);
        QCOMPARE(format->count(), 2);
        QCOMPARE(format->itemText(0), QString("BITMAP(*.BMP)"));
        QCOMPARE(format->itemText(1), QString("JPEG(*.JPG)"));
        QCOMPARE(format->currentIndex(), 0);
    }

    void capture_dialog_takes_enter_as_ok_and_swallows_escape() {
        ui::CaptureDialog dialog(at(2010, 1, 2, 3, 4, 5), 0);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        control<QComboBox>(&dialog, ui::CaptureDialog::kFormatId)->setCurrentIndex(1);
        control<QLineEdit>(&dialog, ui::CaptureDialog::kFolderId)->setText("/tmp/x");
        QTest::keyClick(&dialog, Qt::Key_Return);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.request().format, int32_t{STILL_FORMAT_JPEG});
        QCOMPARE(dialog.request().name, std::string("2010-01-02-030405"));
        QCOMPARE(dialog.request().folder, std::string("/tmp/x"));
    }

    void backup_dialog_shows_the_display_channels() {
        Owner owner;
        BackupDialog dialog(&owner);
        dialog.set_display_channels(4);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.windowTitle(), QString("AVI Backup"));
        for (int c = 0; c < BackupDialog::kChannels; ++c) {
            auto* box = control<QCheckBox>(&dialog, BackupDialog::kFirstChannelId + c);
            QCOMPARE(box->text(), QString("CH-%1").arg(c + 1));
            QCOMPARE(box->isVisible(), c < 4);
            QCOMPARE(box->isChecked(), c < 4);
        }
        auto* all = control<QCheckBox>(&dialog, BackupDialog::kAllId);
        QVERIFY(all->isChecked());
        // Date and time: a span may cross midnight.
        QCOMPARE(control<QDateTimeEdit>(&dialog, BackupDialog::kStartId)->displayFormat(),
                 QString("yyyy-MM-dd  HH : mm : ss"));
        QCOMPARE(control<QDateTimeEdit>(&dialog, BackupDialog::kEndId)->displayFormat(),
                 QString("yyyy-MM-dd  HH : mm : ss"));
        QTest::mouseClick(all, Qt::LeftButton, {}, QPoint(6, all->height() / 2));
        QVERIFY(!all->isChecked());
        for (int c = 0; c < 4; ++c)
            QVERIFY(!control<QCheckBox>(&dialog, BackupDialog::kFirstChannelId + c)->isChecked());
        QVERIFY(!control<QCheckBox>(&dialog, BackupDialog::kFirstChannelId + 5)->isChecked());
    }

    void backup_ok_checks_the_span_and_the_channels() {
        std::vector<uint32_t> map(kDaySlots, 0);
        map[slot_index(10, 0, 0)] = 1u << 1;
        Owner owner;
        BackupDialog dialog(&owner);
        dialog.set_display_channels(4);
        dialog.set_search_map(map.data(), map.size());
        dialog.set_time_format(2);
        dialog.set_folder(home_.path() + "/Backup");
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        testkit::ModalAnswer modal;
        testkit::CaughtMessage caught;

        // The start must lie before the end.
        dialog.set_span(stamp(at(2009, 8, 13, 10, 0, 10)), stamp(at(2009, 8, 13, 10, 0, 10)));
        testkit::catch_message(&modal, &caught);
        dialog.on_ok();
        QCOMPARE(caught.text, QString("Start time is less than stop time."));
        QCOMPARE(caught.caption, QString("Error"));
        QVERIFY(dialog.isVisible());

        // Checked channels without a recording in the span.
        dialog.set_span(stamp(at(2009, 8, 13, 10, 0, 15)), stamp(at(2009, 8, 13, 10, 5, 0)));
        testkit::catch_message(&modal, &caught);
        dialog.on_ok();
        QCOMPARE(caught.text, QString("No video data"));
        QCOMPARE(caught.caption, QString("Quillon"));
        QCOMPARE(caught.count, 2);

        // No channel checked: nothing at all happens.
        dialog.set_span(stamp(at(2009, 8, 13, 10, 0, 0)), stamp(at(2009, 8, 13, 10, 0, 10)));
        for (int c = 0; c < 4; ++c)
            control<QCheckBox>(&dialog, BackupDialog::kFirstChannelId + c)->setChecked(false);
        testkit::catch_message(&modal, &caught);
        dialog.on_ok();
        QCoreApplication::processEvents();
        QCOMPARE(caught.count, 2);
        QVERIFY(owner.messages.empty());

        // Channel 2 recorded at 10:00:00 .. 10:00:14: the span 10:00:00 .. 10:00:10 starts.
        control<QCheckBox>(&dialog, BackupDialog::kFirstChannelId + 1)->setChecked(true);
        control<QCheckBox>(&dialog, BackupDialog::kFirstChannelId + 2)->setChecked(true);
        dialog.on_ok();
        QTRY_COMPARE(owner.messages.size(), size_t{1});
        QCOMPARE(owner.messages[0].first, int(ui::kMsgBackupStart));
        QCOMPARE(dialog.channel_mask(), 1u << 1);
        QCOMPARE(dialog.end_time() - dialog.start_time(), 10u);
        QCOMPARE(dialog.job_folder(), home_.path() + "/Backup/13-08-2009");
        QVERIFY(dialog.running());
        QVERIFY(!control<QWidget>(&dialog, BackupDialog::kOkId)->isEnabled());
        QVERIFY(!control<QWidget>(&dialog, BackupDialog::kAllId)->isEnabled());
        QVERIFY(!control<QWidget>(&dialog, BackupDialog::kStartId)->isEnabled());
        QVERIFY(!control<QWidget>(&dialog, BackupDialog::kFirstChannelId)->isEnabled());
        QVERIFY(control<QWidget>(&dialog, BackupDialog::kCancelId)->isEnabled());
        // A second OK (Enter) while running starts nothing more.
        QTest::keyClick(&dialog, Qt::Key_Return);
        QCoreApplication::processEvents();
        QCOMPARE(owner.messages.size(), size_t{1});
    }

    // The case fields: an offset that is not whole seconds or an unknown zone keeps the job
    // from starting; good values go to the job and come back from the settings next time.
    void backup_case_fields_are_checked_and_remembered() {
        std::vector<uint32_t> map(kDaySlots, 0);
        map[slot_index(10, 0, 0)] = 1u << 0;
        Owner owner;
        BackupDialog dialog(&owner);
        dialog.set_display_channels(4);
        dialog.set_search_map(map.data(), map.size());
        dialog.set_folder(home_.path() + "/Backup");
        dialog.set_span(stamp(at(2009, 8, 13, 10, 0, 0)), stamp(at(2009, 8, 13, 10, 0, 10)));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto field = [&](int id) { return control<QLineEdit>(&dialog, id); };
        field(ui::BackupCaseBox::kCaseId)->setText("K-2009/8");
        field(ui::BackupCaseBox::kExhibitId)->setText("HDD 1");
        field(ui::BackupCaseBox::kExaminerId)->setText("an examiner");
        field(ui::BackupCaseBox::kNotesId)->setText("seized on site");
        testkit::ModalAnswer modal;
        testkit::CaughtMessage caught;

        field(ui::BackupCaseBox::kClockOffsetId)->setText("75 s");
        testkit::catch_message(&modal, &caught);
        dialog.on_ok();
        QVERIFY(caught.text.contains("whole seconds"));
        field(ui::BackupCaseBox::kClockOffsetId)->setText("+75");
        field(ui::BackupCaseBox::kZoneId)->setText("Nowhere/Town");
        testkit::catch_message(&modal, &caught);
        dialog.on_ok();
        QVERIFY(caught.text.contains("unknown time zone"));
        QCoreApplication::processEvents();
        QVERIFY(owner.messages.empty());
        QVERIFY(!dialog.running());

        field(ui::BackupCaseBox::kZoneId)->setText("Europe/Berlin");
        dialog.on_ok();
        QTRY_COMPARE(owner.messages.size(), size_t{1});
        const ExportCaseInfo& info = dialog.case_info();
        QCOMPARE(QString::fromStdString(info.case_number), QString("K-2009/8"));
        QCOMPARE(QString::fromStdString(info.exhibit), QString("HDD 1"));
        QCOMPARE(QString::fromStdString(info.examiner), QString("an examiner"));
        QCOMPARE(QString::fromStdString(info.notes), QString("seized on site"));
        QVERIFY(info.clock_offset.has_value());
        QCOMPARE(*info.clock_offset, int64_t{75});
        QCOMPARE(QString::fromStdString(info.recorder_zone), QString("Europe/Berlin"));
        QCOMPARE(QString::fromStdString(info.invoked_by), QString("desktop program"));
        QVERIFY(!field(ui::BackupCaseBox::kCaseId)->isEnabled());

        QSettings settings(home_.path() + "/case.ini", QSettings::IniFormat);
        dialog.case_box()->save(&settings);
        BackupDialog again(&owner);
        again.case_box()->load(settings);
        for (int id : {ui::BackupCaseBox::kCaseId, ui::BackupCaseBox::kExhibitId, ui::BackupCaseBox::kExaminerId,
                       ui::BackupCaseBox::kNotesId, ui::BackupCaseBox::kClockOffsetId, ui::BackupCaseBox::kZoneId})
            QCOMPARE(control<QLineEdit>(&again, id)->text(), field(id)->text());
    }

    // A span may cross midnight: the pickers carry the date, the day after the map's day is
    // looked up in its own map, and the recorder's times are taken as they are, whatever the
    // PC's time zone.
    void backup_span_crosses_midnight() {
        const QByteArray zone = qgetenv("TZ");
        qputenv("TZ", "America/New_York");
        std::vector<uint32_t> map(kDaySlots, 0);
        map[slot_index(12, 0, 0)] = 1u << 0;  // channel 1, but not in the span
        std::vector<uint32_t> asked;
        Owner owner;
        BackupDialog dialog(&owner);
        dialog.set_display_channels(4);
        dialog.set_search_map(map.data(), map.size());
        dialog.set_folder(home_.path() + "/Backup");
        dialog.set_day_map_reader([&](uint32_t day, std::vector<uint32_t>* other) {
            asked.push_back(day);
            other->assign(kDaySlots, 0);
            (*other)[slot_index(0, 0, 0)] = 1u << 2;  // channel 3 just after midnight
            return true;
        });
        dialog.set_span(stamp(at(2009, 8, 13, 23, 59, 30)), stamp(at(2009, 8, 13, 23, 59, 50)));
        QCOMPARE(control<QDateTimeEdit>(&dialog, BackupDialog::kStartId)->dateTime(),
                 QDateTime(QDate(2009, 8, 13), QTime(23, 59, 30), Qt::UTC));
        control<QDateTimeEdit>(&dialog, BackupDialog::kEndId)
            ->setDateTime(QDateTime(QDate(2009, 8, 14), QTime(0, 0, 30), Qt::UTC));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.on_ok();
        QTRY_COMPARE(owner.messages.size(), size_t{1});
        QCOMPARE(owner.messages[0].first, int(ui::kMsgBackupStart));
        QCOMPARE(dialog.start_time(), stamp(at(2009, 8, 13, 23, 59, 30)));
        QCOMPARE(dialog.end_time(), stamp(at(2009, 8, 14, 0, 0, 30)));
        QCOMPARE(dialog.channel_mask(), 1u << 2);
        QCOMPARE(asked, std::vector<uint32_t>{stamp(at(2009, 8, 14, 0, 0, 0))});
        QCOMPARE(dialog.job_folder(), home_.path() + "/Backup/2009-08-13");
        if (zone.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", zone);
    }

    // The closing box names the report the job really wrote.
    void backup_done_names_the_jobs_own_report() {
        ui::BackupDoneDialog plain("/out/2009-08-13", QString());
        QVERIFY(plain.message().contains("export-report.json"));
        ui::BackupDoneDialog own("/out/2009-08-13", QString(), nullptr,
                                 "/out/2009-08-13/export-report-235930.json");
        QVERIFY(own.message().contains("export-report-235930.json"));
        QVERIFY(!own.message().contains("export-report.json"));
    }

    void span_mask_reads_each_day_of_the_span() {
        std::vector<uint32_t> map(kDaySlots, 0);
        map[slot_index(23, 59, 59)] = 1u << 1;
        const uint32_t day = stamp(at(2009, 8, 13, 0, 0, 0));
        const uint32_t end_of_day = stamp(at(2009, 8, 13, 23, 59, 50));
        int reads = 0;
        const ui::DayMapReader empty = [&](uint32_t, std::vector<uint32_t>* other) {
            ++reads;
            other->assign(kDaySlots, 0);
            return true;
        };
        // Only the map's day: no other map is read.
        QCOMPARE(ui::backup_span_mask(map.data(), map.size(), day, end_of_day, end_of_day + 9,
                                      0xF, empty),
                 1u << 1);
        QCOMPARE(reads, 0);
        // Two days on: both following days are read; nothing there.
        QCOMPARE(ui::backup_span_mask(map.data(), map.size(), day, end_of_day + 30,
                                      end_of_day + 2 * 86400, 0xF, empty),
                 0u);
        QCOMPARE(reads, 2);
        // A day that cannot be read keeps every checked channel: the job finds out.
        QCOMPARE(ui::backup_span_mask(map.data(), map.size(), day, end_of_day, end_of_day + 60,
                                      0x5, [](uint32_t, std::vector<uint32_t>*) { return false; }),
                 0x5u);
    }

    void backup_dialog_follows_progress_and_cancel_posts_the_stop() {
        Owner owner;
        BackupDialog dialog(&owner);
        dialog.set_display_channels(4);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* bar = control<QProgressBar>(&dialog, BackupDialog::kProgressId);
        ui::post_message(&dialog, ui::kMsgBackupProgress, 40, 40);
        QTRY_COMPARE(bar->value(), 40);
        ui::post_message(&dialog, ui::kMsgBackupProgress, 400, 400);  // out of range: ignored
        QCoreApplication::processEvents();
        QCOMPARE(bar->value(), 40);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QTRY_COMPARE(owner.messages.size(), size_t{1});
        QCOMPARE(owner.messages[0].first, int(ui::kMsgBackupEnd));
        QCOMPARE(owner.messages[0].second, intptr_t{0});

        BackupDialog second(&owner);
        second.show();
        QVERIFY(QTest::qWaitForWindowExposed(&second));
        second.close_button()->click();
        QVERIFY(!second.isVisible());
        QTRY_COMPARE(owner.messages.size(), size_t{2});
        QCOMPARE(owner.messages[1].first, int(ui::kMsgBackupEnd));
    }

    void capture_log_rows_show_type_and_time() {
        const uint32_t taken = stamp(at(2009, 8, 13, 12, 30, 0));
        const uint32_t pictured = stamp(at(2009, 8, 13, 11, 15, 5));
        const std::vector<CaptureLogRecord> records = {
            {taken, 0, pictured, 0}, {taken + 1, 1, pictured, 0}, {taken + 2, 2, pictured, 0},
            {taken + 3, 7, pictured, 0}};
        Owner owner;
        ui::CaptureLogDialog dialog(&owner);
        QCOMPARE(dialog.objectName(), QString("Quillon_CaptureLog"));
        QCOMPARE(dialog.windowTitle(), QString("Capture log"));
        dialog.fill(records, 2);
        QTreeWidget* list = dialog.list();
        QCOMPARE(list->topLevelItemCount(), 4);
        QCOMPARE(list->headerItem()->text(0), QString("No"));
        QCOMPARE(list->headerItem()->text(1), QString("Type"));
        QCOMPARE(list->headerItem()->text(2), QString("Time"));
        const char* const types[] = {"Live JPEG", "Play JPEG", "AVI Backup", "AVI Backup"};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(list->topLevelItem(i)->text(0), QString::number(i + 1));
            QCOMPARE(list->topLevelItem(i)->text(1), QString(types[i]));
        }
        // A live capture is dated when it was taken; a played one shows the pictured time.
        QCOMPARE(list->topLevelItem(0)->text(2), QString("13-08-2009 12:30:00"));
        QCOMPARE(list->topLevelItem(1)->text(2), QString("13-08-2009 11:15:05"));
        dialog.fill(records, 3);
        QCOMPARE(list->topLevelItem(1)->text(2), QString("2009/08/13 11:15:05"));
        // Without a selection View shows nothing and SaveAs does nothing.
        QVERIFY(!dialog.on_view());
        dialog.on_save_as();
        QVERIFY(dialog.saved_file().isEmpty());
        // Closing tells the owner.
        dialog.show();
        dialog.close_button()->click();
        QTRY_COMPARE(owner.messages.size(), size_t{1});
        QCOMPARE(owner.messages[0].first, int(ui::kMsgCaptureLogClosed));
    }

    void save_as_dialog_stores_its_edits() {
        ui::SaveAsDialog dialog("2009-08-13-123000");
        QCOMPARE(dialog.windowTitle(), QString("Save As"));
        QCOMPARE(control<QLineEdit>(&dialog, ui::SaveAsDialog::kNameId)->text(),
                 QString("2009-08-13-123000"));
        QCOMPARE(control<QLineEdit>(&dialog, ui::SaveAsDialog::kFolderId)->text(),
                 home_.path() + "/Storage/Capture");
        QVERIFY(ui::find_control(&dialog, ui::SaveAsDialog::kBrowseId) != nullptr);
        control<QLineEdit>(&dialog, ui::SaveAsDialog::kNameId)->setText("mine");
        dialog.on_ok();
        QCOMPARE(dialog.name(), QString("mine"));
        QCOMPARE(dialog.folder(), home_.path() + "/Storage/Capture");
    }

private:
    QTemporaryDir home_;
};

QTEST_MAIN(ExportDialogsTest)
#include "export_dialogs_test.moc"
