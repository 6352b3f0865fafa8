// SPDX-License-Identifier: GPL-3.0-or-later
// Number text of the read-outs: fixed point, one decimal, always '.', e.g. "-90.0".
#pragma once

#include <cstddef>

namespace kelvane {

// Writes a NUL-terminated text into out (truncated to capacity - 1 characters).
void FormatReading(double value, char* out, std::size_t capacity);

}  // namespace kelvane
