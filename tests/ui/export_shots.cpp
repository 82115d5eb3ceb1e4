// Pictures of the export and capture dialogs on a sample recorder disk, for a look by eye
// without the video display (not a test):
//   QT_QPA_PLATFORM=offscreen quillon-export-shots DIR
#include <QApplication>
#include <QTimer>

#include <cstdio>

#include "platform/drive.h"
#include "tests/testkit/recording_display.h"
#include "tests/testkit/temp_image.h"
#include "ui/controls/search_slider.h"
#include "ui/dialog_shots_export.h"
#include "ui/main_window.h"
#include "ui/settings.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: quillon-export-shots DIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    testkit::TempDir dir;
    bool known = false;
    const std::string image = testkit::make_image(dir, "recorder.img", sample::preset("recorder", &known));
    auto settings = ui::open_settings(QString::fromStdString(dir.file("Quillon.conf")));
    testkit::RecordingDisplay display;
    ui::MainWindow window(&display, new QWidget(), settings.get());
    window.show();
    ui::DiskState state;
    std::string error;
    if (platform::attach_image(image) < 0 || ui::open_first_disk(0, &state, &error) != 0) {
        std::fprintf(stderr, "quillon-export-shots: %s\n", error.c_str());
        return 1;
    }
    window.disk_loaded(state);
    int failed = 0;
    QTimer poll;
    int tries = 400;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (window.timeline()->next_recorded_position() < 0 && --tries > 0)
            return;
        poll.stop();
        failed = ui::save_export_dialog_shots(&window, out);
        app.quit();
    });
    poll.start(25);
    app.exec();
    platform::detach_all();
    return failed == 0 ? 0 : 1;
}
