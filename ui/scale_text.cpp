#include "ui/scale_text.h"

#include <QPainter>

#include "ui/controls/search_slider.h"

namespace ui {

ScaleText::ScaleText(const SearchSlider* timeline, QWidget* parent)
    : QWidget(parent), timeline_(timeline) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

// Every second hour, or every five minutes of the shown hour: one number per grid mark.
QStringList ScaleText::labels() const {
    QStringList out;
    for (int i = 0; i <= kIntervals; ++i) {
        if (timeline_->scale() == 0) {
            out << QString::number(2 * i);
        } else {
            const int minutes = timeline_->shown_hour() * 60 + 5 * i;
            out << QStringLiteral("%1:%2")
                       .arg(minutes / 60 % 24, 2, 10, QLatin1Char('0'))
                       .arg(minutes % 60, 2, 10, QLatin1Char('0'));
        }
    }
    return out;
}

QString ScaleText::text() const { return labels().join(' '); }

void ScaleText::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(241, 243, 245));
    painter.setPen(QColor(40, 44, 52));
    QFont font = painter.font();
    font.setPixelSize(qMax(9, height() - 5));
    painter.setFont(font);
    const QStringList numbers = labels();
    const QFontMetrics metrics(font);
    const int range = qMax(1, timeline_->range());
    for (int i = 0; i < numbers.size(); ++i) {
        const int x = timeline_->offset() + range * i / kIntervals;
        const int w = metrics.horizontalAdvance(numbers[i]);
        const int left = qBound(0, x - w / 2, qMax(0, width() - w));
        painter.drawText(QRect(left, 0, w, height()), Qt::AlignCenter, numbers[i]);
    }
}

} // namespace ui
