// SPDX-License-Identifier: GPL-3.0-or-later
// Font choice shared by the controls, the windows and the plot layer.
#include "Fonts.h"

#include <QFontMetricsF>
#include <cmath>

namespace kelvane::fonts {

namespace {
constexpr int kDesignDpi = 96;
constexpr int kPointsPerInch = 72;

int pixelsFromPoints(int points) {
  // Rounded as the classic interface does (MulDiv): 8 pt -> 11 px.
  return (points * kDesignDpi + kPointsPerInch / 2) / kPointsPerInch;
}
}  // namespace

QFont uiFont() {
  QFont f(QString::fromLatin1(kFace));
  f.setPixelSize(pixelsFromPoints(8));
  f.setStyleHint(QFont::SansSerif);
  return f;
}

QFont arialFont(int points) {
  QFont f(QString::fromLatin1(kFace));
  f.setPixelSize(pixelsFromPoints(points));
  f.setStyleHint(QFont::SansSerif);
  return f;
}

int characterHeight(const QFont& font) {
  const QFontMetricsF fm(font);
  return static_cast<int>(std::ceil(fm.ascent())) + static_cast<int>(std::ceil(fm.descent()));
}

}  // namespace kelvane::fonts
