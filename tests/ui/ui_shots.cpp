// Writes pictures of the controls and the small dialogs for a look by eye:
//   QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=2 quillon-ui-shots DIR
#include "ui/about_box.h"
#include "ui/controls/search_slider.h"
#include "ui/controls/skin_button.h"
#include "ui/controls/volume_bar.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QPixmap>

#include <cstdio>

namespace {

const char* const kSkins[] = {
    "play", "pause", "stop", "ff", "rew", "frame_forward", "frame_back", "minute_forward",
    "minute_back", "split1", "split4", "split9", "split16", "time_search", "volume_on",
    "volume_off", "disk_load", "event_log", "capture_log", "system_log", "capture", "mark_in",
    "mark_out", "record", "maximize", "restore", "minimize", "close"};

bool save(QWidget& widget, const QDir& dir, const QString& name) {
    const QString path = dir.filePath(name + ".png");
    const bool ok = widget.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

QWidget* button_rows() {
    auto* panel = new QWidget;
    panel->setAutoFillBackground(true);
    QPalette colours = panel->palette();
    colours.setColor(QPalette::Window, QColor(32, 36, 42));
    panel->setPalette(colours);
    auto* grid = new QGridLayout(panel);
    int column = 0;
    for (const char* skin : kSkins) {
        for (int row = 0; row < 3; ++row) {
            auto* button = new ui::SkinButton;
            button->set_skin(QString::fromLatin1(skin));
            button->setFixedSize(32, 32);
            if (row == 1)
                button->setAttribute(Qt::WA_UnderMouse); // hover look
            if (row == 2)
                button->setEnabled(false);
            grid->addWidget(button, row, column);
        }
        ++column;
    }
    auto* checked = new ui::SkinButton;
    checked->set_type(ui::SkinButton::Type::Check);
    checked->set_skin(QStringLiteral("split16"));
    checked->set_check(true);
    checked->setFixedSize(32, 32);
    grid->addWidget(checked, 0, column);
    auto* caption = new ui::SkinButton;
    caption->set_caption(QStringLiteral("OK"));
    caption->setFixedSize(76, 26);
    grid->addWidget(caption, 1, column, 1, 2);
    auto* both = new ui::SkinButton;
    both->set_skin(QStringLiteral("disk_load"));
    both->set_caption(QStringLiteral("Open"));
    both->setFixedSize(90, 28);
    grid->addWidget(both, 2, column, 1, 2);
    return panel;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/ui-shots"));
    QDir().mkpath(dir.path());
    const QString suffix = QStringLiteral("@%1x").arg(app.devicePixelRatio());
    bool ok = true;

    ui::SearchSlider slider;
    slider.resize(572, 40);
    slider.grab(); // fixes the range
    for (int slot = 8 * 240; slot < 11 * 240; ++slot)
        slider.span_map()[static_cast<size_t>(slot)] = 1;
    for (int slot = 14 * 240 + 60; slot < 17 * 240; slot += 2)
        slider.span_map()[static_cast<size_t>(slot)] = 2;
    for (int slot = 20 * 240; slot < 20 * 240 + 100; ++slot)
        slider.span_map()[static_cast<size_t>(slot)] = 1u << 3;
    slider.set_selection(slider.slot_position(9 * 240), slider.slot_position(10 * 240));
    slider.set_time(15, 30, 0);
    ok &= save(slider, dir, "search_slider_24h" + suffix);
    slider.set_scale(1);
    slider.set_time(9, 30, 0);
    ok &= save(slider, dir, "search_slider_60m" + suffix);

    QWidget volume_panel;
    volume_panel.resize(140, 60);
    auto* volume = new ui::VolumeBar(&volume_panel);
    volume->setGeometry(10, 10, 120, 20);
    volume->set_range(0, 15);
    volume->set_position(12);
    auto* quiet = new ui::VolumeBar(&volume_panel);
    quiet->setGeometry(10, 34, 120, 20);
    quiet->set_range(0, 15);
    quiet->set_position(3);
    ok &= save(volume_panel, dir, "volume_bar" + suffix);

    QWidget* buttons = button_rows();
    buttons->adjustSize();
    ok &= save(*buttons, dir, "skin_buttons" + suffix);
    delete buttons;

    ui::MessageBoxDialog box;
    box.show();
    box.set_texts(QStringLiteral("Start time is less than stop time."), QStringLiteral("Record"));
    ok &= save(box, dir, "message_box" + suffix);
    box.set_style(2);
    ok &= save(box, dir, "message_box_ok_cancel" + suffix);

    ui::AboutBox about;
    about.show(); // lays the frame out as on screen
    ok &= save(about, dir, "about_box" + suffix);
    return ok ? 0 : 1;
}
