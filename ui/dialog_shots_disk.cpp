#include "ui/dialog_shots_disk.h"

#include <QDir>
#include <QObject>
#include <QTreeWidget>

#include <cstdio>
#include <vector>

#include "storage/api.h"
#include "ui/dialogs/calendar_widget.h"
#include "ui/dialogs/disk_load_dialog.h"
#include "ui/dialogs/event_log_dialog.h"
#include "ui/dialogs/system_log_dialog.h"
#include "ui/disk_state.h"

namespace ui {
namespace {

int save(QWidget& widget, const QString& dir, const char* name) {
    const QString path = QDir(dir).filePath(QString::fromLatin1(name));
    const bool ok = widget.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok ? 0 : 1;
}

// The disk load dialog as a user leaves it: the first usable row mounted, its first
// session open.
int shoot_disk_load(DiskState* state, QObject* owner, const QString& dir) {
    DiskLoadDialog dialog(state, owner, 0);
    dialog.set_message_sink([](const QString& text) {
        std::fprintf(stderr, "disk load dialog: %s\n", qPrintable(text));
    });
    dialog.fill_lists();
    for (int row = 0; row < dialog.disk_list()->topLevelItemCount(); ++row) {
        const QString type = dialog.disk_list()->topLevelItem(row)->text(0);
        if (type.contains(QStringLiteral("DVR HDD")) || type.contains(QStringLiteral("BACKUP"))) {
            dialog.disk_list()->setCurrentItem(dialog.disk_list()->topLevelItem(row));
            break;
        }
    }
    dialog.mount();
    if (dialog.session_list()->topLevelItemCount() > 0)
        dialog.session_list()->setCurrentItem(dialog.session_list()->topLevelItem(0));
    dialog.open_session();
    return save(dialog, dir, "dialog-diskload.png");
}

int shoot_calendar(const DiskState& state, uint32_t day, QObject* owner, const QString& dir) {
    CalendarWidget calendar(owner);
    calendar.set_session(state.ready(), state.session_oldest, state.session_newest);
    std::vector<uint32_t> months(size_t{kMonthMapMonths} * kMonthMapEntries, 0);
    std::vector<uint32_t> days;
    const QDate shown = CalendarWidget::date_of_day(day / 86400);
    if (tvfs_getexistmonthlog(months.data()) >= 0) {
        const int32_t mask = tvfs_month_day_mask(months.data(), day);
        for (int d = 0; d < 31; ++d)
            if (mask > 0 && (mask >> d & 1) != 0)
                days.push_back(CalendarWidget::day_number(QDate(shown.year(), shown.month(), d + 1)));
    }
    calendar.set_shown_date(shown);
    calendar.set_recorded_days(days.data(), static_cast<int>(days.size()));
    return save(calendar, dir, "dialog-calendar.png");
}

template <typename Record>
std::vector<Record> read_log(int32_t (*reader)(uint32_t, Record*), uint32_t day, int max) {
    std::vector<Record> records(static_cast<size_t>(max));
    const int32_t count = reader(day, records.data());
    records.resize(static_cast<size_t>(count > 0 && count <= max ? count : 0));
    return records;
}

} // namespace

int save_disk_dialog_shots(const QString& dir) {
    QDir().mkpath(dir);
    QObject owner;  // takes the dialogs' messages and drops them
    DiskState state;
    int failed = shoot_disk_load(&state, &owner, dir);
    const uint32_t day = state.ready() ? first_recorded_day() : 0;
    failed += shoot_calendar(state, day != 0 ? day : state.session_oldest, &owner, dir);
    EventLogDialog events(&owner);
    events.fill(read_log(&api_get_event_log, day, kEventLogMax), 0);
    if (events.list()->topLevelItemCount() > 0)
        events.list()->setCurrentItem(events.list()->topLevelItem(0));
    failed += save(events, dir, "dialog-eventlog.png");
    SystemLogDialog system(&owner);
    system.fill(read_log(&api_get_system_log, day, kSystemLogMax), 0);
    failed += save(system, dir, "dialog-systemlog.png");
    close_disk(&state);
    return failed;
}

} // namespace ui
