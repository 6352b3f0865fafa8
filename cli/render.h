// SPDX-License-Identifier: GPL-3.0-or-later
// `kelvane-cli render`: the headless renderer.
#pragma once

#include <string>
#include <vector>

namespace kelvane::cli {

// Runs the subcommand with the arguments after "render"; returns the exit status.
int RunRender(const std::vector<std::string>& args);
std::string RenderHelp();
// One line for the command overview.
inline constexpr const char* kRenderSummary =
    "render   record the I/Q signal of the current settings (WAV, SigMF, raw, cf32) or stream it";

}  // namespace kelvane::cli
