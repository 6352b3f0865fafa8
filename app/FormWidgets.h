// SPDX-License-Identifier: GPL-3.0-or-later
// The plain window parts the two forms are built from: panels, group boxes, bevels, links.
#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QValidator>
#include <QWidget>

class QAbstractButton;
class QComboBox;
class QPixmap;
class TBMSpinEdit;
class TGradBtn;

namespace kelvane {

enum class ParamId : int;

inline const QColor kPanelColor{37, 37, 37};
inline const QColor kGroupColor{23, 23, 23};
inline const QColor kLinkColor{192, 192, 192};

// A panel: flat background, an optional one-pixel lowered bevel (outer or inner) and a caption
// centred on its face (which the groups on top of it hide).
class TPanel : public QWidget {
  Q_OBJECT

 public:
  enum class Bevel { None, LoweredOuter, LoweredInner };
  TPanel(QWidget* parent, const QString& caption, const QColor& background, Bevel bevel);
  QString caption() const { return caption_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QString caption_;
  QColor background_;
  Bevel bevel_;
};

// A group box: dark background, an etched frame and its caption on the top edge. Child
// positions are relative to the group's top-left corner; ClientRect() is the area that docked
// children fill (below the caption, inside the frame).
class TGroupBox : public QWidget {
  Q_OBJECT

 public:
  TGroupBox(QWidget* parent, const QString& caption, bool bold,
            const QColor& background = kGroupColor);
  QString caption() const { return caption_; }
  QRect ClientRect() const;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QString caption_;
  QFont captionFont_;  // bold or not; the children keep the plain face
  QColor background_;
};

// A raised frame drawn around other controls (it draws only lines, no background).
class TBevel : public QWidget {
  Q_OBJECT

 public:
  explicit TBevel(QWidget* parent);

 protected:
  void paintEvent(QPaintEvent*) override;
};

// A label that acts as a link: silver, underlined, clicked with the left button.
class TLinkLabel : public QLabel {
  Q_OBJECT

 public:
  TLinkLabel(QWidget* parent, const QString& text);

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* e) override;
};

// Which characters an edit box takes: any, hexadecimal digits, or those of the RDS character
// set (RdsCharset.h), so that a character the engine could not send is never typed or pasted.
enum class EditChars { Any, Hex, Rds };

// Limits what the user types to `max` characters of `chars` while leaving other texts set by
// the program alone: they may still be shortened.
class TypingLimit : public QValidator {
  Q_OBJECT

 public:
  TypingLimit(QLineEdit* edit, int max, EditChars chars = EditChars::Any)
      : QValidator(edit), edit_(edit), max_(max), chars_(chars) {}
  State validate(QString& input, int& pos) const override;

 private:
  QLineEdit* edit_;
  int max_;
  EditChars chars_;
};

// Two links side by side on a group's edge must read as two: the link's letters are drawn
// closer together (never by more than a pixel) until at least `gap` pixels separate its text
// from the next link's left edge `nextLeft`.
void FitLinkBefore(QLabel* link, int nextLeft, int gap);

// The window's standard controls, dressed as the window shows them, at their places.
QComboBox* MakeCombo(QWidget* parent, const char* name, int x, int y, int width);
void DressCheck(QAbstractButton* b, const char* name, int x, int y);
template <typename Button>
Button* MakeCheck(QWidget* parent, const char* name, const QString& caption, int x, int y) {
  auto* b = new Button(caption, parent);
  DressCheck(b, name, x, y);
  return b;
}
// An edit box whose typing is limited by TypingLimit.
QLineEdit* MakeEdit(QWidget* parent, const char* name, int x, int y, int w, int h, int limit,
                    const QString& text, EditChars chars = EditChars::Any);
TGradBtn* MakeViewButton(QWidget* parent, const char* name, const QString& caption, int x, int y,
                         int w, int h);
// Our 69 x 14 logo: the name in small capitals on a dark-blue to black ramp with a carrier wave.
QPixmap MakeLogo();

// A plain white text line at (x, y) in its natural size.
QLabel* MakeLabel(QWidget* parent, const QString& text, int x, int y);

// The value spinner of one parameter row, with its label just above it: range, increment,
// precision, unit, first-run value and position all come from the parameter table.
TBMSpinEdit* MakeParamSpinner(QWidget* group, ParamId id);

}  // namespace kelvane
