// The month calendar: month steps and their session bounds, the click rule, the recorded-day
// list and what it tells its owner.
#include <QtTest>

#include <numeric>
#include <vector>

#include "tests/ui/message_recorder.h"
#include "ui/control_id.h"
#include "ui/controls/skin_button.h"
#include "ui/dialogs/calendar_widget.h"

using ui::CalendarWidget;

namespace {

uint32_t midnight(const QDate& date) { return CalendarWidget::day_number(date) * 86400; }

} // namespace

class CalendarTest : public QObject {
    Q_OBJECT

private slots:
    void init();

    void month_steps_keep_the_day_or_take_the_last_one();
    void month_buttons_need_an_open_session();
    void months_outside_the_session_are_refused();
    void a_month_change_tells_the_owner_once_days_were_set();
    void a_click_picks_the_day_under_the_pointer();
    void clicks_outside_the_month_pick_nothing();
    void the_day_list_holds_four_hundred_days();

private:
    void click_button(int id);

    std::unique_ptr<testkit::MessageRecorder> owner_;
    std::unique_ptr<CalendarWidget> calendar_;
};

void CalendarTest::init() {
    owner_ = std::make_unique<testkit::MessageRecorder>();
    calendar_ = std::make_unique<CalendarWidget>(owner_.get());
    calendar_->resize(246, 190);
    // A session from 2023 to 2027 leaves the months of these cases free.
    calendar_->set_session(true, midnight(QDate(2023, 1, 1)), midnight(QDate(2027, 12, 31)));
}

void CalendarTest::click_button(int id) {
    auto* button = qobject_cast<QAbstractButton*>(ui::find_control(calendar_.get(), id));
    QVERIFY(button != nullptr);
    button->click();
}

void CalendarTest::month_steps_keep_the_day_or_take_the_last_one() {
    const struct {
        QDate from;
        int button;
        QDate to;
    } cases[] = {
        {{2026, 3, 31}, CalendarWidget::kPreviousId, {2026, 2, 28}},
        {{2024, 3, 31}, CalendarWidget::kPreviousId, {2024, 2, 29}},
        {{2026, 3, 15}, CalendarWidget::kPreviousId, {2026, 2, 15}},
        {{2026, 5, 31}, CalendarWidget::kPreviousId, {2026, 4, 30}},
        {{2026, 1, 10}, CalendarWidget::kPreviousId, {2025, 12, 10}},
        {{2026, 1, 31}, CalendarWidget::kNextId, {2026, 2, 28}},
        {{2024, 1, 31}, CalendarWidget::kNextId, {2024, 2, 29}},
        {{2026, 2, 28}, CalendarWidget::kNextId, {2026, 3, 28}},
        {{2026, 12, 31}, CalendarWidget::kNextId, {2027, 1, 31}},
    };
    for (const auto& c : cases) {
        calendar_->set_shown_date(c.from);
        click_button(c.button);
        QCOMPARE(calendar_->shown_date(), c.to);
    }
}

void CalendarTest::month_buttons_need_an_open_session() {
    calendar_->set_session(false, 0, 0);
    calendar_->set_shown_date(QDate(2026, 3, 31));
    click_button(CalendarWidget::kPreviousId);
    click_button(CalendarWidget::kNextId);
    QCOMPARE(calendar_->shown_date(), QDate(2026, 3, 31));
    // The disabled flag stops them as well.
    calendar_->set_session(true, midnight(QDate(2023, 1, 1)), midnight(QDate(2027, 1, 1)));
    calendar_->set_disabled(true);
    click_button(CalendarWidget::kNextId);
    QCOMPARE(calendar_->shown_date(), QDate(2026, 3, 31));
}

void CalendarTest::months_outside_the_session_are_refused() {
    // Recordings from 2026-03-14 18:00 to 2026-04-02 06:00.
    calendar_->set_session(true, midnight(QDate(2026, 3, 14)) + 18 * 3600,
                           midnight(QDate(2026, 4, 2)) + 6 * 3600);
    calendar_->set_shown_date(QDate(2026, 3, 20));
    click_button(CalendarWidget::kPreviousId);
    QCOMPARE(calendar_->shown_date(), QDate(2026, 3, 20));
    click_button(CalendarWidget::kNextId);
    QCOMPARE(calendar_->shown_date(), QDate(2026, 4, 20));  // the newest month, past its last day
    click_button(CalendarWidget::kNextId);
    QCOMPARE(calendar_->shown_date(), QDate(2026, 4, 20));
    click_button(CalendarWidget::kPreviousId);
    QCOMPARE(calendar_->shown_date(), QDate(2026, 3, 20));
}

void CalendarTest::a_month_change_tells_the_owner_once_days_were_set() {
    calendar_->set_shown_date(QDate(2026, 3, 31));
    QCOMPARE(calendar_->mode(), 2);
    click_button(CalendarWidget::kNextId);
    QCoreApplication::sendPostedEvents(owner_.get());
    QVERIFY(owner_->received.empty());
    calendar_->set_recorded_days(nullptr, 0);
    QCOMPARE(calendar_->mode(), 1);
    click_button(CalendarWidget::kPreviousId);
    QTRY_COMPARE(owner_->received.size(), size_t{2});
    QCOMPARE(owner_->received[0].message, int{ui::kMsgStop});
    QCOMPARE(owner_->received[1].message, int{ui::kMsgDayChosen});
    QCOMPARE(owner_->received[1].wparam, intptr_t{1});
    QCOMPARE(owner_->received[1].lparam, intptr_t{midnight(calendar_->shown_date())});
    QCOMPARE(calendar_->shown_date(), QDate(2026, 3, 30));
}

void CalendarTest::a_click_picks_the_day_under_the_pointer() {
    calendar_->set_shown_date(QDate(2026, 3, 1));  // a Sunday: the 1st is in the first cell
    for (int day : {1, 14, 31}) {
        owner_->received.clear();
        const QRect cell = calendar_->day_rect(day);
        QCOMPARE(calendar_->day_at(cell.center()), QDate(2026, 3, day));
        QTest::mouseClick(calendar_.get(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(calendar_->shown_date(), QDate(2026, 3, day));
        QTRY_COMPARE(owner_->received.size(), size_t{2});
        QCOMPARE(owner_->received[0].message, int{ui::kMsgStop});
        QCOMPARE(owner_->received[1].message, int{ui::kMsgDayChosen});
        QCOMPARE(owner_->received[1].wparam, intptr_t{0});
        QCOMPARE(owner_->received[1].lparam, intptr_t{midnight(QDate(2026, 3, day))});
    }
}

void CalendarTest::clicks_outside_the_month_pick_nothing() {
    calendar_->set_shown_date(QDate(2026, 4, 15));  // April 2026 starts on a Wednesday
    const QRect first = calendar_->day_rect(1);
    const QPoint before_first = first.center() - QPoint(first.width(), 0);  // "day 0"
    const QPoint after_last = calendar_->day_rect(30).center() + QPoint(first.width(), 0);
    for (QPoint p : {before_first, after_last, QPoint(40, 100), QPoint(120, 10)}) {
        QTest::mouseClick(calendar_.get(), Qt::LeftButton, {}, p);
        QCOMPARE(calendar_->shown_date(), QDate(2026, 4, 15));
    }
    QCoreApplication::sendPostedEvents(owner_.get());
    QVERIFY(owner_->received.empty());
}

void CalendarTest::the_day_list_holds_four_hundred_days() {
    const uint32_t first = CalendarWidget::day_number(QDate(2025, 1, 1));
    std::vector<uint32_t> days(CalendarWidget::kMaxDays + 1);
    std::iota(days.begin(), days.end(), first);
    calendar_->set_recorded_days(days.data(), CalendarWidget::kMaxDays);
    QCOMPARE(calendar_->recorded_count(), CalendarWidget::kMaxDays);
    QVERIFY(calendar_->recorded(CalendarWidget::date_of_day(days[399])));
    QVERIFY(!calendar_->recorded(CalendarWidget::date_of_day(days[400])));
    QVERIFY(!calendar_->recorded(QDate(2024, 12, 31)));
    // A longer list keeps its first 400 days and nothing past the buffer.
    calendar_->set_recorded_days(days.data(), static_cast<int>(days.size()));
    QCOMPARE(calendar_->recorded_count(), CalendarWidget::kMaxDays);
    QVERIFY(!calendar_->recorded(CalendarWidget::date_of_day(days[400])));
    calendar_->set_recorded_days(days.data(), -5);
    QCOMPARE(calendar_->recorded_count(), 0);
}

QTEST_MAIN(CalendarTest)
#include "calendar_test.moc"
