// SPDX-License-Identifier: GPL-3.0-or-later
// `kelvane-cli devices` and `kelvane-cli play`: the subcommands that use the sound card.
#pragma once

#include <string>
#include <vector>

#include "FmReceiver.h"

namespace kelvane::cli {

// Run the subcommand with the arguments after its name; return the exit status. Without audio
// support built in, both say so and return 1.
int RunDevices(const std::vector<std::string>& args);
int RunPlay(const std::vector<std::string>& args);
std::string DevicesHelp();
std::string PlayHelp();
// Records `seconds` of 16-bit stereo from the input device named or numbered `device` at `rate`
// Hz for analyze, after dropping the first `skip_s` seconds; false with a one-line reason.
bool CaptureIq(const std::string& device, double rate, double skip_s, double seconds,
               receiver::IqRecording& out, std::string& error);

inline constexpr const char* kDevicesSummary =
    "devices  list the sound card's output and input devices with their numbers";
inline constexpr const char* kPlaySummary =
    "play     run the modulator on the sound card (until the time is up or Ctrl-C)";

}  // namespace kelvane::cli
