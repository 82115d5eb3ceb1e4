#include "ui/controls/svg_paint.h"

#include <QPainter>
#include <QSvgRenderer>

// The pictures live in a static library, whose resources the linker would otherwise drop;
// the macro must be used outside any namespace.
static void init_icon_resources() { Q_INIT_RESOURCE(icons); }

namespace ui {

QString icon_path(const QString& name) {
    static const bool registered = (init_icon_resources(), true);
    (void)registered;
    return QStringLiteral(":/icons/%1.svg").arg(name);
}

void paint_svg_fitted(QPainter& painter, QSvgRenderer& svg, const QRectF& box) {
    if (!svg.isValid() || box.isEmpty())
        return;
    QSizeF size = svg.defaultSize();
    if (size.isEmpty())
        size = box.size();
    size.scale(box.size(), Qt::KeepAspectRatio);
    QRectF target(QPointF(), size);
    target.moveCenter(box.center());
    svg.render(&painter, target);
}

} // namespace ui
