// The month calendar of the main window: marks the recorded days of the shown month, picks a
// day with a click and steps months within the open session. Tells its owner with a stop
// (kMsgStop) and then kMsgDayChosen: wparam 0 after a day was clicked, 1 after the month
// changed; lparam carries the chosen day's midnight (recorder time).
#pragma once

#include <QDate>
#include <QWidget>

#include <array>
#include <cstdint>

namespace ui {

class SkinButton;

class CalendarWidget : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMaxDays = 400;
    static constexpr int kPreviousId = 10040;
    static constexpr int kNextId = 10041;
    // Where the day grid starts in the widget.
    static constexpr int kGridLeft = 80;
    static constexpr int kGridTop = 8;
    static constexpr int kRowsTop = 18;

    explicit CalendarWidget(QObject* owner, QWidget* parent = nullptr);

    // The recorded days as day numbers (days since 1970-01-01 of the recorder clock); at
    // most kMaxDays are kept.
    void set_recorded_days(const uint32_t* days, int count);
    int recorded_count() const { return count_; }
    bool recorded(const QDate& date) const;

    void set_shown_date(const QDate& date);
    QDate shown_date() const { return shown_; }
    int mode() const { return mode_; }
    void set_disabled(bool disabled) { disabled_ = disabled; }

    // The open session's span; without one the month buttons do nothing.
    void set_session(bool open, uint32_t oldest, uint32_t newest);

    // The month buttons' actions.
    void previous_month();
    void next_month();

    // The day cell under a point of the widget, or an invalid date.
    QDate day_at(QPoint point) const;
    QRect day_rect(int day) const;

    static uint32_t day_number(const QDate& date);
    static QDate date_of_day(uint32_t day_number);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int cell_width() const { return (width() - 81) / 7; }
    int cell_height() const { return (height() - 20) / 6; }
    int first_weekday() const;
    void change_month(const QDate& date, bool forward);
    void notify(int wparam);

    QObject* owner_;
    QDate shown_;
    std::array<uint32_t, kMaxDays> days_{};
    int count_ = 0;
    int mode_ = 2;
    bool disabled_ = false;
    bool session_open_ = false;
    QDate oldest_;
    QDate newest_;
    SkinButton* previous_ = nullptr;
    SkinButton* next_ = nullptr;
};

} // namespace ui
