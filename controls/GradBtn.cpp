// SPDX-License-Identifier: GPL-3.0-or-later
// Gradient button: the six gradient styles, the frame, the shaded caption and the click rules.
#include "GradBtn.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QShortcutEvent>
#include <cmath>
#include <utility>

#include "Fonts.h"
#include "Frame3D.h"

namespace {

// Colour k of n steps from b to b + d, per channel, truncating toward zero.
QColor gradientStep(const QColor& b, const QColor& e, int k, int n) {
  if (n <= 0) return b;
  auto ch = [k, n](int from, int to) { return from + k * (to - from) / n; };
  return QColor(ch(b.red(), e.red()), ch(b.green(), e.green()), ch(b.blue(), e.blue()));
}

}  // namespace

TGradBtn::TGradBtn(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::StrongFocus);
  resize(75, 25);
}

TGradBtn::~TGradBtn() = default;

QString TGradBtn::displayText(const QString& caption) {
  QString out;
  for (int i = 0; i < caption.size(); ++i) {
    if (caption.at(i) == QLatin1Char('&')) {
      ++i;
      if (i >= caption.size()) break;
    }
    out += caption.at(i);
  }
  return out;
}

int TGradBtn::acceleratorIndex(const QString& caption) {
  int shown = 0;
  for (int i = 0; i < caption.size(); ++i) {
    if (caption.at(i) == QLatin1Char('&')) {
      ++i;
      if (i >= caption.size()) break;
      if (caption.at(i) != QLatin1Char('&')) return shown;
    }
    ++shown;
  }
  return -1;
}

void TGradBtn::setCaption(const QString& c) {
  if (c == caption_) return;
  caption_ = c;
  updateShortcut();
  update();
}

void TGradBtn::setBtnFrameSize(int s) {
  // A frame wider than this would leave no face for the caption.
  if (s > width() / 2 - 5 || s > height() / 2 - 5) return;
  store(frameSize_, s);
}

void TGradBtn::setImages(const QList<QPixmap>& list) {
  images_ = list;
  update();
}

void TGradBtn::updateShortcut() {
  if (shortcutId_ != 0) releaseShortcut(shortcutId_);
  shortcutId_ = 0;
  const QKeySequence seq = QKeySequence::mnemonic(caption_);
  if (!seq.isEmpty()) shortcutId_ = grabShortcut(seq);
}

void TGradBtn::paintGradient(QPainter& p, int W, int H) const {
  const QColor b = begin_.toRgb(), e = end_.toRgb();
  switch (style_) {
    case gsBHorizontal:
      for (int i = 0; i < 256; ++i) {
        const int x0 = i * W / 256, x1 = (i + 1) * W / 256;
        p.fillRect(QRect(x0, 0, x1 - x0, H), gradientStep(b, e, i, 255));
      }
      break;
    case gsBVertical:
      for (int i = 0; i < 256; ++i) {
        const int y0 = i * H / 256, y1 = (i + 1) * H / 256;
        p.fillRect(QRect(0, y0, W, y1 - y0), gradientStep(b, e, i, 255));
      }
      break;
    case gsElliptic: {
      p.setPen(Qt::NoPen);
      for (int i = 0; i <= 50; ++i) {
        const int r = (W + 2 * (W / 3)) * i / 100;
        const int t = (H + 2 * (H / 3)) * i / 100;
        const QPoint tl(-(W / 3) + r, -(H / 3) + t);
        const QPoint br(W + W / 3 - r, H + H / 3 - t);
        p.setBrush(gradientStep(b, e, i, 50));
        p.drawEllipse(QRect(tl, br - QPoint(1, 1)));
      }
      break;
    }
    case gsRectangle:
      for (int i = 0; i < 256; ++i) {
        const double fx = (i + 1) * static_cast<double>(W) / 510.0;
        const double fy = (i + 1) * static_cast<double>(H) / 510.0;
        const int l = static_cast<int>(fx), t = static_cast<int>(fy);
        const int r = static_cast<int>(W + 2 - fx), bo = static_cast<int>(H + 2 - fy);
        p.fillRect(QRect(QPoint(l, t), QPoint(r - 1, bo - 1)), gradientStep(b, e, i, 255));
      }
      break;
    case gsVertCenter: {
      // A button under 2 pixels high has no halves: its one row is the begin colour.
      const int h = H / 2;
      for (int i = 0; i <= h; ++i) {
        const QColor c = gradientStep(b, e, i, h);
        p.fillRect(QRect(0, i, W, 1), c);
        p.fillRect(QRect(0, H - 1 - i, W, 1), c);
      }
      break;
    }
    case gsHorizCenter: {
      const int w = W / 2;
      for (int i = 0; i <= w; ++i) {
        const QColor c = gradientStep(b, e, i, w);
        p.fillRect(QRect(i, 0, 1, H), c);
        p.fillRect(QRect(W - 1 - i, 0, 1, H), c);
      }
      break;
    }
  }
}

void TGradBtn::renderTo(QImage& img) {
  const int W = img.width(), H = img.height();
  QPainter p(&img);
  paintGradient(p, W, H);

  const QColor hi = btnHiliteClr(), sh = btnShadowClr();
  if (down_) {
    kelvane::frame3D(p, img.rect(), sh, hi, frameSize_);
  } else {
    kelvane::frame3D(p, img.rect(), hi, sh, frameSize_);
  }
  const int o = down_ ? 1 : 0;

  int glyphOffset = 0;
  if (!images_.isEmpty() && imageIndex_ >= 0 && imageIndex_ < images_.size()) {
    int idx = imageIndex_;
    if (!isEnabled() && idx + 1 < images_.size()) ++idx;
    const QPixmap& g = images_.at(idx);
    p.drawPixmap(margin_ + o, (H - g.height()) / 2 + o, g);
    glyphOffset = margin_ + spacing_ + g.width();
  }

  const QString shown = displayText(caption_);
  if (!shown.isEmpty()) {
    p.setFont(font());
    const QFontMetrics fm(font());
    const int tw = fm.horizontalAdvance(shown);
    const int th = kelvane::fonts::characterHeight(font());
    int x = 0;
    switch (justification_) {
      case jLeft:
        x = o + glyphOffset + 2;
        break;
      case jCenter:
        x = o + (W - tw) / 2;
        break;
      case jRight:
        x = W + o - tw - 2;
        break;
    }
    const int y = o + (H - th) / 2;
    auto pass = [&](const QColor& c, int dx, int dy) {
      p.setPen(c);
      p.drawText(QRect(x + dx, y + dy, tw + 4, th),
                 Qt::AlignLeft | Qt::AlignTop | Qt::TextShowMnemonic | Qt::TextSingleLine,
                 caption_);
    };
    const bool heavy = shade_ == stHeavy;
    if (!isEnabled() || textStyle_ == tsInset) {
      if (heavy) pass(txtShadowClr(), -1, -1);
      pass(txtHiliteClr(), 1, 1);
      pass(isEnabled() ? fontColor_ : disabledColor(), 0, 0);
    } else if (textStyle_ == tsRaised) {
      pass(txtHiliteClr(), -1, -1);
      if (heavy) pass(txtShadowClr(), 1, 1);
      pass(fontColor_, 0, 0);
    } else {
      pass(fontColor_, 0, 0);
    }
  }
  p.end();

  if (showFocus_ && hasFocus()) {
    // Dotted, inverting every other pixel of the ring from (2, 2) to (W - 3, H - 3).
    const int l = 2, t = 2, r = W - 3, b = H - 3;
    if (r >= l && b >= t) {
      auto invert = [&img](int x, int y) { img.setPixel(x, y, img.pixel(x, y) ^ 0x00FFFFFFu); };
      int k = 0;
      for (int x = l; x <= r; ++x, ++k)
        if (k % 2 == 0) invert(x, t);
      for (int y = t + 1; y <= b; ++y, ++k)
        if (k % 2 == 0) invert(r, y);
      if (b > t)
        for (int x = r - 1; x >= l; --x, ++k)
          if (k % 2 == 0) invert(x, b);
      if (r > l)
        for (int y = b - 1; y > t; --y, ++k)
          if (k % 2 == 0) invert(l, y);
    }
  }
}

void TGradBtn::paintEvent(QPaintEvent*) {
  if (width() <= 0 || height() <= 0) return;
  if (buffer_.size() != size()) buffer_ = QImage(size(), QImage::Format_RGB32);
  renderTo(buffer_);
  QPainter(this).drawImage(0, 0, buffer_);
}

void TGradBtn::swapPair() {
  std::swap(begin_, end_);
  swapped_ = !swapped_;
}

void TGradBtn::press() {
  down_ = true;
  if (swapColors_ && !swapped_) swapPair();
  repaint();
}

void TGradBtn::releaseLook() {
  if (swapped_) swapPair();
  down_ = false;
  repaint();
}

void TGradBtn::keyboardClick() {
  if (!isEnabled()) return;
  const QPointer<TGradBtn> self(this);
  const bool didSwap = swapColors_ && !swapped_;
  if (didSwap) swapPair();
  emit clicked();
  if (!self) return;
  if (didSwap && swapped_) swapPair();
  repaint();
}

void TGradBtn::mousePressEvent(QMouseEvent* e) {
  setFocus(Qt::MouseFocusReason);
  if (e->button() != Qt::LeftButton) return;
  leftHeld_ = true;
  if (!down_) press();
}

void TGradBtn::mouseMoveEvent(QMouseEvent* e) {
  if (!leftHeld_) return;
  const bool inside = rect().contains(e->position().toPoint());
  if (down_ && !inside) {
    releaseLook();
  } else if (!down_ && inside) {
    press();
  }
}

void TGradBtn::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !leftHeld_) return;
  leftHeld_ = false;
  if (!down_) return;
  const bool inside = rect().contains(e->position().toPoint());
  // The released look goes on screen before the click runs, which may take a while.
  releaseLook();
  if (inside) emit clicked();
}

void TGradBtn::keyPressEvent(QKeyEvent* e) {
  if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && !e->isAutoRepeat()) {
    keyboardClick();
    e->accept();
    return;
  }
  QWidget::keyPressEvent(e);
}

bool TGradBtn::event(QEvent* e) {
  if (e->type() == QEvent::Shortcut) {
    auto* se = static_cast<QShortcutEvent*>(e);
    if (se->shortcutId() == shortcutId_ && shortcutId_ != 0) {
      keyboardClick();
      return true;
    }
  }
  return QWidget::event(e);
}

void TGradBtn::enterEvent(QEnterEvent* e) {
  QWidget::enterEvent(e);
  emit mouseEntered();
}

void TGradBtn::leaveEvent(QEvent* e) {
  QWidget::leaveEvent(e);
  emit mouseLeft();
}

void TGradBtn::focusInEvent(QFocusEvent* e) {
  QWidget::focusInEvent(e);
  update();
}

void TGradBtn::focusOutEvent(QFocusEvent* e) {
  QWidget::focusOutEvent(e);
  update();
}

void TGradBtn::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::EnabledChange || e->type() == QEvent::FontChange) update();
}
