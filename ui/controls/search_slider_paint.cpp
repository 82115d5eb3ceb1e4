// The timeline's picture: background, the patterned channel, the recorded spans in the lower
// third, the marked span, the hour grid and the thumb.
#include "ui/controls/search_slider.h"

#include <QPainter>

#include <algorithm>

namespace ui {
namespace {

const QColor kBackground(241, 243, 245);
const QColor kSpan(41, 150, 252);
const QColor kSelection(0, 115, 0);
const QColor kUnreadable(214, 39, 40);
const QColor kPattern(206, 212, 220);
const QColor kGroove(170, 178, 188);
constexpr int kStrip = 5;

} // namespace

void SearchSlider::paintEvent(QPaintEvent*) {
    fix_range();
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);

    // The pattern behind the channel, enlarged by 8 pixels sideways and 10 up and down, kept
    // above the strip of the grid.
    QRect pattern = channel_rect().adjusted(-8, -10, 8, 10);
    pattern.setBottom(std::min(pattern.bottom(), span_top() - kStrip - 1));
    painter.fillRect(pattern, QBrush(kPattern, Qt::BDiagPattern));
    painter.fillRect(channel_rect().adjusted(2, 1, -2, -1), kGroove);

    paint_map(painter);
    paint_selection(painter);
    paint_unreadable(painter);
    painter.fillRect(QRect(0, span_top() - kStrip, width(), kStrip), kBackground);
    paint_grid(painter);

    QSvgRenderer& thumb = thumb_pressed_ ? thumb_down_ : thumb_normal_;
    if (thumb.isValid()) {
        painter.setRenderHint(QPainter::Antialiasing);
        thumb.render(&painter, QRectF(thumb_rect()));
    }
}

void SearchSlider::paint_map(QPainter& painter) const {
    const int top = span_top();
    const int bar_height = height() - top;
    for (int slot = first_slot(); slot < end_slot(); ++slot) {
        if ((span_map_[static_cast<size_t>(slot)] & filter_) == 0)
            continue;
        const bool last_of_hour = slot % kSlotsPerHour == kSlotsPerHour - 1;
        int width = last_of_hour ? 2 : 1;
        if (scale_ != 0)
            width += 3;
        painter.fillRect(QRect(offset_ + slot_position(slot), top, width, bar_height), kSpan);
    }
}

// Above the marked span, so that a hole in the marked span stays in sight.
void SearchSlider::paint_unreadable(QPainter& painter) const {
    const int top = span_top();
    for (int slot = first_slot(); slot < end_slot(); ++slot) {
        if (!unreadable_[static_cast<size_t>(slot)])
            continue;
        const int left = slot_position(slot);
        const int right = std::max(left + 1, slot_position(slot + 1));
        painter.fillRect(QRect(offset_ + left, top, right - left + (scale_ != 0 ? 1 : 0),
                               height() - top),
                         kUnreadable);
    }
}

void SearchSlider::paint_selection(QPainter& painter) const {
    if (selection_start_ < 0)
        return;
    // Until the end is marked, the start shows as a 2-pixel line.
    const int end = selection_end_ < 0 ? selection_start_ + 1 : selection_end_;
    const int left = std::min(selection_start_, end);
    const int right = std::max(selection_start_, end);
    const int top = span_top() + 1;
    painter.fillRect(QRect(offset_ + left, top, right - left + 1, height() - 1 - top), kSelection);
}

void SearchSlider::paint_grid(QPainter& painter) const {
    const int marks = scale_ == 0 ? 24 : 12;
    for (int i = 0; i <= marks; ++i)
        painter.fillRect(QRect(offset_ + range_ * i / marks, span_top() - kStrip, 1, kStrip),
                         Qt::black);
}

} // namespace ui
