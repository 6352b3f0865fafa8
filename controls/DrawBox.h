// SPDX-License-Identifier: GPL-3.0-or-later
// A control that keeps its picture in an off-screen bitmap and copies it to the screen in one
// piece.
#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QWidget>

class TDrawBox : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QColor BackGroundColor READ backGroundColor WRITE setBackGroundColor)

 public:
  explicit TDrawBox(QWidget* parent = nullptr);

  QColor backGroundColor() const { return backGroundColor_; }
  void setBackGroundColor(const QColor& c);

  // The off-screen picture as last drawn (for tests and for copying elsewhere).
  const QImage& bitmap() const { return bitmap_; }

 protected:
  // Fill the bitmap with the background and draw the content; the base draws the two diagonals.
  virtual void redrawAll();
  // Derive layout tables from the size.
  virtual void recompute() {}

  // Resizes the bitmap when the control's size differs, then recomputes and redraws everything.
  // Returns true when it did so.
  bool syncSize();
  QImage& canvas() { return bitmap_; }

  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;

 private:
  QColor backGroundColor_{192, 192, 192};
  QImage bitmap_;
  QSize lastSize_;
};
