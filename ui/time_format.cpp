#include "ui/time_format.h"

namespace ui {
namespace {

QString two(int value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); }

} // namespace

const std::array<TimeFormatEntry, kTimeFormatCount>& time_format_menu() {
    static const std::array<TimeFormatEntry, kTimeFormatCount> menu{{
        {"YYYY-MM-DD", 32801},
        {"MM-DD-YYYY", 32799},
        {"DD-MM-YYYY", 32800},
        {"YYYY/MM/DD", 32802},
        {"MM/DD/YYYY", 32803},
        {"DD/MM/YYYY", 32804},
    }};
    return menu;
}

QString format_time(int format_index, int year, int month, int day, int hour, int minute,
                    int second) {
    if (format_index < 0 || format_index >= kTimeFormatCount)
        return {};
    const QChar sep = format_index < 3 ? QLatin1Char('-') : QLatin1Char('/');
    const QString y = QString::number(year);
    QString date;
    switch (format_index % 3) {
    case 0: date = y + sep + two(month) + sep + two(day); break;
    case 1: date = two(month) + sep + two(day) + sep + y; break;
    default: date = two(day) + sep + two(month) + sep + y; break;
    }
    return date + QLatin1Char(' ') + two(hour) + QLatin1Char(':') + two(minute) +
           QLatin1Char(':') + two(second);
}

} // namespace ui
