// quillon: the desktop program. Opens the main player window; with --image it opens a recorder
// disk image at start-up, and with --play it starts playing its first recorded day.
#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QRegularExpression>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "display/video_display.h"
#include "platform/drive.h"
#include "ui/controls/search_slider.h"
#include "ui/dialog_shots_export.h"
#include "ui/dialog_shots_recovery.h"
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
    uint32_t play_at = 0;  // recorder time given with --play; 0: the first recorded day
    QString settings_file;
    QString screenshot;
    int screenshot_after_ms = 4000;
    QString export_dialog_shots;
};

struct OptionSet {
    QCommandLineOption image{"image", "Open the disk image at PATH (repeatable).", "PATH"};
    QCommandLineOption session{"session", "The session to open (default 0).", "N", "0"};
    QCommandLineOption play{"play",
                            "Start playing the first recorded day, or, with \"YYYY-MM-DD "
                            "HH:MM:SS\" after it, at that recorder time."};
    QCommandLineOption play_at{"play-at", "Start playing at TIME (recorder clock).", "TIME"};
    QCommandLineOption settings{"settings", "Keep the settings in FILE.", "FILE"};
    QCommandLineOption shot{"screenshot", "Save the window as PNG after a few seconds, then quit.",
                            "PNG"};
    QCommandLineOption after{"screenshot-after", "Milliseconds before the screenshot.", "MS",
                             "4000"};
    QCommandLineOption export_shots{
        "export-dialog-shots",
        "Save the export, capture, check and recovered-video dialogs as PNG files in DIR, then quit.",
        "DIR"};
};

void describe(QCommandLineParser* parser, const OptionSet& o) {
    parser->setApplicationDescription("Reads the disks of stand-alone CCTV video recorders.");
    parser->addHelpOption();
    parser->addVersionOption();
    parser->addOptions({o.image, o.session, o.play, o.settings, o.shot, o.after, o.export_shots});
    QCommandLineOption play_at = o.play_at;
    play_at.setFlags(QCommandLineOption::HiddenFromHelp);
    parser->addOption(play_at);
}

// `--play` takes an optional time, which QCommandLineParser cannot express: a time right after
// it becomes the hidden --play-at.
QStringList with_play_time(QStringList arguments) {
    static const QRegularExpression time(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2}[ T]\\d{2}:\\d{2}:\\d{2}$"));
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--play") && i + 1 < arguments.size() &&
            time.match(arguments[i + 1]).hasMatch()) {
            arguments[i] = QStringLiteral("--play-at");
        } else if (arguments[i].startsWith(QLatin1String("--play="))) {
            arguments[i].replace(0, 7, QStringLiteral("--play-at="));
        }
    }
    return arguments;
}

// "YYYY-MM-DD HH:MM:SS" of the recorder's clock, read as UTC like every recorder time; 0 when it
// is no such time.
uint32_t recorder_time_of(const QString& text) {
    QString normal = text;
    normal.replace(QLatin1Char('T'), QLatin1Char(' '));
    const QDateTime local = QDateTime::fromString(normal, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!local.isValid())
        return 0;
    const qint64 seconds = QDateTime(local.date(), local.time(), Qt::UTC).toSecsSinceEpoch();
    return seconds > 0 && seconds <= qint64{UINT32_MAX} ? static_cast<uint32_t>(seconds) : 0;
}

// --help and --version need no display: they are answered before the application object, which
// opens one, exists. The arguments are only looked at here; the display's own options (such as
// -platform) are left for the application object. Returns the exit status, or -1 to go on.
int answer_without_display(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    const OptionSet options;
    describe(&parser, options);
    static_cast<void>(parser.parse(with_play_time(arguments)));  // unknown options are the full parse's concern
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                    qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    return -1;
}

Options parse(const QApplication& app) {
    QCommandLineParser parser;
    const OptionSet o;
    describe(&parser, o);
    parser.process(with_play_time(app.arguments()));
    Options options;
    options.images = parser.values(o.image);
    options.session = parser.value(o.session).toInt();
    options.play = parser.isSet(o.play) || parser.isSet(o.play_at);
    if (parser.isSet(o.play_at)) {
        options.play_at = recorder_time_of(parser.value(o.play_at));
        if (options.play_at == 0) {
            std::fprintf(stderr, "quillon: --play: not a time \"YYYY-MM-DD HH:MM:SS\": %s\n",
                         qPrintable(parser.value(o.play_at)));
            std::exit(2);
        }
    }
    options.settings_file = parser.value(o.settings);
    options.screenshot = parser.value(o.shot);
    options.screenshot_after_ms = parser.value(o.after).toInt();
    options.export_dialog_shots = parser.value(o.export_shots);
    return options;
}

// Opens the first recorder or backup volume among the images; the window shows the error.
bool open_images(const Options& options, ui::DiskState* state, QString* error) {
    for (const QString& path : options.images) {
        // An image that cannot be read is named with the reason, not reported as a missing
        // recorder disk after a scan that could not see it.
        const std::string problem = ui::image_problem(path.toStdString());
        if (!problem.empty()) {
            *error = QString::fromStdString(problem);
            return false;
        }
        if (platform::attach_image(path.toStdString()) < 0) {
            *error = QStringLiteral("Cannot open %1: no free drive number, or the path is too long")
                         .arg(path);
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
        if (ui::save_export_dialog_shots(window, folder) +
                ui::save_recovery_dialog_shots(window, folder) !=
            0)
            std::fprintf(stderr, "quillon: cannot write the dialog pictures in %s\n",
                         qPrintable(folder));
        window->reject();
    });
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName("Quillon");
    QCoreApplication::setOrganizationName("Quillon");
    QCoreApplication::setApplicationVersion(QString::fromLatin1(version::text()));
    if (const int status = answer_without_display(argc, argv); status >= 0)
        return status;
    QApplication app(argc, argv);
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
                window.play_when_day_shown(options.play_at);
        }
    }
    if (unattended)
        schedule_screenshot(&window, options);
    if (!options.export_dialog_shots.isEmpty())
        schedule_export_dialog_shots(&window, options.export_dialog_shots);
    window.exec();
    return 0;
}
