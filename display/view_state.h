// What the user looks at: the split layout, the selected channel and, in single view, the
// digital zoom. Plain state without a widget, so that its rules can be tested directly.
//
// A click selects a tile's channel. A double click on a split's tile shows that channel alone;
// in single view a double click first undoes a zoom and, when there is none, goes back to the
// split the channel came from. The wheel zooms in single view only (1x to 8x around the
// picture's centre of view); a drag pans the zoomed picture.
#pragma once

#include <QPointF>
#include <QRectF>

namespace display {

inline constexpr double kMaxZoom = 8.0;
inline constexpr double kZoomStep = 1.25;

class ViewState {
public:
    // The window's layout call. Splits other than 1, 4, 9, 16 are ignored; a channel outside
    // 0..15 with one split shows the selected channel.
    void set_layout(int channel, int splits);
    int splits() const { return splits_; }
    bool single() const { return splits_ == 1; }
    int selected() const { return selected_; }
    // The channel tile `index` shows, or -1 for none.
    int channel_of_tile(int index) const;
    // The tile that shows `channel`, or -1.
    int tile_of_channel(int channel) const;

    void click(int tile);
    void double_click(int tile);
    // Wheel steps (positive: in) in single view; false when nothing changed.
    bool wheel(int steps);
    // A drag by `delta` of a view of `size` pixels, in single view.
    void pan(QPointF delta, QSizeF size);

    double zoom() const { return zoom_; }
    // The part of the picture shown in single view, in fractions of its width and height.
    QRectF source() const;

private:
    void clamp_center();
    void reset_zoom();

    int splits_ = 16;
    int split_before_single_ = 16;  // where a double click in single view returns
    int selected_ = 0;
    double zoom_ = 1.0;
    QPointF center_{0.5, 0.5};
};

}  // namespace display
