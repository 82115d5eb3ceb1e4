#include "ui/controls/search_slider.h"

#include "ui/controls/svg_paint.h"
#include "ui/posted_event.h"

#include <QMouseEvent>

#include <algorithm>

namespace ui {
namespace {

constexpr int kChannelTop = 6;
constexpr int kChannelHeight = 4;

} // namespace

SearchSlider::SearchSlider(QWidget* parent) : QWidget(parent) {
    thumb_normal_.load(icon_path(QStringLiteral("thumb")));
    thumb_down_.load(icon_path(QStringLiteral("thumb_pressed")));
}

void SearchSlider::clear_span_map() {
    span_map_.fill(0);
    update();
}

void SearchSlider::set_channel_filter(uint32_t filter) {
    filter_ = filter;
    update();
}

void SearchSlider::set_scale(int scale) {
    scale_ = scale == 0 ? 0 : 1;
    update();
}

void SearchSlider::set_time(int hour, int minute, int second) {
    if (dragging_)
        return;
    shown_hour_ = std::clamp(hour, 0, 23);
    const int in_hour = std::clamp(minute, 0, 59) * 60 + std::clamp(second, 0, 59);
    move_thumb(position_of_seconds(shown_hour_ * 3600 + in_hour));
    update(); // the 60-minute scale may show another hour now
}

void SearchSlider::set_position(int position) { move_thumb(position); }

void SearchSlider::move_thumb(int position) {
    const int clamped = std::clamp(position, 0, range_);
    if (clamped == position_)
        return;
    position_ = clamped;
    update();
}

void SearchSlider::set_selection(int start, int end) {
    if (start != -1)
        selection_start_ = start;
    if (end != -1)
        selection_end_ = end;
    update();
}

void SearchSlider::clear_selection() {
    selection_start_ = -1;
    selection_end_ = -1;
    update();
}

QRect SearchSlider::channel_rect() const { return {0, kChannelTop, width(), kChannelHeight}; }

QRect SearchSlider::thumb_rect() const {
    const QRect channel = channel_rect();
    const int travel = std::max(0, channel.width() - kThumbSize);
    const int left = channel.left() + position_ * travel / range_;
    const int top = channel.center().y() - kThumbSize / 2;
    return {left, top, kThumbSize, kThumbSize};
}

// One position is one pixel from here on; a channel narrower than 9 pixels still keeps a
// range of 1, so positions and times never divide by zero.
void SearchSlider::fix_range() {
    if (range_fixed_)
        return;
    const QRect channel = channel_rect();
    range_ = std::max(1, channel.width() - 8);
    offset_ = channel.left() + 4;
    range_fixed_ = true;
    position_ = std::clamp(position_, 0, range_);
}

int SearchSlider::position_at(int x) const {
    const QRect channel = channel_rect();
    const int travel = channel.width() - kThumbSize;
    if (travel <= 0)
        return 0;
    const int64_t p = int64_t{x - kThumbSize / 2 - channel.left()} * range_ / travel;
    return static_cast<int>(std::clamp<int64_t>(p, 0, range_));
}

void SearchSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    if (disabled_)
        return event->accept(); // taken, so the window behind does not start a drag
    const QPoint at = event->position().toPoint();
    dragging_ = true;
    const QRect thumb = thumb_rect();
    if (thumb.contains(at)) {
        thumb_pressed_ = true;
        grab_dx_ = at.x() - (thumb.left() + kThumbSize / 2);
        update();
        return;
    }
    grab_dx_ = 0;
    const int before = position_;
    move_thumb(position_at(at.x()));
    if (position_ != before)
        emit moved(position_);
    if (at.y() > kClickSeekDepth)
        post_message(parentWidget(), kMsgTimelineClick, position_);
}

void SearchSlider::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_)
        return QWidget::mouseMoveEvent(event);
    const int before = position_;
    move_thumb(position_at(event->position().toPoint().x() - grab_dx_));
    if (position_ != before)
        emit moved(position_);
}

void SearchSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_ || event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    dragging_ = false;
    thumb_pressed_ = false;
    update();
    emit released(position_);
}

} // namespace ui
