// SPDX-License-Identifier: GPL-3.0-or-later
// Pixel queries on rendered plot surfaces.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>

namespace kelvane::testing {

inline bool Is(const QImage& image, int x, int y, const QColor& colour) {
  return (image.pixel(x, y) & 0xffffffu) == (colour.rgb() & 0xffffffu);
}

inline int CountColour(const QImage& image, const QColor& colour, QRect area = {}) {
  if (area.isNull()) area = image.rect();
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) n += Is(image, x, y, colour) ? 1 : 0;
  }
  return n;
}

// Rows (top to bottom) in which `colour` occurs in column x; -1 when none.
inline int FirstRowWith(const QImage& image, int x, const QColor& colour) {
  for (int y = 0; y < image.height(); ++y) {
    if (Is(image, x, y, colour)) return y;
  }
  return -1;
}

inline int LastRowWith(const QImage& image, int x, const QColor& colour) {
  for (int y = image.height() - 1; y >= 0; --y) {
    if (Is(image, x, y, colour)) return y;
  }
  return -1;
}

}  // namespace kelvane::testing
