// SPDX-License-Identifier: GPL-3.0-or-later
// Read-out number text, independent of the locale.
#include "MeterText.h"

#include <charconv>
#include <cstring>

namespace kelvane {

void FormatReading(double value, char* out, std::size_t capacity) {
  if (capacity == 0) return;
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 1);
  std::size_t len = res.ec == std::errc() ? static_cast<std::size_t>(res.ptr - buf) : 0;
  const char* text = buf;
  // A value that rounds to zero reads "0.0", not "-0.0".
  if (len == 4 && std::memcmp(buf, "-0.0", 4) == 0) {
    ++text;
    --len;
  }
  if (len > capacity - 1) len = capacity - 1;
  std::memcpy(out, text, len);
  out[len] = '\0';
}

}  // namespace kelvane
