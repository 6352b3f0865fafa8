// SPDX-License-Identifier: GPL-3.0-or-later
// The value spinner: a text box holding a number and unit, with arrows, a gauge and a track bar.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QLineEdit>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "SystemColors.h"

class TBMSpinEdit;

// The thin coloured strip along the spinner's bottom edge; clicking or dragging on it sets the
// value.
class TBMAGauge : public QWidget {
  Q_OBJECT

 public:
  explicit TBMAGauge(TBMSpinEdit* spin);

  QColor beginColor() const { return begin_.resolve(this); }
  QColor endColor() const { return end_.resolve(this); }
  double incrementGauge() const { return incrementGauge_; }
  double gaugeAroundCenter() const { return aroundCenter_; }
  bool setBeginColor(const QColor& c) { return begin_.set(c); }
  bool setEndColor(const QColor& c) { return end_.set(c); }
  void setIncrementGauge(double v) { incrementGauge_ = v; }
  void setGaugeAroundCenter(double v) { aroundCenter_ = v; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  void renderTo(QImage& img);
  void setValueFromX(int x);

  TBMSpinEdit* spin_;
  kelvane::ThemedColor begin_{kelvane::SysColor::Highlight};
  kelvane::ThemedColor end_{QColor(255, 0, 0)};
  double incrementGauge_ = 0;
  double aroundCenter_ = 0;
  bool dragging_ = false;
  QImage buffer_;
};

// The track bar inside the pop-up: positions 0..1000, a tick every 50, a 15-pixel thumb.
class PopupTrackBar : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMax = 1000;
  static constexpr int kTickEvery = 50;
  static constexpr int kThumbLength = 15;
  static constexpr int kNaturalThickness = 40;

  explicit PopupTrackBar(QWidget* parent);

  int position() const { return position_; }
  void setPosition(int p);
  void setVertical(bool v);
  bool isVertical() const { return vertical_; }
  // Along the bar, in the bar's own pixels: the thumb's leading edge, and the channel over which
  // the pointer maps to positions (the thumb's centre sits at channelStart + thumb length at 0).
  int thumbOffset() const;
  int channelStart() const;
  int channelLength() const;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int length() const { return vertical_ ? height() : width(); }
  int travel() const { return length() - 4 - kThumbLength; }

  int position_ = 0;
  bool vertical_ = false;
  QImage buffer_;
};

// The borderless pop-up that holds the track bar: a window of its own, owned by the spinner,
// that never takes the keyboard focus.
class TPopupForm : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kBorder = 4;
  explicit TPopupForm(QWidget* owner);
  PopupTrackBar* trackBar() const { return bar_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;

 private:
  PopupTrackBar* bar_;
};

class TBMSpinEdit : public QLineEdit {
  Q_OBJECT
  Q_PROPERTY(double Value READ value WRITE setValue NOTIFY changed USER true)
  Q_PROPERTY(double MinValue READ minValue WRITE setMinValue)
  Q_PROPERTY(double MaxValue READ maxValue WRITE setMaxValue)
  Q_PROPERTY(double Increment READ increment WRITE setIncrement)
  Q_PROPERTY(int Precision READ precision WRITE setPrecision)
  Q_PROPERTY(QString ValueUnit READ valueUnit WRITE setValueUnit)
  Q_PROPERTY(double GaugeMinValue READ gaugeMinValue WRITE setGaugeMinValue)
  Q_PROPERTY(double GaugeMaxValue READ gaugeMaxValue WRITE setGaugeMaxValue)
  Q_PROPERTY(double GaugeAroundCenter READ gaugeAroundCenter WRITE setGaugeAroundCenter)
  Q_PROPERTY(double IncrementGauge READ incrementGauge WRITE setIncrementGauge)
  Q_PROPERTY(QColor GuageBeginColor READ guageBeginColor WRITE setGuageBeginColor)
  Q_PROPERTY(QColor GuageEndColor READ guageEndColor WRITE setGuageEndColor)
  Q_PROPERTY(int GuageHeight READ guageHeight WRITE setGuageHeight)
  Q_PROPERTY(int TrackBarWidth READ trackBarWidth WRITE setTrackBarWidth)
  Q_PROPERTY(
      TrackBarOrientation TrackBarOrientation READ trackBarOrientation WRITE setTrackBarOrientation)
  Q_PROPERTY(bool TrackBarEnabled READ trackBarEnabled WRITE setTrackBarEnabled)
  Q_PROPERTY(bool EditorEnabled READ editorEnabled WRITE setEditorEnabled)
  Q_PROPERTY(bool AutoSelect READ autoSelect WRITE setAutoSelect)
  Q_PROPERTY(bool ReadOnly READ isReadOnly WRITE setReadOnly)

 public:
  enum TrackBarOrientation { trHorizontal, trVertical };
  Q_ENUM(TrackBarOrientation)

  static constexpr int kArrowWidth = 13;
  static constexpr int kDropDownWidth = 13;
  static constexpr int kFrame = 2;     // the sunken edge around the text area
  static constexpr int kStripGap = 2;  // clear pixels between the text and the button strip

  explicit TBMSpinEdit(QWidget* parent = nullptr);
  ~TBMSpinEdit() override;

  // The committed value: what the text held when it was last taken (Enter, an arrow step, the
  // focus leaving, or a write). Text being typed does not count until it is taken, so a reader
  // never sees a half-typed number.
  double value() const { return committed_; }
  void setValue(double v);

  double minValue() const { return min_; }
  void setMinValue(double v);
  double maxValue() const { return max_; }
  void setMaxValue(double v);
  double increment() const { return increment_; }
  void setIncrement(double v) { increment_ = v; }
  int precision() const { return precision_; }
  void setPrecision(int p);
  QString valueUnit() const { return unit_; }
  void setValueUnit(const QString& u);
  double gaugeMinValue() const { return gaugeMin_; }
  void setGaugeMinValue(double v);
  double gaugeMaxValue() const { return gaugeMax_; }
  void setGaugeMaxValue(double v);
  double gaugeAroundCenter() const { return gauge_->gaugeAroundCenter(); }
  void setGaugeAroundCenter(double v);
  double incrementGauge() const { return gauge_->incrementGauge(); }
  void setIncrementGauge(double v) { gauge_->setIncrementGauge(v); }
  QColor guageBeginColor() const { return gauge_->beginColor(); }
  void setGuageBeginColor(const QColor& c);
  QColor guageEndColor() const { return gauge_->endColor(); }
  void setGuageEndColor(const QColor& c);
  int guageHeight() const { return guageHeight_; }
  void setGuageHeight(int h);
  int trackBarWidth() const { return trackBarWidth_; }
  void setTrackBarWidth(int w);
  TrackBarOrientation trackBarOrientation() const { return orientation_; }
  void setTrackBarOrientation(TrackBarOrientation o);
  bool trackBarEnabled() const { return trackBarEnabled_; }
  void setTrackBarEnabled(bool on);
  bool editorEnabled() const { return editorEnabled_; }
  void setEditorEnabled(bool on);
  bool autoSelect() const { return autoSelect_; }
  void setAutoSelect(bool on) { autoSelect_ = on; }

  // The smallest height the spinner accepts for its font and gauge height.
  int minimumSpinHeight() const;

  // The internal parts, for the window that hosts the spinner and for tests.
  QWidget* buttonStrip() const { return strip_; }
  QWidget* arrowPair() const { return arrows_; }
  QWidget* dropDownButton() const { return dropDown_; }
  TBMAGauge* gauge() const { return gauge_; }
  TPopupForm* popupForm() const { return popup_; }

  // Takes text the user typed but has not committed yet (for a window that closes).
  void commitTyping() {
    if (pending_) commitText();
  }

  // Steps as the arrows and the Up/Down keys do.
  void stepUp();
  void stepDown();

  // Range of the gauge: its own limits, or the spinner's when both are 0.
  double gaugeLow() const;
  double gaugeHigh() const;

 signals:
  void changed();

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void changeEvent(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

 private:
  friend class SpinArrows;
  friend class DropDownButton;

  void onTextEdited();
  void onTextChanged();
  // Parses the text; an empty or unreadable text is replaced by the formatted minimum.
  double readText();
  // Takes the text as the new value: clamped, and reformatted when it has a unit or was out of
  // range. OnChange fires when the value differs from the one in force before.
  void commitText();
  // Sets the text for v (clamped); OnChange fires when v differs from `previous`.
  void writeValue(double v, double previous);
  // Tightens the letter spacing just enough for the widest text of the range to clear the
  // button strip.
  void fitText();
  void setTextQuietly(const QString& t);
  QString format(double v) const;
  double clampValue(double v) const;
  void relayout();
  void updateMinimumHeight();
  void syncTrackBar();

  // Drop-down track bar, driven by the drop-down button's mouse events.
  void dropDownPressed(const QPoint& globalPos);
  void dropDownMoved(const QPoint& globalPos);
  void dropDownReleased();

  double min_ = 0;
  double max_ = 100;
  double increment_ = 1;
  int precision_ = 2;
  QString unit_;
  double gaugeMin_ = 0;
  double gaugeMax_ = 0;
  int guageHeight_ = 5;
  int trackBarWidth_ = 150;
  TrackBarOrientation orientation_ = trHorizontal;
  bool trackBarEnabled_ = true;
  bool editorEnabled_ = false;
  bool autoSelect_ = true;
  bool settingText_ = false;
  double committed_ = 0;
  bool pending_ = false;   // the text holds untaken typing
  bool userEdit_ = false;  // the text change under way comes from the keyboard
  bool fitting_ = false;   // the font change under way is fitText()'s own
  QFont baseFont_;         // the font as set, before fitText() tightened it
  QPoint dropDownPressPos_;

  QWidget* strip_;
  QWidget* arrows_;
  QWidget* dropDown_;
  TBMAGauge* gauge_;
  TPopupForm* popup_;
};
