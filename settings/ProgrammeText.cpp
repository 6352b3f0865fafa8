// SPDX-License-Identifier: GPL-3.0-or-later
// AF list text.
#include "ProgrammeText.h"

#include <cstdio>

namespace kelvane {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// "104.2" or "104" in tenths of a MHz (1042); -1 for any other form.
int ReadTenths(std::string_view s) {
  int whole = 0, digits = 0;
  std::size_t i = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9' && digits < 4; ++i, ++digits) {
    whole = whole * 10 + (s[i] - '0');
  }
  if (digits == 0) return -1;
  int tenth = 0;
  if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
    // A comma is the list separator, so only "." reaches here inside one item.
    if (i + 2 != s.size() || s[i + 1] < '0' || s[i + 1] > '9') return -1;
    tenth = s[i + 1] - '0';
    i += 2;
  }
  return i == s.size() ? whole * 10 + tenth : -1;
}

}  // namespace

bool ParseAfList(std::string_view text, ProgrammeSettings& out, std::string& why) {
  ProgrammeSettings next = out;
  next.af = {};
  next.afCount = 0;
  text = Trim(text);
  while (!text.empty()) {
    const auto comma = text.find(',');
    const std::string_view item = Trim(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    if (comma != std::string_view::npos && Trim(text).empty()) {
      why = "a frequency is missing after the last comma";
      return false;
    }
    const int tenths = ReadTenths(item);
    if (tenths < 0) {
      why = "'" + std::string(item) + "' is not a frequency in MHz such as 104.2";
      return false;
    }
    const int code = AfCodeForTenthsMHz(tenths);
    if (code < 0) {
      why = std::string(item) + " MHz is outside 87.6 .. 107.9 MHz";
      return false;
    }
    if (next.afCount == kMaxAfCount) {
      why = "more than 25 frequencies";
      return false;
    }
    next.af[static_cast<std::size_t>(next.afCount++)] = static_cast<std::uint8_t>(code);
  }
  out = next;
  return true;
}

std::string FormatAfList(const ProgrammeSettings& p) {
  std::string text;
  for (int i = 0; i < p.afCount; ++i) {
    const int tenths = p.af[static_cast<std::size_t>(i)] + 875;
    char item[16];
    std::snprintf(item, sizeof item, "%s%d.%d", i ? "," : "", tenths / 10, tenths % 10);
    text += item;
  }
  return text;
}

}  // namespace kelvane
