// SPDX-License-Identifier: GPL-3.0-or-later
// SCPI parameter data: numbers with suffixes, booleans, strings, and each settings key's value
// as a parameter and as a query answer.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "SettingsFile.h"

namespace kelvane::remote {

// A parameter as typed: a decimal number (<NRf>) with an optional suffix, MIN/MAX/DEF, or a
// quoted string.
struct Param {
  enum class Kind { Number, Min, Max, Default, String, Other };
  Kind kind = Kind::Other;
  double number = 0.0;
  std::string suffix;  // upper case, e.g. "KHZ"
  std::string text;    // the string's content (quotes undone), or the raw text for Other
};
Param ReadParam(std::string_view text);

// The outcome of setting a key: 0 or a ScpiError code, with a one-line detail.
struct SetResult {
  int error = 0;
  std::string detail;
};

// Sets `key` in `values` from one parameter, with the table's range: outside it the value is
// refused (-222), never clamped. Numbers take the suffixes of the key's unit (HZ/KHZ/MHZ for
// frequencies, DEG, PCT, S/MS); a bare number is in the key's unit.
SetResult SetKey(SettingsValues& values, const SettingsKey& key, const Param& p);
// The key's value as a query answers it; `which` MIN/MAX/DEF asks for the range instead.
// nullopt when that form does not apply to the key.
std::optional<std::string> QueryKey(const SettingsValues& values, const SettingsKey& key,
                                    Param::Kind which = Param::Kind::Other);
// What a key takes, for SYSTem:HELP:HEADers? and error details, e.g.
// "kHz 0.0 .. 150.0 (HZ, KHZ, MHZ)" or "ON|OFF|1|0".
std::string KeyForms(const SettingsKey& key);
// A switch parameter: ON/OFF/1/0.
std::optional<bool> ReadBool(const Param& p);
// "text" with inner quotes doubled.
std::string Quoted(std::string_view text);
// `s` without the spaces and tabs around it (SCPI's white space).
std::string_view Trim(std::string_view s);

}  // namespace kelvane::remote
