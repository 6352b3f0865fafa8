// SPDX-License-Identifier: GPL-3.0-or-later
// Level meter: segment scale, zones, and incremental drawing of the lit segments.
#include "FBVUMeter.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {
QColor halfBright(const QColor& c) {
  const QColor rgb = c.toRgb();
  return QColor(rgb.red() / 2, rgb.green() / 2, rgb.blue() / 2);
}
}  // namespace

TFBVUMeter::TFBVUMeter(QWidget* parent) : TDrawBox(parent) {
  resize(32, 152);
  recompute();
}

void TFBVUMeter::changed() {
  recompute();
  if (!bitmap().isNull()) redrawAll();
  update();
}

void TFBVUMeter::setLevelMax(int db) {
  levelMax_ = db < levelMin_ ? levelMin_ + 1 : db;
  changed();
}

void TFBVUMeter::setLevelMin(int db) {
  levelMin_ = db > levelMax_ ? levelMax_ - 1 : db;
  changed();
}

void TFBVUMeter::setLevelHigh(int db) {
  levelHigh_ = std::clamp(db, std::min(levelMin_, levelMax_), std::max(levelMin_, levelMax_));
  changed();
}

void TFBVUMeter::setLevelMed(int db) {
  levelMed_ = std::clamp(db, std::min(levelMin_, levelMax_), std::max(levelMin_, levelMax_));
  changed();
}

void TFBVUMeter::setColorHigh(const QColor& c) {
  colorHigh_ = c;
  changed();
}

void TFBVUMeter::setColorMed(const QColor& c) {
  colorMed_ = c;
  changed();
}

void TFBVUMeter::setColorLow(const QColor& c) {
  colorLow_ = c;
  changed();
}

void TFBVUMeter::setStereo(bool on) {
  if (on == stereo_) return;
  stereo_ = on;
  changed();
}

void TFBVUMeter::setPenWidth(int w) {
  if (w == penWidth_) return;
  penWidth_ = w;
  if (!bitmap().isNull()) redrawAll();
  update();
}

void TFBVUMeter::recompute() {
  int n = (height() - 2) / 3 - 1;
  if (n <= 0) n = 1;  // a meter too low for two segments still has two
  top_ = std::min(n, kMaxTop);
  const int r = std::max(1, levelMax_ - levelMin_);
  for (int i = 0; i <= top_; ++i) {
    threshold_[static_cast<size_t>(i)] =
        std::pow(10.0, -static_cast<double>(top_ - i) * r / (20.0 * top_));
  }
  medBound_ = top_ - static_cast<int>(
                         std::nearbyint(static_cast<double>(levelMax_ - levelMed_) * top_ / r));
  highBound_ = top_ - static_cast<int>(
                          std::nearbyint(static_cast<double>(levelMax_ - levelHigh_) * top_ / r));
  unlitHigh_ = halfBright(colorHigh_);
  unlitMed_ = halfBright(colorMed_);
  unlitLow_ = halfBright(colorLow_);
}

QColor TFBVUMeter::segmentColor(int i, bool lit) const {
  if (i > highBound_) return lit ? colorHigh_ : unlitHigh_;
  if (i > medBound_) return lit ? colorMed_ : unlitMed_;
  return lit ? colorLow_ : unlitLow_;
}

int TFBVUMeter::barLeft(int bar) const {
  return bar == 0 ? 1 : width() / 2 + 1;
}

int TFBVUMeter::barRight(int bar) const {
  return (stereo_ && bar == 0) ? width() / 2 - 2 : width() - 2;
}

QRect TFBVUMeter::segmentRect(int bar, int i) const {
  // A line of penWidth centred on y, as a thick pen covers it: rows y - w/2 .. y - w/2 + w - 1.
  const int y = segmentY(i) - penWidth_ / 2;
  return QRect(QPoint(barLeft(bar), y), QPoint(barRight(bar), y + std::max(1, penWidth_) - 1));
}

void TFBVUMeter::drawSegment(QPainter& p, int bar, int i, bool lit) {
  const QRect r = segmentRect(bar, i);
  p.fillRect(r, segmentColor(i, lit));
  dirty_ |= r;
  ++drawnLastUpdate_;
}

void TFBVUMeter::redrawAll() {
  QImage& img = canvas();
  if (img.isNull()) return;
  QPainter p(&img);
  p.fillRect(img.rect(), backGroundColor());
  const int bars = stereo_ ? 2 : 1;
  for (int bar = 0; bar < bars; ++bar) {
    for (int i = 0; i <= top_; ++i) drawSegment(p, bar, i, false);
  }
  lit_ = {0, 0};
}

void TFBVUMeter::updateBar(QPainter& p, int bar, float level) {
  const double x = static_cast<double>(level);
  int c = lit_[static_cast<size_t>(bar)];
  if (x > threshold_[static_cast<size_t>(c)]) {
    while (c < top_ && x > threshold_[static_cast<size_t>(c)]) {
      drawSegment(p, bar, c, true);
      ++c;
    }
  } else {
    while (c > 0 && x <= threshold_[static_cast<size_t>(c - 1)]) {
      --c;
      drawSegment(p, bar, c, false);
    }
  }
  lit_[static_cast<size_t>(bar)] = c;
}

void TFBVUMeter::SetLevels(float left, float right) {
  syncSize();
  drawnLastUpdate_ = 0;
  dirty_ = QRect();
  {
    QPainter p(&canvas());
    updateBar(p, 0, left);
    if (stereo_) updateBar(p, 1, right);
  }
  // Straight to the screen, without waiting for the next paint cycle.
  if (!dirty_.isEmpty() && isVisible()) repaint(dirty_);
}
