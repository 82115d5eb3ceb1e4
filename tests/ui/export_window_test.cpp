// The main window's export and capture commands on a sample recorder disk: an AVI backup run
// from the dialog to its end, a window closed while one runs, stills saved as BMP and JPEG,
// and the capture log's View and SaveAs.
#include <QAbstractButton>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QComboBox>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QDateTimeEdit>
#include <QTreeWidget>
#include <QtTest>

#include "export/still_capture.h"
#include "platform/drive.h"
#include "storage/api.h"
#include "tests/testkit/recording_display.h"
#include "tests/testkit/temp_image.h"
#include "tests/ui/message_catcher.h"
#include "ui/control_id.h"
#include "ui/controls/search_slider.h"
#include "ui/dialogs/backup_case_box.h"
#include "ui/dialogs/backup_dialog.h"
#include "ui/dialogs/backup_done_dialog.h"
#include "ui/dialogs/capture_dialog.h"
#include "ui/dialogs/capture_log_dialog.h"
#include "ui/dialogs/save_as_dialog.h"
#include "ui/main_window.h"
#include "ui/settings.h"
#include "ui/still_names.h"

using testkit::DisplayCall;

namespace {

constexpr int kStillWidth = 64;
constexpr int kStillHeight = 48;

// A display whose picture is a known 64 x 48 gradient, written as a BMP file.
class PictureDisplay : public testkit::RecordingDisplay {
public:
    int32_t capture(const std::string& path) override {
        RecordingDisplay::capture(path);
        std::vector<uint8_t> rgb(static_cast<size_t>(kStillWidth * kStillHeight * 3));
        for (size_t i = 0; i < rgb.size(); ++i)
            rgb[i] = static_cast<uint8_t>(i * 7);
        return still_write_bmp(path, rgb.data(), kStillWidth, kStillHeight, nullptr);
    }
};

int count_of(const testkit::RecordingDisplay& display, DisplayCall kind) {
    const auto kinds = display.call_kinds();
    return static_cast<int>(std::count(kinds.begin(), kinds.end(), kind));
}

void click(QWidget* window, int id) {
    auto* button = qobject_cast<QAbstractButton*>(ui::find_control(window, id));
    QVERIFY(button != nullptr);
    button->click();
}

QByteArray file_bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString sha256_of(const QString& path) {
    return QString::fromLatin1(
        QCryptographicHash::hash(file_bytes(path), QCryptographicHash::Sha256).toHex());
}

ui::BackupDoneDialog* backup_result() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* done = qobject_cast<ui::BackupDoneDialog*>(w); done != nullptr && done->isVisible())
            return done;
    return nullptr;
}

} // namespace

class ExportWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void backup_runs_from_the_dialog_to_the_report();
    void closing_the_window_during_a_backup_writes_the_report();
    void cancel_stops_the_backup_and_says_where_its_files_are();
    void capture_saves_bmp_and_jpeg_at_the_picture_size();
    void capture_log_views_and_saves_the_stored_jpeg();

private:
    void open_window();
    void load_sample();
    uint32_t first_recorded_time() const;
    ui::BackupDialog* open_backup(uint32_t from, uint32_t to, const QString& folder);

    QTemporaryDir home_;
    std::unique_ptr<testkit::TempDir> dir_;
    std::string image_;
    std::string fingerprint_;
    std::unique_ptr<QTemporaryDir> settings_dir_;
    std::unique_ptr<QSettings> settings_;
    std::unique_ptr<PictureDisplay> display_;
    std::unique_ptr<ui::MainWindow> window_;
};

void ExportWindowTest::initTestCase() {
    QVERIFY(home_.isValid());
    qputenv("HOME", home_.path().toUtf8());
    QStandardPaths::setTestModeEnabled(true);
    dir_ = std::make_unique<testkit::TempDir>();
    bool known = false;
    image_ = testkit::make_image(*dir_, "recorder.img", sample::preset("recorder", &known));
    QVERIFY(known);
    fingerprint_ = testkit::fingerprint(image_);
}

void ExportWindowTest::init() {
    settings_dir_ = std::make_unique<QTemporaryDir>();
    settings_ = ui::open_settings(settings_dir_->filePath("Quillon.conf"));
    display_ = std::make_unique<PictureDisplay>();
}

void ExportWindowTest::cleanup() {
    window_.reset();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<ui::BackupDoneDialog*>(w) != nullptr)
            delete w;
    platform::detach_all();
    // Nothing the program did wrote to the disk.
    QCOMPARE(testkit::fingerprint(image_), fingerprint_);
}

void ExportWindowTest::open_window() {
    auto* surface = new QWidget();
    window_ = std::make_unique<ui::MainWindow>(display_.get(), surface, settings_.get());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
}

void ExportWindowTest::load_sample() {
    QVERIFY(platform::attach_image(image_) >= 0);
    ui::DiskState state;
    std::string error;
    QCOMPARE(ui::open_first_disk(0, &state, &error), 0);
    window_->disk_loaded(state);
    QTRY_VERIFY(window_->timeline()->next_recorded_position() >= 0);
}

// The first 15-second slot of the shown day that holds a recording.
uint32_t ExportWindowTest::first_recorded_time() const {
    const auto& map = window_->timeline()->span_map();
    for (size_t i = 0; i < map.size(); ++i)
        if (map[i] != 0)
            return window_->selected_day() + static_cast<uint32_t>(i * 15);
    return 0;
}

// Marks a span on the timeline, presses Record and sets the span and folder in the dialog.
ui::BackupDialog* ExportWindowTest::open_backup(uint32_t from, uint32_t to, const QString& folder) {
    // The marks are the times the player stood at when they were pressed.
    window_->player()->seek(from);
    click(window_.get(), ui::kIdMarkIn);
    window_->player()->seek(to);
    click(window_.get(), ui::kIdMarkOut);
    click(window_.get(), ui::kIdRecord);
    ui::BackupDialog* dialog = window_->backup_dialog();
    if (dialog == nullptr)
        return nullptr;
    // The dialog opens with exactly the marked span.
    auto edit_time = [dialog](int id) {
        return qobject_cast<QDateTimeEdit*>(ui::find_control(dialog, id))->dateTime().toSecsSinceEpoch();
    };
    if (edit_time(ui::BackupDialog::kStartId) != from || edit_time(ui::BackupDialog::kEndId) != to) {
        QTest::qFail("the dialog's span is not the marked one", __FILE__, __LINE__);
        return nullptr;
    }
    qobject_cast<QLineEdit*>(ui::find_control(dialog, ui::BackupDialog::kFolderId))->setText(folder);
    return dialog;
}

void ExportWindowTest::backup_runs_from_the_dialog_to_the_report() {
    open_window();
    load_sample();
    if (QTest::currentTestFailed())
        return;
    const uint32_t from = first_recorded_time();
    QVERIFY(from != 0);
    QTemporaryDir out;
    QPointer<ui::BackupDialog> dialog = open_backup(from, from + 30, out.path());
    QVERIFY(dialog != nullptr);
    QVERIFY(dialog->isModal());
    // The folder is the one last used, or the default one.
    int best = 0;
    auto* bar = qobject_cast<QProgressBar*>(ui::find_control(dialog, ui::BackupDialog::kProgressId));
    connect(bar, &QProgressBar::valueChanged, this, [&best](int v) { best = std::max(best, v); });
    // The examiner's fields reach the job's report.
    qobject_cast<QLineEdit*>(ui::find_control(dialog, ui::BackupCaseBox::kCaseId))->setText("K-30");
    qobject_cast<QLineEdit*>(ui::find_control(dialog, ui::BackupCaseBox::kClockOffsetId))->setText("-30");
    click(dialog, ui::BackupDialog::kOkId);
    QTRY_VERIFY(window_->backup_running() || dialog.isNull() || !dialog->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull() || !dialog->isVisible(), 60000);
    QVERIFY(!window_->backup_running());
    QCOMPARE(best, 100);

    // The volume was muted for the job and set back after; the display heard of the close.
    const auto calls = display_->calls();
    bool muted = false, cleared_after_mute = false;
    int64_t last_volume = -1;
    for (const auto& call : calls) {
        if (call.call == DisplayCall::Volume) {
            muted = muted || call.numbers.at(0) == 0;
            last_volume = call.numbers.at(0);
        }
        if (call.call == DisplayCall::Clear && muted)
            cleared_after_mute = true;
    }
    QVERIFY(muted);
    QVERIFY(cleared_after_mute);
    QVERIFY(window_->settings().volume != 0);
    QCOMPARE(last_volume, int64_t{window_->settings().volume});
    QVERIFY(calls.back().call == DisplayCall::ExportClosedReset ||
            count_of(*display_, DisplayCall::ExportClosedReset) == 1);
    QCOMPARE(count_of(*display_, DisplayCall::ExportClosed), 1);

    // The files lie in the dated subfolder, and the report lists each with its hash.
    const QString folder = window_->backup_job_folder();
    QVERIFY(folder.startsWith(out.path() + "/"));
    const QStringList avis = QDir(folder).entryList({"*.avi"}, QDir::Files);
    const QStringList smis = QDir(folder).entryList({"*.smi"}, QDir::Files);
    QVERIFY(!avis.isEmpty());
    QCOMPARE(smis.size(), avis.size());
    const QJsonObject report =
        QJsonDocument::fromJson(file_bytes(folder + "/export-report.json")).object();
    const QJsonArray files = report["files"].toArray();
    QCOMPARE(files.size(), avis.size());
    QCOMPARE(report["case"].toObject()["case_number"].toString(), QString("K-30"));
    QCOMPARE(report["recorder_clock"].toObject()["offset_seconds"].toInt(), -30);
    QCOMPARE(report["job"].toObject()["invoked_by"].toString(), QString("desktop program"));
    for (const QJsonValue& f : files) {
        for (const char* kind : {"avi", "smi"}) {
            const QJsonObject entry = f.toObject()[kind].toObject();
            const QString path = folder + "/" + entry["name"].toString();
            QVERIFY2(QFile::exists(path), qPrintable(path));
            QCOMPARE(entry["sha256"].toString(), sha256_of(path));
        }
    }
    // FFmpeg reads every AVI file back, each with its pictures.
    for (const QString& avi : avis) {
        QProcess probe;
        probe.start("ffprobe", {"-v", "error", "-count_packets", "-show_entries",
                                "stream=codec_type,nb_read_packets", "-of", "json",
                                folder + "/" + avi});
        QVERIFY(probe.waitForFinished(60000));
        QCOMPARE(probe.exitCode(), 0);
        QCOMPARE(probe.readAllStandardError(), QByteArray());
        const QJsonArray streams =
            QJsonDocument::fromJson(probe.readAllStandardOutput()).object()["streams"].toArray();
        bool pictures = false;
        for (const QJsonValue& stream : streams)
            if (stream["codec_type"].toString() == "video" &&
                stream["nb_read_packets"].toString().toInt() > 0)
                pictures = true;
        QVERIFY2(pictures, qPrintable(avi));
    }
    // The result names the folder and offers to open it.
    QTRY_VERIFY(backup_result() != nullptr);
    QVERIFY(backup_result()->message().contains(folder));
    QVERIFY(backup_result()->message().contains("export-report.json"));
    QVERIFY(ui::find_control(backup_result(), ui::BackupDoneDialog::kOpenFolderId) != nullptr);
    // The next dialog offers the folder used last.
    click(window_.get(), ui::kIdRecord);
    QVERIFY(window_->backup_dialog() != nullptr);
    QCOMPARE(window_->backup_dialog()->folder(), out.path());
}

void ExportWindowTest::closing_the_window_during_a_backup_writes_the_report() {
    open_window();
    load_sample();
    if (QTest::currentTestFailed())
        return;
    const uint32_t from = first_recorded_time();
    QTemporaryDir out;
    QPointer<ui::BackupDialog> dialog = open_backup(from, from + 590, out.path());
    QVERIFY(dialog != nullptr);
    click(dialog, ui::BackupDialog::kOkId);
    // As the desktop's close button or Alt+F4 would, as soon as the job runs: a fast build
    // exports the whole sample in moments.
    QTRY_VERIFY(window_->backup_running());
    QVERIFY(window_->close());
    QVERIFY(!window_->backup_running());
    const QString folder = window_->backup_job_folder();
    const QJsonObject report =
        QJsonDocument::fromJson(file_bytes(folder + "/export-report.json")).object();
    QVERIFY(!report.isEmpty());
    const QJsonArray files = report["files"].toArray();
    QVERIFY(!files.isEmpty());
    for (const QJsonValue& f : files) {
        const QJsonObject avi = f.toObject()["avi"].toObject();
        const QString path = folder + "/" + avi["name"].toString();
        QCOMPARE(avi["sha256"].toString(), sha256_of(path));
        // A finished AVI file has its index.
        QVERIFY(file_bytes(path).contains("idx1"));
    }
}

void ExportWindowTest::cancel_stops_the_backup_and_says_where_its_files_are() {
    open_window();
    load_sample();
    if (QTest::currentTestFailed())
        return;
    // A mark in without a mark out opens nothing.
    click(window_.get(), ui::kIdMarkIn);
    click(window_.get(), ui::kIdRecord);
    QVERIFY(window_->backup_dialog() == nullptr);

    const uint32_t from = first_recorded_time();
    QTemporaryDir out;
    QPointer<ui::BackupDialog> dialog = open_backup(from, from + 590, out.path());
    QVERIFY(dialog != nullptr);
    int best = 0;
    auto* bar = qobject_cast<QProgressBar*>(ui::find_control(dialog, ui::BackupDialog::kProgressId));
    connect(bar, &QProgressBar::valueChanged, this, [&best](int v) { best = std::max(best, v); });
    click(dialog, ui::BackupDialog::kOkId);
    QTRY_VERIFY(window_->backup_running());
    click(dialog, ui::BackupDialog::kCancelId);
    QVERIFY(!window_->backup_running());
    QTRY_VERIFY(dialog.isNull());
    QVERIFY(best < 100);
    const QString folder = window_->backup_job_folder();
    QVERIFY(QFile::exists(folder + "/export-report.json"));
    QVERIFY(backup_result() != nullptr);
    QVERIFY(backup_result()->message().contains(folder));
    QCOMPARE(count_of(*display_, DisplayCall::ExportClosed), 1);
}

void ExportWindowTest::capture_saves_bmp_and_jpeg_at_the_picture_size() {
    open_window();
    load_sample();
    if (QTest::currentTestFailed())
        return;
    testkit::ModalAnswer modal;
    testkit::CaughtMessage caught;
    // Before anything played there is no picture.
    testkit::catch_message(&modal, &caught);
    click(window_.get(), ui::kIdCapture);
    QCOMPARE(caught.text, QString("Capture Failed!!!"));
    QCOMPARE(caught.caption, QString("Quillon"));

    click(window_.get(), ui::kIdPlay);
    QTRY_VERIFY_WITH_TIMEOUT(!window_->no_picture(), 15000);  // a frame reached the display
    click(window_.get(), ui::kIdPlay);  // pause, so that the shown time stays
    QTemporaryDir out;
    for (int format : {0, 1}) {
        QString name;
        testkit::answer_capture(&modal, out.path() + "/stills", format, &name);
        click(window_.get(), ui::kIdCapture);
        QCOMPARE(modal.answered(), format + 2);
        DateTime shown{};
        time_to_systemtime(window_->current_time(), &shown);
        QCOMPARE(name, ui::capture_file_name(window_->settings().time_format, shown));
        const QString path =
            out.path() + "/stills/" + name + (format == 0 ? ".bmp" : ".jpg");
        QImage read(path);
        QVERIFY2(!read.isNull(), qPrintable(path));
        QCOMPARE(read.size(), QSize(kStillWidth, kStillHeight));
        // The display's picture was spent.
        const QString temp =
            QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + "/temp.dat";
        QVERIFY(!QFile::exists(temp));
    }
}

void ExportWindowTest::capture_log_views_and_saves_the_stored_jpeg() {
    open_window();
    QVERIFY(!ui::find_control(window_.get(), ui::kIdCaptureLog)->isEnabled());
    load_sample();
    QVERIFY(ui::find_control(window_.get(), ui::kIdCaptureLog)->isEnabled());
    if (QTest::currentTestFailed())
        return;
    const auto& records = window_->capture_log();
    QVERIFY(records.size() >= 3);
    click(window_.get(), ui::kIdCaptureLog);
    QPointer<ui::CaptureLogDialog> dialog = window_->capture_log_dialog();
    QVERIFY(dialog != nullptr);
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->isModal());
    QCOMPARE(dialog->list()->topLevelItemCount(), static_cast<int>(records.size()));
    // A double click on a row views it as View does.
    QCOMPARE(records[0].kind, 0u);
    QTreeWidget* list = dialog->list();
    const QRect first = list->visualItemRect(list->topLevelItem(0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, first.center());
    QVERIFY(!dialog->picture().isNull());
    QVERIFY(QFile::exists(dialog->picture_file()));
    int viewed = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const CaptureLogRecord& r = records[i];
        dialog->list()->setCurrentItem(dialog->list()->topLevelItem(static_cast<int>(i)));
        std::vector<uint8_t> stored(1 << 20);
        const int32_t n = api_read_capture_image(r.time, stored.data(),
                                                 static_cast<int32_t>(stored.size()));
        const QString before = dialog->picture_file();
        const bool shown = dialog->on_view();
        if (r.kind == 2) {
            // A backup entry has no picture: nothing new is shown.
            QVERIFY(!shown);
            QCOMPARE(dialog->picture_file(), before);
            continue;
        }
        if (!shown)
            continue;
        ++viewed;
        QVERIFY(n > 0);
        const QByteArray expected(reinterpret_cast<const char*>(stored.data()), n);
        QCOMPARE(file_bytes(dialog->picture_file()), expected);
        QVERIFY(dialog->picture_file().startsWith(
            QStandardPaths::writableLocation(QStandardPaths::CacheLocation)));
        QImage decoded;
        QVERIFY(decoded.loadFromData(expected));
        QCOMPARE(dialog->picture().size(), decoded.size());

        QTemporaryDir out;
        testkit::ModalAnswer modal;
        testkit::answer_save_as(&modal, out.path() + "/copies");
        dialog->on_save_as();
        QCOMPARE(modal.answered(), 1);
        const QString copy = out.path() + "/copies/" + dialog->picture_name() + ".jpg";
        QCOMPARE(dialog->saved_file(), copy);
        QCOMPARE(file_bytes(copy), expected);
    }
    QVERIFY(viewed >= 2);
    // SaveAs saves the picture shown under its own row's name: not another row selected since,
    // nor what became of the viewed file in the cache meanwhile.
    int shown_row = -1;
    for (size_t i = 0; i < records.size() && shown_row < 0; ++i) {
        dialog->list()->setCurrentItem(dialog->list()->topLevelItem(static_cast<int>(i)));
        if (records[i].kind != 2 && dialog->on_view())
            shown_row = static_cast<int>(i);
    }
    QVERIFY(shown_row >= 0);
    const QByteArray shown_bytes = file_bytes(dialog->picture_file());
    const QString shown_name = dialog->picture_name();
    dialog->list()->setCurrentItem(
        dialog->list()->topLevelItem(shown_row == 0 ? 1 : 0));
    {
        QFile cached(dialog->picture_file());
        QVERIFY(cached.open(QIODevice::WriteOnly | QIODevice::Truncate));
        cached.write("another program's picture");
    }
    QTemporaryDir saves;
    for (const QString& expected : {shown_name + ".jpg", shown_name + " (2).jpg"}) {
        testkit::ModalAnswer modal;
        testkit::answer_save_as(&modal, saves.path());
        dialog->on_save_as();
        QCOMPARE(modal.answered(), 1);
        // A second save of the same name is a file of its own; the first stays.
        QCOMPARE(dialog->saved_file(), saves.path() + "/" + expected);
        QCOMPARE(file_bytes(dialog->saved_file()), shown_bytes);
    }
    QCOMPARE(file_bytes(saves.path() + "/" + shown_name + ".jpg"), shown_bytes);
    // The button closes it again, and the window forgets it.
    click(window_.get(), ui::kIdCaptureLog);
    QTRY_VERIFY(dialog.isNull());
    QVERIFY(window_->capture_log_dialog() == nullptr);
}

QTEST_MAIN(ExportWindowTest)
#include "export_window_test.moc"
