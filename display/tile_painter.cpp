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

QString picture_time_text(uint32_t seconds, uint32_t ms, int format) {
    const CivilTime t = civil_from_recorder(seconds);
    const QChar sep = format >= 3 ? QLatin1Char('/') : QLatin1Char('-');
    QString date;
    switch (format % 3) {
    case 1: date = QString::asprintf("%02d%c%02d%c%04d", t.month, sep.toLatin1(), t.day, sep.toLatin1(), t.year); break;
    case 2: date = QString::asprintf("%02d%c%02d%c%04d", t.day, sep.toLatin1(), t.month, sep.toLatin1(), t.year); break;
    default: date = QString::asprintf("%04d%c%02d%c%02d", t.year, sep.toLatin1(), t.month, sep.toLatin1(), t.day); break;
    }
    return date + QString::asprintf(" %02d:%02d:%02d.%03u", t.hour, t.minute, t.second, ms % 1000);
}

namespace {

const QColor kSelectedFrame(255, 210, 0);

// A label in a dark box in one corner of the tile; left out when the tile is too small for it.
void draw_text_box(QPainter& painter, const QRect& tile, const QString& text, bool bottom,
                   bool right) {
    const QFontMetrics metrics(painter.font());
    const int pad = 3;
    QRect box(0, 0, metrics.horizontalAdvance(text) + 2 * pad, metrics.height() + 2 * pad);
    const QPoint corner(right ? tile.right() - 4 - box.width() + 1 : tile.left() + 4,
                        bottom ? tile.bottom() - 4 - box.height() + 1 : tile.top() + 4);
    box.moveTopLeft(corner);
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
    // Label and time share one edge, so that the other edge leaves the recorder's own
    // on-screen text in sight.
    if (tile.overlay != OverlayPlace::Hidden) {
        const bool bottom = tile.overlay == OverlayPlace::Bottom;
        draw_text_box(painter, tile.rect, channel_label(tile.channel), bottom, false);
        if (shown)
            draw_text_box(painter, tile.rect,
                          picture_time_text(time.seconds, time.ms, tile.time_format), bottom, true);
    }

    if (tile.selected) {
        painter.setPen(QPen(kSelectedFrame, 3));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(tile.rect.adjusted(1, 1, -2, -2));
    }
}

}  // namespace display
