// SPDX-License-Identifier: GPL-3.0-or-later
// The program entry of `kelvane`: options, the two windows, signals and the screenshot mode.
#pragma once

#include <optional>
#include <string>
#include <vector>

class QImage;

namespace kelvane {

class TForm1;

struct ProgramOptions {
  std::optional<std::string> settings;    // --settings FILE
  std::optional<std::string> screenshot;  // --screenshot FILE.png
  double after = 1.0;                     // --after SECONDS
  bool dialog = false;                    // --dialog
  std::optional<std::string> remote;      // --remote [ADDR:]PORT
  bool help = false;
  bool version = false;
};

// Parses the arguments after the program name; false with a one-line error for anything it
// does not know.
bool ParseProgramOptions(const std::vector<std::string>& args, ProgramOptions& out,
                         std::string& error);
std::string ProgramHelp();

// The picture of the main window, with the dialog beside it when `withDialog` is set.
QImage RenderWindows(TForm1& form, bool withDialog);

// Runs the program; returns the exit status.
int RunKelvane(int argc, char** argv);

}  // namespace kelvane
