#include "display/view_state.h"

#include <algorithm>
#include <cmath>

#include "display/display_core.h"
#include "display/tile_layout.h"

namespace display {

void ViewState::set_layout(int channel, int splits) {
    if (!valid_splits(splits)) return;
    if (splits == 1) {
        if (channel >= 0 && channel < kChannels) selected_ = channel;
        if (splits_ != 1) split_before_single_ = splits_;
    } else if (selected_ >= splits) {
        // The selection stays on screen: it is what is heard and what a capture saves.
        selected_ = 0;
    }
    reset_zoom();
    splits_ = splits;
}

int ViewState::channel_of_tile(int index) const {
    if (splits_ == 1) return index == 0 ? selected_ : -1;
    return index >= 0 && index < splits_ && index < kChannels ? index : -1;
}

int ViewState::tile_of_channel(int channel) const {
    if (splits_ == 1) return channel == selected_ ? 0 : -1;
    return channel >= 0 && channel < splits_ ? channel : -1;
}

void ViewState::click(int tile) {
    const int channel = channel_of_tile(tile);
    if (channel >= 0) selected_ = channel;
}

void ViewState::double_click(int tile) {
    if (splits_ == 1) {
        if (zoom_ > 1.0) {
            reset_zoom();
        } else {
            splits_ = split_before_single_;
            if (selected_ >= splits_) selected_ = 0;
        }
        return;
    }
    const int channel = channel_of_tile(tile);
    if (channel < 0) return;
    selected_ = channel;
    split_before_single_ = splits_;
    splits_ = 1;
    reset_zoom();
}

bool ViewState::wheel(int steps) {
    if (splits_ != 1 || steps == 0) return false;
    const double zoom = std::clamp(zoom_ * std::pow(kZoomStep, steps), 1.0, kMaxZoom);
    if (zoom == zoom_) return false;
    zoom_ = zoom;
    clamp_center();
    return true;
}

void ViewState::pan(QPointF delta, QSizeF size) {
    if (splits_ != 1 || zoom_ <= 1.0 || size.width() <= 0 || size.height() <= 0) return;
    center_ -= QPointF(delta.x() / size.width() / zoom_, delta.y() / size.height() / zoom_);
    clamp_center();
}

QRectF ViewState::source() const {
    const double side = 1.0 / zoom_;
    return QRectF(center_.x() - side / 2, center_.y() - side / 2, side, side);
}

void ViewState::clamp_center() {
    const double half = 0.5 / zoom_;
    center_.setX(std::clamp(center_.x(), half, 1.0 - half));
    center_.setY(std::clamp(center_.y(), half, 1.0 - half));
}

void ViewState::reset_zoom() {
    zoom_ = 1.0;
    center_ = QPointF(0.5, 0.5);
}

}  // namespace display
