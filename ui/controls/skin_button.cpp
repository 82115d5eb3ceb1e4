#include "ui/controls/skin_button.h"

#include "ui/controls/svg_paint.h"
#include "ui/posted_event.h"

#include <QPainter>
#include <QPainterPath>

namespace ui {
namespace {

struct Face {
    QColor fill;
    QColor edge;
};

// One palette for every button: a dark face that lights up under the pointer and turns to the
// accent blue while pressed or checked.
Face face_for(bool enabled, bool down, bool hover) {
    if (!enabled)
        return {QColor(42, 47, 54), QColor(52, 58, 66)};
    if (down)
        return {QColor(31, 111, 209), QColor(96, 160, 240)};
    if (hover)
        return {QColor(55, 68, 90), QColor(91, 141, 239)};
    return {QColor(43, 52, 64), QColor(63, 74, 88)};
}

QFont caption_font() {
    QFont font(QStringLiteral("Verdana"));
    font.setWeight(QFont::Black);
    font.setPixelSize(11);
    return font;
}

} // namespace

SkinButton::SkinButton(QWidget* parent) : QAbstractButton(parent) {
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
}

bool SkinButton::set_skin(const QString& base) {
    skin_ = base;
    const bool ok = glyph_.load(icon_path(base));
    update();
    return ok;
}

void SkinButton::set_type(Type type) {
    type_ = type;
    setCheckable(type != Type::Push);
}

void SkinButton::set_check(bool checked) {
    if (checked == isChecked())
        return;
    setChecked(checked);
    if (checked && type_ == Type::Radio)
        uncheck_group();
}

void SkinButton::set_caption(const QString& caption) {
    setText(caption);
    updateGeometry();
    update();
}

QSize SkinButton::sizeHint() const {
    if (text().isEmpty())
        return {32, 32};
    const int text_width = QFontMetrics(caption_font()).horizontalAdvance(text());
    return {text_width + (glyph_.isValid() ? 40 : 24), 28};
}

void SkinButton::nextCheckState() {
    if (type_ == Type::Radio)
        set_check(true); // a radio button is unchecked only by its group
    else if (type_ == Type::Check)
        setChecked(!isChecked());
}

bool SkinButton::event(QEvent* event) {
    if (posted_message(event) == kMsgRadioUncheck) {
        setChecked(false);
        return true;
    }
    return QAbstractButton::event(event);
}

void SkinButton::uncheck_group() {
    if (parentWidget() == nullptr)
        return;
    const auto siblings = parentWidget()->findChildren<SkinButton*>(Qt::FindDirectChildrenOnly);
    for (SkinButton* other : siblings) {
        if (other != this && other->type_ == Type::Radio && other->group_ == group_)
            post_message(other, kMsgRadioUncheck);
    }
}

bool SkinButton::hovered() const { return underMouse() && isEnabled(); }

void SkinButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const Face face = face_for(isEnabled(), isDown() || isChecked(), hovered());
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(frame, 4, 4);
    painter.fillPath(shape, face.fill);
    painter.setPen(QPen(face.edge, 1));
    painter.drawPath(shape);
    if (hasFocus()) {
        painter.setPen(QPen(QColor(138, 180, 248), 1, Qt::DotLine));
        painter.drawRoundedRect(frame.adjusted(2, 2, -2, -2), 3, 3);
    }

    painter.setOpacity(isEnabled() ? 1.0 : 0.35);
    const qreal pad = std::max<qreal>(3.0, std::min(width(), height()) * 0.18);
    QRectF glyph_box = QRectF(rect()).adjusted(pad, pad, -pad, -pad);
    if (!text().isEmpty() && glyph_.isValid())
        glyph_box.setWidth(glyph_box.height());
    if (glyph_.isValid())
        paint_svg_fitted(painter, glyph_, glyph_box);
    if (text().isEmpty())
        return;
    QRectF text_box = rect();
    if (glyph_.isValid())
        text_box.setLeft(glyph_box.right() + 4);
    painter.setFont(caption_font());
    painter.setPen(QColor(238, 242, 246));
    painter.drawText(text_box, Qt::AlignCenter, text());
}

} // namespace ui
