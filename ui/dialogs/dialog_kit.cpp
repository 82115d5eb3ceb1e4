#include "ui/dialogs/dialog_kit.h"

#include <QFileDialog>
#include <QLineEdit>

#include "export/still_capture.h"
#include "ui/control_id.h"
#include "ui/controls/skin_button.h"

namespace ui {

SkinButton* make_text_button(QWidget* parent, const QString& caption, int id) {
    auto* button = new SkinButton(parent);
    button->set_caption(caption);
    button->resize(kDialogButtonWidth, kDialogButtonHeight);
    set_control_id(button, id);
    return button;
}

QLineEdit* make_edit(QWidget* parent, int id) {
    auto* edit = new QLineEdit(parent);
    set_control_id(edit, id);
    return edit;
}

QString browse_folder(QWidget* parent, const QString& start) {
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("Select folder"), start,
                                             QFileDialog::ShowDirsOnly);
}

QString default_capture_folder() {
    QString folder = QString::fromStdString(still_capture_folder(std::string()));
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

} // namespace ui
