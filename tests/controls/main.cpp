// SPDX-License-Identifier: GPL-3.0-or-later
// Test entry: one QApplication on the offscreen platform, with the windows' font, for all tests.
#include <gtest/gtest.h>

#include <QApplication>

#include "Fonts.h"

int main(int argc, char** argv) {
  // No display needed, and numbers formatted with "." whatever the machine's locale.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("LC_ALL", "C.UTF-8");
  QApplication app(argc, argv);
  QApplication::setFont(kelvane::fonts::uiFont());
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
