// SPDX-License-Identifier: GPL-3.0-or-later
// Drawing of the panels, group boxes, bevels and links of the two forms.
#include "FormWidgets.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

#include "BMSpinEdit.h"
#include "ControlLooks.h"
#include "Fonts.h"
#include "GradBtn.h"
#include "ParamTable.h"
#include "RdsCharset.h"

namespace kelvane {

namespace {
const QColor kShadow{128, 128, 128};
const QColor kHighlight{255, 255, 255};
constexpr int kCaptionLeft = 8;  // a group caption's left edge

void DrawLowered(QPainter& p, const QRect& r) {
  p.setPen(kShadow);
  p.drawLine(r.left(), r.top(), r.right(), r.top());
  p.drawLine(r.left(), r.top(), r.left(), r.bottom());
  p.setPen(kHighlight);
  p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
  p.drawLine(r.right(), r.top(), r.right(), r.bottom());
}
}  // namespace

TPanel::TPanel(QWidget* parent, const QString& caption, const QColor& background, Bevel bevel)
    : QWidget(parent), caption_(caption), background_(background), bevel_(bevel) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, background);
  pal.setColor(QPalette::WindowText, Qt::white);
  setPalette(pal);
  setFont(fonts::uiFont());
}

void TPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), background_);
  if (!caption_.isEmpty()) {
    p.setPen(Qt::white);
    p.setFont(font());
    p.drawText(rect(), Qt::AlignCenter, caption_);
  }
  if (bevel_ != Bevel::None) DrawLowered(p, rect());
}

TGroupBox::TGroupBox(QWidget* parent, const QString& caption, bool bold, const QColor& background)
    : QWidget(parent), caption_(caption), background_(background) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFont(fonts::uiFont());
  captionFont_ = fonts::uiFont();
  captionFont_.setBold(bold);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, background);
  pal.setColor(QPalette::WindowText, Qt::white);
  setPalette(pal);
}

QRect TGroupBox::ClientRect() const {
  // Below the caption line and inside the one-pixel frame, as docked children see it.
  const int top = fonts::characterHeight(fonts::uiFont()) + 1;
  return QRect(1, top, width() - 2, height() - top - 1);
}

void TGroupBox::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), background_);
  const QFontMetrics fm(captionFont_);
  const int mid = fm.height() / 2;
  const QRect frame(0, mid, width() - 1, height() - mid - 1);
  // Etched frame: a shadow line with a highlight line one pixel inside and below it.
  p.setPen(kShadow);
  p.drawRect(frame.adjusted(0, 0, -1, -1));
  p.setPen(kHighlight);
  p.drawRect(frame.adjusted(1, 1, 0, 0));
  if (!caption_.isEmpty()) {
    const int w = fm.horizontalAdvance(caption_);
    const QRect textRect(kCaptionLeft, 0, w + 2, fm.height());
    p.fillRect(textRect, background_);
    p.setPen(Qt::white);
    p.setFont(captionFont_);
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignTop, caption_);
  }
}

TBevel::TBevel(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TBevel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = rect();
  // Raised frame: highlight outside, shadow one pixel in, so it reads as a ridge.
  p.setPen(kHighlight);
  p.drawRect(r.adjusted(1, 1, -1, -1));
  p.setPen(kShadow);
  p.drawRect(r.adjusted(0, 0, -2, -2));
}

TLinkLabel::TLinkLabel(QWidget* parent, const QString& text) : QLabel(text, parent) {
  QFont f = fonts::uiFont();
  f.setUnderline(true);
  setFont(f);
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, kLinkColor);
  // Links sit on a group's top edge: their own background hides the frame line behind them.
  pal.setColor(QPalette::Window, kGroupColor);
  setPalette(pal);
  setAutoFillBackground(true);
  setCursor(Qt::PointingHandCursor);
  adjustSize();
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) emit clicked();
  QLabel::mouseReleaseEvent(e);
}

QValidator::State TypingLimit::validate(QString& input, int&) const {
  if (chars_ == EditChars::Rds) {
    // The program only ever sets texts of RDS characters, so every edit is checked: a
    // character without a code refuses the whole edit (a paste over a selection included).
    // Counted in characters, not UTF-16 units.
    const QList<uint> chars = input.toUcs4();
    for (const uint c : chars) {
      if (RdsCodeForChar(static_cast<char32_t>(c)) < 0) return Invalid;
    }
    const bool shorter = input.size() < edit_->text().size();
    return shorter || chars.size() <= max_ ? Acceptable : Invalid;
  }
  // Shortening is always allowed; typing may never make the text longer than the limit.
  if (input.size() < edit_->text().size()) return Acceptable;
  if (input.size() > max_) return Invalid;
  if (chars_ == EditChars::Hex) {
    for (const QChar c : input) {
      if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f'))) {
        return Invalid;
      }
    }
  }
  return Acceptable;
}

void FitLinkBefore(QLabel* link, int nextLeft, int gap) {
  const QString text = link->text();
  const int room = nextLeft - gap - link->x();
  QFont f = link->font();
  const int steps = static_cast<int>(text.size()) - 1;
  for (int tenth = 0; tenth <= 10 && steps > 0; ++tenth) {
    f.setLetterSpacing(QFont::AbsoluteSpacing, -0.1 * tenth);
    if (QFontMetrics(f).horizontalAdvance(text) <= room) break;
  }
  link->setFont(f);
  link->adjustSize();
}

QComboBox* MakeCombo(QWidget* parent, const char* name, int x, int y, int width) {
  auto* c = new QComboBox(parent);
  c->setObjectName(QString::fromLatin1(name));
  c->setEditable(false);
  c->setFont(fonts::uiFont());
  QPalette pal = c->palette();
  for (auto role : {QPalette::Base, QPalette::Button, QPalette::Window}) {
    pal.setColor(role, kPanelColor);
  }
  for (auto role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText}) {
    pal.setColor(role, Qt::white);
  }
  c->setPalette(pal);
  c->setGeometry(x, y, width, 21);
  return c;
}

void DressCheck(QAbstractButton* b, const char* name, int x, int y) {
  b->setObjectName(QString::fromLatin1(name));
  b->setFont(fonts::uiFont());
  QPalette pal = b->palette();
  pal.setColor(QPalette::WindowText, Qt::white);
  pal.setColor(QPalette::Base, Qt::white);
  pal.setColor(QPalette::Text, Qt::black);
  b->setPalette(pal);
  b->adjustSize();
  b->move(x, y);
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, int x, int y, int w, int h, int limit,
                    const QString& text, EditChars chars) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QString::fromLatin1(name));
  e->setFont(fonts::uiFont());
  e->setTextMargins(0, 0, 0, 0);
  e->setValidator(new TypingLimit(e, limit, chars));
  e->setText(text);
  e->setGeometry(x, y, w, h);
  return e;
}

TGradBtn* MakeViewButton(QWidget* parent, const char* name, const QString& caption, int x, int y,
                         int w, int h) {
  auto* b = new TGradBtn(parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setFont(fonts::uiFont());
  looks::viewButton(b);
  b->setCaption(caption);
  b->setGeometry(x, y, w, h);
  return b;
}

// Our 69 x 14 logo: the name in small capitals on a dark-blue to black ramp with a carrier wave.
QPixmap MakeLogo() {
  QPixmap pm(69, 14);
  QPainter p(&pm);
  QLinearGradient g(0, 0, 69, 0);
  g.setColorAt(0, QColor(0, 0, 96));
  g.setColorAt(1, QColor(0, 0, 0));
  p.fillRect(pm.rect(), g);
  p.setPen(QColor(0, 255, 0));
  for (int x = 0; x < 69; x += 2) {
    const int y = 11 + ((x / 2) % 4 < 2 ? 0 : 1);
    p.drawPoint(x, y);
  }
  QFont f = fonts::uiFont();
  f.setPixelSize(10);
  f.setBold(true);
  f.setLetterSpacing(QFont::AbsoluteSpacing, 1);
  p.setFont(f);
  p.setPen(QColor(239, 239, 239));
  p.drawText(QRect(0, -1, 69, 12), Qt::AlignCenter, QStringLiteral("KELVANE"));
  p.end();
  return pm;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, int x, int y) {
  auto* l = new QLabel(text, parent);
  l->setFont(fonts::uiFont());
  QPalette pal = l->palette();
  pal.setColor(QPalette::WindowText, Qt::white);
  l->setPalette(pal);
  l->adjustSize();
  l->move(x, y);
  return l;
}

TBMSpinEdit* MakeParamSpinner(QWidget* group, ParamId id) {
  const ParamRow& row = ParamInfo(id);
  constexpr int kSpinHeight = 28;
  constexpr int kLabelAbove = 16;  // the label's top above the spinner's top
  MakeLabel(group, QString::fromUtf8(row.label.data(), static_cast<qsizetype>(row.label.size())),
            row.left, row.top - kLabelAbove);
  auto* s = new TBMSpinEdit(group);
  s->setObjectName(
      QString::fromUtf8(row.control.data(), static_cast<qsizetype>(row.control.size())));
  s->setFont(fonts::uiFont());
  s->setPrecision(row.precision);
  s->setMinValue(row.minValue);
  s->setMaxValue(row.maxValue);
  s->setIncrement(row.increment);
  s->setValueUnit(QString::fromUtf8(row.unit.data(), static_cast<qsizetype>(row.unit.size())));
  s->setValue(row.firstRun);
  looks::spinner(s);
  s->setGeometry(row.left, row.top, row.width, kSpinHeight);
  return s;
}

}  // namespace kelvane
