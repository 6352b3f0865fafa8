// SPDX-License-Identifier: GPL-3.0-or-later
// The input level meter: one or two bars of thin segments on a decibel scale in three zones.
#pragma once

#include <QColor>
#include <array>

#include "DrawBox.h"

class TFBVUMeter : public TDrawBox {
  Q_OBJECT
  Q_PROPERTY(int levelMax READ levelMax WRITE setLevelMax)
  Q_PROPERTY(int levelMin READ levelMin WRITE setLevelMin)
  Q_PROPERTY(int levelHigh READ levelHigh WRITE setLevelHigh)
  Q_PROPERTY(int levelMed READ levelMed WRITE setLevelMed)
  Q_PROPERTY(QColor colorHigh READ colorHigh WRITE setColorHigh)
  Q_PROPERTY(QColor colorMed READ colorMed WRITE setColorMed)
  Q_PROPERTY(QColor colorLow READ colorLow WRITE setColorLow)
  Q_PROPERTY(bool stereo READ stereo WRITE setStereo)
  Q_PROPERTY(int penWidth READ penWidth WRITE setPenWidth)

 public:
  static constexpr int kMaxTop = 100;  // highest segment index

  explicit TFBVUMeter(QWidget* parent = nullptr);

  // Levels as linear amplitudes, full scale 1.0. Draws only the segments that change.
  void SetLevels(float left, float right);

  int levelMax() const { return levelMax_; }
  void setLevelMax(int db);
  int levelMin() const { return levelMin_; }
  void setLevelMin(int db);
  int levelHigh() const { return levelHigh_; }
  void setLevelHigh(int db);
  int levelMed() const { return levelMed_; }
  void setLevelMed(int db);
  QColor colorHigh() const { return colorHigh_; }
  void setColorHigh(const QColor& c);
  QColor colorMed() const { return colorMed_; }
  void setColorMed(const QColor& c);
  QColor colorLow() const { return colorLow_; }
  void setColorLow(const QColor& c);
  bool stereo() const { return stereo_; }
  void setStereo(bool on);
  int penWidth() const { return penWidth_; }
  void setPenWidth(int w);

  // Derived tables, kept current with the size and the properties.
  int topSegment() const { return top_; }
  double threshold(int i) const { return threshold_[static_cast<size_t>(i)]; }
  int medZoneBound() const { return medBound_; }
  int highZoneBound() const { return highBound_; }
  QColor segmentColor(int i, bool lit) const;
  int segmentY(int i) const { return height() - 3 * i - 2; }
  int litCount(int bar) const { return lit_[static_cast<size_t>(bar)]; }
  // How many segments the last SetLevels drew.
  int segmentsDrawnLastUpdate() const { return drawnLastUpdate_; }
  // Horizontal extent (inclusive) of bar 0 (left, or the only one) or bar 1 (right).
  int barLeft(int bar) const;
  int barRight(int bar) const;

 protected:
  void redrawAll() override;
  void recompute() override;

 private:
  void changed();
  QRect segmentRect(int bar, int i) const;
  void drawSegment(QPainter& p, int bar, int i, bool lit);
  void updateBar(QPainter& p, int bar, float x);

  int levelMax_ = 0;
  int levelMin_ = -50;
  int levelHigh_ = -6;
  int levelMed_ = -12;
  QColor colorHigh_{255, 0, 0};
  QColor colorMed_{255, 255, 0};
  QColor colorLow_{0, 255, 0};
  bool stereo_ = true;
  int penWidth_ = 2;

  int top_ = 1;
  int medBound_ = 0;
  int highBound_ = 0;
  std::array<double, kMaxTop + 1> threshold_{};
  QColor unlitHigh_, unlitMed_, unlitLow_;
  std::array<int, 2> lit_{0, 0};
  int drawnLastUpdate_ = 0;
  QRect dirty_;
};
