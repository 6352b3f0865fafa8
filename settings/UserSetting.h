// SPDX-License-Identifier: GPL-3.0-or-later
// Strict reading of a setting a person typed (the CLI's --set, a remote control): a value
// outside the key's range or of the wrong form is refused with a message, never clamped.
#pragma once

#include <string>
#include <string_view>

#include "SettingsFile.h"

namespace kelvane {

// Sets one key from "KEY=VALUE" (key names case-insensitive, as in the file). On failure
// returns false, leaves `values` unchanged and sets `error` to one line that starts with the
// assignment and names the key's unit and range, e.g.
// "SinePeakDev=75000: out of range, kHz 0.0 .. 150.0".
bool ApplyUserSetting(SettingsValues& values, std::string_view assignment, std::string& error);

// The same for a key already found. Accepted forms (UserSettingForms lists them per key):
// - numbers: a decimal with "." or ",", optionally followed by the key's unit ("10 kHz");
//   keys in Hz also take k and M suffixes ("-5k", "6.8kHz"); more decimals than the spinner
//   shows are rounded as the spinner rounds them;
// - SamplingRate: 44100, 48000, 96000, 192000 (also "48k", "192 kHz") or the index 0..3;
// - BufferLength: 50ms, 100ms, 250ms, 500ms, 1s (a unit is required) or the index 0..4;
// - switches: 0/1, off/on, no/yes, false/true;
// - RDSPS: up to 8 characters, all in Latin-1 (UTF-8 input, stored as Latin-1);
// - RDSPI: 1 to 4 hexadecimal digits (stored upper-case);
// - other integers in their range; device names any UTF-8 text without control characters.
bool ApplyUserSettingValue(SettingsValues& values, const SettingsKey& key, std::string_view text,
                           std::string& error);

// The forms and range a key accepts, for help texts, e.g. "kHz 0.0 .. 150.0" or
// "Hz -30000 .. 30000 (k, M)".
std::string UserSettingForms(const SettingsKey& key);

}  // namespace kelvane
