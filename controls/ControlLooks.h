// SPDX-License-Identifier: GPL-3.0-or-later
// The property sets that give the custom controls the look of the two windows.
#pragma once

#include <QColor>

class TBMSpinEdit;
class TCLEDLabel;
class TFBVUMeter;
class TGradBtn;

namespace kelvane::looks {

inline const QColor kPanelBackground{37, 37, 37};
inline const QColor kGroupBackground{23, 23, 23};

// Every value spinner: dark field, white text, arrow cursor, no cut or paste.
void spinner(TBMSpinEdit* s);
// Start/Stop: black-to-white elliptic gradient, 3-pixel silver/grey frame, bold black caption.
void startButton(TGradBtn* b);
// The five view buttons and, with a bold caption, the dialog's "Close".
void viewButton(TGradBtn* b, bool boldCaption = false);
// The two read-outs; `on` is lime for the deviation and red for the MPX power.
void readout(TCLEDLabel* l, const QColor& on);
// The input level bar.
void levelMeter(TFBVUMeter* m);

}  // namespace kelvane::looks
