#include "ui/dialog_frame.h"

#include "ui/control_id.h"
#include "ui/controls/skin_button.h"
#include "ui/controls/svg_paint.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace ui {
namespace {

constexpr int kCloseSize = 16;

QFont title_font() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    font.setBold(true);
    return font;
}

} // namespace

DialogFrame::DialogFrame(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::FramelessWindowHint | Qt::Dialog);
    strip_.load(icon_path(QStringLiteral("title_strip")));
    close_ = new SkinButton(this);
    close_->set_skin(QStringLiteral("close"));
    close_->setToolTip(QStringLiteral("Close"));
    close_->resize(kCloseSize, kCloseSize);
    set_control_id(close_, kCloseButtonId);
    connect(close_, &QAbstractButton::clicked, this, &QDialog::reject);
    apply_colours();
}

void DialogFrame::set_title(const QString& title) {
    title_ = title;
    setWindowTitle(title);
    update(title_rect());
}

void DialogFrame::set_background(const QColor& colour) {
    background_ = colour;
    apply_colours();
    update();
}

// Controls show white text; fields and lists get a black ground, the rest the window's colour.
void DialogFrame::apply_colours() {
    QPalette colours = palette();
    colours.setColor(QPalette::Window, background_);
    colours.setColor(QPalette::WindowText, Qt::white);
    colours.setColor(QPalette::Text, Qt::white);
    colours.setColor(QPalette::Base, Qt::black);
    colours.setColor(QPalette::AlternateBase, QColor(24, 24, 24));
    colours.setColor(QPalette::Button, background_.lighter(130));
    colours.setColor(QPalette::ButtonText, Qt::white);
    setPalette(colours);
}

void DialogFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), background_);
    if (strip_.isValid())
        strip_.render(&painter, QRectF(0, 0, width(), kTitleHeight));
    painter.setPen(Qt::white);
    painter.setFont(title_font());
    painter.drawText(title_rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic,
                     title_);
}

void DialogFrame::resizeEvent(QResizeEvent* event) {
    close_->move(width() - kCloseSize - 4, (kTitleHeight - kCloseSize) / 2);
    QDialog::resizeEvent(event);
}

// The window system moves the window where it can; elsewhere (and where it refuses) the
// window follows the pointer itself.
void DialogFrame::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QDialog::mousePressEvent(event);
    QWindow* window = windowHandle();
    if (window != nullptr && window->startSystemMove())
        return;
    moving_ = true;
    press_global_ = event->globalPosition().toPoint();
    press_window_ = pos();
}

void DialogFrame::mouseMoveEvent(QMouseEvent* event) {
    if (!moving_)
        return QDialog::mouseMoveEvent(event);
    move(press_window_ + (event->globalPosition().toPoint() - press_global_));
}

void DialogFrame::mouseReleaseEvent(QMouseEvent* event) {
    if (!moving_ || event->button() != Qt::LeftButton)
        return QDialog::mouseReleaseEvent(event);
    moving_ = false;
}

} // namespace ui
