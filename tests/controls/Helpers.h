// SPDX-License-Identifier: GPL-3.0-or-later
// Shared helpers of the control tests: a shown, active host window, pixels and raw mouse events.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QMouseEvent>
#include <QString>
#include <QTest>
#include <QWidget>
#include <ostream>

// Readable QString values in assertion messages.
inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}

namespace kt {

// A top-level window that is shown and active, so focus and keyboard events behave as on screen.
struct Host {
  QWidget window;
  Host() {
    window.resize(400, 300);
    window.show();
    QApplication::setActiveWindow(&window);
    active = QTest::qWaitForWindowActive(&window);
  }
  bool active = false;
};

inline QImage render(QWidget* w) {
  return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline QColor pixel(const QImage& img, int x, int y) {
  return QColor(img.pixel(x, y));
}

inline ::testing::AssertionResult sameColor(const QColor& got, const QColor& want) {
  if (got.rgb() == want.rgb()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "got (" << got.red() << ", " << got.green() << ", " << got.blue() << "), want ("
         << want.red() << ", " << want.green() << ", " << want.blue() << ")";
}

// A mouse event sent straight to the widget that holds the implicit grab, as the window system
// does while a button is held.
inline void sendMouse(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButton button,
                      Qt::MouseButtons held) {
  QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)), button, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

}  // namespace kt
