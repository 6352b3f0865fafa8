// SPDX-License-Identifier: GPL-3.0-or-later
// Plot layer: x/y line graphs of Tdatatype tables drawn with QPainter on a paint device.
#pragma once

#include <QColor>
#include <QPainter>
#include <QPoint>
#include <QString>
#include <array>
#include <optional>
#include <vector>

#include "DataTable.h"

class QPaintDevice;

namespace kelvane {

// The plot rectangle in surface pixels; its edge columns are left and left + width, its edge
// rows top and top + height, all of them inside it.
struct PlotRectangle {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int Right() const { return left + width; }
  int Bottom() const { return top + height; }
};

// One plot at a time: PlotBegin, PlotArea, the axes, PlotLineWidth and PlotCurves, PlotEnd, all
// inside one paint. Axis lines, ticks, labels, titles, grids, logarithmic axes and markers are
// not drawn; an axis only sets its scale and, for a y axis spanning 0, the dashed zero line.
class PlotContext {
 public:
  PlotContext() = default;
  PlotContext(const PlotContext&) = delete;
  PlotContext& operator=(const PlotContext&) = delete;
  ~PlotContext();

  // Opens a painter on `surface`, fills it with the background inside a one-pixel border in the
  // foreground colour and clears all axes. A text scale of 0 counts as 1.
  void PlotBegin(QPaintDevice* surface, const QColor& background, const QColor& foreground,
                 double textScale);
  // Places the plot rectangle at x1 .. x2 % of the width and y1 .. y2 % of the height, inset by
  // the four margins. With `full` clear curves are clipped to the rectangle, otherwise to the
  // surface.
  void PlotArea(double x1, double x2, double y1, double y2, int left, int right, int top,
                int bottom, bool full);
  // Defines the x scale; false (nothing defined) when minimum == maximum or the area is invalid.
  bool PlotXAxis(const QColor& colour, const QString& title, bool grid, double minimum,
                 double maximum, double step = 0.0);
  // Defines the y scale of the slot chosen by `position` (1, 5, 6: slot 1; 2: slot 2; 3: slot 3;
  // 4, 7, 8: slot 4; 0 counts as 1) and makes it current; draws the zero line when 0 falls on a
  // row of the rectangle other than its bottom row.
  bool PlotYAxis(const QColor& colour, const QString& title, int position, float minimum,
                 float maximum, float step = 0.0f, bool grid = false);
  void PlotLineWidth(int k);
  // Draws every value column of `table`; line style 1 joins consecutive points with lines.
  void PlotCurves(const Tdatatype& table, int lineStyle, int markerKind);
  // Paints the pending pixel and closes the painter.
  void PlotEnd();

  // The canvas of the current plot, for setting the pen colour between calls.
  QPainter& Canvas() { return painter_; }
  void SetPenColor(const QColor& colour);

  bool Begun() const { return begun_; }
  bool AreaValid() const { return areaValid_; }
  const PlotRectangle& Rectangle() const { return rect_; }
  // Pixel of (x, y) on the x scale and the current y scale; none for a value that is not a number
  // or while either scale is missing. Coordinates are limited to -32768 .. 32767.
  std::optional<QPoint> ValueToPixel(double x, double y) const;

 private:
  struct YSlot {
    bool defined = false;
    float minimum = 0.0f;
    float maximum = 0.0f;
    QColor colour;
  };
  struct PendingPixel {
    bool set = false;
    QPoint position;
    QColor colour;
  };

  std::optional<QPoint> ToPixel(double x, double y, const YSlot& slot) const;
  void FlushPending();
  void DrawColumn(const Tdatatype& table, int column, const YSlot& slot);
  void DrawSegment(QPoint from, QPoint to);
  void DrawPixelRun(QPoint from, QPoint to, bool includeEnd);
  void DefineSlotFromData(int slot, const Tdatatype& table, int column);
  QColor EffectiveColour(const QColor& colour) const;

  QPainter painter_;
  int surfaceWidth_ = 0;
  int surfaceHeight_ = 0;
  QColor background_;
  QColor foreground_;
  int multiplier_ = 1;  // 1 on screen
  bool begun_ = false;
  bool areaSet_ = false;
  bool areaValid_ = false;
  bool full_ = false;
  PlotRectangle rect_;
  bool xDefined_ = false;
  double xMin_ = 0.0;
  double xMax_ = 0.0;
  std::array<YSlot, 4> slots_{};
  int currentSlot_ = -1;
  PendingPixel pending_;
  std::vector<QPoint> points_;  // reused pixel buffer
};

}  // namespace kelvane
