// SPDX-License-Identifier: GPL-3.0-or-later
// The gradient push button: a colour gradient face, a 3-D frame and a shaded caption.
#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include "SystemColors.h"

class TGradBtn : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ caption WRITE setCaption)
  Q_PROPERTY(QColor BeginColor READ beginColor WRITE setBeginColor)
  Q_PROPERTY(QColor EndColor READ endColor WRITE setEndColor)
  Q_PROPERTY(TGradientStyle gradstyle READ gradstyle WRITE setGradstyle)
  Q_PROPERTY(int BtnFrameSize READ btnFrameSize WRITE setBtnFrameSize)
  Q_PROPERTY(QColor BtnHiliteClr READ btnHiliteClr WRITE setBtnHiliteClr)
  Q_PROPERTY(QColor BtnShadowClr READ btnShadowClr WRITE setBtnShadowClr)
  Q_PROPERTY(TTextStyle TextStyle READ textStyle WRITE setTextStyle)
  Q_PROPERTY(TShadeType TextShadeType READ textShadeType WRITE setTextShadeType)
  Q_PROPERTY(QColor TxtHiliteClr READ txtHiliteClr WRITE setTxtHiliteClr)
  Q_PROPERTY(QColor TxtShadowClr READ txtShadowClr WRITE setTxtShadowClr)
  Q_PROPERTY(QColor DisabledColor READ disabledColor WRITE setDisabledColor)
  Q_PROPERTY(TJustification Justification READ justification WRITE setJustification)
  Q_PROPERTY(bool SwapColors READ swapColors WRITE setSwapColors)
  Q_PROPERTY(bool ShowFocus READ showFocus WRITE setShowFocus)
  Q_PROPERTY(QList<QPixmap> Images READ images WRITE setImages)
  Q_PROPERTY(int ImageIndex READ imageIndex WRITE setImageIndex)
  Q_PROPERTY(int Margin READ margin WRITE setMargin)
  Q_PROPERTY(int Spacing READ spacing WRITE setSpacing)
  Q_PROPERTY(QFont Font READ font WRITE setFont)
  Q_PROPERTY(QColor FontColor READ fontColor WRITE setFontColor)

 public:
  enum TGradientStyle {
    gsBHorizontal,
    gsBVertical,
    gsElliptic,
    gsRectangle,
    gsVertCenter,
    gsHorizCenter
  };
  Q_ENUM(TGradientStyle)
  enum TTextStyle { tsNormal, tsRaised, tsInset };
  Q_ENUM(TTextStyle)
  enum TShadeType { stLight, stHeavy };
  Q_ENUM(TShadeType)
  enum TJustification { jLeft, jCenter, jRight };
  Q_ENUM(TJustification)

  explicit TGradBtn(QWidget* parent = nullptr);
  ~TGradBtn() override;

  // The caption as drawn: accelerator marks removed, "&&" shown as one "&".
  static QString displayText(const QString& caption);
  // Index in displayText() of the underlined accelerator character, or -1.
  static int acceleratorIndex(const QString& caption);

  bool isDown() const { return down_; }

  QString caption() const { return caption_; }
  void setCaption(const QString& c);
  QColor beginColor() const { return begin_; }
  void setBeginColor(const QColor& c) { store(begin_, c); }
  QColor endColor() const { return end_; }
  void setEndColor(const QColor& c) { store(end_, c); }
  TGradientStyle gradstyle() const { return style_; }
  void setGradstyle(TGradientStyle s) { store(style_, s); }
  int btnFrameSize() const { return frameSize_; }
  void setBtnFrameSize(int s);
  QColor btnHiliteClr() const { return btnHilite_.resolve(this); }
  void setBtnHiliteClr(const QColor& c) { storeThemed(btnHilite_, c); }
  QColor btnShadowClr() const { return btnShadow_.resolve(this); }
  void setBtnShadowClr(const QColor& c) { storeThemed(btnShadow_, c); }
  TTextStyle textStyle() const { return textStyle_; }
  void setTextStyle(TTextStyle s) { store(textStyle_, s); }
  TShadeType textShadeType() const { return shade_; }
  void setTextShadeType(TShadeType s) { store(shade_, s); }
  QColor txtHiliteClr() const { return txtHilite_.resolve(this); }
  void setTxtHiliteClr(const QColor& c) { storeThemed(txtHilite_, c); }
  QColor txtShadowClr() const { return txtShadow_.resolve(this); }
  void setTxtShadowClr(const QColor& c) { storeThemed(txtShadow_, c); }
  QColor disabledColor() const { return disabled_.resolve(this); }
  void setDisabledColor(const QColor& c) { storeThemed(disabled_, c); }
  TJustification justification() const { return justification_; }
  void setJustification(TJustification j) { store(justification_, j); }
  bool swapColors() const { return swapColors_; }
  void setSwapColors(bool on) { swapColors_ = on; }
  bool showFocus() const { return showFocus_; }
  void setShowFocus(bool on) { showFocus_ = on; }
  QList<QPixmap> images() const { return images_; }
  void setImages(const QList<QPixmap>& list);
  int imageIndex() const { return imageIndex_; }
  void setImageIndex(int i) { store(imageIndex_, i); }
  int margin() const { return margin_; }
  void setMargin(int m) { store(margin_, m); }
  int spacing() const { return spacing_; }
  void setSpacing(int s) { store(spacing_, s); }
  QColor fontColor() const { return fontColor_; }
  void setFontColor(const QColor& c) { store(fontColor_, c); }

 signals:
  void clicked();
  void mouseEntered();
  void mouseLeft();

 protected:
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  template <typename T>
  void store(T& field, const T& v) {
    if (field == v) return;
    field = v;
    update();
  }
  void storeThemed(kelvane::ThemedColor& field, const QColor& c) {
    if (field.set(c)) update();
  }
  void renderTo(QImage& img);
  void paintGradient(QPainter& p, int W, int H) const;
  void press();
  void releaseLook();
  void keyboardClick();
  void swapPair();
  void updateShortcut();

  QString caption_;
  QColor begin_{0, 0, 128};
  QColor end_{0, 255, 255};
  TGradientStyle style_ = gsVertCenter;
  int frameSize_ = 1;
  kelvane::ThemedColor btnHilite_{kelvane::SysColor::BtnHighlight};
  kelvane::ThemedColor btnShadow_{kelvane::SysColor::BtnShadow};
  TTextStyle textStyle_ = tsRaised;
  TShadeType shade_ = stLight;
  kelvane::ThemedColor txtHilite_{kelvane::SysColor::BtnHighlight};
  kelvane::ThemedColor txtShadow_{kelvane::SysColor::BtnShadow};
  kelvane::ThemedColor disabled_{kelvane::SysColor::GrayText};
  TJustification justification_ = jCenter;
  bool swapColors_ = true;
  bool showFocus_ = true;
  QList<QPixmap> images_;
  int imageIndex_ = -1;
  int margin_ = 0;
  int spacing_ = 0;
  QColor fontColor_{0, 0, 0};

  bool down_ = false;      // held by the left mouse button
  bool leftHeld_ = false;  // the left button went down on this button and is not yet released
  bool swapped_ = false;   // BeginColor and EndColor are exchanged right now
  int shortcutId_ = 0;
  QImage buffer_;
};
