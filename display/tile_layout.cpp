#include "display/tile_layout.h"

namespace display {

bool valid_splits(int splits) { return splits == 1 || splits == 4 || splits == 9 || splits == 16; }

int grid_side(int splits) {
    switch (splits) {
    case 4: return 2;
    case 9: return 3;
    case 16: return 4;
    default: return 1;
    }
}

namespace {

// The first pixel of cell `i` of `n` over `length` pixels.
int edge(int length, int n, int i) {
    return static_cast<int>(static_cast<long long>(length) * i / n);
}

}  // namespace

QRect tile_rect(QSize area, int splits, int index) {
    const int n = grid_side(splits);
    if (index < 0 || index >= n * n) return {};
    const int col = index % n;
    const int row = index / n;
    const int x0 = edge(area.width(), n, col);
    const int x1 = edge(area.width(), n, col + 1);
    const int y0 = edge(area.height(), n, row);
    const int y1 = edge(area.height(), n, row + 1);
    return QRect(x0, y0, x1 - x0, y1 - y0);
}

int tile_at(QSize area, int splits, QPoint point) {
    if (point.x() < 0 || point.y() < 0 || point.x() >= area.width() ||
        point.y() >= area.height()) {
        return -1;
    }
    const int n = grid_side(splits);
    for (int i = 0; i < n * n; ++i) {
        if (tile_rect(area, splits, i).contains(point)) return i;
    }
    return -1;
}

}  // namespace display
