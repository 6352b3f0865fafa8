// SPDX-License-Identifier: GPL-3.0-or-later
// A window with the two-sided spectrum of the output as I + jQ (kHz across, dB up) and the
// image rejection beside it; the owner hands it the output captures once a second.
#pragma once

#include <QImage>
#include <QWidget>
#include <span>

#include "ComplexSpectrum.h"
#include "PlotLayer.h"

class QLabel;

namespace kelvane {

inline constexpr float kComplexSpectrumFloor_dB = -120.0f;

// Draws the spectrum on the whole of `surface`: the plot layer's curve, with the kHz and dB
// labels and grid that the layer leaves out.
void PaintComplexSpectrum(QPaintDevice& surface, const ComplexSpectrum& spectrum,
                          PlotContext& plot);

class ComplexSpectrumView : public QWidget {
  Q_OBJECT
 public:
  explicit ComplexSpectrumView(QWidget* parent = nullptr);
  // Takes the I and Q samples (16-bit counts) at `rate`, updates the read-out and repaints.
  void SetCaptures(std::span<const float> i, std::span<const float> q, int rate);
  const ComplexSpectrum& Spectrum() const { return spectrum_; }
  QString ReadoutText() const;
  // Draws into the off-screen image at the plot's size and returns it.
  const QImage& RenderFrame();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  ComplexSpectrum spectrum_;
  PlotContext plot_;
  QImage frame_;
  QWidget* plotArea_ = nullptr;
  QLabel* readout_ = nullptr;
};

}  // namespace kelvane
