// SPDX-License-Identifier: GPL-3.0-or-later
// The spinner's internal parts: its gauge and the pop-up track bar, and the drawing helpers of
// its buttons.
#include "SpinParts.h"

#include <QPolygon>
#include <algorithm>
#include <cmath>

#include "Frame3D.h"

using kelvane::SysColor;
using kelvane::sysColor;
using kelvane::spinparts::roundToInt;

namespace kelvane::spinparts {

int roundToInt(double x) {
  if (!(x > -1e9)) return -1000000000;
  if (!(x < 1e9)) return 1000000000;
  return static_cast<int>(std::nearbyint(x));
}

void drawRaisedButton(QPainter& p, QRect r, const QPalette& pal, bool down) {
  p.fillRect(r, sysColor(pal, SysColor::BtnFace));
  if (down) {
    kelvane::frame3D(p, r, sysColor(pal, SysColor::BtnShadow), sysColor(pal, SysColor::BtnShadow),
                     1);
  } else {
    r = kelvane::frame3D(p, r, sysColor(pal, SysColor::BtnHighlight),
                         sysColor(pal, SysColor::DkShadow), 1);
    kelvane::frame3D(p, r, sysColor(pal, SysColor::BtnFace), sysColor(pal, SysColor::BtnShadow), 1);
  }
}

void drawArrowGlyph(QPainter& p, const QRect& r, Arrow dir, const QColor& c, int shift) {
  const int cx = r.left() + r.width() / 2 + shift;
  const int cy = r.top() + r.height() / 2 + shift;
  p.setPen(c);
  for (int i = 0; i < 3; ++i) {
    switch (dir) {
      case Arrow::Up:
        p.drawLine(cx - i, cy - 1 + i, cx + i, cy - 1 + i);
        break;
      case Arrow::Down:
        p.drawLine(cx - i, cy + 1 - i, cx + i, cy + 1 - i);
        break;
      case Arrow::Left:
        p.drawLine(cx - 1 + i, cy - i, cx - 1 + i, cy + i);
        break;
    }
  }
}

}  // namespace kelvane::spinparts

// ---------------------------------------------------------------------------------------------
// OffscreenCopy

void OffscreenCopy::draw(QPainter* painter) {
  QPoint offset;
  const QPixmap image = sourcePixmap(Qt::DeviceCoordinates, &offset, QGraphicsEffect::NoPad);
  if (image.isNull()) return;
  painter->save();
  painter->setWorldTransform(QTransform());  // the pixmap is already in device pixels
  painter->drawPixmap(offset, image);
  painter->restore();
}

// ---------------------------------------------------------------------------------------------
// TBMAGauge

TBMAGauge::TBMAGauge(TBMSpinEdit* spin) : QWidget(spin), spin_(spin) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::ArrowCursor);
  setObjectName(QStringLiteral("Gauge"));
}

void TBMAGauge::renderTo(QImage& img) {
  QPainter p(&img);
  const int W = img.width(), H = img.height();
  p.fillRect(0, 0, W, H, spin_->palette().color(QPalette::Base));

  const double lo = spin_->gaugeLow();
  const double hi = spin_->gaugeHigh();
  double span = hi - lo;
  if (!(span > 0)) span = 100;
  const int w = W - 1;
  const double v = spin_->value();
  const int b = std::min(w, roundToInt((v - lo) * w / span + 1));
  const double c = aroundCenter_;
  const bool twoSided = lo < c && c < hi;
  const int m = twoSided ? std::min(w, roundToInt((c - lo) * w / span + 1)) : 0;

  double vl = v;
  if (vl < lo) vl = lo;
  if (vl > hi) vl = hi;
  int f;
  if (twoSided) {
    f = vl > c ? roundToInt((vl - c) * 256 / (hi - c) + 1)
               : roundToInt((c - vl) * 256 / (c - lo) + 1);
  } else {
    f = roundToInt((vl - lo) * 256 / span + 1);
  }
  const QColor bc = beginColor().toRgb();
  const QColor ec = endColor().toRgb();
  auto mix = [f](int from, int to) { return std::clamp(from + (f * (to - from)) / 256, 0, 255); };
  const QColor bar(mix(bc.red(), ec.red()), mix(bc.green(), ec.green()), mix(bc.blue(), ec.blue()));

  if (twoSided) {
    if (v != c) {
      const int l = std::min(m, b), r = std::max(m, b);
      p.fillRect(QRect(l, 0, r - l, H).intersected(img.rect()), bar);
    }
    p.fillRect(QRect(m, 0, 1, H), sysColor(this, SysColor::WindowFrame));
  } else if (b > 0) {
    p.fillRect(QRect(0, 0, b, H), bar);
  }
  p.setPen(sysColor(this, SysColor::BtnFace));
  p.setBrush(Qt::NoBrush);
  p.drawRect(0, 0, W - 1, H - 1);
}

void TBMAGauge::paintEvent(QPaintEvent*) {
  if (width() <= 0 || height() <= 0) return;
  if (buffer_.size() != size()) buffer_ = QImage(size(), QImage::Format_RGB32);
  renderTo(buffer_);
  QPainter(this).drawImage(0, 0, buffer_);
}

void TBMAGauge::setValueFromX(int x) {
  const double lo = spin_->gaugeLow();
  const double span = spin_->gaugeHigh() - lo;
  if (!(span > 0) || width() <= 2) return;
  double v = lo + span * x / (width() - 2);
  if (incrementGauge_ > 0) v = incrementGauge_ * std::nearbyint(v / incrementGauge_);
  spin_->setValue(v);
}

void TBMAGauge::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  dragging_ = true;
  setValueFromX(static_cast<int>(e->position().x()));
  spin_->setFocus(Qt::OtherFocusReason);
  spin_->deselect();
}

void TBMAGauge::mouseMoveEvent(QMouseEvent* e) {
  if (dragging_) setValueFromX(static_cast<int>(e->position().x()));
}

void TBMAGauge::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !dragging_) return;
  setValueFromX(static_cast<int>(e->position().x()));
  dragging_ = false;
  if (spin_->autoSelect()) spin_->selectAll();
}

// ---------------------------------------------------------------------------------------------
// PopupTrackBar and TPopupForm

PopupTrackBar::PopupTrackBar(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
  setObjectName(QStringLiteral("TrackBar"));
}

void PopupTrackBar::setPosition(int p) {
  p = std::clamp(p, 0, kMax);
  if (p == position_) return;
  position_ = p;
  update();
}

void PopupTrackBar::setVertical(bool v) {
  if (v == vertical_) return;
  vertical_ = v;
  update();
}

int PopupTrackBar::thumbOffset() const {
  return 2 + roundToInt(static_cast<double>(position_) * std::max(0, travel()) / kMax);
}

int PopupTrackBar::channelStart() const {
  return 2 + kThumbLength / 2 - kThumbLength;
}

int PopupTrackBar::channelLength() const {
  return std::max(0, travel()) + kThumbLength;
}

void PopupTrackBar::paintEvent(QPaintEvent*) {
  if (buffer_.size() != size()) buffer_ = QImage(size(), QImage::Format_RGB32);
  {
    QPainter p(&buffer_);
    p.fillRect(buffer_.rect(), sysColor(this, SysColor::BtnFace));
    // Drawn lying along x, with the ticks on top; the vertical bar is the same picture transposed,
    // which puts the ticks on its left.
    if (vertical_) p.setTransform(QTransform(0, 1, 1, 0, 0, 0));
    const int thick = vertical_ ? width() : height();
    const int tr = std::max(0, travel());
    const QColor ink = palette().color(QPalette::WindowText);
    for (int t = 0; t <= kMax; t += kTickEvery) {
      const int x = 2 + kThumbLength / 2 + roundToInt(static_cast<double>(t) * tr / kMax);
      p.fillRect(QRect(x, 1, 1, 3), ink);
    }
    const int chanTop = std::max(6, thick / 2);
    const QRect chan(2 + kThumbLength / 2, chanTop, tr + 1, 4);
    kelvane::frame3D(p, chan, sysColor(this, SysColor::BtnShadow),
                     sysColor(this, SysColor::BtnHighlight), 1);
    const int l = thumbOffset();
    const int top = 5, bottom = std::min(thick - 2, chanTop + 9);
    const QPolygon thumb({QPoint(l, top + 5), QPoint(l + kThumbLength / 2, top),
                          QPoint(l + kThumbLength - 1, top + 5),
                          QPoint(l + kThumbLength - 1, bottom), QPoint(l, bottom)});
    p.setPen(sysColor(this, SysColor::DkShadow));
    p.setBrush(sysColor(this, SysColor::BtnFace));
    p.drawPolygon(thumb);
    p.setPen(sysColor(this, SysColor::BtnHighlight));
    p.drawLine(l + 1, top + 5, l + 1, bottom - 1);
    p.drawLine(l + 1, top + 5, l + kThumbLength / 2, top + 1);
  }
  QPainter(this).drawImage(0, 0, buffer_);
}

TPopupForm::TPopupForm(QWidget* owner)
    : QWidget(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                         Qt::WindowDoesNotAcceptFocus) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
  setObjectName(QStringLiteral("PopupForm"));
  bar_ = new PopupTrackBar(this);
}

void TPopupForm::resizeEvent(QResizeEvent*) {
  bar_->setGeometry(kBorder, kBorder, std::max(0, width() - 2 * kBorder),
                    std::max(0, height() - 2 * kBorder));
}

void TPopupForm::paintEvent(QPaintEvent*) {
  QImage img(size(), QImage::Format_RGB32);
  {
    QPainter p(&img);
    p.fillRect(img.rect(), sysColor(this, SysColor::BtnFace));
    kelvane::frame3D(p, img.rect(), sysColor(this, SysColor::BtnHighlight),
                     sysColor(this, SysColor::BtnShadow), 1);
  }
  QPainter(this).drawImage(0, 0, img);
}
