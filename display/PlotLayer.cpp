// SPDX-License-Identifier: GPL-3.0-or-later
// Plot layer on QPainter: scales, clipping to the plot rectangle, the dashed zero line and the
// pending pixel that a width-1 line leaves at its end.
#include "PlotLayer.h"

#include <QFont>
#include <QPaintDevice>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kelvane {
namespace {

constexpr double kPixelMin = -32768.0;
constexpr double kPixelMax = 32767.0;

// Nearest integer, ties to even (the default rounding mode).
int Nearest(double v) {
  return static_cast<int>(std::nearbyint(v));
}

// Limits a pixel coordinate before rounding, so far-off values cannot overflow the canvas.
int PixelCoordinate(double v) {
  return Nearest(std::clamp(v, kPixelMin, kPixelMax));
}

bool SameRgb(const QColor& a, const QColor& b) {
  return a.red() == b.red() && a.green() == b.green() && a.blue() == b.blue();
}

// Liang-Barsky step for one edge: narrows [t0, t1], false when the segment lies outside.
bool ClipEdge(double p, double q, double& t0, double& t1) {
  if (p == 0.0) return q >= 0.0;
  const double r = q / p;
  if (p < 0.0) {
    if (r > t1) return false;
    if (r > t0) t0 = r;
  } else {
    if (r < t0) return false;
    if (r < t1) t1 = r;
  }
  return true;
}

}  // namespace

PlotContext::~PlotContext() {
  if (painter_.isActive()) painter_.end();
}

void PlotContext::PlotBegin(QPaintDevice* surface, const QColor& background,
                            const QColor& foreground, double textScale) {
  if (painter_.isActive()) PlotEnd();
  begun_ = false;
  areaSet_ = false;
  areaValid_ = false;
  xDefined_ = false;
  slots_ = {};
  currentSlot_ = -1;
  pending_ = {};
  rect_ = {};
  if (surface == nullptr || !painter_.begin(surface)) return;

  surfaceWidth_ = surface->width();
  surfaceHeight_ = surface->height();
  background_ = background;
  foreground_ = foreground;
  begun_ = true;

  painter_.setRenderHint(QPainter::Antialiasing, false);
  painter_.setBrush(QBrush(background, Qt::SolidPattern));
  QPen pen(foreground, multiplier_, Qt::SolidLine);
  painter_.setPen(pen);
  painter_.drawRect(0, 0, surfaceWidth_ - 1, surfaceHeight_ - 1);

  if (textScale == 0.0) textScale = 1.0;
  QFont font(QStringLiteral("Arial"));
  font.setPointSize(std::max(1, Nearest(8.0 * textScale * multiplier_)));
  painter_.setFont(font);
}

void PlotContext::PlotArea(double x1, double x2, double y1, double y2, int left, int right, int top,
                           int bottom, bool full) {
  if (!begun_) return;
  FlushPending();
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  x1 = std::clamp(x1, 0.0, 100.0);
  x2 = std::clamp(x2, 0.0, 100.0);
  y1 = std::clamp(y1, 0.0, 100.0);
  y2 = std::clamp(y2, 0.0, 100.0);

  const int xa = Nearest(x1 / 100.0 * surfaceWidth_);
  const int xb = Nearest(x2 / 100.0 * surfaceWidth_);
  const int ya = Nearest(y1 / 100.0 * surfaceHeight_);
  const int yb = Nearest(y2 / 100.0 * surfaceHeight_);
  const int l = xa + multiplier_ * left;
  const int r = xb - multiplier_ * right;
  const int t = ya + multiplier_ * top;
  const int b = yb - multiplier_ * bottom;
  rect_ = {l, t, r - l, b - t};
  areaValid_ = rect_.width >= 1 && rect_.height >= 1;
  areaSet_ = true;
  full_ = full;

  slots_ = {};
  currentSlot_ = -1;
  QPen pen = painter_.pen();
  pen.setWidth(multiplier_);
  pen.setStyle(Qt::SolidLine);
  painter_.setPen(pen);
  painter_.setBrush(QBrush(background_, Qt::SolidPattern));
}

QColor PlotContext::EffectiveColour(const QColor& colour) const {
  // An axis in the background colour stays invisible; its zero line then uses the foreground.
  return SameRgb(colour, background_) ? foreground_ : colour;
}

bool PlotContext::PlotXAxis(const QColor& colour, const QString& /*title*/, bool /*grid*/,
                            double minimum, double maximum, double /*step*/) {
  if (!begun_) return false;
  FlushPending();
  if (!areaValid_ || minimum == maximum || std::isnan(minimum) || std::isnan(maximum)) {
    return false;
  }
  xMin_ = minimum;
  xMax_ = maximum;
  xDefined_ = true;
  SetPenColor(EffectiveColour(colour));
  return true;
}

bool PlotContext::PlotYAxis(const QColor& colour, const QString& /*title*/, int position,
                            float minimum, float maximum, float /*step*/, bool /*grid*/) {
  if (!begun_) return false;
  FlushPending();
  if (position == 0) position = 1;
  if (!areaValid_ || position < 1 || position > 8 || minimum == maximum || std::isnan(minimum) ||
      std::isnan(maximum)) {
    return false;
  }
  int slot = 0;
  switch (position) {
    case 2:
      slot = 1;
      break;
    case 3:
      slot = 2;
      break;
    case 4:
    case 7:
    case 8:
      slot = 3;
      break;
    default:
      slot = 0;
      break;
  }
  const QColor effective = EffectiveColour(colour);
  slots_[static_cast<std::size_t>(slot)] = {true, minimum, maximum, effective};
  currentSlot_ = slot;
  SetPenColor(effective);

  // The zero line: every other group of four pixels along the row of 0, starting on at the left
  // edge; not on the bottom row, where it would hide the x axis.
  const double lo = static_cast<double>(minimum);
  const double hi = static_cast<double>(maximum);
  const double fy = rect_.Bottom() - rect_.height * (0.0 - lo) / (hi - lo);
  const int row = PixelCoordinate(fy);
  if (row >= rect_.top && row < rect_.Bottom()) {
    points_.clear();
    for (int e = 0; e <= rect_.width / multiplier_; ++e) {
      if ((e & 4) == 0) points_.emplace_back(rect_.left + e * multiplier_, row);
    }
    QPen pen = painter_.pen();
    const QPen saved = pen;
    pen.setWidth(1);
    painter_.setPen(pen);
    painter_.drawPoints(points_.data(), static_cast<int>(points_.size()));
    painter_.setPen(saved);
  }
  return true;
}

void PlotContext::PlotLineWidth(int k) {
  if (!begun_ || k <= 0) return;
  QPen pen = painter_.pen();
  pen.setWidth(k * multiplier_);
  painter_.setPen(pen);
}

void PlotContext::SetPenColor(const QColor& colour) {
  if (!painter_.isActive()) return;
  QPen pen = painter_.pen();
  pen.setColor(colour);
  painter_.setPen(pen);
}

std::optional<QPoint> PlotContext::ToPixel(double x, double y, const YSlot& slot) const {
  if (!xDefined_ || !slot.defined || std::isnan(x) || std::isnan(y)) return std::nullopt;
  const double ymin = static_cast<double>(slot.minimum);
  const double ymax = static_cast<double>(slot.maximum);
  const double px = rect_.left + rect_.width * (x - xMin_) / (xMax_ - xMin_);
  const double py = rect_.Bottom() - rect_.height * (y - ymin) / (ymax - ymin);
  if (std::isnan(px) || std::isnan(py)) return std::nullopt;
  return QPoint(PixelCoordinate(px), PixelCoordinate(py));
}

std::optional<QPoint> PlotContext::ValueToPixel(double x, double y) const {
  if (currentSlot_ < 0) return std::nullopt;
  return ToPixel(x, y, slots_[static_cast<std::size_t>(currentSlot_)]);
}

void PlotContext::FlushPending() {
  if (!pending_.set) return;
  pending_.set = false;
  const QPen saved = painter_.pen();
  QPen pen(pending_.colour, 1);
  painter_.setPen(pen);
  painter_.drawPoint(pending_.position);
  painter_.setPen(saved);
}

void PlotContext::DefineSlotFromData(int slot, const Tdatatype& table, int column) {
  // Only reached when the caller drew without defining an axis: span the data with a margin.
  float lo = 0.0f;
  float hi = 0.0f;
  bool any = false;
  for (int r = table.FirstDataRow(); r < table.RowCount(); ++r) {
    const float v = table.At(r, column);
    if (std::isnan(v)) continue;
    lo = any ? std::min(lo, v) : v;
    hi = any ? std::max(hi, v) : v;
    any = true;
  }
  float margin = (hi - lo) / 20.0f;
  if (margin == 0.0f) margin = 1.0f;
  slots_[static_cast<std::size_t>(slot)] = {true, lo - margin, hi + margin, foreground_};
}

void PlotContext::PlotCurves(const Tdatatype& table, int lineStyle, int /*markerKind*/) {
  if (!begun_) return;
  const int first = table.FirstDataRow();
  const int columns = table.ValueColumns();
  if (first >= table.RowCount() || columns < 1) return;
  FlushPending();  // the move to the first point paints what the last line left

  if (!areaSet_) PlotArea(0.0, 100.0, 0.0, 100.0, 35, 20, 25, 35, false);
  if (!areaValid_) return;
  if (!xDefined_) {
    const double x0 = static_cast<double>(table.At(first, 0));
    const double x1 = static_cast<double>(table.At(table.RowCount() - 1, 0));
    double margin = (x1 - x0) / 20.0;
    if (margin == 0.0) margin = 1.0;
    if (std::isnan(margin)) return;
    xMin_ = x0 - margin;
    xMax_ = x1 + margin;
    xDefined_ = true;
  }
  if (lineStyle != 1) return;  // markers are not drawn by this layer

  if (columns == 1) {
    if (currentSlot_ < 0) {
      DefineSlotFromData(0, table, 1);
      currentSlot_ = 0;
    }
    DrawColumn(table, 1, slots_[static_cast<std::size_t>(currentSlot_)]);
    return;
  }
  for (int k = 1; k <= columns; ++k) {
    const float header = table.At(0, k);
    if (!(header > 0.0f && header < 5.0f)) continue;  // outside 1 .. 4 (or NaN): excluded
    const int slot = Nearest(static_cast<double>(header)) - 1;
    if (slot < 0 || slot > 3) continue;
    if (!slots_[static_cast<std::size_t>(slot)].defined) DefineSlotFromData(slot, table, k);
    SetPenColor(slots_[static_cast<std::size_t>(slot)].colour);
    DrawColumn(table, k, slots_[static_cast<std::size_t>(slot)]);
  }
}

void PlotContext::DrawColumn(const Tdatatype& table, int column, const YSlot& slot) {
  std::optional<QPoint> previous;
  for (int r = table.FirstDataRow(); r < table.RowCount(); ++r) {
    const auto point = ToPixel(static_cast<double>(table.At(r, 0)),
                               static_cast<double>(table.At(r, column)), slot);
    if (previous && point) DrawSegment(*previous, *point);
    previous = point;
  }
}

void PlotContext::DrawSegment(QPoint from, QPoint to) {
  FlushPending();
  const int left = full_ ? 0 : rect_.left;
  const int right = full_ ? surfaceWidth_ - 1 : rect_.Right();
  const int top = full_ ? 0 : rect_.top;
  const int bottom = full_ ? surfaceHeight_ - 1 : rect_.Bottom();

  const double dx = to.x() - from.x();
  const double dy = to.y() - from.y();
  double t0 = 0.0;
  double t1 = 1.0;
  if (!ClipEdge(-dx, from.x() - left, t0, t1) || !ClipEdge(dx, right - from.x(), t0, t1) ||
      !ClipEdge(-dy, from.y() - top, t0, t1) || !ClipEdge(dy, bottom - from.y(), t0, t1)) {
    return;  // wholly outside
  }
  const auto cut = [&](double t) {
    return QPoint(std::clamp(Nearest(from.x() + t * dx), left, right),
                  std::clamp(Nearest(from.y() + t * dy), top, bottom));
  };
  const QPoint start = t0 > 0.0 ? cut(t0) : from;
  const bool endCut = t1 < 1.0;
  const QPoint end = endCut ? cut(t1) : to;

  if (painter_.pen().width() > 1) {
    painter_.drawLine(start, end);
    return;
  }
  // A width-1 line stops one pixel short of its end. An end cut at the edge is painted at once
  // (the line runs one pixel past the edge); an end inside becomes the pending pixel, which the
  // next segment starts on or PlotEnd paints.
  DrawPixelRun(start, end, endCut);
  if (!endCut) pending_ = {true, end, painter_.pen().color()};
}

void PlotContext::DrawPixelRun(QPoint from, QPoint to, bool includeEnd) {
  points_.clear();
  int x = from.x();
  int y = from.y();
  const int dx = std::abs(to.x() - x);
  const int dy = -std::abs(to.y() - y);
  const int sx = x < to.x() ? 1 : -1;
  const int sy = y < to.y() ? 1 : -1;
  int err = dx + dy;
  while (x != to.x() || y != to.y()) {
    points_.emplace_back(x, y);
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
  if (includeEnd) points_.push_back(to);
  if (!points_.empty()) painter_.drawPoints(points_.data(), static_cast<int>(points_.size()));
}

void PlotContext::PlotEnd() {
  if (!begun_) return;
  FlushPending();
  painter_.end();
  begun_ = false;
}

}  // namespace kelvane
