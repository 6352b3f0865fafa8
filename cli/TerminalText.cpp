// SPDX-License-Identifier: GPL-3.0-or-later
// Escaping of terminal control sequences in messages.
#include "TerminalText.h"

#include <cstdint>

namespace kelvane::cli {
namespace {

// Length of the valid UTF-8 sequence of two or more bytes at text[i], or 0.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
  const std::uint8_t lead = byte(i);
  std::size_t n = 0;
  std::uint32_t cp = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2, cp = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3, cp = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4, cp = lead & 0x07u;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0u) != 0x80u) return 0;
    cp = cp << 6 | (byte(i + k) & 0x3Fu);
  }
  const bool overlong = (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
  const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
  const bool c1 = cp >= 0x80 && cp <= 0x9F;  // CSI, OSC, ... in their 8-bit form
  if (overlong || surrogate || c1 || cp > 0x10FFFF) return 0;
  return n;
}

}  // namespace

std::string EscapeControls(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<std::uint8_t>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    if (const std::size_t n = c >= 0x80 ? Utf8Length(text, i) : 0) {
      out.append(text.substr(i, n));
      i += n;
      continue;
    }
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
    ++i;
  }
  return out;
}

}  // namespace kelvane::cli
