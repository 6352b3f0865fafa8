// The value spinner, its gauge, its arrow pair and drop-down button, and the pop-up track bar.
#include "BMSpinEdit.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <cmath>

#include "Fonts.h"
#include "Frame3D.h"
#include "SpinText.h"

using kelvane::SysColor;
using kelvane::sysColor;

namespace {

// Nearest integer, halves to even, kept inside the int range for absurd typed values.
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

// A small filled triangle pointing up, down or left, centred in r.
enum class Arrow { Up, Down, Left };
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

}  // namespace

// ---------------------------------------------------------------------------------------------
// Internal parts of the spinner.

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
    QPainter p(this);
    p.fillRect(rect(), sysColor(this, SysColor::BtnFace));
  }
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
      drawRaisedButton(p, up, palette(), pressed_ == 1);
      drawRaisedButton(p, down, palette(), pressed_ == -1);
      const QColor glyph =
          isEnabled() ? palette().color(QPalette::ButtonText) : sysColor(this, SysColor::GrayText);
      drawArrowGlyph(p, up, Arrow::Up, glyph, pressed_ == 1 ? 1 : 0);
      drawArrowGlyph(p, down, Arrow::Down, glyph, pressed_ == -1 ? 1 : 0);
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
      drawRaisedButton(p, rect(), palette(), down_);
      const QColor glyph =
          isEnabled() ? palette().color(QPalette::ButtonText) : sysColor(this, SysColor::GrayText);
      const Arrow a =
          spin_->trackBarOrientation() == TBMSpinEdit::trVertical ? Arrow::Left : Arrow::Down;
      drawArrowGlyph(p, rect(), a, glyph, down_ ? 1 : 0);
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

// ---------------------------------------------------------------------------------------------
// TBMSpinEdit

TBMSpinEdit::TBMSpinEdit(QWidget* parent) : QLineEdit(parent) {
  setFrame(false);  // the sunken edge is drawn here, 2 pixels wide as the layout expects
  setContentsMargins(kFrame, kFrame, kFrame, kFrame);
  setAcceptDrops(false);
  setDragEnabled(false);
  strip_ = new ButtonStrip(this);
  arrows_ = new SpinArrows(this, strip_);
  dropDown_ = new DropDownButton(this, strip_);
  gauge_ = new TBMAGauge(this);
  popup_ = new TPopupForm(this);
  connect(this, &QLineEdit::textChanged, this, &TBMSpinEdit::onTextChanged);
  setTextQuietly(format(0));
  resize(121, 28);
  updateMinimumHeight();
  relayout();
}

TBMSpinEdit::~TBMSpinEdit() = default;

QString TBMSpinEdit::format(double v) const {
  return kelvane::spintext::formatValue(v, precision_, unit_,
                                        kelvane::spintext::systemDecimalSeparator());
}

double TBMSpinEdit::clampValue(double v) const {
  if (max_ != min_) {
    if (v < min_) return min_;
    if (v > max_) return max_;
  }
  return v;
}

void TBMSpinEdit::setTextQuietly(const QString& t) {
  if (t == text()) return;
  settingText_ = true;
  setText(t);
  settingText_ = false;
}

double TBMSpinEdit::value() {
  const QString t = text();
  std::optional<double> v;
  if (!t.isEmpty())
    v = kelvane::spintext::parseNumber(t, unit_, kelvane::spintext::systemDecimalSeparator());
  if (!v) {
    setTextQuietly(format(min_));
    return min_;
  }
  return *v;
}

void TBMSpinEdit::setValue(double v) {
  writeValue(v, value());
}

void TBMSpinEdit::writeValue(double v, double previous) {
  setTextQuietly(format(clampValue(v)));
  if (v != previous) {
    gauge_->update();
    syncTrackBar();
    emit changed();
  }
}

void TBMSpinEdit::setMinValue(double v) {
  if (v == min_) return;
  min_ = v;
  setValue(clampValue(value()));
  gauge_->update();
}

void TBMSpinEdit::setMaxValue(double v) {
  if (v == max_) return;
  max_ = v;
  setValue(clampValue(value()));
  gauge_->update();
}

void TBMSpinEdit::setPrecision(int p) {
  p = std::clamp(p, -1, 6);
  const double v = value();
  precision_ = p;
  writeValue(v, v);
}

void TBMSpinEdit::setValueUnit(const QString& u) {
  const double v = value();  // read with the old unit
  unit_ = u;
  writeValue(v, v);
}

void TBMSpinEdit::setGaugeMinValue(double v) {
  gaugeMin_ = v;
  gauge_->update();
}

void TBMSpinEdit::setGaugeMaxValue(double v) {
  gaugeMax_ = v;
  gauge_->update();
}

void TBMSpinEdit::setGaugeAroundCenter(double v) {
  gauge_->setGaugeAroundCenter(v);
  gauge_->update();
}

void TBMSpinEdit::setGuageBeginColor(const QColor& c) {
  if (gauge_->setBeginColor(c)) gauge_->update();
}

void TBMSpinEdit::setGuageEndColor(const QColor& c) {
  if (gauge_->setEndColor(c)) gauge_->update();
}

void TBMSpinEdit::setGuageHeight(int h) {
  guageHeight_ = std::max(0, h);
  updateMinimumHeight();
  relayout();
}

void TBMSpinEdit::setTrackBarWidth(int w) {
  trackBarWidth_ = std::clamp(w, 50, 300);
}

void TBMSpinEdit::setTrackBarOrientation(TrackBarOrientation o) {
  orientation_ = o;
  dropDown_->update();
}

void TBMSpinEdit::setTrackBarEnabled(bool on) {
  trackBarEnabled_ = on;
  relayout();
}

void TBMSpinEdit::setEditorEnabled(bool on) {
  editorEnabled_ = on;
  setAcceptDrops(on);
}

double TBMSpinEdit::gaugeLow() const {
  return (gaugeMin_ == 0 && gaugeMax_ == 0) ? min_ : gaugeMin_;
}

double TBMSpinEdit::gaugeHigh() const {
  return (gaugeMin_ == 0 && gaugeMax_ == 0) ? max_ : gaugeMax_;
}

int TBMSpinEdit::minimumSpinHeight() const {
  constexpr int kBorderHeight = 1;  // a thin window border
  const int own = kelvane::fonts::characterHeight(font());
  const int sys = kelvane::fonts::characterHeight(QApplication::font());
  return own + std::min(sys, own) / 4 + 4 * kBorderHeight + guageHeight_ + 3;
}

void TBMSpinEdit::updateMinimumHeight() {
  const int m = minimumSpinHeight();
  setMinimumHeight(m);
  if (height() < m) resize(width(), m);
}

void TBMSpinEdit::relayout() {
  const int W = width(), H = height();
  const int d = trackBarEnabled_ ? kDropDownWidth : 0;
  const int stripH = std::max(0, H - guageHeight_ - 4);
  const int stripLeft = W - kArrowWidth - d - 7;  // client coordinates
  strip_->setGeometry(kFrame + stripLeft, kFrame, d + kArrowWidth + 3, stripH);
  arrows_->setGeometry(1, 1, kArrowWidth, std::max(0, stripH - 2));
  dropDown_->setGeometry(15, 1, kDropDownWidth, std::max(0, stripH - 2));
  dropDown_->setVisible(trackBarEnabled_);

  // The gauge's last row would lie on the sunken edge; the edge wins, as in a clipped client area.
  const int gaugeTop = H - guageHeight_ - 5;
  const int clientW = W - 2 * kFrame, clientH = H - 2 * kFrame;
  gauge_->setGeometry(kFrame, kFrame + gaugeTop, std::max(0, W - 4), guageHeight_ + 2);
  gauge_->setMask(QRegion(0, 0, std::max(0, clientW), std::max(1, clientH - gaugeTop)));
  // The line edit keeps 2 pixels of its own on either side of the text; the classic edit keeps
  // one on the left and lets the text run up to the strip.
  setTextMargins(-1, 0, std::max(0, clientW - stripLeft - 2), std::max(0, clientH - gaugeTop));
}

void TBMSpinEdit::resizeEvent(QResizeEvent* e) {
  QLineEdit::resizeEvent(e);
  relayout();
}

void TBMSpinEdit::hideEvent(QHideEvent* e) {
  QLineEdit::hideEvent(e);
  popup_->hide();  // a pop-up without its spinner would hang in the air
}

void TBMSpinEdit::changeEvent(QEvent* e) {
  QLineEdit::changeEvent(e);
  if (e->type() == QEvent::FontChange) {
    updateMinimumHeight();
    relayout();
  }
}

void TBMSpinEdit::paintEvent(QPaintEvent* e) {
  QLineEdit::paintEvent(e);
  QPainter p(this);
  const QRect inner = kelvane::frame3D(p, rect(), sysColor(this, SysColor::BtnShadow),
                                       sysColor(this, SysColor::BtnHighlight), 1);
  kelvane::frame3D(p, inner, sysColor(this, SysColor::DkShadow), sysColor(this, SysColor::BtnFace),
                   1);
}

void TBMSpinEdit::stepUp() {
  setFocus(Qt::OtherFocusReason);
  const double v = value();
  if (min_ == max_) {
    setValue(v + increment_);  // no limits: nothing to land on
  } else if (v < max_ - increment_) {
    setValue(v + increment_);
  } else {
    setValue(max_);
  }
}

void TBMSpinEdit::stepDown() {
  setFocus(Qt::OtherFocusReason);
  const double v = value();
  if (min_ == max_) {
    setValue(v - increment_);
  } else if (v > min_ + increment_) {
    setValue(v - increment_);
  } else {
    setValue(min_);
  }
}

void TBMSpinEdit::onTextChanged() {
  if (settingText_) return;
  if (!unit_.isEmpty()) {
    const QString number = kelvane::spintext::numberPart(text(), unit_);
    if (!number.isEmpty() && number.back() >= QLatin1Char('0') &&
        number.back() <= QLatin1Char('9')) {
      const int caret = cursorPosition();
      const double v = value();
      writeValue(v, v);
      setCursorPosition(caret);
    }
  }
  gauge_->update();
  emit changed();
}

void TBMSpinEdit::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Up) {
    stepUp();
    e->accept();
    return;
  }
  if (e->key() == Qt::Key_Down) {
    stepDown();
    e->accept();
    return;
  }
  if (!editorEnabled_ && (e->matches(QKeySequence::Cut) || e->matches(QKeySequence::Paste))) {
    e->accept();
    return;
  }
  QLineEdit::keyPressEvent(e);
}

void TBMSpinEdit::mousePressEvent(QMouseEvent* e) {
  // The middle button pastes the primary selection; that is a paste like any other.
  if (!editorEnabled_ && e->button() == Qt::MiddleButton) {
    e->accept();
    return;
  }
  QLineEdit::mousePressEvent(e);
}

void TBMSpinEdit::mouseReleaseEvent(QMouseEvent* e) {
  if (!editorEnabled_ && e->button() == Qt::MiddleButton) {
    e->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(e);
}

void TBMSpinEdit::contextMenuEvent(QContextMenuEvent* e) {
  QMenu* menu = createStandardContextMenu();
  if (!editorEnabled_) {
    for (QAction* a : menu->actions()) {
      if (a->objectName() == QLatin1String("edit-cut") ||
          a->objectName() == QLatin1String("edit-paste")) {
        a->setEnabled(false);
      }
    }
  }
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(e->globalPos());
}

void TBMSpinEdit::focusInEvent(QFocusEvent* e) {
  QLineEdit::focusInEvent(e);
  if (autoSelect_ && e->reason() != Qt::MouseFocusReason) selectAll();
}

void TBMSpinEdit::focusOutEvent(QFocusEvent* e) {
  QLineEdit::focusOutEvent(e);
  // A menu or another application taking over is not the user leaving the field.
  if (e->reason() == Qt::PopupFocusReason || e->reason() == Qt::ActiveWindowFocusReason) return;
  const double v = value();
  const double c = clampValue(v);
  if (v != c) setValue(c);
}

void TBMSpinEdit::syncTrackBar() {
  if (!popup_->isVisible()) return;
  double range = max_ - min_;
  if (!(range > 0)) range = 100;
  int p = std::min(PopupTrackBar::kMax, roundToInt((value() - min_) * 1000 / range));
  if (orientation_ == trVertical) p = PopupTrackBar::kMax - p;
  popup_->trackBar()->setPosition(p);
}

void TBMSpinEdit::dropDownPressed(const QPoint& globalPos) {
  dropDownPressPos_ = globalPos;
  const bool vertical = orientation_ == trVertical;
  const QPoint corner =
      dropDown_->mapToGlobal(QPoint(vertical ? dropDown_->width() : 0, dropDown_->height()));
  PopupTrackBar* bar = popup_->trackBar();
  bar->setVertical(vertical);
  const int across = PopupTrackBar::kNaturalThickness - 10;
  popup_->setGeometry(
      QRect(corner, vertical ? QSize(across, trackBarWidth_) : QSize(trackBarWidth_, across)));
  setFocus(Qt::OtherFocusReason);
  deselect();
  popup_->show();
  syncTrackBar();
  // Put the thumb's centre under the pointer, so a drag starts from the current value.
  const int shift = bar->thumbOffset() + PopupTrackBar::kThumbLength / 2 + TPopupForm::kBorder;
  if (vertical) {
    popup_->move(corner.x(), globalPos.y() - shift);
  } else {
    popup_->move(globalPos.x() - shift, corner.y());
  }
}

void TBMSpinEdit::dropDownMoved(const QPoint& globalPos) {
  if (!popup_->isVisible()) return;
  const PopupTrackBar* bar = popup_->trackBar();
  const bool vertical = orientation_ == trVertical;
  const QPoint origin = bar->mapToGlobal(QPoint(0, 0));
  const int pointer = vertical ? globalPos.y() - origin.y() : globalPos.x() - origin.x();
  const int b = bar->channelLength() - PopupTrackBar::kThumbLength;
  if (b <= 0) return;
  const int a = std::clamp(pointer - bar->channelStart() - PopupTrackBar::kThumbLength, 0, b);
  double fraction = static_cast<double>(a) / b;
  if (vertical) fraction = 1.0 - fraction;  // the vertical bar has its maximum at the top
  double v = min_ + (max_ - min_) * fraction;
  const double inc = gauge_->incrementGauge();
  if (inc > 0) v = inc * std::nearbyint(v / inc);
  setValue(v);
}

void TBMSpinEdit::dropDownReleased() {
  popup_->hide();
  if (autoSelect_) selectAll();
}
