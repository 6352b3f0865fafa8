// SPDX-License-Identifier: GPL-3.0-or-later
// `devices` and `play` in a build without the sound-card layer.
#include <cstdio>

#include "audio_commands.h"
#include "options.h"

namespace kelvane::cli {
namespace {
constexpr const char* kNotBuilt =
    "audio support was not built into this kelvane-cli (configure with "
    "-DKELVANE_WITH_AUDIO=ON)";
}

int RunDevices(const std::vector<std::string>&) {
  PrintError(kNotBuilt);
  return 1;
}

int RunPlay(const std::vector<std::string>&) {
  PrintError(kNotBuilt);
  return 1;
}

bool CaptureIq(const std::string&, double, double, double, receiver::IqRecording&,
               std::string& error) {
  error = kNotBuilt;
  return false;
}

std::string DevicesHelp() {
  return std::string("kelvane-cli devices: ") + kNotBuilt + "\n";
}

std::string PlayHelp() {
  return std::string("kelvane-cli play: ") + kNotBuilt + "\n";
}

}  // namespace kelvane::cli
