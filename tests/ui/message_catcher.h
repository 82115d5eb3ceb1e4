// Answers the program's modal message boxes and dialogs in tests: a test arms it before the
// action that opens one, and it records the box's text and title and answers it.
#pragma once

#include <functional>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QLabel>
#include <QPointer>
#include <QTimer>

#include "ui/control_id.h"
#include "ui/dialogs/capture_dialog.h"
#include "ui/dialogs/save_as_dialog.h"
#include "ui/message_box.h"

namespace testkit {

class ModalAnswer : public QObject {
public:
    // `answer` gets the modal dialog and closes it; it runs at most once per arm().
    void arm(std::function<void(QDialog*)> answer, int tries = 500) {
        answer_ = std::move(answer);
        tries_ = tries;
        QTimer::singleShot(0, this, [this] { poll(); });
    }
    int answered() const { return answered_; }

private:
    void poll() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog != nullptr && answer_) {
            auto answer = std::move(answer_);
            answer_ = nullptr;
            ++answered_;
            answer(dialog);
            return;
        }
        if (answer_ && --tries_ > 0)
            QTimer::singleShot(10, this, [this] { poll(); });
    }

    std::function<void(QDialog*)> answer_;
    int tries_ = 0;
    int answered_ = 0;
};

// A message box's text and title, answered with OK.
struct CaughtMessage {
    QString text;
    QString caption;
    int count = 0;
};

inline void catch_message(ModalAnswer* modal, CaughtMessage* caught) {
    modal->arm([caught](QDialog* dialog) {
        if (auto* box = qobject_cast<ui::MessageBoxDialog*>(dialog)) {
            caught->text = static_cast<QLabel*>(ui::find_control(box, 1022))->text();
            caught->caption = box->title();
            ++caught->count;
        }
        dialog->accept();
    });
}

// Answers the capture dialog with `folder` and format `format` (0 BMP, 1 JPEG); *name gets the
// file name it proposed. Any other modal dialog is cancelled.
inline void answer_capture(ModalAnswer* modal, const QString& folder, int format, QString* name) {
    modal->arm([folder, format, name](QDialog* d) {
        auto* capture = qobject_cast<ui::CaptureDialog*>(d);
        if (capture == nullptr) {
            d->reject();
            return;
        }
        *name = qobject_cast<QLineEdit*>(ui::find_control(d, ui::CaptureDialog::kNameId))->text();
        qobject_cast<QLineEdit*>(ui::find_control(d, ui::CaptureDialog::kFolderId))->setText(folder);
        qobject_cast<QComboBox*>(ui::find_control(d, ui::CaptureDialog::kFormatId))
            ->setCurrentIndex(format);
        capture->on_ok();
    });
}

// Answers the save-as dialog with `folder`; any other modal dialog is cancelled.
inline void answer_save_as(ModalAnswer* modal, const QString& folder) {
    modal->arm([folder](QDialog* d) {
        auto* save = qobject_cast<ui::SaveAsDialog*>(d);
        if (save == nullptr) {
            d->reject();
            return;
        }
        qobject_cast<QLineEdit*>(ui::find_control(d, ui::SaveAsDialog::kFolderId))->setText(folder);
        save->on_ok();
    });
}

}  // namespace testkit
