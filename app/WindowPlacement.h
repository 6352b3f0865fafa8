// SPDX-License-Identifier: GPL-3.0-or-later
// Where the main window opens: the stored edges, pulled back by the screen-edge rule and, when
// that still leaves it out of sight (a monitor that is gone), onto the nearest screen.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <vector>

namespace kelvane {

// `stored` is the saved top-left corner of the window's frame and `frame` its outer size;
// `primary` is the primary screen's geometry and `screens` the geometry of every screen.
// A stored top (left) that leaves less than 20 pixels above the primary screen's height
// (width) puts the bottom (right) edge on it; other edges stay as stored, negative ones too,
// as long as at least 20 x 20 pixels of the window lie on some screen. A window that would
// show less than that is moved wholly onto the nearest screen.
QPoint PlaceWindow(QPoint stored, QSize frame, const QRect& primary,
                   const std::vector<QRect>& screens);

}  // namespace kelvane
