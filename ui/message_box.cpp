#include "ui/message_box.h"

#include "ui/control_id.h"
#include "ui/controls/skin_button.h"

#include <QKeyEvent>
#include <QLabel>

namespace ui {
namespace {

constexpr int kButtonWidth = 76;
constexpr int kButtonHeight = 26;
constexpr int kGap = 12;

SkinButton* make_button(QWidget* parent, const QString& caption, int id) {
    auto* button = new SkinButton(parent);
    button->set_caption(caption);
    button->resize(kButtonWidth, kButtonHeight);
    set_control_id(button, id);
    return button;
}

} // namespace

MessageBoxDialog::MessageBoxDialog(QWidget* parent) : DialogFrame(parent) {
    message_ = new QLabel(this);
    message_->setWordWrap(true);
    message_->setAlignment(Qt::AlignCenter);
    message_->setTextFormat(Qt::PlainText);
    set_control_id(message_, kMessageId);
    ok_ = make_button(this, QStringLiteral("OK"), kOkId);
    cancel_ = make_button(this, QStringLiteral("Cancel"), kCancelId);
    connect(ok_, &QAbstractButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QAbstractButton::clicked, this, &QDialog::reject);
    resize(320, 140);
    lay_out();
}

void MessageBoxDialog::set_style(int style) {
    style_ = style;
    lay_out();
}

void MessageBoxDialog::set_texts(const QString& message, const QString& caption) {
    message_->setText(message);
    set_title(caption);
}

void MessageBoxDialog::lay_out() {
    const int button_top = height() - kButtonHeight - 14;
    message_->setGeometry(16, kTitleHeight + 10, width() - 32, button_top - kTitleHeight - 18);
    const bool ok_only = style_ == 1;
    cancel_->setVisible(!ok_only);
    if (ok_only) {
        ok_->move((width() - kButtonWidth) / 2, button_top);
        return;
    }
    const int left = (width() - 2 * kButtonWidth - kGap) / 2;
    ok_->move(left, button_top);
    cancel_->move(left + kButtonWidth + kGap, button_top);
}

void MessageBoxDialog::resizeEvent(QResizeEvent* event) {
    DialogFrame::resizeEvent(event);
    lay_out();
}

void MessageBoxDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        accept();
        return;
    case Qt::Key_Escape:
        event->accept(); // the message must be answered with a button
        return;
    default:
        DialogFrame::keyPressEvent(event);
    }
}

int show_message(QWidget* parent, const QString& text, const QString& caption, int style) {
    MessageBoxDialog box(parent);
    box.set_style(style);
    box.set_texts(text, caption);
    return box.exec();
}

} // namespace ui
