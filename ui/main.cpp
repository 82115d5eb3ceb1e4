// quillon: the desktop program. Opens the main player window; with --image it opens a recorder
// disk image at start-up, and with --play it starts playing its first recorded day.
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

#include "display/video_display.h"
#include "platform/drive.h"
#include "ui/controls/search_slider.h"
#include "ui/dialog_shots_export.h"
#include "ui/disk_state.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
#include "ui/settings.h"
#include "version/version.h"

namespace {

struct Options {
    QStringList images;
    int session = 0;
    bool play = false;
    QString settings_file;
    QString screenshot;
    int screenshot_after_ms = 4000;
    QString export_dialog_shots;
};

Options parse(const QApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription("Reads the disks of stand-alone CCTV video recorders.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption image("image", "Open the disk image at PATH (repeatable).", "PATH");
    const QCommandLineOption session("session", "The session to open (default 0).", "N", "0");
    const QCommandLineOption play("play", "Start playing the first recorded day.");
    const QCommandLineOption settings("settings", "Keep the settings in FILE.", "FILE");
    const QCommandLineOption shot("screenshot",
                                  "Save the window as PNG after a few seconds, then quit.", "PNG");
    const QCommandLineOption after("screenshot-after", "Milliseconds before the screenshot.",
                                   "MS", "4000");
    const QCommandLineOption export_shots(
        "export-dialog-shots", "Save the export and capture dialogs as PNG files in DIR, then quit.",
        "DIR");
    parser.addOptions({image, session, play, settings, shot, after, export_shots});
    parser.process(app);
    Options options;
    options.images = parser.values(image);
    options.session = parser.value(session).toInt();
    options.play = parser.isSet(play);
    options.settings_file = parser.value(settings);
    options.screenshot = parser.value(shot);
    options.screenshot_after_ms = parser.value(after).toInt();
    options.export_dialog_shots = parser.value(export_shots);
    return options;
}

// Opens the first recorder or backup volume among the images; the window shows the error.
bool open_images(const Options& options, ui::DiskState* state, QString* error) {
    for (const QString& path : options.images) {
        if (platform::attach_image(path.toStdString()) < 0) {
            *error = QStringLiteral("Cannot open %1").arg(path);
            return false;
        }
    }
    std::string why;
    if (ui::open_first_disk(options.session, state, &why) != 0) {
        *error = QString::fromStdString(why);
        return false;
    }
    return true;
}

void schedule_screenshot(ui::MainWindow* window, const Options& options) {
    QTimer::singleShot(options.screenshot_after_ms, window, [window, path = options.screenshot] {
        if (!window->grab().save(path))
            std::fprintf(stderr, "quillon: cannot write %s\n", qPrintable(path));
        window->reject();
    });
}

// Once the first day is shown (or after about ten seconds without one), the dialogs' pictures.
void schedule_export_dialog_shots(ui::MainWindow* window, const QString& folder, int tries = 200) {
    QTimer::singleShot(50, window, [window, folder, tries] {
        if (window->timeline()->next_recorded_position() < 0 && tries > 0) {
            schedule_export_dialog_shots(window, folder, tries - 1);
            return;
        }
        if (ui::save_export_dialog_shots(window, folder) != 0)
            std::fprintf(stderr, "quillon: cannot write the dialog pictures in %s\n",
                         qPrintable(folder));
        window->reject();
    });
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Quillon");
    QApplication::setOrganizationName("Quillon");
    QApplication::setApplicationVersion(QString::fromLatin1(version::text()));
    const Options options = parse(app);

    std::unique_ptr<QSettings> store = ui::open_settings(options.settings_file);
    auto* display = new display::VideoDisplay();
    ui::MainWindow window(display, display, store.get());
    window.show();
    // A screenshot run has nobody to answer a message box: errors go to standard error.
    const bool unattended = !options.screenshot.isEmpty();
    if (!options.images.isEmpty()) {
        ui::DiskState state;
        QString error;
        if (!open_images(options, &state, &error)) {
            std::fprintf(stderr, "quillon: %s\n", qPrintable(error));
            if (unattended)
                return 1;
            ui::show_message(&window, error, QStringLiteral("Quillon"));
        } else {
            window.disk_loaded(state);
            if (options.play)
                window.play_when_day_shown();
        }
    }
    if (unattended)
        schedule_screenshot(&window, options);
    if (!options.export_dialog_shots.isEmpty())
        schedule_export_dialog_shots(&window, options.export_dialog_shots);
    window.exec();
    return 0;
}
