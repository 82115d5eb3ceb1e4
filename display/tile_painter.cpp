#include "display/tile_painter.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <algorithm>

#include "display/channel_state.h"
#include "disk/recorder_time.h"

namespace display {

QString channel_label(int channel) { return QString::asprintf("CH%02d", channel + 1); }

QString picture_time_text(uint32_t seconds, uint32_t ms) {
    const CivilTime t = civil_from_recorder(seconds);
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d.%03u", t.year, t.month, t.day, t.hour,
                             t.minute, t.second, ms % 1000);
}

namespace {

const QColor kSelectedFrame(255, 210, 0);

void draw_text_box(QPainter& painter, const QRect& tile, const QString& text, bool bottom) {
    const QFontMetrics metrics(painter.font());
    const int pad = 3;
    QRect box(0, 0, metrics.horizontalAdvance(text) + 2 * pad, metrics.height() + 2 * pad);
    box.moveTopLeft(tile.topLeft() + QPoint(4, 4));
    if (bottom) box.moveBottomLeft(tile.bottomLeft() + QPoint(4, -4));
    if (!tile.contains(box)) return;  // too small a tile for text
    painter.fillRect(box, QColor(0, 0, 0, 150));
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, text);
}

QRectF source_pixels(const QRectF& fraction, int width, int height) {
    return QRectF(fraction.x() * width, fraction.y() * height, fraction.width() * width,
                  fraction.height() * height);
}

}  // namespace

void paint_tile(QPainter& painter, const TilePaint& tile, const ChannelState& channel) {
    decode::FrameTime time;
    const bool shown = channel.with_picture([&](const decode::RgbImage& image) {
        // The worker's pixels, borrowed for this paint only: no copy.
        const QImage picture(image.pixels(), image.width(), image.height(), image.stride(),
                             QImage::Format_RGB32);
        painter.drawImage(QRectF(tile.rect),
                          picture, source_pixels(tile.source, image.width(), image.height()));
        time = image.time;
    });
    if (!shown) painter.fillRect(tile.rect, Qt::black);

    QFont font = painter.font();
    font.setPixelSize(std::clamp(tile.rect.height() / 16, 10, 18));
    painter.setFont(font);
    draw_text_box(painter, tile.rect, channel_label(tile.channel), false);
    if (shown) draw_text_box(painter, tile.rect, picture_time_text(time.seconds, time.ms), true);

    if (tile.selected) {
        painter.setPen(QPen(kSelectedFrame, 3));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(tile.rect.adjusted(1, 1, -2, -2));
    }
}

}  // namespace display
