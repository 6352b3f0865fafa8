// SPDX-License-Identifier: GPL-3.0-or-later
// The oscilloscope surface: PaintBox1Paint and the widget that shows its picture without flicker.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

#include "PlotLayer.h"
#include "ScopeCurves.h"
#include "Spectrum.h"

class QPaintDevice;

namespace kelvane {

inline const QColor kScopeBackground(0, 0, 39);
inline const QColor kScopeForeground(64, 64, 64);
inline const QColor kScopeCurve1(0, 255, 0);
inline const QColor kScopeCurve2(0, 255, 255);
inline constexpr int kScopeWidth = 367;
inline constexpr int kScopeHeight = 218;

// Draws the view `scopeFunc` of `captures` on the whole of `surface` with the plot layer.
void PaintBox1Paint(QPaintDevice& surface, const ScopeCaptures& captures, int scopeFunc,
                    bool preamp, SpectrumAnalyzer& spectrum, PlotContext& plot);

// Stands in for the paint area of the "Oscilloscope" group. The owner copies the engine's
// captures in (Captures() or SetCaptures) and calls update() to show them; changing the view or
// Preamp takes effect at the next repaint, as a view button does. Each repaint draws into an
// off-screen image and copies it to the screen in one operation.
class ScopeView : public QWidget {
  Q_OBJECT

 public:
  explicit ScopeView(QWidget* parent = nullptr);

  int ScopeFunc() const { return scopeFunc_; }
  bool Preamp() const { return preamp_; }
  ScopeCaptures& Captures() { return captures_; }
  const ScopeCaptures& Captures() const { return captures_; }
  void SetCaptures(const ScopeCaptures& captures) { captures_ = captures; }

  // Draws the current view into the off-screen image at the widget's size and returns it.
  const QImage& RenderFrame();
  // The image of the last repaint.
  const QImage& Frame() const { return frame_; }

  QSize sizeHint() const override { return {kScopeWidth, kScopeHeight}; }
  QSize minimumSizeHint() const override { return {kScopeWidth, kScopeHeight}; }

 public slots:
  void SetScopeFunc(int scopeFunc) { scopeFunc_ = scopeFunc; }
  void SetPreamp(bool on) { preamp_ = on; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  ScopeCaptures captures_;
  int scopeFunc_ = ScopeOutput;
  bool preamp_ = false;
  SpectrumAnalyzer spectrum_;
  PlotContext plot_;
  QImage frame_;
};

}  // namespace kelvane
