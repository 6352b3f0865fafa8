// SPDX-License-Identifier: GPL-3.0-or-later
// Three-dimensional edges as the classic controls draw them.
#pragma once

#include <QColor>
#include <QPainter>
#include <QRect>

namespace kelvane {

// Draws `width` nested one-pixel rings inside r: the top and left sides in `top`, the bottom and
// right sides in `bottom` (which also owns the top-right and bottom-left corners). Returns the
// rectangle left inside the rings.
inline QRect frame3D(QPainter& p, QRect r, const QColor& top, const QColor& bottom, int width) {
  for (int i = 0; i < width && r.width() > 0 && r.height() > 0; ++i) {
    const int l = r.left(), t = r.top(), rt = r.right(), b = r.bottom();
    p.fillRect(QRect(l, t, 1, b - t), top);   // left column, bottom corner excluded
    p.fillRect(QRect(l, t, rt - l, 1), top);  // top row, right corner excluded
    p.fillRect(QRect(rt, t, 1, b - t + 1), bottom);
    p.fillRect(QRect(l, b, rt - l + 1, 1), bottom);
    r.adjust(1, 1, -1, -1);
  }
  return r;
}

}  // namespace kelvane
