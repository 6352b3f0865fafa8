// SPDX-License-Identifier: GPL-3.0-or-later
// The window system's named colours, resolved through a widget's palette when drawn.
#pragma once

#include <QColor>
#include <QPalette>
#include <optional>

class QWidget;

namespace kelvane {

enum class SysColor {
  Highlight,     // selection background
  BtnFace,       // face of buttons and panels
  BtnHighlight,  // light side of a 3-D edge
  BtnShadow,     // dark side of a 3-D edge
  DkShadow,      // darkest side of a 3-D edge
  GrayText,      // text of a disabled control
  WindowFrame,   // thin frame lines
  Window,        // background of text boxes
};

// The palette role (and group) that stands for a named colour.
QColor sysColor(const QPalette& palette, SysColor c);
QColor sysColor(const QWidget* w, SysColor c);

// A colour property that follows a named system colour until it is given a fixed colour.
class ThemedColor {
 public:
  explicit ThemedColor(SysColor c) : sys_(c) {}
  explicit ThemedColor(const QColor& c) : sys_(SysColor::Window), fixed_(c) {}

  QColor resolve(const QWidget* w) const { return fixed_ ? *fixed_ : sysColor(w, sys_); }
  // An invalid colour returns the property to its named colour. True when the stored value changed.
  bool set(const QColor& c);

 private:
  SysColor sys_;
  std::optional<QColor> fixed_;
};

}  // namespace kelvane
