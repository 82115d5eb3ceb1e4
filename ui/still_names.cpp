#include "ui/still_names.h"

namespace ui {

QString capture_file_name(int time_format, const DateTime& t) {
    const auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    const QString year = QStringLiteral("%1").arg(t.year, 4, 10, QLatin1Char('0'));
    const QString clock = two(t.hour) + two(t.minute) + two(t.second);
    switch (time_format % 3) {
    case 1: return two(t.month) + '-' + two(t.day) + '-' + year + '-' + clock;
    case 2: return two(t.day) + '-' + two(t.month) + '-' + year + '-' + clock;
    default: return year + '-' + two(t.month) + '-' + two(t.day) + '-' + clock;
    }
}

} // namespace ui
