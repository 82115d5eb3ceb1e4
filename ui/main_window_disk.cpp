// The disk load dialog, the calendar and the event and system log dialogs in the main window.
#include <QAbstractButton>

#include "ui/controls/search_slider.h"
#include "ui/controls/skin_button.h"
#include "ui/dialogs/calendar_widget.h"
#include "ui/dialogs/disk_load_dialog.h"
#include "ui/dialogs/event_log_dialog.h"
#include "ui/dialogs/system_log_dialog.h"
#include "ui/main_window.h"
#include "ui/posted_event.h"

namespace ui {
namespace {

constexpr QRect kCalendarRect(744, 270, 246, 190);

QDate date_of(uint32_t time) { return CalendarWidget::date_of_day(time / 86400); }

} // namespace

EventLogDialog* MainWindow::event_log_dialog() const { return event_log_dialog_; }
SystemLogDialog* MainWindow::system_log_dialog() const { return system_log_dialog_; }

void MainWindow::create_disk_controls() {
    calendar_ = new CalendarWidget(this, this);
    buttons_[kIdDiskLoad]->setEnabled(true);
    connect(buttons_[kIdDiskLoad], &QAbstractButton::clicked, this, &MainWindow::on_disk_load);
    for (int id : {kIdEventLog, kIdSystemLog})
        buttons_[id]->set_type(SkinButton::Type::Check);
    connect(buttons_[kIdEventLog], &QAbstractButton::clicked, this, &MainWindow::toggle_event_log);
    connect(buttons_[kIdSystemLog], &QAbstractButton::clicked, this,
            &MainWindow::toggle_system_log);
}

void MainWindow::place_calendar() {
    if (calendar_ != nullptr)
        calendar_->setGeometry(kCalendarRect);
}

void MainWindow::on_disk_load() {
    const bool was_ready = disk_.ready();
    const int32_t row = disk_.disk_row;
    const int32_t session = disk_.session;
    int result = QDialog::Rejected;
    {
        DiskLoadDialog dialog(&disk_, this, settings_.time_format, this);
        result = dialog.exec();
    }
    // The dialog changed the shared record; a new session is shown even after Cancel.
    const bool changed = !was_ready || row != disk_.disk_row || session != disk_.session;
    if (disk_.ready() && (result == QDialog::Accepted || changed))
        disk_loaded(disk_);
    else if (!disk_.ready())
        disk_gone();
}

// The calendar starts at the session's first recording and may step within the session only.
void MainWindow::follow_disk_in_calendar() {
    calendar_->set_session(disk_.ready(), disk_.session_oldest, disk_.session_newest);
    if (disk_.ready() && disk_.session_oldest != 0)
        calendar_->set_shown_date(date_of(disk_.session_oldest));
    set_log_buttons();
}

// The disk went away in the dialog: nothing of it may stay on screen.
void MainWindow::disk_gone() {
    player_->session_closed();
    close_log_dialogs();
    event_log_.clear();
    system_log_.clear();
    capture_log_.clear();
    timeline_->clear_span_map();
    timeline_->clear_unreadable();
    forget_check();
    timeline_->clear_selection();
    timeline_->update();
    calendar_->set_session(false, 0, 0);
    calendar_->set_recorded_days(nullptr, 0);
    month_mask_ = 0;
    apply_disk_buttons();
    set_log_buttons();
}

void MainWindow::set_log_buttons() {
    for (int id : {kIdEventLog, kIdSystemLog})
        buttons_[id]->setEnabled(logs_offered());
}

// The month's day mask (bit d = day d + 1) becomes the calendar's recorded days.
void MainWindow::on_month_mask(uint32_t mask) {
    month_mask_ = mask;
    if (!disk_.ready())
        return;
    const QDate month = calendar_->shown_date();
    std::vector<uint32_t> days;
    for (int d = 0; d < 31; ++d) {
        const QDate date(month.year(), month.month(), d + 1);
        if ((mask >> d & 1u) != 0 && date.isValid())
            days.push_back(CalendarWidget::day_number(date));
    }
    calendar_->set_recorded_days(days.data(), static_cast<int>(days.size()));
}

// A day from the calendar (its midnight in lparam), or from the window itself (lparam 0: the
// window's own day again).
void MainWindow::on_calendar_day(intptr_t wparam, intptr_t lparam) {
    if (!disk_.ready())
        return;
    const uint32_t day = lparam > 0 && lparam <= intptr_t{UINT32_MAX} ? static_cast<uint32_t>(lparam)
                                                                      : player_->day();
    if (wparam != 0)
        month_mask_ = 0;  // the month is scanned again
    if (day != 0)
        load_day(day, false);
}

void MainWindow::toggle_event_log() {
    if (event_log_dialog_ && event_log_dialog_->isVisible()) {
        event_log_dialog_->reject();
        return;
    }
    if (!logs_offered()) {
        buttons_[kIdEventLog]->set_check(false);
        return;
    }
    if (!event_log_dialog_)
        event_log_dialog_ = new EventLogDialog(this, this);
    event_log_dialog_->fill(event_log_, settings_.time_format);
    event_log_dialog_->show();
    event_log_dialog_->raise();
    buttons_[kIdEventLog]->set_check(true);
}

void MainWindow::toggle_system_log() {
    if (system_log_dialog_ && system_log_dialog_->isVisible()) {
        system_log_dialog_->reject();
        return;
    }
    if (!logs_offered()) {
        buttons_[kIdSystemLog]->set_check(false);
        return;
    }
    if (!system_log_dialog_)
        system_log_dialog_ = new SystemLogDialog(this, this);
    system_log_dialog_->fill(system_log_, settings_.time_format);
    system_log_dialog_->show();
    system_log_dialog_->raise();
    buttons_[kIdSystemLog]->set_check(true);
}

// A log dialog closed: its button returns to rest and the dialog is let go, unless it was
// shown again before this message arrived.
void MainWindow::on_log_closed(int message) {
    if (message == kMsgEventLogClosed) {
        if (event_log_dialog_ && !event_log_dialog_->isVisible())
            event_log_dialog_->deleteLater();
        buttons_[kIdEventLog]->set_check(event_log_dialog_ && event_log_dialog_->isVisible());
    } else {
        if (system_log_dialog_ && !system_log_dialog_->isVisible())
            system_log_dialog_->deleteLater();
        buttons_[kIdSystemLog]->set_check(system_log_dialog_ && system_log_dialog_->isVisible());
    }
}

void MainWindow::close_log_dialogs() {
    if (event_log_dialog_ && event_log_dialog_->isVisible())
        event_log_dialog_->reject();
    if (system_log_dialog_ && system_log_dialog_->isVisible())
        system_log_dialog_->reject();
}

void MainWindow::hand_logs_to_dialogs() {
    if (event_log_dialog_ && event_log_dialog_->isVisible())
        event_log_dialog_->fill(event_log_, settings_.time_format);
    if (system_log_dialog_ && system_log_dialog_->isVisible())
        system_log_dialog_->fill(system_log_, settings_.time_format);
}

} // namespace ui
