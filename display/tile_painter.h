// Painting of one tile from the channel's cached image: the picture (or black), the channel's
// label, the recorder time of the picture shown and, for the selected channel, a frame.
#pragma once

#include <QRect>
#include <QRectF>
#include <QString>

#include <cstdint>

class QPainter;

namespace display {

class ChannelState;

// "CH01".."CH16" for channels 0..15.
QString channel_label(int channel);
// "YYYY-MM-DD HH:MM:SS.mmm" of a recorder time.
QString picture_time_text(uint32_t seconds, uint32_t ms);

struct TilePaint {
    QRect rect;
    int channel = -1;
    bool selected = false;
    QRectF source{0, 0, 1, 1};  // part of the picture shown, in fractions (zoom)
};

void paint_tile(QPainter& painter, const TilePaint& tile, const ChannelState& channel);

}  // namespace display
