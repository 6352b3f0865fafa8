// SPDX-License-Identifier: GPL-3.0-or-later
// The seven-segment read-out: a text drawn as a row of LED digits with decimal points.
#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

class TCLEDLabel : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString Text READ text WRITE setText)
  Q_PROPERTY(int NumChars READ numChars WRITE setNumChars)
  Q_PROPERTY(bool AllowDecimal READ allowDecimal WRITE setAllowDecimal)
  Q_PROPERTY(TTextAlignment Alignment READ alignment WRITE setAlignment)
  Q_PROPERTY(int BorderGap READ borderGap WRITE setBorderGap)
  Q_PROPERTY(int SegmentThickness READ segmentThickness WRITE setSegmentThickness)
  Q_PROPERTY(int HorzMargine READ horzMargine WRITE setHorzMargine)
  Q_PROPERTY(int VertMargine READ vertMargine WRITE setVertMargine)
  Q_PROPERTY(QColor OnColor READ onColor WRITE setOnColor)
  Q_PROPERTY(QColor OffColor READ offColor WRITE setOffColor)
  Q_PROPERTY(QColor SegmentBorderColor READ segmentBorderColor WRITE setSegmentBorderColor)
  Q_PROPERTY(QColor BackGroundColor READ backGroundColor WRITE setBackGroundColor)

 public:
  enum TTextAlignment { TTALeft, TTARight };
  Q_ENUM(TTextAlignment)

  // Bits of a glyph code: which element of a cell is lit.
  enum Segment : unsigned {
    segPoint = 1u << 0,
    segMiddle = 1u << 1,
    segUpperRight = 1u << 2,
    segTop = 1u << 3,
    segUpperLeft = 1u << 4,
    segLowerLeft = 1u << 5,
    segBottom = 1u << 6,
    segLowerRight = 1u << 7,
  };

  // Corner points of the elements of one cell; the point is an ellipse in `point`.
  struct CellGeometry {
    QPolygon top, bottom, upperLeft, lowerLeft, upperRight, lowerRight, middle;
    QRect point;
  };

  explicit TCLEDLabel(QWidget* parent = nullptr);

  static unsigned glyphCode(QChar c);
  // The text padded with blanks to NumChars cells (plus one per decimal point shown).
  QString paddedText() const;
  int cellWidth() const;
  CellGeometry cellGeometry(int cell) const;

  QString text() const { return text_; }
  void setText(const QString& t);
  int numChars() const { return numChars_; }
  void setNumChars(int n);
  bool allowDecimal() const { return allowDecimal_; }
  void setAllowDecimal(bool on);
  TTextAlignment alignment() const { return alignment_; }
  void setAlignment(TTextAlignment a);
  int borderGap() const { return borderGap_; }
  void setBorderGap(int g);
  int segmentThickness() const { return segmentThickness_; }
  void setSegmentThickness(int t);
  int horzMargine() const { return horzMargine_; }
  void setHorzMargine(int m);
  int vertMargine() const { return vertMargine_; }
  void setVertMargine(int m);
  QColor onColor() const { return onColor_; }
  void setOnColor(const QColor& c);
  QColor offColor() const { return offColor_; }
  void setOffColor(const QColor& c);
  QColor segmentBorderColor() const { return segmentBorderColor_; }
  void setSegmentBorderColor(const QColor& c);
  QColor backGroundColor() const { return backGroundColor_; }
  void setBackGroundColor(const QColor& c);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  template <typename T>
  void store(T& field, const T& v) {
    if (field == v) return;
    field = v;
    update();
  }
  void renderTo(QImage& img) const;
  void drawCell(QPainter& p, int cell, unsigned code) const;
  void drawPoint(QPainter& p, int cell, bool lit) const;

  QString text_ = QStringLiteral("8");
  int numChars_ = 1;
  bool allowDecimal_ = true;
  TTextAlignment alignment_ = TTARight;
  int borderGap_ = 1;
  int segmentThickness_ = 2;
  int horzMargine_ = 1;
  int vertMargine_ = 2;
  QColor onColor_{255, 0, 0};
  QColor offColor_{128, 0, 0};
  QColor segmentBorderColor_{255, 0, 0};
  QColor backGroundColor_{0, 0, 0};
  QImage buffer_;
};
