// The posted messages: what the controls and the dialogs tell the window, and the loading of a
// day (its recorded slots, its logs, the calendar's month).
#include <QLabel>

#include "ui/controls/search_slider.h"
#include "ui/controls/skin_button.h"
#include "ui/controls/volume_bar.h"
#include "ui/core_bridge.h"
#include "ui/dialogs/calendar_widget.h"
#include "ui/main_window.h"
#include "ui/posted_event.h"
#include "ui/recorder_clock.h"
#include "ui/scale_text.h"

namespace ui {
namespace {

template <typename Record>
std::vector<Record> read_log(int32_t (*reader)(uint32_t, Record*), uint32_t day, int max) {
    std::vector<Record> records(static_cast<size_t>(max));
    const int32_t count = reader(day, records.data());
    records.resize(static_cast<size_t>(count > 0 && count <= max ? count : 0));
    return records;
}

QDate date_of(uint32_t time) { return CalendarWidget::date_of_day(time / 86400); }

} // namespace

bool MainWindow::event(QEvent* event) {
    if (posted_message(event) >= 0) {
        if (const auto* message = dynamic_cast<const PostedEvent*>(event)) {
            handle_message(*message);
            return true;
        }
    }
    return DialogFrame::event(event);
}

void MainWindow::handle_message(const PostedEvent& message) {
    const auto time = static_cast<uint32_t>(message.lparam());
    switch (message.message()) {
    case kMsgMonthMask: on_month_mask(static_cast<uint32_t>(message.lparam())); break;
    case kMsgShowDay:
        // The shown day read again (its slots, its logs); what plays goes on.
        if (disk_.ready() && player_->day() != 0)
            load_day(player_->day(), true);
        break;
    case kMsgStop: player_->stop(); break;
    case kMsgVolume: on_volume_bar(); break;
    case kMsgTimelineClick: on_timeline_click(); break;
    case kMsgPlayFrom: player_->play_at(time); break;
    case kMsgDayChosen: on_calendar_day(message.wparam(), message.lparam()); break;
    case kMsgEventLogClosed:
    case kMsgSystemLogClosed: on_log_closed(message.message()); break;
    default: handle_export_message(message); break;
    }
}

// Shows the day of `midnight`: its recorded slots on the timeline, its logs, its month in the
// calendar. `follow`: playback went there by itself and goes on.
void MainWindow::load_day(uint32_t midnight, bool follow) {
    if (!disk_.ready())
        return;
    DaySpans::Masks masks{};
    tvfs_getsearchlog(midnight, masks.data());
    timeline_->span_map() = masks;
    timeline_->clear_unreadable();
    apply_check_marks();
    const bool new_month = date_of(midnight).month() != date_of(player_->day()).month() ||
                           date_of(midnight).year() != date_of(player_->day()).year();
    if (follow)
        player_->follow_day(midnight, masks);
    else
        player_->show_day(midnight, masks);
    calendar_->set_shown_date(date_of(midnight));
    if (new_month || month_mask_ == 0) {
        std::vector<uint32_t> months(kMonthMapMonths * kMonthMapEntries, 0);
        if (tvfs_getexistmonthlog(months.data()) >= 0) {
            const int32_t mask = tvfs_month_day_mask(months.data(), midnight);
            on_month_mask(mask < 0 ? 0 : static_cast<uint32_t>(mask));
        }
    }
    read_day_logs();
    hand_logs_to_dialogs();
    if (!follow) {
        timeline_->set_scale(0);
        scale_text_->update();
    }
    timeline_->update();
    if (play_when_shown_) {
        play_when_shown_ = false;
        if (play_at_ != 0 && play_at_ - play_at_ % DaySpans::kDaySeconds != midnight)
            load_day(play_at_ - play_at_ % DaySpans::kDaySeconds, false);
        if (play_at_ != 0)
            player_->play_at(play_at_);
        else
            player_->play();
    }
}

void MainWindow::on_day_reached(uint32_t midnight) { load_day(midnight, true); }

// The slots of the shown day that the engine could not read turn red; to the day's end when
// the data does not go on.
void MainWindow::on_unreadable(int /*channel*/, uint32_t from, uint32_t to) {
    const uint32_t day = player_->day();
    const uint32_t day_end = day + DaySpans::kDaySeconds;
    if (day == 0 || from >= day_end || (to != 0 && to <= day))
        return;
    const uint32_t first = std::max(from, day);
    const uint32_t last = to == 0 || to > day_end ? day_end - 1 : to - 1;
    if (last < first)
        return;
    timeline_->mark_unreadable(static_cast<int>((first - day) / DaySpans::kSlotSeconds),
                               static_cast<int>((last - day) / DaySpans::kSlotSeconds));
}

void MainWindow::read_day_logs() {
    const uint32_t day = player_->day();
    event_log_ = read_log(&api_get_event_log, day, kEventLogMax);
    system_log_ = read_log(&api_get_system_log, day, kSystemLogMax);
    capture_log_ = read_log(&api_get_capture_log, day, kCaptureLogMax);
    refresh_capture_log();
}

void MainWindow::show_time(uint32_t time) {
    const DateTime t = broken_down(time);
    osd_->setText(format_time(settings_.time_format, t.year, t.month, t.day, t.hour, t.minute,
                              t.second));
}

void MainWindow::on_volume_bar() {
    settings_.volume = volume_bar_->position();
    display_->set_volume(settings_.volume);
}

// A press on the timeline closes the log dialogs; the seek itself comes with the release, so
// that one click restarts playback once. A message with no press under way seeks at once.
void MainWindow::on_timeline_click() {
    close_log_dialogs();
    if (!timeline_->dragging())
        on_timeline_released();
}

} // namespace ui
