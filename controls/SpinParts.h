// SPDX-License-Identifier: GPL-3.0-or-later
// Internal parts of the value spinner: the button strip, the arrow pair and the drop-down button.
#pragma once

#include <QGraphicsEffect>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include "BMSpinEdit.h"

namespace kelvane::spinparts {

// Nearest integer, halves to even, kept inside the int range for absurd typed values.
int roundToInt(double x);

void drawRaisedButton(QPainter& p, QRect r, const QPalette& pal, bool down);

// A small filled triangle pointing up, down or left, centred in r.
enum class Arrow { Up, Down, Left };
void drawArrowGlyph(QPainter& p, const QRect& r, Arrow dir, const QColor& c, int shift);

}  // namespace kelvane::spinparts

// The panel in the button-face colour that carries the arrows and the drop-down button.
class ButtonStrip : public QWidget {
 public:
  explicit ButtonStrip(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    setObjectName(QStringLiteral("ButtonStrip"));
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (buffer_.size() != size()) buffer_ = QImage(size(), QImage::Format_RGB32);
    buffer_.fill(kelvane::sysColor(this, kelvane::SysColor::BtnFace));
    QPainter(this).drawImage(0, 0, buffer_);
  }

 private:
  QImage buffer_;
};

// The up/down arrow pair. A press steps at once and repeats while held.
class SpinArrows : public QWidget {
 public:
  SpinArrows(TBMSpinEdit* spin, QWidget* parent) : QWidget(parent), spin_(spin) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    setObjectName(QStringLiteral("ArrowPair"));
    repeat_.setSingleShot(false);
    QObject::connect(&repeat_, &QTimer::timeout, this, [this] {
      repeat_.setInterval(kRepeatInterval_ms);
      step();
    });
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (buffer_.size() != size()) buffer_ = QImage(size(), QImage::Format_RGB32);
    {
      QPainter p(&buffer_);
      const int half = height() / 2;
      const QRect up(0, 0, width(), half);
      const QRect down(0, half, width(), height() - half);
      kelvane::spinparts::drawRaisedButton(p, up, palette(), pressed_ == 1);
      kelvane::spinparts::drawRaisedButton(p, down, palette(), pressed_ == -1);
      const QColor glyph = isEnabled() ? palette().color(QPalette::ButtonText)
                                       : kelvane::sysColor(this, kelvane::SysColor::GrayText);
      kelvane::spinparts::drawArrowGlyph(p, up, kelvane::spinparts::Arrow::Up, glyph,
                                         pressed_ == 1 ? 1 : 0);
      kelvane::spinparts::drawArrowGlyph(p, down, kelvane::spinparts::Arrow::Down, glyph,
                                         pressed_ == -1 ? 1 : 0);
    }
    QPainter(this).drawImage(0, 0, buffer_);
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() != Qt::LeftButton) return;
    pressed_ = e->position().y() < height() / 2 ? 1 : -1;
    update();
    step();
    repeat_.start(kRepeatDelay_ms);
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() != Qt::LeftButton || pressed_ == 0) return;
    pressed_ = 0;
    repeat_.stop();
    update();
    if (spin_->autoSelect()) spin_->selectAll();
    spin_->gauge()->update();
  }

 private:
  static constexpr int kRepeatDelay_ms = 400;
  static constexpr int kRepeatInterval_ms = 60;
  void step() {
    if (pressed_ > 0) spin_->stepUp();
    if (pressed_ < 0) spin_->stepDown();
  }

  TBMSpinEdit* spin_;
  int pressed_ = 0;  // 1 up, -1 down
  QTimer repeat_;
  QImage buffer_;
};

// Has a widget and its children drawn into an off-screen pixmap and copies that in one piece:
// the way to double-buffer a widget whose painting Qt does itself, such as a line edit's.
class OffscreenCopy : public QGraphicsEffect {
 public:
  using QGraphicsEffect::QGraphicsEffect;

 protected:
  void draw(QPainter* painter) override;
};

// The drop-down button: held down from the press until the release, while the pop-up shows.
class DropDownButton : public QWidget {
 public:
  DropDownButton(TBMSpinEdit* spin, QWidget* parent) : QWidget(parent), spin_(spin) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    setObjectName(QStringLiteral("DropDownButton"));
  }
  bool isDown() const { return down_; }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (buffer_.size() != size()) buffer_ = QImage(size(), QImage::Format_RGB32);
    {
      QPainter p(&buffer_);
      kelvane::spinparts::drawRaisedButton(p, rect(), palette(), down_);
      const QColor glyph = isEnabled() ? palette().color(QPalette::ButtonText)
                                       : kelvane::sysColor(this, kelvane::SysColor::GrayText);
      const kelvane::spinparts::Arrow a = spin_->trackBarOrientation() == TBMSpinEdit::trVertical
                                              ? kelvane::spinparts::Arrow::Left
                                              : kelvane::spinparts::Arrow::Down;
      kelvane::spinparts::drawArrowGlyph(p, rect(), a, glyph, down_ ? 1 : 0);
    }
    QPainter(this).drawImage(0, 0, buffer_);
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() != Qt::LeftButton) return;
    down_ = true;
    spin_->dropDownPressed(e->globalPosition().toPoint());
    repaint();
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (down_ && (e->buttons() & Qt::LeftButton)) {
      spin_->dropDownMoved(e->globalPosition().toPoint());
    }
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() != Qt::LeftButton || !down_) return;
    down_ = false;
    spin_->dropDownReleased();
    update();
  }

 private:
  TBMSpinEdit* spin_;
  bool down_ = false;
  QImage buffer_;
};
