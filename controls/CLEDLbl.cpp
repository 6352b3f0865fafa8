// SPDX-License-Identifier: GPL-3.0-or-later
// Seven-segment read-out: glyph table, cell geometry and painting.
#include "CLEDLbl.h"

#include <QPainter>
#include <algorithm>

TCLEDLabel::TCLEDLabel(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setAttribute(Qt::WA_TransparentForMouseEvents);  // a read-out takes no input
  setFocusPolicy(Qt::NoFocus);
  resize(15, 34);
}

unsigned TCLEDLabel::glyphCode(QChar c) {
  switch (c.unicode()) {
    case '0':
      return 252;
    case '1':
      return 132;
    case '2':
      return 110;
    case '3':
      return 206;
    case '4':
      return 150;
    case '5':
      return 218;
    case '6':
      return 250;
    case '7':
      return 140;
    case '8':
      return 254;
    case '9':
      return 158;
    case '-':
      return 2;
    case '.':
      return 1;
    default:
      return 0;
  }
}

void TCLEDLabel::setText(const QString& t) {
  store(text_, t);
}
void TCLEDLabel::setNumChars(int n) {
  store(numChars_, std::max(1, n));
}
void TCLEDLabel::setAllowDecimal(bool on) {
  store(allowDecimal_, on);
}
void TCLEDLabel::setAlignment(TTextAlignment a) {
  store(alignment_, a);
}
void TCLEDLabel::setBorderGap(int g) {
  store(borderGap_, g);
}
void TCLEDLabel::setSegmentThickness(int t) {
  store(segmentThickness_, t);
}
void TCLEDLabel::setHorzMargine(int m) {
  store(horzMargine_, m);
}
void TCLEDLabel::setVertMargine(int m) {
  store(vertMargine_, m);
}
void TCLEDLabel::setOnColor(const QColor& c) {
  store(onColor_, c);
}
void TCLEDLabel::setOffColor(const QColor& c) {
  store(offColor_, c);
}
void TCLEDLabel::setSegmentBorderColor(const QColor& c) {
  store(segmentBorderColor_, c);
}
void TCLEDLabel::setBackGroundColor(const QColor& c) {
  store(backGroundColor_, c);
}

QString TCLEDLabel::paddedText() const {
  const int points = allowDecimal_ ? static_cast<int>(text_.count(QLatin1Char('.'))) : 0;
  const int want = numChars_ + points;
  if (text_.size() >= want) return text_;
  const QString blanks(want - text_.size(), QLatin1Char(' '));
  return alignment_ == TTARight ? blanks + text_ : text_ + blanks;
}

int TCLEDLabel::cellWidth() const {
  return width() / numChars_;
}

TCLEDLabel::CellGeometry TCLEDLabel::cellGeometry(int cell) const {
  const int c = cellWidth();
  const int L = cell * c, T = 0, R = cell * c + c, B = height();
  const int G = borderGap_, S = segmentThickness_, HM = horzMargine_, VM = vertMargine_;
  const int x0 = L + G;
  const int x1 = R - G - 1 - (allowDecimal_ ? 2 * S : 0);
  const int y0 = T + G;
  const int y1 = (B - T) - G - 1;
  const int h = (y1 - y0) / 2;
  const int s = S / 2;
  CellGeometry g;
  g.top = QPolygon({QPoint(x0 + HM, y0), QPoint(x1 - HM, y0), QPoint(x1 - HM - S, y0 + S),
                    QPoint(x0 + HM + S, y0 + S)});
  g.bottom = QPolygon({QPoint(x0 + HM, y0 + 2 * h), QPoint(x1 - HM, y0 + 2 * h),
                       QPoint(x1 - HM - S, y0 + 2 * h - S), QPoint(x0 + HM + S, y0 + 2 * h - S)});
  g.upperLeft = QPolygon({QPoint(x0, y0 + VM), QPoint(x0, y0 + h - VM),
                          QPoint(x0 + S, y0 + h - VM - S), QPoint(x0 + S, y0 + VM + S)});
  g.lowerLeft = QPolygon({QPoint(x0, y0 + h + VM), QPoint(x0, y0 + 2 * h - VM),
                          QPoint(x0 + S, y0 + 2 * h - VM - S), QPoint(x0 + S, y0 + h + VM + S)});
  g.upperRight = QPolygon({QPoint(x1, y0 + VM), QPoint(x1, y0 + h - VM),
                           QPoint(x1 - S, y0 + h - VM - S), QPoint(x1 - S, y0 + VM + S)});
  g.lowerRight = QPolygon({QPoint(x1, y0 + h + VM), QPoint(x1, y0 + 2 * h - VM),
                           QPoint(x1 - S, y0 + 2 * h - VM - S), QPoint(x1 - S, y0 + h + VM + S)});
  g.middle = QPolygon({QPoint(x0 + HM, y0 + h), QPoint(x0 + HM + s, y0 + h - s),
                       QPoint(x1 - HM - s, y0 + h - s), QPoint(x1 - HM, y0 + h),
                       QPoint(x1 - HM - s, y0 + h + s), QPoint(x0 + HM + s, y0 + h + s)});
  // The box's right and bottom edges are exclusive, as for the classic ellipse call.
  g.point = QRect(QPoint(x1 + S, y1 - h / 2), QPoint(x1 + 2 * S + s - 1, y1 - 1));
  return g;
}

void TCLEDLabel::drawCell(QPainter& p, int cell, unsigned code) const {
  const CellGeometry g = cellGeometry(cell);
  auto element = [&](const QPolygon& poly, unsigned bit) {
    const bool lit = (code & bit) != 0;
    p.setPen(lit ? segmentBorderColor_ : offColor_);
    p.setBrush(lit ? onColor_ : offColor_);
    p.drawPolygon(poly);
  };
  element(g.top, segTop);
  element(g.bottom, segBottom);
  element(g.upperLeft, segUpperLeft);
  element(g.lowerLeft, segLowerLeft);
  element(g.upperRight, segUpperRight);
  element(g.lowerRight, segLowerRight);
  element(g.middle, segMiddle);
  drawPoint(p, cell, (code & segPoint) != 0);
}

void TCLEDLabel::drawPoint(QPainter& p, int cell, bool lit) const {
  const QRect box = cellGeometry(cell).point;
  p.setPen(lit ? segmentBorderColor_ : offColor_);
  p.setBrush(lit ? onColor_ : offColor_);
  p.drawEllipse(box);
}

void TCLEDLabel::renderTo(QImage& img) const {
  QPainter p(&img);
  p.fillRect(img.rect(), backGroundColor_);
  const QString t = paddedText();
  int cell = 0;
  for (QChar ch : t) {
    if (ch == QLatin1Char('.') && allowDecimal_) {
      if (cell > 0) drawPoint(p, cell - 1, true);
      continue;
    }
    drawCell(p, cell, glyphCode(ch));
    ++cell;
  }
}

void TCLEDLabel::paintEvent(QPaintEvent*) {
  if (width() <= 0 || height() <= 0) return;
  if (buffer_.size() != size()) buffer_ = QImage(size(), QImage::Format_RGB32);
  renderTo(buffer_);
  QPainter(this).drawImage(0, 0, buffer_);
}
