// SPDX-License-Identifier: GPL-3.0-or-later
// Strict parsing of typed settings: each key's accepted forms, range checks and messages.
#include "UserSetting.h"

#include <charconv>
#include <cmath>
#include <optional>

#include "IniFile.h"
#include "ProgrammeTable.h"
#include "ProgrammeText.h"
#include "RunRules.h"
#include "TextCodec.h"

namespace kelvane {
namespace {

constexpr std::size_t kMaxPSLength = 8;

// The position of `v` in a list whose entries `valueAt` gives, or -1.
int ListIndex(double v, int count, int (*valueAt)(int)) {
  for (int i = 0; i < count; ++i) {
    if (std::fabs(v - valueAt(i)) < 1e-6) return i;
  }
  return -1;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

struct Decimal {
  double value = 0.0;
  std::string_view rest;  // what follows the number, trimmed
};

// [+-] digits [("." | ",") digits], at least one digit; no exponent, so that "1e3" is not
// mistaken for a number with a suffix.
std::optional<Decimal> ReadDecimal(std::string_view s) {
  s = Trim(s);
  std::size_t i = 0;
  std::string text;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') text += '-';
    ++i;
  }
  bool digits = false;
  for (; i < s.size() && IsDigit(s[i]); ++i) text += s[i], digits = true;
  if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
    text += '.';
    for (++i; i < s.size() && IsDigit(s[i]); ++i) text += s[i], digits = true;
  }
  if (!digits) return std::nullopt;
  Decimal d;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), d.value);
  if (r.ec != std::errc() || !std::isfinite(d.value)) return std::nullopt;
  d.rest = Trim(s.substr(i));
  return d;
}

// "k" or "M", optionally followed by "Hz": scales v. False for anything else.
bool ApplyHzSuffix(std::string_view rest, double& v) {
  if (rest.empty() || (rest.front() != 'k' && rest.front() != 'M')) return false;
  const std::string_view after = Trim(rest.substr(1));
  if (!after.empty() && !EqualsIgnoreCase(after, "Hz")) return false;
  v *= rest.front() == 'k' ? 1e3 : 1e6;
  return true;
}

// A number with an optional unit; in Hz and S/s also with k or M before the unit ("98.5M").
std::optional<double> ReadUnitDecimal(std::string_view text, std::string_view unit) {
  const auto d = ReadDecimal(text);
  if (!d) return std::nullopt;
  double v = d->value;
  std::string_view rest = d->rest;
  if (rest.empty() || EqualsIgnoreCase(rest, unit)) return v;
  if ((unit != "Hz" && unit != "S/s") || (rest.front() != 'k' && rest.front() != 'M')) {
    return std::nullopt;
  }
  v *= rest.front() == 'k' ? 1e3 : 1e6;
  rest = Trim(rest.substr(1));
  if (!rest.empty() && !EqualsIgnoreCase(rest, unit)) return std::nullopt;
  return v;
}

std::string Fixed(double v, int decimals) {
  char text[64];
  const auto end =
      std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, decimals).ptr;
  return std::string(text, end);
}

std::string RangeText(const ParamRow& row) {
  const std::string unit = row.unit.empty() ? std::string("ratio") : std::string(row.unit);
  return unit + " " + Fixed(row.minValue, row.precision) + " .. " +
         Fixed(row.maxValue, row.precision);
}

std::string SamplingRateForms() {
  return "44100, 48000, 96000 or 192000 Hz (48k), or the index 0..3";
}

std::string BufferLengthForms() {
  return "50ms, 100ms, 250ms, 500ms or 1s, or the index 0..4";
}

bool Fail(std::string& error, std::string_view why) {
  error = std::string(why);
  return false;
}

bool ReadFloat(const ParamRow& row, std::string_view text, double& v, std::string& why) {
  const auto d = ReadDecimal(text);
  if (!d) return Fail(why, "not a number; " + RangeText(row));
  v = d->value;
  const std::string_view rest = d->rest;
  if (!rest.empty() && !(!row.unit.empty() && EqualsIgnoreCase(rest, row.unit))) {
    const bool hz = row.unit == "Hz";
    if (!(hz && ApplyHzSuffix(rest, v))) {
      if (rest.front() == 'k' || rest.front() == 'M') {
        return Fail(why, "the unit is " + std::string(row.unit.empty() ? "a ratio" : row.unit) +
                             ", give the number without a suffix; " + RangeText(row));
      }
      return Fail(why, "not a number in " + std::string(row.unit.empty() ? "ratio" : row.unit) +
                           "; " + RangeText(row));
    }
  }
  if (v < row.minValue || v > row.maxValue) return Fail(why, "out of range, " + RangeText(row));
  return true;
}

bool ReadSamplingRate(std::string_view text, int& index, std::string& why) {
  const auto d = ReadDecimal(text);
  const std::string forms = "not in the list: " + SamplingRateForms();
  if (!d) return Fail(why, forms);
  double v = d->value;
  if (d->rest.empty() && v >= 0 && v < kSamplingRateItems && v == std::floor(v)) {
    index = static_cast<int>(v);
    return true;
  }
  if (!d->rest.empty() && !EqualsIgnoreCase(d->rest, "Hz") && !ApplyHzSuffix(d->rest, v)) {
    return Fail(why, forms);
  }
  const int i = ListIndex(v, kSamplingRateItems, SamplingRateForIndex);
  if (i < 0) return Fail(why, forms);
  index = i;
  return true;
}

bool ReadBufferLength(std::string_view text, int& index, std::string& why) {
  const auto d = ReadDecimal(text);
  const std::string forms = "not in the list: " + BufferLengthForms();
  if (!d) return Fail(why, forms);
  if (d->rest.empty()) {
    if (d->value >= 0 && d->value < kBufferLengthItems && d->value == std::floor(d->value)) {
      index = static_cast<int>(d->value);
      return true;
    }
    return Fail(why, "a length needs its unit (ms or s); " + BufferLengthForms());
  }
  double ms = 0.0;
  if (EqualsIgnoreCase(d->rest, "ms")) {
    ms = d->value;
  } else if (EqualsIgnoreCase(d->rest, "s")) {
    ms = d->value * 1000.0;
  } else {
    return Fail(why, forms);
  }
  const int i = ListIndex(ms, kBufferLengthItems, BufferLengthMs);
  if (i < 0) return Fail(why, forms);
  index = i;
  return true;
}

bool ReadSwitch(std::string_view text, bool& on, std::string& why) {
  text = Trim(text);
  for (const char* w : {"1", "on", "yes", "true"}) {
    if (EqualsIgnoreCase(text, w)) return on = true, true;
  }
  for (const char* w : {"0", "off", "no", "false"}) {
    if (EqualsIgnoreCase(text, w)) return on = false, true;
  }
  return Fail(why, "not a switch: 0 or 1 (also off/on, no/yes, false/true)");
}

struct IntRange {
  int min, max;
  const char* unit;
};

IntRange IntegerRange(std::string_view name) {
  if (name == "ScopeFunc") return {1, 5, "view"};
  if (name == "AudioInDevice" || name == "AudioOutDevice") return {0, 2147483647, "list index"};
  return {-2147483647 - 1, 2147483647, "pixels"};  // Top, Left
}

bool HasControlCharacter(std::string_view latin1) {
  for (char ch : latin1) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
  }
  return false;
}

// A text sent over RDS: every character must have a code in the RDS set.
bool ReadRdsText(std::string_view text, std::size_t maxChars, std::string& out, std::string& why) {
  const std::string limit = "up to " + std::to_string(maxChars) + " characters of the RDS set";
  std::string reason;
  const auto codes = RdsFromUtf8(text, &reason);
  if (!codes) return Fail(why, reason + "; " + limit);
  if (codes->size() > maxChars) {
    return Fail(why, "too long (" + std::to_string(codes->size()) + " characters); " + limit);
  }
  out = *codes;
  return true;
}

std::string ProgrammeForms(const ProgrammeRow& row) {
  switch (row.kind) {
    case ProgrammeKind::Switch:
      return "0/1 (off/on, no/yes, false/true)";
    case ProgrammeKind::Text:
      return "up to " + std::to_string(row.maxValue) + " characters of the RDS set";
    case ProgrammeKind::AfList:
      return "MHz 87.6 .. 107.9, up to 25, separated by commas";
    case ProgrammeKind::Path:
      return "a file name, UTF-8, up to " + std::to_string(row.maxValue) + " characters";
    case ProgrammeKind::Words:
      return "text, UTF-8, up to " + std::to_string(row.maxValue) + " characters";
    case ProgrammeKind::Decimal:
      return std::string(row.unit) + " " + std::to_string(row.minValue) + " .. " +
             std::to_string(row.maxValue) + (row.unit == "dB" ? "" : " (k, M)") + ", or empty";
    case ProgrammeKind::Choice: {
      std::string forms;
      for (std::size_t i = 0; i < row.choices.size(); ++i) {
        forms += (i ? ", " : "") + std::to_string(i) + " = " + std::string(row.choices[i]);
      }
      return forms;
    }
    case ProgrammeKind::Number:
      if (!row.unit.empty()) {
        return std::string(row.unit) + " " + std::to_string(row.minValue) + " .. " +
               std::to_string(row.maxValue);
      }
      break;
  }
  return "code " + std::to_string(row.minValue) + " .. " + std::to_string(row.maxValue);
}

bool ReadText(std::string_view name, std::string_view text, std::string& out, std::string& why);

// A programme key typed by a person, into `next`.
bool ReadProgramme(const ProgrammeRow& row, std::string_view text, SettingsValues& next,
                   std::string& why) {
  const SettingsKey& key = *FindSettingsKey(row.key);
  switch (row.kind) {
    case ProgrammeKind::Text:
      return ReadRdsText(text, static_cast<std::size_t>(row.maxValue), next.rdsRT, why);
    case ProgrammeKind::AfList:
      if (!ParseAfList(text, next.programme, why))
        return Fail(why, why + "; " + ProgrammeForms(row));
      return true;
    case ProgrammeKind::Path:
    case ProgrammeKind::Words: {
      std::string path;
      if (!ReadText(row.key, text, path, why)) return false;
      if (path.size() > static_cast<std::size_t>(row.maxValue)) {
        return Fail(why, "too long; " + ProgrammeForms(row));
      }
      return ApplySettingText(next, key, path);
    }
    case ProgrammeKind::Decimal: {
      if (text.empty()) return ApplySettingText(next, key, "");
      const auto v = ReadUnitDecimal(text, row.unit);
      if (!v) return Fail(why, "not a number; " + ProgrammeForms(row));
      if (*v < row.minValue || *v > row.maxValue) {
        return Fail(why, "out of range, " + ProgrammeForms(row));
      }
      return ApplySettingText(next, key, FormatSettingsFloat(*v));
    }
    case ProgrammeKind::Switch: {
      bool on = false;
      return ReadSwitch(text, on, why) && ApplySettingText(next, key, on ? "1" : "0");
    }
    case ProgrammeKind::Choice:
    case ProgrammeKind::Number: {
      const auto v = ParseSettingsInt(text);
      if (!v) return Fail(why, "not an integer; " + ProgrammeForms(row));
      if (*v < row.minValue || *v > row.maxValue) {
        return Fail(why, "out of range, " + ProgrammeForms(row));
      }
      return ApplySettingText(next, key, std::to_string(*v));
    }
  }
  return false;
}

bool ReadText(std::string_view name, std::string_view text, std::string& out, std::string& why) {
  if (name == "RDSPI") {
    const std::string forms = "1 to 4 hexadecimal digits, 0 .. FFFF";
    if (text.empty() || text.size() > 4) return Fail(why, "not " + forms);
    out.clear();
    for (char c : text) {
      const bool hex = IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
      if (!hex) return Fail(why, "not " + forms);
      out += (c >= 'a' && c <= 'f') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return true;
  }
  if (name == "RDSPS") return ReadRdsText(text, kMaxPSLength, out, why);
  // Device and file names: the window's lists hold UTF-8.
  if (!IsValidUtf8(text)) return Fail(why, "not valid UTF-8 text");
  if (HasControlCharacter(text)) return Fail(why, "control characters are not allowed");
  if (Utf8Prefix(text, kMaxTextLength).size() != text.size()) {
    return Fail(why, "too long; up to 2047 characters");
  }
  out = std::string(text);
  return true;
}

}  // namespace

bool ApplyUserSettingValue(SettingsValues& values, const SettingsKey& key, std::string_view text,
                           std::string& error) {
  SettingsValues next = values;
  std::string why;
  bool ok = false;
  const std::string_view name = key.name;
  const auto programme = FindProgrammeKey(name);
  switch (programme ? KeyType::Text : key.type) {
    case KeyType::Float: {
      const ParamId id = *FindParamByKey(name);
      double v = 0.0;
      ok = ReadFloat(ParamInfo(id), text, v, why);
      if (ok) next.params[id] = NormaliseParam(id, v);
      break;
    }
    case KeyType::Boolean: {
      bool on = false;
      ok = ReadSwitch(text, on, why);
      if (ok) ok = ApplySettingText(next, key, on ? "1" : "0");
      break;
    }
    case KeyType::Integer: {
      int index = 0;
      if (name == "SamplingRate") {
        ok = ReadSamplingRate(text, index, why);
      } else if (name == "BufferLength") {
        ok = ReadBufferLength(text, index, why);
      } else {
        const IntRange range = IntegerRange(name);
        const auto v = ParseSettingsInt(text);
        const std::string forms = std::string(range.unit) + " " + std::to_string(range.min) +
                                  " .. " + std::to_string(range.max);
        if (!v) {
          why = "not an integer; " + forms;
        } else if (*v < range.min || *v > range.max) {
          why = "out of range, " + forms;
        } else {
          index = *v;
          ok = true;
        }
      }
      if (ok) ok = ApplySettingText(next, key, std::to_string(index));
      break;
    }
    case KeyType::Text: {
      if (programme) {
        ok = ReadProgramme(ProgrammeInfo(*programme), text, next, why);
        break;
      }
      std::string out;
      ok = ReadText(name, text, out, why);
      if (ok && name == "RDSPS") {
        // Held as RDS codes; a typed PS keeps blanks at either end (RDS pads with them).
        next.rdsPS = out;
      } else if (ok) {
        ok = ApplySettingText(next, key, name == "RDSPI" ? Utf8FromLatin1(out) : out);
      }
      break;
    }
  }
  if (!ok) {
    error = std::string(key.name) + "=" + std::string(text) + ": " + why;
    return false;
  }
  values = std::move(next);
  return true;
}

bool ApplyUserSetting(SettingsValues& values, std::string_view assignment, std::string& error) {
  const auto eq = assignment.find('=');
  if (eq == std::string_view::npos || eq == 0) {
    error = "expected KEY=VALUE, got '" + std::string(assignment) + "'";
    return false;
  }
  const std::string_view name = assignment.substr(0, eq);
  const SettingsKey* key = FindSettingsKey(name);
  if (!key) {
    error = std::string(assignment) + ": unknown settings key '" + std::string(name) + "'";
    return false;
  }
  return ApplyUserSettingValue(values, *key, assignment.substr(eq + 1), error);
}

std::string UserSettingForms(const SettingsKey& key) {
  const std::string_view name = key.name;
  if (const auto programme = FindProgrammeKey(name))
    return ProgrammeForms(ProgrammeInfo(*programme));
  switch (key.type) {
    case KeyType::Float: {
      const ParamRow& row = ParamInfo(*FindParamByKey(name));
      std::string forms = RangeText(row);
      if (row.unit == "Hz") forms += " (k, M)";
      return forms;
    }
    case KeyType::Boolean:
      return "0/1 (off/on, no/yes, false/true)";
    case KeyType::Integer: {
      if (name == "SamplingRate") return SamplingRateForms();
      if (name == "BufferLength") return BufferLengthForms();
      if (name == "Top" || name == "Left") return "pixels, any integer";
      if (name == "ScopeFunc") return "view 1 .. 5";
      return "list index, 0 or more";
    }
    case KeyType::Text:
      if (name == "RDSPS") return "up to 8 characters of the RDS set";
      if (name == "RDSPI") return "1 to 4 hexadecimal digits";
      return "text";
  }
  return std::string();
}

}  // namespace kelvane
