// Painting the calendar: the year and month at the left, the day grid at the right.
#include <QPainter>

#include <algorithm>

#include "ui/dialogs/calendar_widget.h"

namespace ui {
namespace {

const QColor kYearColour(255, 178, 0);
const QColor kShownRecorded(70, 255, 255);
const QColor kShownEmpty(89, 89, 89);
const QColor kRecorded(255, 211, 140);
const QColor kOther(255, 255, 255);

QFont arial(int pixels, int weight) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixels);
    font.setWeight(static_cast<QFont::Weight>(weight));
    return font;
}

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

} // namespace

void CalendarWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient face(0, 0, 0, height());
    face.setColorAt(0, QColor(44, 52, 66));
    face.setColorAt(1, QColor(26, 30, 38));
    painter.setPen(QColor(70, 80, 96));
    painter.setBrush(face);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    painter.setPen(QColor(70, 80, 96));
    painter.drawLine(kGridLeft - 1, 8, kGridLeft - 1, height() - 8);

    // The year and the month's short name, beside the month buttons.
    const int top = 36 + std::max(0, height() - 146) / 2;
    painter.setFont(arial(16, 900));
    painter.setPen(kYearColour);
    painter.drawText(QRect(0, top, kGridLeft - 2, 20), Qt::AlignCenter,
                     QString::number(shown_.year()));
    painter.drawText(QRect(20, top + 20, kGridLeft - 40, 20), Qt::AlignCenter,
                     QString::fromLatin1(kMonths[shown_.month() - 1]));

    // Weekday initials above the grid, Sunday first.
    painter.setFont(arial(10, 700));
    painter.setPen(QColor(150, 160, 176));
    const char* const weekdays = "SMTWTFS";
    for (int column = 0; column < 7; ++column)
        painter.drawText(QRect(kGridLeft + column * cell_width(), 2, cell_width(), kRowsTop - 4),
                         Qt::AlignCenter, QString(QLatin1Char(weekdays[column])));

    painter.setFont(arial(std::clamp(cell_height() / 2, 11, 13), 900));
    for (int day = 1; day <= shown_.daysInMonth(); ++day) {
        const QDate date(shown_.year(), shown_.month(), day);
        const bool is_recorded = recorded(date);
        const QRect cell = day_rect(day).adjusted(1, 1, -1, -1);
        QColor colour = is_recorded ? kRecorded : kOther;
        if (day == shown_.day()) {
            // The chosen day stands on a plate of its own so that either colour reads.
            painter.setPen(Qt::NoPen);
            painter.setBrush(is_recorded ? QColor(16, 72, 92) : QColor(226, 230, 236));
            painter.drawRoundedRect(cell, 4, 4);
            colour = is_recorded ? kShownRecorded : kShownEmpty;
        } else if (is_recorded) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(kRecorded);
            painter.drawEllipse(QPointF(cell.center().x() + 0.5, cell.bottom() - 2.5), 1.8, 1.8);
        }
        painter.setPen(colour);
        painter.drawText(cell, Qt::AlignCenter, QString::number(day));
    }
}

} // namespace ui
