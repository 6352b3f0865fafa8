// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's opening position.
#include "WindowPlacement.h"

#include <algorithm>
#include <limits>

namespace kelvane {

namespace {

constexpr int kReach = 20;  // pixels of the window that must lie on a screen to grab it

// Squared distance between two rectangles, 0 when they touch or overlap.
long long Distance2(const QRect& a, const QRect& b) {
  const long long dx = std::max({0, b.left() - a.right(), a.left() - b.right()});
  const long long dy = std::max({0, b.top() - a.bottom(), a.top() - b.bottom()});
  return dx * dx + dy * dy;
}

// The window's top-left corner when it is moved into `screen` by the shortest way.
QPoint Inside(const QRect& window, const QRect& screen) {
  const int left =
      std::max(screen.left(), std::min(window.left(), screen.right() + 1 - window.width()));
  const int top =
      std::max(screen.top(), std::min(window.top(), screen.bottom() + 1 - window.height()));
  return {left, top};
}

}  // namespace

QPoint PlaceWindow(QPoint stored, QSize frame, const QRect& primary,
                   const std::vector<QRect>& screens) {
  int top = stored.y();
  int left = stored.x();
  if (primary.height() < top + kReach) top = primary.height() - frame.height();
  if (primary.width() < left + kReach) left = primary.width() - frame.width();
  const QRect window(QPoint(left, top), frame);

  const QRect* nearest = nullptr;
  long long best = std::numeric_limits<long long>::max();
  for (const QRect& s : screens) {
    const QRect seen = window.intersected(s);
    if (seen.width() >= kReach && seen.height() >= kReach) return window.topLeft();
    const long long d = Distance2(window, s);
    if (d < best) {
      best = d;
      nearest = &s;
    }
  }
  return nearest != nullptr ? Inside(window, *nearest) : window.topLeft();
}

}  // namespace kelvane
