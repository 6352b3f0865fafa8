// SPDX-License-Identifier: GPL-3.0-or-later
// Looks of the custom controls as the main window and the settings dialog use them.
#include "ControlLooks.h"

#include <QPalette>

#include "BMSpinEdit.h"
#include "CLEDLbl.h"
#include "FBVUMeter.h"
#include "GradBtn.h"

namespace kelvane::looks {

void spinner(TBMSpinEdit* s) {
  QPalette p = s->palette();
  p.setColor(QPalette::Base, kPanelBackground);
  p.setColor(QPalette::Text, Qt::white);
  s->setPalette(p);
  s->setCursor(Qt::ArrowCursor);
  s->setEditorEnabled(false);
}

void startButton(TGradBtn* b) {
  b->setBtnFrameSize(3);
  b->setBtnHiliteClr(QColor(192, 192, 192));
  b->setBtnShadowClr(QColor(128, 128, 128));
  b->setBeginColor(QColor(0, 0, 0));
  b->setEndColor(QColor(255, 255, 255));
  b->setGradstyle(TGradBtn::gsElliptic);
  QFont f = b->font();
  f.setBold(true);
  b->setFont(f);
  b->setFontColor(QColor(0, 0, 0));
}

void viewButton(TGradBtn* b, bool boldCaption) {
  b->setBtnFrameSize(2);
  b->setBtnHiliteClr(QColor(128, 128, 128));
  b->setBtnShadowClr(QColor(0, 0, 0));
  b->setBeginColor(QColor(0, 0, 0));
  b->setEndColor(QColor(128, 128, 128));
  b->setGradstyle(TGradBtn::gsVertCenter);
  b->setTextStyle(TGradBtn::tsInset);
  b->setTextShadeType(TGradBtn::stHeavy);
  b->setTxtHiliteClr(QColor(0, 0, 0));
  b->setTxtShadowClr(QColor(128, 128, 128));
  b->setFontColor(QColor(239, 239, 239));
  QFont f = b->font();
  f.setBold(boldCaption);
  b->setFont(f);
}

void readout(TCLEDLabel* l, const QColor& on) {
  l->setNumChars(4);
  l->setAllowDecimal(true);
  l->setAlignment(TCLEDLabel::TTARight);
  l->setSegmentThickness(3);
  l->setBorderGap(1);
  l->setHorzMargine(1);
  l->setVertMargine(1);
  l->setBackGroundColor(QColor(0, 0, 0));
  l->setOffColor(QColor(43, 0, 0));
  l->setSegmentBorderColor(QColor(128, 128, 0));
  l->setOnColor(on);
}

void levelMeter(TFBVUMeter* m) {
  m->setLevelMin(-50);
  m->setLevelMed(-15);
  m->setLevelHigh(-3);
  m->setColorMed(QColor(0, 255, 0));
  m->setColorLow(QColor(255, 255, 0));
  m->setColorHigh(QColor(255, 0, 0));
  m->setBackGroundColor(kGroupBackground);
}

}  // namespace kelvane::looks
