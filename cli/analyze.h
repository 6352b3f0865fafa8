// SPDX-License-Identifier: GPL-3.0-or-later
// `kelvane-cli analyze`: the measuring receiver on an I/Q recording or a live input.
#pragma once

#include <string>
#include <vector>

namespace kelvane::cli {

// Runs the subcommand with the arguments after "analyze"; returns the exit status: 0 measured,
// 1 the file or device could not be read, 2 not an FM signal, 3 an option refused.
int RunAnalyze(const std::vector<std::string>& args);
std::string AnalyzeHelp();
inline constexpr const char* kAnalyzeSummary =
    "analyze  measure an I/Q recording or live input: carrier, I/Q calibration, FM, stereo, RDS";

}  // namespace kelvane::cli
