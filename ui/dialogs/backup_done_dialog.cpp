#include "ui/dialogs/backup_done_dialog.h"

#include <QDesktopServices>
#include <QLabel>
#include <QUrl>

#include "export/export_report.h"
#include "ui/control_id.h"
#include "ui/controls/skin_button.h"
#include "ui/dialogs/dialog_kit.h"

namespace ui {
namespace {

constexpr int kWidth = 440;
constexpr int kHeight = 190;

} // namespace

BackupDoneDialog::BackupDoneDialog(const QString& folder, const QString& error, QWidget* parent,
                                   const QString& report)
    : DialogFrame(parent), folder_(folder) {
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
    message_->setGeometry(16, kTitleHeight + 10, kWidth - 32, kHeight - kTitleHeight - 58);
    set_control_id(message_, kMessageId);
    const int top = kHeight - kDialogButtonHeight - 12;
    auto* open = make_text_button(this, QStringLiteral("Open folder"), kOpenFolderId);
    open->setGeometry(kWidth / 2 - 110 - 6, top, 110, kDialogButtonHeight);
    auto* ok = make_text_button(this, QStringLiteral("OK"), kOkId);
    ok->move(kWidth / 2 + 6, top);
    connect(open, &QAbstractButton::clicked, this, [this] { open_folder(); });
    connect(ok, &QAbstractButton::clicked, this, &QDialog::accept);
}

QString BackupDoneDialog::message() const { return message_->text(); }

bool BackupDoneDialog::open_folder() {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(folder_));
}

} // namespace ui
