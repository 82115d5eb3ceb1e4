#include "ui/dialogs/calendar_widget.h"

#include <QMouseEvent>

#include <algorithm>

#include "ui/control_id.h"
#include "ui/controls/skin_button.h"
#include "ui/posted_event.h"

namespace ui {
namespace {

constexpr int kButtonSize = 18;
constexpr int kDesignHeight = 146;

int month_key(const QDate& date) { return date.year() * 12 + date.month() - 1; }

} // namespace

CalendarWidget::CalendarWidget(QObject* owner, QWidget* parent)
    : QWidget(parent), owner_(owner), shown_(QDate::currentDate()) {
    previous_ = new SkinButton(this);
    previous_->set_skin(QStringLiteral("month_previous"));
    previous_->setToolTip(QStringLiteral("Previous month"));
    set_control_id(previous_, kPreviousId);
    next_ = new SkinButton(this);
    next_->set_skin(QStringLiteral("month_next"));
    next_->setToolTip(QStringLiteral("Next month"));
    set_control_id(next_, kNextId);
    connect(previous_, &QAbstractButton::clicked, this, &CalendarWidget::previous_month);
    connect(next_, &QAbstractButton::clicked, this, &CalendarWidget::next_month);
    resize(246, 190);
}

uint32_t CalendarWidget::day_number(const QDate& date) {
    const qint64 days = QDate(1970, 1, 1).daysTo(date);
    return days < 0 ? 0 : static_cast<uint32_t>(days);
}

QDate CalendarWidget::date_of_day(uint32_t day_number) {
    return QDate(1970, 1, 1).addDays(day_number);
}

void CalendarWidget::set_recorded_days(const uint32_t* days, int count) {
    mode_ = 1;
    days_.fill(0);
    count_ = days == nullptr ? 0 : std::clamp(count, 0, kMaxDays);
    std::copy(days, days + count_, days_.begin());
    set_shown_date(shown_);
}

bool CalendarWidget::recorded(const QDate& date) const {
    const uint32_t day = day_number(date);
    return std::find(days_.begin(), days_.begin() + count_, day) != days_.begin() + count_;
}

void CalendarWidget::set_shown_date(const QDate& date) {
    if (date.isValid())
        shown_ = date;
    update();
}

void CalendarWidget::set_session(bool open, uint32_t oldest, uint32_t newest) {
    session_open_ = open;
    oldest_ = date_of_day(oldest / 86400);
    newest_ = date_of_day(newest / 86400);
}

int CalendarWidget::first_weekday() const {
    return QDate(shown_.year(), shown_.month(), 1).dayOfWeek() % 7;
}

QRect CalendarWidget::day_rect(int day) const {
    const int cell = first_weekday() + day - 1;
    return {kGridLeft + cell % 7 * cell_width(), kRowsTop + cell / 7 * cell_height(), cell_width(),
            cell_height()};
}

QDate CalendarWidget::day_at(QPoint point) const {
    if (point.x() < kGridLeft || point.y() < kRowsTop || cell_width() <= 0 || cell_height() <= 0)
        return {};
    const int column = (point.x() - kGridLeft) / cell_width();
    const int row = (point.y() - kRowsTop) / cell_height();
    const int day = row * 7 + column - first_weekday() + 1;
    // The cells before the 1st and after the last day belong to no day of this month.
    if (column > 6 || row > 5 || day < 1 || day > shown_.daysInMonth())
        return {};
    return {shown_.year(), shown_.month(), day};
}

void CalendarWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (disabled_ || event->button() != Qt::LeftButton)
        return;
    const QDate day = day_at(event->position().toPoint());
    if (!day.isValid())
        return;
    shown_ = day;
    update();
    notify(0);
}

// Back to the same day of the previous month, or to its last day when it is shorter.
void CalendarWidget::previous_month() {
    if (disabled_ || !session_open_)
        return;
    const int previous_length = shown_.addDays(-shown_.day()).daysInMonth();
    change_month(shown_.addDays(-std::max(previous_length, shown_.day())), false);
}

void CalendarWidget::next_month() {
    if (disabled_ || !session_open_)
        return;
    change_month(shown_.addMonths(1), true);
}

void CalendarWidget::change_month(const QDate& date, bool forward) {
    // Months outside the open session's recordings hold nothing to pick.
    if (forward ? month_key(newest_) < month_key(date) : month_key(oldest_) > month_key(date))
        return;
    shown_ = date;
    update();
    if (mode_ == 1)
        notify(1);
}

void CalendarWidget::notify(int wparam) {
    post_message(owner_, kMsgStop);
    post_message(owner_, kMsgDayChosen, wparam, static_cast<intptr_t>(day_number(shown_)) * 86400);
}

void CalendarWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Beside the month's name, below the year: the year is too wide to stand between them.
    const int top = 36 + std::max(0, height() - kDesignHeight) / 2 + 20 + 1;
    previous_->setGeometry(2, top, kButtonSize, kButtonSize);
    next_->setGeometry(kGridLeft - 2 - kButtonSize, top, kButtonSize, kButtonSize);
}

} // namespace ui
