// SPDX-License-Identifier: GPL-3.0-or-later
// The RDS character set (the basic code table of the RDS standard): the characters PS and
// RadioText can carry, one byte each. It agrees with ASCII except at 0x24 (currency sign, the
// dollar is 0xAB), 0x5E, 0x60 and 0x7E, and differs from Latin-1 above 0x7F.
#pragma once

#include <cstdint>

namespace kelvane {

// The character of a code, or 0 for a control code or an unused position.
char32_t RdsCharForCode(std::uint8_t code);
// The code of a character, or -1 when the table has none.
int RdsCodeForChar(char32_t c);

}  // namespace kelvane
