// The volume slider: a wedge that fills up to a knob. A change made with the mouse repaints
// and posts kMsgVolume to the parent.
#pragma once

#include <QWidget>

namespace ui {

class VolumeBar : public QWidget {
    Q_OBJECT
public:
    explicit VolumeBar(QWidget* parent = nullptr);

    // A maximum below the minimum is taken as an empty span.
    void set_range(int minimum, int maximum);
    int minimum() const { return minimum_; }
    int maximum() const { return minimum_ + span_; }

    // The value shown: position + minimum.
    int position() const { return position_ + minimum_; }
    // `position` counts from 0 (not from the minimum); refused when above the span or negative.
    bool set_position(int position);

    void set_vertical(bool vertical);
    bool knob_hovered() const { return hover_; }

    // The value a pointer at `pointer` (pixels along the bar) selects, 0..span.
    int value_at(int pointer) const;

    QSize sizeHint() const override { return vertical_ ? QSize(20, 80) : QSize(80, 20); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    int extent() const { return vertical_ ? height() : width(); }
    int along(const QPointF& point) const;
    QRectF knob_rect() const;
    void track_to(const QPointF& point);

    int minimum_ = 0;
    int span_ = 100;
    int position_ = 0;
    bool vertical_ = false;
    bool tracking_ = false;
    bool hover_ = false;
};

} // namespace ui
