// SPDX-License-Identifier: GPL-3.0-or-later
// Text forms of the programme values that are not plain numbers: the AF list and the
// pre-emphasis words. Shared by the settings file, typed settings and the window.
#pragma once

#include <string>
#include <string_view>

#include "Programme.h"

namespace kelvane {

// "87.6,104.2" (blanks allowed around the commas; "" is the empty list) into AF codes. Each
// frequency in MHz with at most one decimal, 87.6 .. 107.9, at most 25 of them. False with a
// one-line reason, e.g. "108.5 MHz is outside 87.6 .. 107.9 MHz", leaving `out` unchanged.
bool ParseAfList(std::string_view text, ProgrammeSettings& out, std::string& why);
// The list as the file holds it: "87.6,104.2".
std::string FormatAfList(const ProgrammeSettings& p);

}  // namespace kelvane
