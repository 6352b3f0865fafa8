// SPDX-License-Identifier: GPL-3.0-or-later
// The player's side of an SDR output: its settings, the confirmation and the read-back line.
#pragma once

#include <string>

#include "SettingsFile.h"

namespace kelvane::cli {

// For output number `device`: nothing to do for a sound card (true). For an SDR the settings
// go to the driver; false with `error` when the centre frequency is not set or `--yes` was not
// given (transmitting needs the user's word every time in the player).
bool PrepareSdrOutput(int device, const SettingsValues& values, bool yes, std::string& error);
// After a start on an SDR: what the device says it was set to; empty for a sound card.
std::string SdrReadBack(int device);

}  // namespace kelvane::cli
