// SPDX-License-Identifier: GPL-3.0-or-later
// The value spinner: text, committed value, layout, stepping and the drop-down track bar.
#include "BMSpinEdit.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "Fonts.h"
#include "Frame3D.h"
#include "SpinParts.h"
#include "SpinText.h"

using kelvane::SysColor;
using kelvane::sysColor;
using kelvane::spinparts::roundToInt;

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
  // Qt draws the text box itself; this effect has it drawn into an off-screen pixmap first, with
  // the strip and the gauge, and copies that in one piece.
  setGraphicsEffect(new OffscreenCopy(this));
  baseFont_ = font();
  connect(this, &QLineEdit::textEdited, this, &TBMSpinEdit::onTextEdited);
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

double TBMSpinEdit::readText() {
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
  pending_ = false;
  committed_ = readText();
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
  fitText();
}

void TBMSpinEdit::setMaxValue(double v) {
  if (v == max_) return;
  max_ = v;
  setValue(clampValue(value()));
  gauge_->update();
  fitText();
}

void TBMSpinEdit::setPrecision(int p) {
  p = std::clamp(p, -1, 6);
  const double v = value();
  precision_ = p;
  writeValue(v, v);
  fitText();
}

void TBMSpinEdit::setValueUnit(const QString& u) {
  const double v = value();
  unit_ = u;
  writeValue(v, v);
  fitText();
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
  // one on the left. On the right the text stops kStripGap pixels short of the strip, so that
  // its last letter never touches the arrows.
  setTextMargins(-1, 0, std::max(0, clientW - stripLeft - 2) + kStripGap,
                 std::max(0, clientH - gaugeTop));
  fitText();
}

void TBMSpinEdit::fitText() {
  if (fitting_) return;
  constexpr int kLineEditMargin = 2;  // QLineEdit's own, on either side of the text
  constexpr int kCaret = 1;           // a caret after the last letter must not scroll the text
  constexpr double kTightest = -0.5;  // pixels per letter; any tighter and letters touch
  const QMargins tm = textMargins();
  const double room = width() - 2 * kFrame - tm.left() - tm.right() - 2 * kLineEditMargin - kCaret;
  QString widest;
  double natural = 0;
  const QFontMetricsF plain(baseFont_);
  for (double v : {min_, max_}) {
    const QString t = format(v);
    const double w = plain.horizontalAdvance(t);
    if (w > natural) {
      natural = w;
      widest = t;
    }
  }
  QFont f = baseFont_;
  if (natural > room && widest.size() > 1) {
    // Letter spacing adds to every advance; step down from the estimate until the text fits.
    double spacing = std::floor((room - natural) / widest.size() * 20) / 20;
    for (; spacing >= kTightest; spacing -= 0.05) {
      f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
      if (QFontMetricsF(f).horizontalAdvance(widest) <= room) break;
    }
    if (spacing < kTightest) f.setLetterSpacing(QFont::AbsoluteSpacing, kTightest);
  }
  if (f == font()) return;
  fitting_ = true;
  setFont(f);
  fitting_ = false;
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
  if (e->type() == QEvent::FontChange && !fitting_) {
    baseFont_ = font();
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
  const double v = pending_ ? clampValue(readText()) : value();  // a step takes the typing
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
  const double v = pending_ ? clampValue(readText()) : value();
  if (min_ == max_) {
    setValue(v - increment_);
  } else if (v > min_ + increment_) {
    setValue(v - increment_);
  } else {
    setValue(min_);
  }
}

// Qt reports a keyboard edit with textEdited just before the textChanged of the same change.
void TBMSpinEdit::onTextEdited() {
  userEdit_ = true;
  pending_ = true;
}

void TBMSpinEdit::onTextChanged() {
  if (settingText_) return;
  if (userEdit_) {
    userEdit_ = false;  // typing: the value in force stays until the text is taken
    return;
  }
  commitText();  // a text set by the program is taken at once
}

void TBMSpinEdit::commitText() {
  const double before = committed_;
  const double typed = readText();
  const double v = clampValue(typed);
  // Without a unit an in-range text keeps its typed form; with one the text is always rebuilt,
  // so the unit comes back.
  if (!unit_.isEmpty() || v != typed) setTextQuietly(format(v));
  pending_ = false;
  committed_ = readText();
  if (committed_ != before) {
    gauge_->update();
    syncTrackBar();
    emit changed();
  }
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
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    if (pending_) commitText();
    QLineEdit::keyPressEvent(e);  // still reported as the line edit's Return
    return;
  }
  if (e->key() == Qt::Key_Escape && pending_) {
    writeValue(committed_, committed_);  // drop the typing, show the value in force again
    if (autoSelect_) selectAll();
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
  // A menu or another application taking over is not the user leaving the field: the typing
  // stays pending for their return. Another window of ours becoming active is.
  if (e->reason() == Qt::PopupFocusReason) return;
  if (e->reason() == Qt::ActiveWindowFocusReason && QApplication::activeWindow() == nullptr) return;
  if (pending_) commitText();
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
