// Where the tiles of a split layout lie in the widget, and which channel each one shows.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace display {

// 1, 4, 9 or 16.
bool valid_splits(int splits);
// Tiles per row and column: 1, 2, 3 or 4.
int grid_side(int splits);

// Tile `index` of a layout of `splits` tiles over `area`: rows and columns share the pixels so
// that the tiles cover the area exactly, without gaps or overlaps.
QRect tile_rect(QSize area, int splits, int index);
// The tile under a point, or -1 outside the area.
int tile_at(QSize area, int splits, QPoint point);

}  // namespace display
