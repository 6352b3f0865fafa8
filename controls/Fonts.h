// SPDX-License-Identifier: GPL-3.0-or-later
// The one place that picks the faces the windows and the controls draw with.
#pragma once

#include <QFont>

namespace kelvane::fonts {

// Liberation Sans is metric-compatible with Arial and close to the classic 8-point dialog face.
inline constexpr const char* kFace = "Liberation Sans";

// The dialog face at "8 point": an 11-pixel em, as at 96 dpi, independent of the screen's
// reported resolution, so every size and position in the windows comes out in pixels as laid out.
QFont uiFont();

// The plot face ("Arial") at the given point size, converted at 96 dpi to whole pixels.
QFont arialFont(int points);

// Character height as the classic drawing interface reports it: ascent and descent each rounded
// up. For the 11-pixel face this is 13, which makes the spinner's minimum height 28 pixels.
int characterHeight(const QFont& font);

}  // namespace kelvane::fonts
