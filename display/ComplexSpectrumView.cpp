// SPDX-License-Identifier: GPL-3.0-or-later
// The complex spectrum window: plot through the plot layer, axis labels, the read-out.
#include "ComplexSpectrumView.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>
#include <cmath>

#include "ScopeView.h"

namespace kelvane {

void PaintComplexSpectrum(QPaintDevice& surface, const ComplexSpectrum& s, PlotContext& plot) {
  plot.PlotBegin(&surface, kScopeBackground, kScopeForeground, 1.0);
  plot.PlotArea(0, 100, 0, 100, 44, 10, 8, 22, true);
  const double halfSpan_kHz =
      s.level_dB.empty() ? 96 : s.binWidth_Hz * static_cast<double>(s.level_dB.size()) / 2000;
  plot.PlotXAxis(kScopeForeground, QString(), false, -halfSpan_kHz, halfSpan_kHz);
  plot.PlotYAxis(kScopeBackground, QString(), 1, kComplexSpectrumFloor_dB, 0.0f);
  QPainter& p = plot.Canvas();
  const PlotRectangle r = plot.Rectangle();
  // Grid and labels: every 20 dB, and a kHz step that gives about eight divisions.
  p.setPen(QColor(48, 48, 96));
  p.setFont(QFont(QStringLiteral("Arial"), 7));
  for (int db = 0; db >= static_cast<int>(kComplexSpectrumFloor_dB); db -= 20) {
    if (const auto at = plot.ValueToPixel(0, db)) {
      p.setPen(QColor(48, 48, 96));
      p.drawLine(r.left, at->y(), r.Right(), at->y());
      p.setPen(kScopeCurve2);
      p.drawText(QRect(0, at->y() - 6, r.left - 4, 12), Qt::AlignRight | Qt::AlignVCenter,
                 QString::number(db) + QStringLiteral(" dB"));
    }
  }
  const double steps[] = {1, 2, 5, 10, 20, 25, 50, 100, 200, 500, 1000, 2000};
  double step = steps[0];
  for (const double st : steps) {
    if (2 * halfSpan_kHz / st >= 4) step = st;
  }
  for (double f = -std::floor(halfSpan_kHz / step) * step; f <= halfSpan_kHz; f += step) {
    if (const auto at = plot.ValueToPixel(f, kComplexSpectrumFloor_dB)) {
      p.setPen(QColor(48, 48, 96));
      p.drawLine(at->x(), r.top, at->x(), r.Bottom());
      p.setPen(kScopeCurve2);
      p.drawText(QRect(at->x() - 30, r.Bottom() + 3, 60, 14), Qt::AlignHCenter | Qt::AlignTop,
                 QString::number(f) + (f == 0 ? QStringLiteral(" kHz") : QString()));
    }
  }
  if (!s.level_dB.empty()) {
    const int n = static_cast<int>(s.level_dB.size());
    Tdatatype table = NewDataTable(n, 1);
    for (int k = 0; k < n; ++k) {
      table.At(k + 1, 0) = static_cast<float>((k - n / 2) * s.binWidth_Hz / 1000);
      table.At(k + 1, 1) =
          std::max(s.level_dB[static_cast<std::size_t>(k)], kComplexSpectrumFloor_dB);
    }
    plot.SetPenColor(kScopeCurve1);
    plot.PlotCurves(table, 1, 0);
  }
  plot.PlotEnd();
}

ComplexSpectrumView::ComplexSpectrumView(QWidget* parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("Complex spectrum (I + jQ) - Kelvane"));
  auto* layout = new QVBoxLayout(this);
  plotArea_ = new QWidget(this);
  plotArea_->setObjectName(QStringLiteral("ComplexSpectrumPlot"));
  plotArea_->setMinimumSize(560, 300);
  plotArea_->installEventFilter(this);
  readout_ = new QLabel(this);
  readout_->setObjectName(QStringLiteral("ImageRejection"));
  layout->addWidget(plotArea_, 1);
  layout->addWidget(readout_);
  readout_->setText(ReadoutText());
}

QString ComplexSpectrumView::ReadoutText() const {
  if (!spectrum_.imageRejection_dB) {
    return QStringLiteral("Image rejection: - (no carrier away from 0 Hz)    ") +
           QStringLiteral("A positive carrier offset shows at a negative frequency of I + jQ.");
  }
  return QStringLiteral("Image rejection: %1 dB (carrier at %2 kHz, image at %3 kHz)")
      .arg(*spectrum_.imageRejection_dB, 0, 'f', 1)
      .arg(*spectrum_.carrier_Hz / 1000, 0, 'f', 2)
      .arg(-*spectrum_.carrier_Hz / 1000, 0, 'f', 2);
}

void ComplexSpectrumView::SetCaptures(std::span<const float> i, std::span<const float> q,
                                      int rate) {
  spectrum_ = MakeComplexSpectrum(i, q, rate);
  readout_->setText(ReadoutText());
  plotArea_->update();
}

const QImage& ComplexSpectrumView::RenderFrame() {
  const QSize size = plotArea_->size().expandedTo(plotArea_->minimumSize());
  if (frame_.size() != size) frame_ = QImage(size, QImage::Format_RGB32);
  PaintComplexSpectrum(frame_, spectrum_, plot_);
  return frame_;
}

bool ComplexSpectrumView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == plotArea_ && event->type() == QEvent::Paint) {
    QPainter(plotArea_).drawImage(0, 0, RenderFrame());
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace kelvane
