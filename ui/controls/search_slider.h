// The timeline: the recorded 15-second slots of one day on a 24-hour or a 60-minute scale, the
// marked backup span, and the thumb that is the position control of playback. One position is
// one pixel: the range is fixed at the first paint to the channel's width less 8 (564 before).
#pragma once

#include <QSvgRenderer>
#include <QWidget>

#include <array>
#include <cstdint>

class QPainter;

namespace ui {

class SearchSlider : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSlots = 5760; // one per 15 seconds of a day
    static constexpr int kSlotsPerHour = 240;
    static constexpr int kThumbSize = 11;
    static constexpr int kClickSeekDepth = 23; // presses further below the top also seek
    static constexpr uint32_t kAllChannels = 0xFFFF;

    explicit SearchSlider(QWidget* parent = nullptr);

    // The channel masks of the shown day; the owner fills them and calls update().
    std::array<uint32_t, kSlots>& span_map() { return span_map_; }
    const std::array<uint32_t, kSlots>& span_map() const { return span_map_; }
    void clear_span_map();

    // Which channels count, in painting and in the searches.
    void set_channel_filter(uint32_t filter);
    uint32_t channel_filter() const { return filter_; }

    // 0: 24 hours; 1: the shown hour in 60 minutes.
    void set_scale(int scale);
    int scale() const { return scale_; }
    int shown_hour() const { return shown_hour_; }

    // Moves the thumb to a time of day; ignored while the user drags.
    void set_time(int hour, int minute, int second);

    int position() const { return position_; }
    void set_position(int position);
    int range() const { return range_; }
    int offset() const { return offset_; }

    // -1 keeps a value.
    void set_selection(int start, int end);
    int selection_start() const { return selection_start_; }
    int selection_end() const { return selection_end_; }
    void clear_selection();

    // The position of the first recorded slot at or after the thumb (last at or before it for
    // previous); -1 when there is none. The 60-minute scale searches only the shown hour.
    int next_recorded_position() const;
    int previous_recorded_position() const;
    // Whether `channel` (0..31) recorded at the thumb: its first slot at or after the thumb lies
    // at the thumb (24 hours) or within 3 positions after it (60 minutes).
    bool channel_recorded_at_thumb(int channel) const;

    // Seconds of day of position `p` (clamped to 0..range), and the position of a second of the
    // day: one linear formula each way, so that a time shown, a click and a painted slot agree.
    // On the 60-minute scale a second outside the shown hour lands on its nearer end.
    int seconds_of_position(int p) const;
    int position_of_seconds(int second_of_day) const;

    // Slots whose records could not be read, painted red over the recorded spans.
    void mark_unreadable(int first_slot, int last_slot);
    void clear_unreadable();
    bool unreadable(int slot) const;
    // The position of slot `slot` on the current scale.
    int slot_position(int slot) const;

    bool dragging() const { return dragging_; }
    void set_disabled_flag(bool disabled) { disabled_ = disabled; }
    bool disabled_flag() const { return disabled_; }

    // The trackbar's channel and the thumb's rectangle now.
    QRect channel_rect() const;
    QRect thumb_rect() const;

    QSize sizeHint() const override { return {572, 40}; }

signals:
    void moved(int position);    // while the user moves the thumb
    void released(int position); // end of tracking, after a thumb drag or a press

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void fix_range();
    int position_at(int x) const;
    void move_thumb(int position);
    int first_slot() const;
    int end_slot() const;
    int search_forward(uint32_t mask) const;

    void paint_map(QPainter& painter) const;
    void paint_unreadable(QPainter& painter) const;
    void paint_selection(QPainter& painter) const;
    void paint_grid(QPainter& painter) const;
    int span_top() const { return height() * 2 / 3; }

    std::array<uint32_t, kSlots> span_map_{};
    std::array<bool, kSlots> unreadable_{};
    uint32_t filter_ = kAllChannels;
    int scale_ = 0;
    int shown_hour_ = 0;
    int range_ = 564;
    int offset_ = 4;
    bool range_fixed_ = false;
    int position_ = 0;
    int selection_start_ = -1;
    int selection_end_ = -1;
    bool dragging_ = false;
    bool thumb_pressed_ = false;
    int grab_dx_ = 0;
    bool disabled_ = false;
    QSvgRenderer thumb_normal_;
    QSvgRenderer thumb_down_;
};

} // namespace ui
