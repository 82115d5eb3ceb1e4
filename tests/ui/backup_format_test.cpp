// The backup dialog's format choice: AVI by default, Matroska and MP4 besides; the main window
// runs the job in the chosen format and remembers it for the next dialog.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "platform/drive.h"
#include "tests/testkit/recording_display.h"
#include "tests/testkit/temp_image.h"
#include "ui/control_id.h"
#include "ui/controls/search_slider.h"
#include "ui/dialogs/backup_dialog.h"
#include "ui/dialogs/backup_done_dialog.h"
#include "ui/main_window.h"
#include "ui/settings.h"

namespace {

void click(QWidget* window, int id) {
    auto* button = qobject_cast<QAbstractButton*>(ui::find_control(window, id));
    QVERIFY(button != nullptr);
    button->click();
}

QComboBox* format_box(QWidget* dialog) {
    return qobject_cast<QComboBox*>(ui::find_control(dialog, ui::BackupDialog::kFormatId));
}

}  // namespace

class BackupFormatTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanup();
    void the_dialog_offers_three_formats_and_starts_with_avi();
    void an_mp4_backup_writes_mp4_files_and_is_remembered();

  private:
    QTemporaryDir home_;
    std::unique_ptr<testkit::TempDir> dir_;
    std::string image_;
};

void BackupFormatTest::initTestCase() {
    QVERIFY(home_.isValid());
    qputenv("HOME", home_.path().toUtf8());
    QStandardPaths::setTestModeEnabled(true);
    dir_ = std::make_unique<testkit::TempDir>();
    bool known = false;
    image_ = testkit::make_image(*dir_, "recorder.img", sample::preset("recorder", &known));
    QVERIFY(known);
}

void BackupFormatTest::cleanup() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<ui::BackupDoneDialog*>(w) != nullptr) delete w;
    platform::detach_all();
}

void BackupFormatTest::the_dialog_offers_three_formats_and_starts_with_avi() {
    QObject owner;
    ui::BackupDialog dialog(&owner);
    QComboBox* box = format_box(&dialog);
    QVERIFY(box != nullptr);
    QCOMPARE(box->count(), 3);
    QCOMPARE(dialog.format(), ExportFormat::Avi);
    QVERIFY(box->currentText().startsWith("AVI"));
    for (ExportFormat f : {ExportFormat::Mp4, ExportFormat::Mkv, ExportFormat::Avi}) {
        dialog.set_format(f);
        QCOMPARE(dialog.format(), f);
        QVERIFY(
            box->currentText().startsWith(QString::fromLatin1(export_format_name(f)).toUpper()));
    }
    // The user's choice is what the dialog reports.
    box->setCurrentIndex(box->findText("MKV", Qt::MatchStartsWith));
    QCOMPARE(dialog.format(), ExportFormat::Mkv);
}

void BackupFormatTest::an_mp4_backup_writes_mp4_files_and_is_remembered() {
    QTemporaryDir settings_dir;
    auto settings = ui::open_settings(settings_dir.filePath("Quillon.conf"));
    testkit::RecordingDisplay display;
    auto window = std::make_unique<ui::MainWindow>(&display, new QWidget(), settings.get());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QVERIFY(platform::attach_image(image_) >= 0);
    ui::DiskState state;
    std::string error;
    QCOMPARE(ui::open_first_disk(0, &state, &error), 0);
    window->disk_loaded(state);
    QTRY_VERIFY(window->timeline()->next_recorded_position() >= 0);
    uint32_t from = 0;
    const auto& map = window->timeline()->span_map();
    for (size_t i = 0; i < map.size() && from == 0; ++i)
        if (map[i] != 0) from = window->selected_day() + static_cast<uint32_t>(i * 15);
    QVERIFY(from != 0);

    window->player()->seek(from);
    click(window.get(), ui::kIdMarkIn);
    window->player()->seek(from + 20);
    click(window.get(), ui::kIdMarkOut);
    click(window.get(), ui::kIdRecord);
    QPointer<ui::BackupDialog> dialog = window->backup_dialog();
    QVERIFY(dialog != nullptr);
    QCOMPARE(dialog->format(), ExportFormat::Avi);
    QTemporaryDir out;
    qobject_cast<QLineEdit*>(ui::find_control(dialog, ui::BackupDialog::kFolderId))
        ->setText(out.path());
    format_box(dialog)->setCurrentIndex(format_box(dialog)->findText("MP4", Qt::MatchStartsWith));
    click(dialog, ui::BackupDialog::kOkId);
    // The choice cannot change under a running job.
    QVERIFY(dialog.isNull() || !format_box(dialog)->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull() || !dialog->isVisible(), 60000);
    QVERIFY(!window->backup_running());

    const QString folder = window->backup_job_folder();
    const QStringList mp4s = QDir(folder).entryList({"*.mp4"}, QDir::Files);
    QVERIFY(!mp4s.isEmpty());
    QVERIFY(QDir(folder).entryList({"*.avi", "*.smi"}, QDir::Files).isEmpty());
    QFile report_file(folder + "/export-report.json");
    QVERIFY(report_file.open(QIODevice::ReadOnly));
    const QJsonArray files =
        QJsonDocument::fromJson(report_file.readAll()).object()["files"].toArray();
    QCOMPARE(files.size(), mp4s.size());
    for (const QJsonValue& f : files) {
        QCOMPARE(f["format"].toString(), QStringLiteral("mp4"));
        QVERIFY(mp4s.contains(f["file"]["name"].toString()));
    }
    for (const QString& mp4 : mp4s) {
        QProcess probe;
        probe.start("ffprobe", {"-v", "error", folder + "/" + mp4});
        QVERIFY(probe.waitForFinished(60000));
        QCOMPARE(probe.exitCode(), 0);
        QCOMPARE(probe.readAllStandardError(), QByteArray());
    }

    // The result names the folder and no format the job did not write.
    ui::BackupDoneDialog* result = nullptr;
    QTRY_VERIFY((result = [] {
                    for (QWidget* w : QApplication::topLevelWidgets())
                        if (auto* done = qobject_cast<ui::BackupDoneDialog*>(w);
                            done && done->isVisible())
                            return done;
                    return static_cast<ui::BackupDoneDialog*>(nullptr);
                }()) != nullptr);
    QVERIFY(result->message().contains(folder));
    QVERIFY2(!result->message().contains("AVI"), qPrintable(result->message()));

    // The next dialog, and the next program, start with MP4.
    QCOMPARE(settings->value("BackupFormat").toString(), QStringLiteral("mp4"));
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<ui::BackupDoneDialog*>(w) != nullptr) w->close();
    click(window.get(), ui::kIdRecord);
    QVERIFY(window->backup_dialog() != nullptr);
    QCOMPARE(window->backup_dialog()->format(), ExportFormat::Mp4);
    window->backup_dialog()->close();
    window.reset();
}

QTEST_MAIN(BackupFormatTest)
#include "backup_format_test.moc"
