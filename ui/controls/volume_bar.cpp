#include "ui/controls/volume_bar.h"

#include "ui/posted_event.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace ui {
namespace {

const QColor kTrack(58, 66, 78);
const QColor kFill(41, 150, 252);
const QColor kKnob(232, 238, 244);
const QColor kKnobHover(255, 255, 255);

} // namespace

VolumeBar::VolumeBar(QWidget* parent) : QWidget(parent) { setMouseTracking(true); }

void VolumeBar::set_range(int minimum, int maximum) {
    minimum_ = minimum;
    span_ = std::max(0, maximum - minimum);
    position_ = std::clamp(position_, 0, span_);
    update();
}

bool VolumeBar::set_position(int position) {
    if (position < 0 || position > span_)
        return false;
    position_ = position;
    update();
    return true;
}

void VolumeBar::set_vertical(bool vertical) {
    vertical_ = vertical;
    updateGeometry();
    update();
}

// The bar's ends keep a twelfth of the extent free, so the knob never leaves the widget.
int VolumeBar::value_at(int pointer) const {
    const int e = extent();
    const int usable = e - e / 6;
    if (usable <= 0 || span_ == 0)
        return 0;
    const double fraction = static_cast<double>(pointer - e / 12) / usable;
    return std::clamp(static_cast<int>(std::floor(fraction * span_)), 0, span_);
}

int VolumeBar::along(const QPointF& point) const {
    // Vertical bars grow upwards.
    return vertical_ ? height() - static_cast<int>(point.y()) : static_cast<int>(point.x());
}

QRectF VolumeBar::knob_rect() const {
    const int e = extent();
    const double usable = e - e / 6;
    const double at = e / 12 + (span_ == 0 ? 0.0 : usable * position_ / span_);
    const double thickness = vertical_ ? width() : height();
    const double knob_w = std::max(6.0, thickness * 0.45);
    const double knob_h = thickness - 2;
    QRectF knob(0, 0, vertical_ ? knob_h : knob_w, vertical_ ? knob_w : knob_h);
    knob.moveCenter(vertical_ ? QPointF(width() / 2.0, height() - at)
                              : QPointF(at, height() / 2.0));
    return knob;
}

void VolumeBar::track_to(const QPointF& point) {
    const int value = value_at(along(point));
    if (value == position_)
        return;
    position_ = value;
    update();
    post_message(parentWidget(), kMsgVolume, position());
}

void VolumeBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    tracking_ = true;
    grabMouse();
    track_to(event->position());
}

void VolumeBar::mouseMoveEvent(QMouseEvent* event) {
    const bool over = knob_rect().contains(event->position());
    if (over != hover_) {
        hover_ = over;
        update();
    }
    if (tracking_)
        track_to(event->position());
}

void VolumeBar::mouseReleaseEvent(QMouseEvent* event) {
    if (!tracking_ || event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    track_to(event->position());
    tracking_ = false;
    releaseMouse();
}

void VolumeBar::leaveEvent(QEvent*) {
    if (hover_) {
        hover_ = false;
        update();
    }
}

void VolumeBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF knob = knob_rect();
    const int e = extent();
    const double start = e / 12;
    const double end = e - e / 12;
    const double thickness = vertical_ ? width() : height();

    // The wedge: a right triangle on the bar's base that rises towards the loud end.
    auto wedge = [&](double to) {
        const double rise = (thickness - 4) * (to - start) / (end - start);
        QPainterPath path;
        if (vertical_) {
            path.moveTo(thickness - 2, height() - start);
            path.lineTo(thickness - 2, height() - to);
            path.lineTo(thickness - 2 - rise, height() - to);
        } else {
            path.moveTo(start, thickness - 2);
            path.lineTo(to, thickness - 2);
            path.lineTo(to, thickness - 2 - rise);
        }
        path.closeSubpath();
        return path;
    };
    if (end > start) {
        painter.fillPath(wedge(end), kTrack);
        painter.fillPath(wedge(vertical_ ? height() - knob.center().y() : knob.center().x()),
                         kFill);
    }
    painter.setPen(QPen(QColor(20, 24, 30), 1));
    painter.setBrush(hover_ || tracking_ ? kKnobHover : kKnob);
    painter.drawRoundedRect(knob, 2, 2);
    if (hover_ || tracking_) {
        painter.setPen(QPen(kFill, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(knob.adjusted(-1, -1, 1, 1), 2.5, 2.5);
    }
}

} // namespace ui
