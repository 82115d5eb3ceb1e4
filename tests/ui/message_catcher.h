// Answers the program's modal message boxes and dialogs in tests: a test arms it before the
// action that opens one, and it records the box's text and title and answers it.
#pragma once

#include <functional>

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QTimer>

#include "ui/control_id.h"
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

}  // namespace testkit
