// Painting of one tile from the channel's cached image: the picture (or black), the channel's
// label, the recorder time of the picture shown and, for the selected channel, a frame.
#pragma once

#include <QRect>
#include <QRectF>
#include <QString>

#include <cstdint>

#include "playback/display_control.h"

class QPainter;

namespace display {

class ChannelState;

// "CH01".."CH16" for channels 0..15.
QString channel_label(int channel);
// The recorder time of a picture with its milliseconds, in one of the six date orders of the
// window's clock: 0 YYYY-MM-DD, 1 MM-DD-YYYY, 2 DD-MM-YYYY, 3..5 the same with '/'.
QString picture_time_text(uint32_t seconds, uint32_t ms, int format = 0);

struct TilePaint {
    QRect rect;
    int channel = -1;
    bool selected = false;
    QRectF source{0, 0, 1, 1};  // part of the picture shown, in fractions (zoom)
    int time_format = 0;
    OverlayPlace overlay = OverlayPlace::Top;
};

void paint_tile(QPainter& painter, const TilePaint& tile, const ChannelState& channel);

}  // namespace display
