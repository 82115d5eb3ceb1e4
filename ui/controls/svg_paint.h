// Drawing of the program's SVG pictures, sharp at every device pixel ratio.
#pragma once

#include <QRectF>
#include <QString>

class QPainter;
class QSvgRenderer;

namespace ui {

// The resource path of icon `name`: ":/icons/<name>.svg". The first call registers the
// pictures.
QString icon_path(const QString& name);

// Draws the picture centred in `box`, scaled to fit while keeping its aspect ratio.
void paint_svg_fitted(QPainter& painter, QSvgRenderer& svg, const QRectF& box);

} // namespace ui
