// SPDX-License-Identifier: GPL-3.0-or-later
// Mapping of the named system colours to palette roles.
#include "SystemColors.h"

#include <QWidget>

namespace kelvane {

QColor sysColor(const QPalette& p, SysColor c) {
  switch (c) {
    case SysColor::Highlight:
      return p.color(QPalette::Active, QPalette::Highlight);
    case SysColor::BtnFace:
      return p.color(QPalette::Active, QPalette::Button);
    case SysColor::BtnHighlight:
      return p.color(QPalette::Active, QPalette::Light);
    case SysColor::BtnShadow:
      return p.color(QPalette::Active, QPalette::Dark);
    case SysColor::DkShadow:
      return p.color(QPalette::Active, QPalette::Shadow);
    case SysColor::GrayText:
      return p.color(QPalette::Disabled, QPalette::WindowText);
    case SysColor::WindowFrame:
      return p.color(QPalette::Active, QPalette::Shadow);
    case SysColor::Window:
      return p.color(QPalette::Active, QPalette::Base);
  }
  return {};
}

QColor sysColor(const QWidget* w, SysColor c) {
  return sysColor(w->palette(), c);
}

bool ThemedColor::set(const QColor& c) {
  if (!c.isValid()) {
    if (!fixed_) return false;
    fixed_.reset();
    return true;
  }
  if (fixed_ && *fixed_ == c) return false;
  fixed_ = c;
  return true;
}

}  // namespace kelvane
