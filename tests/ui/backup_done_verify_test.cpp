// The backup-done dialog's Verify button: the check of the export folder against its report
// runs off the UI thread and its result is shown in the dialog.
#include <QAbstractButton>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "platform/sha256.h"
#include "ui/control_id.h"
#include "ui/dialogs/backup_done_dialog.h"

namespace {

void write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

}  // namespace

class BackupDoneVerifyTest : public QObject {
    Q_OBJECT

private:
    // A folder with one file and a report that lists it; the report's source is gone.
    void make_export(const QString& report_name) {
        const QString file = dir_.filePath(QStringLiteral("[CH01]07_00_00.smi"));
        write(file, QByteArray("<SAMI>\r\n</SAMI>\r\n"));
        std::string digest;
        QCOMPARE(platform::sha256_file(file.toStdString(), &digest), 0);
        const QString report = QStringLiteral(R"({"source": {"device": "%1"}, "files": [
            {"channel": 1, "smi": {"name": "[CH01]07_00_00.smi", "size": 17, "sha256": "%2"}}]})")
                                   .arg(dir_.filePath(QStringLiteral("gone.img")), QString::fromStdString(digest));
        write(dir_.filePath(report_name), report.toUtf8());
    }

    // Presses Verify and waits for the result; returns its status.
    int press_verify(ui::BackupDoneDialog& dialog) {
        QSignalSpy done(&dialog, &ui::BackupDoneDialog::verified);
        auto* button = qobject_cast<QAbstractButton*>(ui::find_control(&dialog, ui::BackupDoneDialog::kVerifyId));
        if (button == nullptr)
            return -1;
        button->click();
        if (!done.wait(60000) && done.isEmpty())
            return -1;
        return done.takeFirst().at(0).toInt();
    }

    QTemporaryDir dir_;

private slots:
    void a_good_folder_verifies_and_a_changed_file_is_named() {
        make_export(QStringLiteral("export-report.json"));
        ui::BackupDoneDialog dialog(dir_.path(), QString());
        dialog.show();
        QCOMPARE(press_verify(dialog), 0);
        QVERIFY2(dialog.verify_result().contains(QStringLiteral("All 1 checks match.")),
                 qPrintable(dialog.verify_result()));
        // The image the report names is gone: the files are checked all the same, and the
        // dialog says what was left out.
        QVERIFY(dialog.verify_result().contains(QStringLiteral("not compared with the disk image")));
        QVERIFY(!dialog.verifying());

        write(dir_.filePath(QStringLiteral("[CH01]07_00_00.smi")), QByteArray("<SAMI>\r\n</SAMX>\r\n"));
        QCOMPARE(press_verify(dialog), 1);
        QVERIFY2(dialog.verify_result().contains(QStringLiteral("MISMATCH [CH01]07_00_00.smi: SHA-256")),
                 qPrintable(dialog.verify_result()));
    }

    // The dialog checks the report the job really wrote, named or given by its path.
    void the_jobs_own_report_is_checked() {
        make_export(QStringLiteral("export-report-101500.json"));
        ui::BackupDoneDialog named(dir_.path(), QString(), nullptr, QStringLiteral("export-report-101500.json"));
        QCOMPARE(press_verify(named), 0);
        ui::BackupDoneDialog by_path(dir_.path(), QString(), nullptr,
                                     dir_.filePath(QStringLiteral("export-report-101500.json")));
        QCOMPARE(press_verify(by_path), 0);
        ui::BackupDoneDialog missing(dir_.path(), QString(), nullptr, QStringLiteral("export-report-000000.json"));
        QCOMPARE(press_verify(missing), 2);
        QVERIFY(missing.verify_result().contains(QStringLiteral("cannot open")));
    }
};

QTEST_MAIN(BackupDoneVerifyTest)
#include "backup_done_verify_test.moc"
