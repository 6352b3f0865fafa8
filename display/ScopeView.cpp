// SPDX-License-Identifier: GPL-3.0-or-later
// Oscilloscope painting: curves from the captures, drawn through the plot layer off-screen.
#include "ScopeView.h"

#include <QPaintDevice>
#include <QPainter>
#include <QSizePolicy>

namespace kelvane {

void PaintBox1Paint(QPaintDevice& surface, const ScopeCaptures& captures, int scopeFunc,
                    bool preamp, SpectrumAnalyzer& spectrum, PlotContext& plot) {
  const ScopeCurves curves = BuildScopeCurves(captures, scopeFunc, preamp, spectrum);

  plot.PlotBegin(&surface, kScopeBackground, kScopeForeground, 0.8);
  plot.PlotArea(0.0, 100.0, 0.0, 100.0, 5, 10, 3, 15, false);
  // Both axes in the background colour: no axis lines, ticks or labels, only the zero line.
  plot.PlotXAxis(kScopeBackground, QString(), false, 0.0, curves.xMax);
  plot.PlotYAxis(kScopeBackground, QString(), 2, -32768.0f, 32768.0f, 0.0f, false);
  plot.PlotLineWidth(1);
  plot.SetPenColor(kScopeCurve1);
  plot.PlotCurves(curves.curve1, 1, 2);
  if (curves.drawCurve2) {
    plot.SetPenColor(kScopeCurve2);
    plot.PlotCurves(curves.curve2, 1, 2);
  }
  plot.PlotEnd();
}

ScopeView::ScopeView(QWidget* parent) : QWidget(parent) {
  // Every pixel is painted from the off-screen image: no background erase, no flicker.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  resize(kScopeWidth, kScopeHeight);
}

const QImage& ScopeView::RenderFrame() {
  const QSize s = size().isEmpty() ? QSize(kScopeWidth, kScopeHeight) : size();
  if (frame_.size() != s) frame_ = QImage(s, QImage::Format_RGB32);
  PaintBox1Paint(frame_, captures_, scopeFunc_, preamp_, spectrum_, plot_);
  return frame_;
}

void ScopeView::paintEvent(QPaintEvent* /*event*/) {
  RenderFrame();
  QPainter painter(this);
  painter.drawImage(0, 0, frame_);
}

}  // namespace kelvane
