#include "ui/settings.h"

#include <algorithm>

namespace ui {
namespace {

const QString kGroup = QStringLiteral("Quillon");

// A value that is missing or not a number reads as 0.
int read_value(const QSettings& store, const QString& name) {
    bool ok = false;
    const int value = store.value(kGroup + QLatin1Char('/') + name).toInt(&ok);
    return ok ? value : 0;
}

Settings in_range(Settings s) {
    s.volume = std::clamp(s.volume, 0, kMaxVolume);
    s.iframe = s.iframe != 0 ? 1 : 0;
    if (s.time_format < 0 || s.time_format >= kTimeFormatCount)
        s.time_format = 0;
    return s;
}

} // namespace

std::unique_ptr<QSettings> open_settings(const QString& file_path) {
    if (file_path.isEmpty())
        return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                           QStringLiteral("Quillon"), QStringLiteral("Quillon"));
    return std::make_unique<QSettings>(file_path, QSettings::IniFormat);
}

Settings load_settings(QSettings& store) {
    if (!store.childGroups().contains(kGroup)) {
        const Settings first_run;
        save_settings(store, first_run);
        return first_run;
    }
    Settings s;
    s.volume = read_value(store, QStringLiteral("Volume"));
    s.iframe = read_value(store, QStringLiteral("IFrame"));
    s.time_format = read_value(store, QStringLiteral("TimeFormat"));
    return in_range(s);
}

void save_settings(QSettings& store, const Settings& settings) {
    store.setValue(kGroup + QStringLiteral("/IFrame"), settings.iframe);
    store.setValue(kGroup + QStringLiteral("/Volume"), settings.volume);
    store.setValue(kGroup + QStringLiteral("/TimeFormat"), settings.time_format);
    store.sync();
}

} // namespace ui
