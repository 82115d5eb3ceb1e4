// The event log and system log dialogs: their rows, Play and their closing messages.
#include <QScreen>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>
#include <cstring>

#include "tests/ui/message_recorder.h"
#include "ui/control_id.h"
#include "ui/controls/skin_button.h"
#include "ui/dialogs/event_log_dialog.h"
#include "ui/dialogs/system_log_dialog.h"

using ui::LogListDialog;

namespace {

constexpr uint32_t kTime = 1773480413;  // 2026-03-14 09:26:53

EventLogRecord event_record(uint8_t channel, uint8_t type, uint32_t t) {
    EventLogRecord r{};
    r.channel = channel;
    r.type = type;
    r.in_use = 1;
    r.t = t;
    return r;
}

SystemLogRecord system_record(const char* text, uint32_t time) {
    SystemLogRecord r{};
    std::strncpy(r.text, text, sizeof r.text);
    r.time = time;
    return r;
}

void click(QWidget* dialog, int id) {
    auto* button = qobject_cast<QAbstractButton*>(ui::find_control(dialog, id));
    QVERIFY(button != nullptr);
    button->click();
}

QStringList row(const QTreeWidget* list, int index) {
    QStringList cells;
    const QTreeWidgetItem* item = list->topLevelItem(index);
    for (int c = 0; item != nullptr && c < item->columnCount(); ++c)
        cells << item->text(c);
    return cells;
}

} // namespace

class LogDialogsTest : public QObject {
    Q_OBJECT

private slots:
    void event_rows_name_channel_type_and_time();
    void play_posts_the_selected_rows_time();
    void play_without_a_row_or_time_does_nothing();
    void every_way_of_closing_tells_the_owner();
    void system_rows_count_from_one_and_stop_at_the_record();
    void a_refill_replaces_the_rows();
    void the_two_dialogs_open_side_by_side();
};

void LogDialogsTest::event_rows_name_channel_type_and_time() {
    testkit::MessageRecorder owner;
    ui::EventLogDialog dialog(&owner);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Eventlog"));
    dialog.fill({event_record(0, 1, kTime), event_record(15, 7, kTime + 1), event_record(3, 0, kTime + 2),
                 event_record(1, 5, kTime + 3)},
                0);
    QCOMPARE(dialog.list()->topLevelItemCount(), 4);
    QCOMPARE(row(dialog.list(), 0),
             (QStringList{"Ch-1", "Continue", "2026-03-14 09:26:53"}));
    QCOMPARE(row(dialog.list(), 1), (QStringList{"Ch-16", "No", "2026-03-14 09:26:54"}));
    QCOMPARE(row(dialog.list(), 2)[1], QStringLiteral("No"));
    QCOMPARE(row(dialog.list(), 3)[1], QStringLiteral("Manual"));
    // The date format setting: 5 is day/month/year.
    dialog.fill({event_record(2, 2, kTime)}, 5);
    QCOMPARE(row(dialog.list(), 0), (QStringList{"Ch-3", "Motion", "14/03/2026 09:26:53"}));
}

void LogDialogsTest::play_posts_the_selected_rows_time() {
    testkit::MessageRecorder owner;
    ui::EventLogDialog events(&owner);
    events.fill({event_record(0, 1, kTime), event_record(1, 2, kTime + 600)}, 0);
    events.list()->setCurrentItem(events.list()->topLevelItem(1));
    click(&events, LogListDialog::kIdPlay);
    ui::SystemLogDialog system(&owner);
    system.fill({system_record("POWER ON", kTime + 30)}, 0);
    system.list()->setCurrentItem(system.list()->topLevelItem(0));
    click(&system, LogListDialog::kIdPlay);
    QTRY_COMPARE(owner.received.size(), size_t{2});
    QCOMPARE(owner.received[0].message, int{ui::kMsgPlayFrom});
    QCOMPARE(owner.received[0].lparam, intptr_t{kTime + 600});
    QCOMPARE(owner.received[1].message, int{ui::kMsgPlayFrom});
    QCOMPARE(owner.received[1].lparam, intptr_t{kTime + 30});
}

void LogDialogsTest::play_without_a_row_or_time_does_nothing() {
    testkit::MessageRecorder owner;
    ui::EventLogDialog dialog(&owner);
    dialog.fill({event_record(0, 1, 0), event_record(1, 1, kTime)}, 0);
    dialog.list()->clearSelection();
    click(&dialog, LogListDialog::kIdPlay);
    dialog.list()->setCurrentItem(dialog.list()->topLevelItem(0));  // a record without a time
    click(&dialog, LogListDialog::kIdPlay);
    QCoreApplication::sendPostedEvents(&owner);
    QVERIFY(owner.received.empty());
}

void LogDialogsTest::every_way_of_closing_tells_the_owner() {
    const struct {
        int button;
        int result;
    } ways[] = {{LogListDialog::kIdOk, QDialog::Accepted},
                {LogListDialog::kIdCancel, QDialog::Rejected},
                {ui::DialogFrame::kCloseButtonId, QDialog::Rejected}};
    for (const auto& way : ways) {
        testkit::MessageRecorder owner;
        ui::EventLogDialog events(&owner);
        ui::SystemLogDialog system(&owner);
        events.show();
        system.show();
        QVERIFY(!events.isModal() && !system.isModal());
        click(&events, way.button);
        click(&system, way.button);
        QVERIFY(!events.isVisible() && !system.isVisible());
        QCOMPARE(events.result(), way.result);
        QTRY_COMPARE(owner.numbers(),
                     (std::vector<int>{ui::kMsgEventLogClosed, ui::kMsgSystemLogClosed}));
    }
}

void LogDialogsTest::system_rows_count_from_one_and_stop_at_the_record() {
    testkit::MessageRecorder owner;
    ui::SystemLogDialog dialog(&owner);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Systemlog"));
    SystemLogRecord full{};
    std::memset(full.text, 'A', sizeof full.text);  // no terminating NUL in the record
    std::memset(full.unused, 'B', sizeof full.unused);
    dialog.fill({system_record("POWER ON", kTime), full}, 3);
    QCOMPARE(row(dialog.list(), 0), (QStringList{"1", "POWER ON", "2026/03/14 09:26:53"}));
    QCOMPARE(row(dialog.list(), 1)[0], QStringLiteral("2"));
    QCOMPARE(row(dialog.list(), 1)[1], QString(int{sizeof full.text}, QLatin1Char('A')));
}

void LogDialogsTest::a_refill_replaces_the_rows() {
    testkit::MessageRecorder owner;
    ui::EventLogDialog dialog(&owner);
    dialog.fill({event_record(0, 1, kTime), event_record(1, 1, kTime + 1), event_record(2, 1, kTime + 2)}, 0);
    dialog.fill({event_record(3, 3, kTime + 86400)}, 0);
    QCOMPARE(dialog.list()->topLevelItemCount(), 1);
    QCOMPARE(row(dialog.list(), 0), (QStringList{"Ch-4", "Sensor", "2026-03-15 09:26:53"}));
    dialog.fill({}, 0);
    QCOMPARE(dialog.list()->topLevelItemCount(), 0);
}

// Both open over their owner window, one beside the other: neither hides the other.
void LogDialogsTest::the_two_dialogs_open_side_by_side() {
    testkit::MessageRecorder owner;
    QWidget window;
    window.setGeometry(100, 100, 900, 600);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ui::EventLogDialog events(&owner, &window);
    ui::SystemLogDialog system(&owner, &window);
    events.show();
    system.show();
    QVERIFY(QTest::qWaitForWindowExposed(&events));
    QVERIFY(QTest::qWaitForWindowExposed(&system));
    // Side by side; a screen too narrow for both lets them overlap by no more than it lacks.
    const QRect room = window.screen()->availableGeometry();
    const int lacking = std::max(0, events.width() + system.width() + 8 - room.width());
    QTRY_VERIFY(events.x() < system.x());
    const int overlap = events.frameGeometry().right() + 1 - system.frameGeometry().left();
    QVERIFY2(overlap <= lacking, qPrintable(QStringLiteral("%1 > %2").arg(overlap).arg(lacking)));
    QVERIFY(room.contains(events.frameGeometry()));
    QVERIFY(room.contains(system.frameGeometry()));
    // Shown again after the user moved it, a dialog stays where it was put.
    system.hide();
    system.move(system.x() + 30, system.y() + 20);
    const QPoint moved = system.pos();
    system.show();
    QCOMPARE(system.pos(), moved);
}

QTEST_MAIN(LogDialogsTest)
#include "log_dialogs_test.moc"
