#include "ui/dialogs/save_as_dialog.h"

#include <QLabel>
#include <QLineEdit>

#include "ui/controls/skin_button.h"
#include "ui/dialogs/dialog_kit.h"

namespace ui {
namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 160;

} // namespace

SaveAsDialog::SaveAsDialog(const QString& name, QWidget* parent) : DialogFrame(parent) {
    set_title(QStringLiteral("Save As"));
    setFixedSize(kWidth, kHeight);
    const int edit_left = 16 + 64;
    const int edit_width = kWidth - edit_left - 16;
    auto* folder_label = new QLabel(QStringLiteral("Folder"), this);
    folder_label->setGeometry(16, kTitleHeight + 14, 64, 24);
    folder_ = make_edit(this, kFolderId);
    folder_->setGeometry(edit_left, kTitleHeight + 14, edit_width - 58, 24);
    folder_->setText(default_capture_folder());
    auto* browse = make_text_button(this, QStringLiteral("Browse"), kBrowseId);
    browse->setGeometry(kWidth - 16 - 52, kTitleHeight + 13, 52, 26);
    connect(browse, &QAbstractButton::clicked, this, &SaveAsDialog::on_browse);

    auto* name_label = new QLabel(QStringLiteral("File name"), this);
    name_label->setGeometry(16, kTitleHeight + 48, 64, 24);
    name_ = make_edit(this, kNameId);
    name_->setGeometry(edit_left, kTitleHeight + 48, edit_width, 24);
    name_->setText(name);

    const int top = kHeight - kDialogButtonHeight - 14;
    auto* ok = make_text_button(this, QStringLiteral("OK"), kOkId);
    ok->move(kWidth / 2 - kDialogButtonWidth - 6, top);
    auto* cancel = make_text_button(this, QStringLiteral("Cancel"), kCancelId);
    cancel->move(kWidth / 2 + 6, top);
    connect(ok, &QAbstractButton::clicked, this, &SaveAsDialog::on_ok);
    connect(cancel, &QAbstractButton::clicked, this, &QDialog::reject);
}

void SaveAsDialog::on_ok() {
    folder_text_ = folder_->text();
    name_text_ = name_->text();
    accept();
}

void SaveAsDialog::on_browse() {
    const QString chosen = browse_folder(this, folder_->text());
    if (!chosen.isEmpty())
        folder_->setText(chosen);
}

} // namespace ui
