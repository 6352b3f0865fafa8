// SPDX-License-Identifier: GPL-3.0-or-later
// The oscilloscope's context menu and the complex spectrum window it opens.
#include <QMenu>

#include "ComplexSpectrumView.h"
#include "MainWindow.h"
#include "ScopeView.h"

namespace kelvane {

void TForm1::AddScopeMenu() {
  paintBox1_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(paintBox1_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QMenu menu(paintBox1_);
    menu.setObjectName(QStringLiteral("ScopeMenu"));
    QAction* open = menu.addAction(QStringLiteral("Complex spectrum (I + jQ)..."));
    if (menu.exec(paintBox1_->mapToGlobal(at)) == open) ShowComplexSpectrum();
  });
}

void TForm1::ShowComplexSpectrum() {
  if (!complexSpectrum_) {
    // A window of its own, owned by the main window so it closes with it.
    complexSpectrum_ = new ComplexSpectrumView(this);
    complexSpectrum_->setWindowFlag(Qt::Window);
    complexSpectrum_->setObjectName(QStringLiteral("ComplexSpectrum"));
  }
  complexSpectrum_->show();
  complexSpectrum_->raise();
  FeedComplexSpectrum();
}

void TForm1::FeedComplexSpectrum() {
  if (!complexSpectrum_ || !complexSpectrum_->isVisible()) return;
  const ScopeCaptures& c = paintBox1_->Captures();
  complexSpectrum_->SetCaptures(c.CapOutI, c.CapOutQ, modulator_.FrameRate());
}

}  // namespace kelvane
