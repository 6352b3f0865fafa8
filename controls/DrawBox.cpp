// SPDX-License-Identifier: GPL-3.0-or-later
// Off-screen bitmap base of the level meter.
#include "DrawBox.h"

#include <QPaintEvent>
#include <QPainter>

TDrawBox::TDrawBox(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  resize(50, 50);
}

void TDrawBox::setBackGroundColor(const QColor& c) {
  backGroundColor_ = c;
  if (!bitmap_.isNull()) redrawAll();
  update();
}

void TDrawBox::redrawAll() {
  QPainter p(&bitmap_);
  p.fillRect(bitmap_.rect(), backGroundColor_);
  p.setPen(palette().color(QPalette::WindowText));
  p.drawLine(0, 0, bitmap_.width() - 1, bitmap_.height() - 1);
  p.drawLine(0, bitmap_.height() - 1, bitmap_.width() - 1, 0);
}

bool TDrawBox::syncSize() {
  if (size() == lastSize_ && !bitmap_.isNull()) return false;
  lastSize_ = size();
  bitmap_ = QImage(lastSize_.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
  recompute();
  redrawAll();
  return true;
}

void TDrawBox::resizeEvent(QResizeEvent*) {
  if (syncSize()) update();
}

void TDrawBox::paintEvent(QPaintEvent* e) {
  syncSize();
  QPainter p(this);
  p.drawImage(e->rect(), bitmap_, e->rect());
}
