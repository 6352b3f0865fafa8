// SPDX-License-Identifier: GPL-3.0-or-later
// Parameter parsing with suffixes, and the mapping of each kind of settings key to SCPI data.
#include "ScpiValue.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

#include "ProgrammeTable.h"
#include "RunRules.h"
#include "ScpiError.h"
#include "UserSetting.h"

namespace kelvane::remote {
namespace {

bool Digit(char c) {
  return c >= '0' && c <= '9';
}
bool Letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool IsKeyword(const std::string& upper, std::string_view shortForm, std::string_view longForm) {
  return upper == shortForm || upper == longForm;
}

// <NRf> [suffix]: digits with an optional point and exponent, then letters.
bool ReadNumber(std::string_view s, Param& p) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < s.size() && Digit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && Digit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    const std::size_t expStart = j;
    while (j < s.size() && Digit(s[j])) ++j;
    if (j > expStart) i = j;  // else the E begins a suffix
  }
  std::string number(s.substr(s[0] == '+' ? 1 : 0, s[0] == '+' ? i - 1 : i));
  if (!number.empty() && number.back() == '.') number.pop_back();
  if (number.front() == '.' || (number.size() > 1 && number[0] == '-' && number[1] == '.')) {
    number.insert(number.front() == '-' ? 1 : 0, "0");
  }
  const auto r = std::from_chars(number.data(), number.data() + number.size(), p.number);
  if (r.ec != std::errc() || !std::isfinite(p.number)) return false;
  const std::string_view rest = Trim(s.substr(i));
  if (!std::all_of(rest.begin(), rest.end(), [](char c) { return Letter(c) || c == '/'; }))
    return false;
  p.suffix = Upper(rest);
  p.kind = Param::Kind::Number;
  return true;
}

// How a suffix scales a number into the key's unit, as a ratio (exact for the decimal
// prefixes). False when the suffix does not belong to the unit.
bool SuffixRatio(std::string_view unit, const std::string& suffix, double& mul, double& div) {
  mul = div = 1.0;
  if (suffix.empty()) return true;
  static constexpr std::pair<std::string_view, double> kFamilies[][3] = {
      {{"Hz", 1.0}, {"kHz", 1e3}, {"MHz", 1e6}},
      {{"s", 1.0}, {"ms", 1e-3}, {"", 0.0}},
  };
  for (const auto& family : kFamilies) {
    double unitScale = 0.0, suffixScale = 0.0;
    for (const auto& [name, scale] : family) {
      if (name.empty()) continue;
      if (name == unit) unitScale = scale;
      if (Upper(name) == suffix) suffixScale = scale;
    }
    if (unitScale > 0.0 && suffixScale > 0.0) {
      // Whole factors multiply and divide exactly: 150000 HZ is 150 kHz to the bit.
      if (suffixScale >= 1.0)
        mul = suffixScale;
      else
        div = 1.0 / suffixScale;
      if (unitScale >= 1.0)
        div *= unitScale;
      else
        mul *= 1.0 / unitScale;
      return true;
    }
  }
  if (unit.rfind("deg", 0) == 0) return suffix == "DEG";
  if (unit.rfind("%", 0) == 0) return suffix == "PCT";
  if (unit == "dB") return suffix == "DB";
  return false;
}

std::string Plain(double v) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed).ptr;
  return std::string(text, end);
}

std::string Fixed(double v, int decimals) {
  char text[64];
  const auto end =
      std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, decimals).ptr;
  return std::string(text, end);
}

SetResult Fail(int code, const SettingsKey& key, std::string_view why) {
  return {code, std::string(key.name) + ": " + std::string(why)};
}

SetResult Apply(SettingsValues& values, const SettingsKey& key, const std::string& text,
                int codeOnFailure) {
  std::string error;
  if (ApplyUserSettingValue(values, key, text, error)) return {};
  return {codeOnFailure, error};
}

// A number in `unit` from a Number parameter, or an error.
SetResult Scaled(const SettingsKey& key, std::string_view unit, const Param& p, double& v) {
  if (p.kind != Param::Kind::Number) return Fail(kDataTypeError, key, "a number is expected");
  double mul = 1.0, div = 1.0;
  if (!SuffixRatio(unit, p.suffix, mul, div)) {
    return Fail(kInvalidSuffix, key,
                "suffix " + p.suffix + " does not fit the unit " +
                    std::string(unit.empty() ? "(none)" : unit));
  }
  v = p.number * mul / div;
  return {};
}

struct IntRange {
  int min, max, def;
};

SetResult SetInteger(SettingsValues& values, const SettingsKey& key, const Param& p,
                     std::optional<IntRange> range) {
  double v = 0.0;
  if (range && p.kind == Param::Kind::Min)
    v = range->min;
  else if (range && p.kind == Param::Kind::Max)
    v = range->max;
  else if (range && p.kind == Param::Kind::Default)
    v = range->def;
  else if (SetResult r = Scaled(key, "", p, v); r.error)
    return r;
  if (v != std::floor(v)) return Fail(kIllegalParameterValue, key, "an integer is expected");
  if (std::fabs(v) > 2147483647.0 || (range && (v < range->min || v > range->max))) {
    return Fail(kDataOutOfRange, key, Plain(v) + " is outside " + KeyForms(key));
  }
  return Apply(values, key, Plain(v), kDataOutOfRange);
}

SetResult SetFloat(SettingsValues& values, const SettingsKey& key, const Param& p) {
  const ParamRow& row = ParamInfo(*FindParamByKey(key.name));
  double v = 0.0;
  switch (p.kind) {
    case Param::Kind::Min:
      v = row.minValue;
      break;
    case Param::Kind::Max:
      v = row.maxValue;
      break;
    case Param::Kind::Default:
      v = row.firstRun;
      break;
    default:
      if (SetResult r = Scaled(key, row.unit, p, v); r.error) return r;
  }
  // A suffix's scaling may miss an edge by a rounding step; that is the edge, not beyond it.
  const double slack =
      1e-9 * std::max(1.0, std::max(std::fabs(row.minValue), std::fabs(row.maxValue)));
  if (!(v >= row.minValue - slack && v <= row.maxValue + slack)) {
    return Fail(kDataOutOfRange, key, Plain(v) + " is outside " + KeyForms(key));
  }
  v = std::clamp(v, row.minValue, row.maxValue);
  return Apply(values, key, Plain(v), kIllegalParameterValue);
}

}  // namespace

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string KeyForms(const SettingsKey& key) {
  const auto programme = FindProgrammeKey(key.name);
  const ProgrammeRow* row = programme ? &ProgrammeInfo(*programme) : nullptr;
  if (row ? row->kind == ProgrammeKind::Switch : key.type == KeyType::Boolean) return "ON|OFF|1|0";
  if (row ? (row->kind == ProgrammeKind::Text || row->kind == ProgrammeKind::AfList)
          : key.type == KeyType::Text) {
    return "'string': " + UserSettingForms(key);
  }
  if (key.name == "SamplingRate") return "44100|48000|96000|192000 (HZ, KHZ)";
  if (key.name == "BufferLength") return "0.05|0.1|0.25|0.5|1 s (S, MS)";
  std::string forms = UserSettingForms(key);
  if (key.type != KeyType::Float || row) return forms;
  if (const auto k = forms.find(" (k, M)"); k != std::string::npos) forms.erase(k);
  const std::string_view unit = ParamInfo(*FindParamByKey(key.name)).unit;
  if (unit == "Hz" || unit == "kHz") forms += " (HZ, KHZ, MHZ)";
  if (unit.rfind("deg", 0) == 0) forms += " (DEG)";
  if (unit.rfind("%", 0) == 0) forms += " (PCT)";
  return forms;
}

Param ReadParam(std::string_view text) {
  text = Trim(text);
  Param p;
  p.text = std::string(text);
  if (!text.empty() && (text.front() == '\'' || text.front() == '"')) {
    const char q = text.front();
    std::string content;
    std::size_t i = 1;
    for (; i < text.size(); ++i) {
      if (text[i] == q) {
        if (i + 1 < text.size() && text[i + 1] == q) {
          content += q;
          ++i;
          continue;
        }
        break;
      }
      content += text[i];
    }
    if (i == text.size() - 1) {
      p.kind = Param::Kind::String;
      p.text = std::move(content);
    }
    return p;
  }
  const std::string upper = Upper(text);
  if (IsKeyword(upper, "MIN", "MINIMUM"))
    p.kind = Param::Kind::Min;
  else if (IsKeyword(upper, "MAX", "MAXIMUM"))
    p.kind = Param::Kind::Max;
  else if (IsKeyword(upper, "DEF", "DEFAULT"))
    p.kind = Param::Kind::Default;
  else if (!text.empty())
    ReadNumber(text, p);
  return p;
}

std::optional<bool> ReadBool(const Param& p) {
  const std::string upper = Upper(p.text);
  if (p.kind == Param::Kind::Number && p.suffix.empty() && (p.number == 0.0 || p.number == 1.0))
    return p.number == 1.0;
  if (p.kind == Param::Kind::Other && upper == "ON") return true;
  if (p.kind == Param::Kind::Other && upper == "OFF") return false;
  return std::nullopt;
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

SetResult SetKey(SettingsValues& values, const SettingsKey& key, const Param& p) {
  const auto programme = FindProgrammeKey(key.name);
  const ProgrammeRow* row = programme ? &ProgrammeInfo(*programme) : nullptr;
  const bool isSwitch = row ? row->kind == ProgrammeKind::Switch : key.type == KeyType::Boolean;
  const bool isText = row ? (row->kind == ProgrammeKind::Text || row->kind == ProgrammeKind::AfList)
                          : key.type == KeyType::Text;
  if (isSwitch) {
    std::optional<bool> on = ReadBool(p);
    if (p.kind == Param::Kind::Default) {
      on = SettingText(SettingsValues{}, key) == "1";
    }
    if (!on) return Fail(kIllegalParameterValue, key, "ON, OFF, 1 or 0 is expected");
    return Apply(values, key, *on ? "1" : "0", kIllegalParameterValue);
  }
  if (isText) {
    if (p.kind != Param::Kind::String) {
      return Fail(kDataTypeError, key, "a quoted string is expected");
    }
    return Apply(values, key, p.text, kIllegalParameterValue);
  }
  if (row) return SetInteger(values, key, p, IntRange{row->minValue, row->maxValue, row->firstRun});
  if (key.type == KeyType::Float) return SetFloat(values, key, p);
  const SettingsValues first;
  if (key.name == "SamplingRate") {
    double hz = 0.0;
    if (p.kind == Param::Kind::Min)
      hz = SamplingRateForIndex(0);
    else if (p.kind == Param::Kind::Max)
      hz = SamplingRateForIndex(kSamplingRateItems - 1);
    else if (p.kind == Param::Kind::Default)
      hz = SamplingRateForIndex(first.samplingRate);
    else if (SetResult r = Scaled(key, "Hz", p, hz); r.error)
      return r;
    return Apply(values, key, Plain(hz) + "Hz", kIllegalParameterValue);
  }
  if (key.name == "BufferLength") {
    double s = 0.0;
    if (p.kind == Param::Kind::Min)
      s = BufferLengthMs(0) / 1000.0;
    else if (p.kind == Param::Kind::Max)
      s = BufferLengthMs(kBufferLengthItems - 1) / 1000.0;
    else if (p.kind == Param::Kind::Default)
      s = BufferLengthMs(first.bufferLength) / 1000.0;
    else if (SetResult r = Scaled(key, "s", p, s); r.error)
      return r;
    return Apply(values, key, Plain(std::round(s * 1e6) / 1e3) + "ms", kIllegalParameterValue);
  }
  return SetInteger(values, key, p, std::nullopt);
}

std::optional<std::string> QueryKey(const SettingsValues& values, const SettingsKey& key,
                                    Param::Kind which) {
  const bool range =
      which == Param::Kind::Min || which == Param::Kind::Max || which == Param::Kind::Default;
  const auto programme = FindProgrammeKey(key.name);
  if (programme) {
    const ProgrammeRow& row = ProgrammeInfo(*programme);
    if (row.kind == ProgrammeKind::Text || row.kind == ProgrammeKind::AfList) {
      if (range) return std::nullopt;
      return Quoted(SettingText(values, key));
    }
    if (which == Param::Kind::Min) return std::to_string(row.minValue);
    if (which == Param::Kind::Max) return std::to_string(row.maxValue);
    if (which == Param::Kind::Default) return std::to_string(row.firstRun);
    return SettingText(values, key);
  }
  switch (key.type) {
    case KeyType::Float: {
      const ParamRow& row = ParamInfo(*FindParamByKey(key.name));
      double v = values.params[row.id];
      if (which == Param::Kind::Min) v = row.minValue;
      if (which == Param::Kind::Max) v = row.maxValue;
      if (which == Param::Kind::Default) v = row.firstRun;
      return Fixed(v, row.precision);
    }
    case KeyType::Integer: {
      int index = which == Param::Kind::Min       ? 0
                  : which == Param::Kind::Default ? -2
                  : which == Param::Kind::Max     ? -3
                                                  : -1;
      if (key.name == "SamplingRate" || key.name == "BufferLength") {
        const bool rate = key.name == "SamplingRate";
        const int count = rate ? kSamplingRateItems : kBufferLengthItems;
        if (index == -1) index = rate ? values.samplingRate : values.bufferLength;
        if (index == -2)
          index = rate ? SettingsValues{}.samplingRate : SettingsValues{}.bufferLength;
        if (index == -3) index = count - 1;
        if (index < 0 || index >= count) return std::string("0");  // nothing selected
        return rate ? std::to_string(SamplingRateForIndex(index))
                    : Plain(BufferLengthMs(index) / 1000.0);
      }
      if (which == Param::Kind::Default) return SettingText(SettingsValues{}, key);
      if (range) return std::nullopt;
      return SettingText(values, key);
    }
    case KeyType::Boolean:
      if (which == Param::Kind::Default) return SettingText(SettingsValues{}, key);
      if (range) return std::nullopt;
      return SettingText(values, key);
    case KeyType::Text:
      if (range) return std::nullopt;
      return Quoted(SettingText(values, key));
  }
  return std::nullopt;
}

}  // namespace kelvane::remote
