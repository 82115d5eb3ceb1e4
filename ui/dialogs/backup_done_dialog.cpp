#include "ui/dialogs/backup_done_dialog.h"

#include <QDesktopServices>
#include <QLabel>
#include <QUrl>

#include "export/export_report.h"
#include "ui/control_id.h"
#include "ui/controls/skin_button.h"
#include "ui/dialogs/dialog_kit.h"
#include "verify/report_check.h"

namespace ui {
namespace {

constexpr int kWidth = 440;
constexpr int kHeight = 250;
constexpr int kResultHeight = 60;
constexpr int kMismatchesShown = 3;

// The summary, then the first mismatches.
QString result_text(const verify::VerifyOutcome& outcome) {
    QString text = QString::fromStdString(verify::verify_summary(outcome));
    if (outcome.status == verify::kVerifyUnusable)
        text = QStringLiteral("The files cannot be verified: ") + text;
    int shown = 0;
    for (const std::string& line : outcome.lines) {
        if (line.rfind("MISMATCH", 0) != 0 || shown++ == kMismatchesShown) continue;
        text += QLatin1Char('\n') + QString::fromStdString(line);
    }
    return text;
}

} // namespace

BackupDoneDialog::BackupDoneDialog(const QString& folder, const QString& error, QWidget* parent,
                                   const QString& report)
    : DialogFrame(parent), folder_(folder),
      report_(report.isEmpty() ? folder + QLatin1Char('/') + QString::fromLatin1(kExportReportName)
              : report.contains(QLatin1Char('/')) ? report
                                                   : folder + QLatin1Char('/') + report) {
    setObjectName(QStringLiteral("Quillon_BackupDone"));
    set_title(QStringLiteral("AVI Backup"));
    setFixedSize(kWidth, kHeight);
    QString text = error.isEmpty() ? QStringLiteral("The backup is finished.")
                                   : QStringLiteral("The backup stopped: %1").arg(error);
    text += QStringLiteral("\n\nThe exported files and %1 are in\n%2")
                .arg(report.isEmpty() ? QString::fromLatin1(kExportReportName)
                                      : report.section(QLatin1Char('/'), -1),
                     folder);
    message_ = new QLabel(text, this);
    message_->setTextFormat(Qt::PlainText);
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message_->setGeometry(16, kTitleHeight + 10, kWidth - 32,
                          kHeight - kTitleHeight - 58 - kResultHeight);
    set_control_id(message_, kMessageId);
    result_ = new QLabel(this);
    result_->setTextFormat(Qt::PlainText);
    result_->setWordWrap(true);
    result_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    result_->setGeometry(16, kHeight - 48 - kResultHeight, kWidth - 32, kResultHeight);
    set_control_id(result_, kVerifyResultId);
    const int top = kHeight - kDialogButtonHeight - 12;
    auto* open = make_text_button(this, QStringLiteral("Open folder"), kOpenFolderId);
    open->setGeometry(kWidth / 2 - 170, top, 110, kDialogButtonHeight);
    auto* check = make_text_button(this, QStringLiteral("Verify"), kVerifyId);
    check->setGeometry(kWidth / 2 - 50, top, 100, kDialogButtonHeight);
    auto* ok = make_text_button(this, QStringLiteral("OK"), kOkId);
    ok->move(kWidth / 2 + 60, top);
    connect(open, &QAbstractButton::clicked, this, [this] { open_folder(); });
    connect(check, &QAbstractButton::clicked, this, [this] { verify(); });
    connect(ok, &QAbstractButton::clicked, this, &QDialog::accept);
}

BackupDoneDialog::~BackupDoneDialog() {
    // The check reads the files and the disk; it is not cut short, only its result dropped.
    if (worker_.joinable())
        worker_.join();
}

QString BackupDoneDialog::message() const { return message_->text(); }

QString BackupDoneDialog::verify_result() const { return result_->text(); }

bool BackupDoneDialog::verify() {
    if (verifying_)
        return false;
    if (worker_.joinable())
        worker_.join();
    verifying_ = true;
    result_->setText(QStringLiteral("Verifying the files..."));
    const std::string report = report_.toStdString();
    worker_ = std::thread([this, report] {
        verify::VerifyOptions options;
        options.image = verify::report_source(report);
        verify::VerifyOutcome outcome = verify::verify_report(report, options);
        bool disk_compared = !options.image.empty();
        if (outcome.status == verify::kVerifyUnusable && disk_compared) {
            // The disk is gone or cannot be opened now: the files can still be checked.
            outcome = verify::verify_report(report, verify::VerifyOptions{});
            disk_compared = false;
        }
        const int status = outcome.status;
        QString text = result_text(outcome);
        if (status != verify::kVerifyUnusable && !disk_compared)
            text += QStringLiteral("\nThe frames were not compared with the disk image.");
        QMetaObject::invokeMethod(this, [this, status, text] { show_verified(status, text); },
                                  Qt::QueuedConnection);
    });
    return true;
}

void BackupDoneDialog::show_verified(int status, const QString& text) {
    verifying_ = false;
    result_->setText(text);
    emit verified(status);
}

bool BackupDoneDialog::open_folder() {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(folder_));
}

} // namespace ui
