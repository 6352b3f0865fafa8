// SPDX-License-Identifier: GPL-3.0-or-later
// kelvane: the desktop program.
#include "AppMain.h"

int main(int argc, char** argv) {
  return kelvane::RunKelvane(argc, argv);
}
