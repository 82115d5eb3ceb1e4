#include "ui/dialogs/capture_dialog.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include "ui/control_id.h"
#include "ui/controls/skin_button.h"
#include "ui/dialogs/dialog_kit.h"
#include "ui/still_names.h"

namespace ui {
namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 196;

} // namespace

CaptureDialog::CaptureDialog(const DateTime& picture_time, int time_format, QWidget* parent)
    : DialogFrame(parent) {
    set_title(QStringLiteral("Capture"));
    setFixedSize(kWidth, kHeight);
    const int label_width = 64;
    const int edit_left = 16 + label_width;
    const int edit_width = kWidth - edit_left - 16;
    auto label = [this](const QString& text, int top) {
        auto* l = new QLabel(text, this);
        l->setGeometry(16, top, label_width, 24);
    };
    label(QStringLiteral("Folder"), kTitleHeight + 14);
    folder_ = make_edit(this, kFolderId);
    folder_->setGeometry(edit_left, kTitleHeight + 14, edit_width - 58, 24);
    folder_->setText(default_capture_folder());
    auto* browse = make_text_button(this, QStringLiteral("Browse"), kBrowseId);
    browse->setGeometry(kWidth - 16 - 52, kTitleHeight + 13, 52, 26);
    connect(browse, &QAbstractButton::clicked, this, &CaptureDialog::on_browse);

    label(QStringLiteral("File name"), kTitleHeight + 48);
    name_ = make_edit(this, kNameId);
    name_->setGeometry(edit_left, kTitleHeight + 48, edit_width, 24);
    name_->setText(capture_file_name(time_format, picture_time));

    label(QStringLiteral("Format"), kTitleHeight + 82);
    format_ = new QComboBox(this);
    format_->addItems({QStringLiteral("BITMAP(*.BMP)"), QStringLiteral("JPEG(*.JPG)")});
    format_->setCurrentIndex(0);
    format_->setGeometry(edit_left, kTitleHeight + 82, 150, 24);
    set_control_id(format_, kFormatId);

    const int top = kHeight - kDialogButtonHeight - 14;
    auto* ok = make_text_button(this, QStringLiteral("OK"), kOkId);
    ok->move(kWidth / 2 - kDialogButtonWidth - 6, top);
    auto* cancel = make_text_button(this, QStringLiteral("Cancel"), kCancelId);
    cancel->move(kWidth / 2 + 6, top);
    connect(ok, &QAbstractButton::clicked, this, &CaptureDialog::on_ok);
    connect(cancel, &QAbstractButton::clicked, this, &QDialog::reject);
}

void CaptureDialog::on_ok() {
    request_.name = name_->text().toStdString();
    request_.folder = folder_->text().toStdString();
    request_.format = format_->currentIndex() > 0 ? STILL_FORMAT_JPEG : STILL_FORMAT_BMP;
    accept();
}

void CaptureDialog::on_browse() {
    const QString chosen = browse_folder(this, folder_->text());
    if (!chosen.isEmpty())
        folder_->setText(chosen);
}

void CaptureDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: on_ok(); return;
    case Qt::Key_Escape: event->accept(); return;
    default: DialogFrame::keyPressEvent(event);
    }
}

} // namespace ui
