// SPDX-License-Identifier: GPL-3.0-or-later
// Key table, value encodings, load and save of the settings file.
#include "SettingsFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <exception>

#include "IniFile.h"
#include "ProgrammeTable.h"
#include "ProgrammeText.h"
#include "TextCodec.h"
#include "kelvutil.h"

namespace kelvane {
namespace {

// How one key maps onto SettingsValues; exactly one of the members is set.
struct KeyDef {
  SettingsKey key;
  int SettingsValues::*intMember = nullptr;
  bool SettingsValues::*boolMember = nullptr;
  std::string SettingsValues::*textMember = nullptr;
  int param = -1;       // index into ParamValues for floats
  int listItems = 0;    // for list indexes: entries in the list (out of range: first-run)
  bool latin1 = false;  // the PI: Latin-1 in memory, UTF-8 in the file
  bool rds = false;     // PS: RDS character codes in memory, UTF-8 in the file
  int programme = -1;   // a programme key (ProgrammeTable.h)
};

KeyDef IntKey(std::string_view name, int SettingsValues::*m, int listItems = 0) {
  KeyDef d{{name, KeyType::Integer}};
  d.intMember = m;
  d.listItems = listItems;
  return d;
}
KeyDef BoolKey(std::string_view name, bool SettingsValues::*m) {
  KeyDef d{{name, KeyType::Boolean}};
  d.boolMember = m;
  return d;
}
KeyDef TextKey(std::string_view name, std::string SettingsValues::*m, bool latin1 = false) {
  KeyDef d{{name, KeyType::Text}};
  d.textMember = m;
  d.latin1 = latin1;
  return d;
}
KeyDef ProgrammeKeyDef(const ProgrammeRow& row) {
  KeyType type = KeyType::Integer;
  if (row.kind == ProgrammeKind::Switch) type = KeyType::Boolean;
  if (row.kind == ProgrammeKind::Text || row.kind == ProgrammeKind::AfList ||
      row.kind == ProgrammeKind::Path || row.kind == ProgrammeKind::Words ||
      row.kind == ProgrammeKind::Decimal) {
    type = KeyType::Text;
  }
  KeyDef d{{row.key, type}};
  d.programme = static_cast<int>(row.id);
  return d;
}
KeyDef FloatKey(ParamId id) {
  KeyDef d{{ParamInfo(id).key, KeyType::Float}};
  d.param = static_cast<int>(id);
  return d;
}

const std::vector<KeyDef>& KeyDefs() {
  using V = SettingsValues;
  static const std::vector<KeyDef> defs = [] {
    std::vector<KeyDef> d;
    d.push_back(IntKey("Top", &V::top));
    d.push_back(IntKey("Left", &V::left));
    d.push_back(IntKey("AudioInDevice", &V::audioInDevice));
    d.push_back(TextKey("AudioInDeviceName", &V::audioInDeviceName));
    d.push_back(IntKey("AudioOutDevice", &V::audioOutDevice));
    d.push_back(TextKey("AudioOutDeviceName", &V::audioOutDeviceName));
    d.push_back(BoolKey("SineSource", &V::sineSource));
    d.push_back(BoolKey("ExtSource", &V::extSource));
    d.push_back(BoolKey("Running", &V::running));
    d.push_back(BoolKey("Stereo", &V::stereo));
    d.push_back(BoolKey("RDS", &V::rds));
    d.push_back(BoolKey("DCCoupledDAC", &V::dcCoupledDAC));
    d.push_back(BoolKey("ScopePreamp", &V::scopePreamp));
    d.push_back(IntKey("ScopeFunc", &V::scopeFunc));
    for (ParamId id : {ParamId::SinePeakDev, ParamId::SineModFreq, ParamId::ExtModSens,
                       ParamId::CarrierFreq, ParamId::MaxOutputSwing, ParamId::LRGainRatio,
                       ParamId::LRPhaseOffset, ParamId::DCOffsetL, ParamId::DCOffsetR}) {
      d.push_back(FloatKey(id));
    }
    d.push_back(IntKey("SamplingRate", &V::samplingRate, kSamplingRateItems));
    d.push_back(IntKey("BufferLength", &V::bufferLength, kBufferLengthItems));
    d.push_back(TextKey("RDSPS", &V::rdsPS));
    d.back().rds = true;
    d.push_back(TextKey("RDSPI", &V::rdsPI, true));
    for (ParamId id : {ParamId::PilotFrequency, ParamId::PilotDeviation, ParamId::RDSPhase,
                       ParamId::RDSDeviation, ParamId::StereoEffect, ParamId::StereoPhase}) {
      d.push_back(FloatKey(id));
    }
    d.push_back(BoolKey("Multipath", &V::multipath));
    d.push_back(FloatKey(ParamId::MDelay));
    d.push_back(FloatKey(ParamId::MVoltage));
    for (const auto& row : kProgrammeTable) d.push_back(ProgrammeKeyDef(row));
    return d;
  }();
  return defs;
}

// Equal after upper-casing a-z only; no other letters are folded.
bool SameUpperAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const auto up = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (up(a[i]) != up(b[i])) return false;
  }
  return true;
}

const KeyDef* FindDef(std::string_view name) {
  for (const auto& d : KeyDefs()) {
    if (SameUpperAscii(d.key.name, name)) return &d;
  }
  return nullptr;
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

ParamId ParamOf(const KeyDef& d) {
  return static_cast<ParamId>(d.param);
}

// What a load keeps of a text value. Everything it drops (line breaks, characters past the
// limit, blanks at either end) is dropped for good, so that a save writes exactly what the
// next load reads back.
std::string LoadedText(const KeyDef& d, std::string_view raw) {
  std::string s(raw);
  for (char& c : s) {
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  }
  if (d.latin1) {
    s = Latin1FromFileText(s);
    s.resize(std::min(s.size(), kMaxTextLength));
  } else {
    s = std::string(Utf8Prefix(s, kMaxTextLength));
  }
  return std::string(TrimSpaces(s));
}

// Values of the programme keys that are numbers or switches.
int ProgrammeNumber(const ProgrammeSettings& p, ProgrammeKey k) {
  switch (k) {
    case ProgrammeKey::PreEmphasis:
      return p.preEmphasis;
    case ProgrammeKey::AudioLowPass:
      return p.audioLowPass;
    case ProgrammeKey::RDSPTY:
      return p.pty;
    case ProgrammeKey::RDSTP:
      return p.tp;
    case ProgrammeKey::RDSTA:
      return p.ta;
    case ProgrammeKey::RDSMS:
      return p.ms;
    case ProgrammeKey::RDSDI:
      return p.di;
    case ProgrammeKey::RDSCT:
      return p.ct;
    case ProgrammeKey::IQSwap:
      return p.iqSwap;
    case ProgrammeKey::ChannelDelay:
      return p.channelDelay;
    default:
      return 0;
  }
}

void SetProgrammeNumber(ProgrammeSettings& p, ProgrammeKey k, int v) {
  switch (k) {
    case ProgrammeKey::PreEmphasis:
      p.preEmphasis = v;
      break;
    case ProgrammeKey::AudioLowPass:
      p.audioLowPass = v != 0;
      break;
    case ProgrammeKey::RDSPTY:
      p.pty = v;
      break;
    case ProgrammeKey::RDSTP:
      p.tp = v != 0;
      break;
    case ProgrammeKey::RDSTA:
      p.ta = v != 0;
      break;
    case ProgrammeKey::RDSMS:
      p.ms = v != 0;
      break;
    case ProgrammeKey::RDSDI:
      p.di = v;
      break;
    case ProgrammeKey::RDSCT:
      p.ct = v != 0;
      break;
    case ProgrammeKey::IQSwap:
      p.iqSwap = v != 0;
      break;
    case ProgrammeKey::ChannelDelay:
      p.channelDelay = v;
      break;
    default:
      break;
  }
}

// A text key in RDS codes (PS, RT): cut to `maxChars` characters and trimmed like every text.
bool LoadRdsText(std::string_view raw, std::size_t maxChars, std::string& out, std::string& why) {
  std::string s(raw);
  for (char& c : s) {
    if (c == '\r' || c == '\n' || c == '\0' || c == '\t') c = ' ';
  }
  const auto codes = RdsFromFileText(s, &why);
  if (!codes) return false;
  out = std::string(TrimSpaces(std::string_view(*codes).substr(0, maxChars)));
  return true;
}

// The switches of the file source, which the window keeps apart from the engine's values.
bool* FileSwitch(SettingsValues& values, ProgrammeKey k) {
  if (k == ProgrammeKey::FileSource) return &values.fileSource;
  if (k == ProgrammeKey::InputFileLoop) return &values.inputFileLoop;
  return nullptr;
}

// The SDR output's text keys.
std::string* SdrText(SettingsValues& values, ProgrammeKey k) {
  switch (k) {
    case ProgrammeKey::SdrArgs:
      return &values.sdr.args;
    case ProgrammeKey::SdrFrequency:
      return &values.sdr.frequency;
    case ProgrammeKey::SdrRate:
      return &values.sdr.rate;
    case ProgrammeKey::SdrGain:
      return &values.sdr.gain;
    case ProgrammeKey::SdrAntenna:
      return &values.sdr.antenna;
    default:
      return nullptr;
  }
}

bool ApplyProgrammeText(SettingsValues& values, const KeyDef& d, std::string_view text,
                        std::string& why) {
  const ProgrammeRow& row = ProgrammeInfo(static_cast<ProgrammeKey>(d.programme));
  switch (row.kind) {
    case ProgrammeKind::Words: {
      std::string s = LoadedText(d, text);
      s.resize(std::min(s.size(), static_cast<std::size_t>(row.maxValue)));
      *SdrText(values, row.id) = s;
      return true;
    }
    case ProgrammeKind::Decimal: {
      const std::string_view t = TrimSpaces(text);
      if (t.empty()) {
        SdrText(values, row.id)->clear();
        return true;
      }
      const auto v = ParseSettingsFloat(t);
      if (!v) {
        why = "not a number";
        return false;
      }
      // Outside the range: not set, as a list index outside its list gives the first-run value.
      const bool inRange = *v >= row.minValue && *v <= row.maxValue;
      *SdrText(values, row.id) = inRange ? FormatSettingsFloat(*v) : std::string();
      return true;
    }
    case ProgrammeKind::Text:
      return LoadRdsText(text, static_cast<std::size_t>(row.maxValue), values.rdsRT, why);
    case ProgrammeKind::AfList:
      return ParseAfList(text, values.programme, why);
    case ProgrammeKind::Path:
      values.inputFile = LoadedText(d, text);
      return true;
    default: {
      const auto v = ParseSettingsInt(text);
      if (!v) {
        why = "not an integer";
        return false;
      }
      int value = *v;
      if (row.id == ProgrammeKey::RemotePort) {
        values.remotePort = value >= row.minValue && value <= row.maxValue ? value : 0;
        return true;
      }
      if (bool* on = FileSwitch(values, row.id)) {
        *on = value != 0;
        return true;
      }
      if (row.kind == ProgrammeKind::Switch) {
        value = value != 0;
      } else if (value < row.minValue || value > row.maxValue) {
        value = row.firstRun;  // as a list index outside its list
      }
      SetProgrammeNumber(values.programme, row.id, value);
      return true;
    }
  }
}

std::string ProgrammeText(const SettingsValues& values, const KeyDef& d) {
  const ProgrammeRow& row = ProgrammeInfo(static_cast<ProgrammeKey>(d.programme));
  if (row.kind == ProgrammeKind::Text) return Utf8FromRds(values.rdsRT);
  if (row.kind == ProgrammeKind::AfList) return FormatAfList(values.programme);
  if (row.kind == ProgrammeKind::Path) return values.inputFile;
  if (row.kind == ProgrammeKind::Words || row.kind == ProgrammeKind::Decimal) {
    return *SdrText(const_cast<SettingsValues&>(values), row.id);
  }
  if (row.id == ProgrammeKey::FileSource) return values.fileSource ? "1" : "0";
  if (row.id == ProgrammeKey::InputFileLoop) return values.inputFileLoop ? "1" : "0";
  if (row.id == ProgrammeKey::RemotePort) return std::to_string(values.remotePort);
  return std::to_string(ProgrammeNumber(values.programme, row.id));
}

// Sets one key; false (with a reason when there is one) for text that does not parse.
bool ApplyText(SettingsValues& values, const KeyDef& d, std::string_view text, std::string& why) {
  if (d.programme >= 0) return ApplyProgrammeText(values, d, text, why);
  if (d.rds) return LoadRdsText(text, kMaxTextLength, values.*(d.textMember), why);
  return ApplySettingText(values, d.key, text);
}

}  // namespace

const std::vector<SettingsKey>& SettingsKeys() {
  static const std::vector<SettingsKey> keys = [] {
    std::vector<SettingsKey> k;
    for (const auto& d : KeyDefs()) k.push_back(d.key);
    return k;
  }();
  return keys;
}

const SettingsKey* FindSettingsKey(std::string_view name) {
  const KeyDef* d = FindDef(name);
  return d ? &d->key : nullptr;
}

std::optional<int> ParseSettingsInt(std::string_view text) {
  text = TrimSpaces(text);
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    // Up to eight hex digits; "0xFFFFFFFF" is -1 as the 32-bit integer it spells.
    std::uint32_t u = 0;
    const auto digits = text.substr(2);
    const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), u, 16);
    if (r.ec != std::errc() || r.ptr != digits.data() + digits.size()) return std::nullopt;
    return static_cast<int>(static_cast<std::int32_t>(u));
  }
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int v = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v, 10);
  if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size()) {
    return std::nullopt;
  }
  return v;
}

std::optional<double> ParseSettingsFloat(std::string_view text) {
  text = TrimSpaces(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.size() > 64) return std::nullopt;
  // Either separator: a file written under another locale still reads back.
  std::string s(text);
  bool separator = false;
  for (char& c : s) {
    if (c == ',' || c == '.') {
      if (separator) return std::nullopt;
      separator = true;
      c = '.';
    }
    if (c == 'i' || c == 'I' || c == 'n' || c == 'N') return std::nullopt;  // inf, nan
  }
  double v = 0.0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v)) {
    return std::nullopt;
  }
  return v;
}

std::string FormatSettingsFloat(double value) {
  if (value == 0.0) value = 0.0;  // no "-0"
  char text[64];
  const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
  return std::string(text, r.ptr);
}

bool ApplySettingText(SettingsValues& values, const SettingsKey& key, std::string_view text) {
  const KeyDef* d = FindDef(key.name);
  if (!d) return false;
  if (d->programme >= 0 || d->rds) {
    std::string why;
    return ApplyText(values, *d, text, why);
  }
  switch (d->key.type) {
    case KeyType::Integer: {
      const auto v = ParseSettingsInt(text);
      if (!v) return false;
      // An index the list lacks would leave it without a selection, and Start without a rate.
      const bool outside = d->listItems > 0 && (*v < 0 || *v >= d->listItems);
      values.*(d->intMember) = outside ? SettingsValues{}.*(d->intMember) : *v;
      return true;
    }
    case KeyType::Boolean: {
      const auto v = ParseSettingsInt(text);
      if (!v) return false;
      values.*(d->boolMember) = *v != 0;
      return true;
    }
    case KeyType::Float: {
      const auto v = ParseSettingsFloat(text);
      if (!v) return false;
      values.params[ParamOf(*d)] = NormaliseParam(ParamOf(*d), *v);
      return true;
    }
    case KeyType::Text:
      values.*(d->textMember) = LoadedText(*d, text);
      return true;
  }
  return false;
}

std::string SettingText(const SettingsValues& values, const SettingsKey& key) {
  const KeyDef* d = FindDef(key.name);
  if (!d) return std::string();
  if (d->programme >= 0) return ProgrammeText(values, *d);
  if (d->rds) return Utf8FromRds(values.*(d->textMember));
  switch (d->key.type) {
    case KeyType::Integer:
      return std::to_string(values.*(d->intMember));
    case KeyType::Boolean:
      return values.*(d->boolMember) ? "1" : "0";
    case KeyType::Float:
      return FormatSettingsFloat(values.params[ParamOf(*d)]);
    case KeyType::Text:
      return d->latin1 ? Utf8FromLatin1(values.*(d->textMember)) : values.*(d->textMember);
  }
  return std::string();
}

SettingsValues LoadSettingsFile(const std::string& path, SettingsLoadReport* report) {
  SettingsLoadReport local;
  SettingsLoadReport& r = report ? *report : local;
  r = SettingsLoadReport{};
  try {
    IniFile ini;
    std::string reason;
    const auto status = ini.Load(path, &reason);
    if (status == IniFile::LoadStatus::Missing) {
      r.status = SettingsLoadReport::Status::Missing;
      r.message = "settings file " + path + " not found";
      return SettingsValues{};
    }
    if (status != IniFile::LoadStatus::Ok) {
      r.status = SettingsLoadReport::Status::Unreadable;
      r.message = "cannot read settings file " + path + ": " + reason;
      return SettingsValues{};
    }
    SettingsValues values;
    for (const auto& d : KeyDefs()) {
      const auto text = ini.Get(kSettingsSection, d.key.name);
      if (!text) continue;
      // A key that is empty or does not parse keeps its default; the texts sent over RDS and
      // the AF list say why, as their rules are not obvious.
      std::string why;
      if (!ApplyText(values, d, *text, why) && !why.empty()) {
        r.warnings.push_back(std::string(d.key.name) + " in " + path + ": " + why +
                             "; the first-run value is used");
      }
    }
    return values;
  } catch (const std::exception& e) {
    // Only memory can run out here; the caller goes on with the first-run values.
    r.status = SettingsLoadReport::Status::Unreadable;
    r.message = "cannot read settings file " + path + ": " + e.what();
    return SettingsValues{};
  }
}

SaveResult SaveSettingsFile(const std::string& path, const SettingsValues& values,
                            const SaveOptions& options) {
  SaveResult result;
  IniFile ini;
  // Keys this program does not write must survive, so a file that exists but cannot be read
  // is not replaced.
  if (ini.Load(path) == IniFile::LoadStatus::Unreadable) {
    result.ok = false;
    result.error = "Unable to write to " + path;
    return result;
  }
  for (const auto& d : KeyDefs()) {
    const std::string_view name = d.key.name;
    const bool inKey = name == "AudioInDevice" || name == "AudioInDeviceName";
    const bool outKey = name == "AudioOutDevice" || name == "AudioOutDeviceName";
    if ((inKey || outKey) && !options.writeDeviceKeys) continue;
    if (inKey && values.audioInDevice < 0) continue;
    if (outKey && values.audioOutDevice < 0) continue;
    ini.Set(kSettingsSection, name, SettingText(values, d.key));
  }
  if (!ini.Save(path, result.error)) result.ok = false;
  return result;
}

int FindItemIndex(const std::vector<std::string>& list, std::string_view name, int fallback) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (SameUpperAscii(list[i], name)) return static_cast<int>(i);
  }
  return fallback;
}

bool SettingsPathIsChosen(const std::optional<std::string>& optionValue) {
  const char* env = std::getenv(kSettingsEnvVar);
  return (optionValue && !optionValue->empty()) || (env && *env);
}

std::string ResolveSettingsPath(const std::optional<std::string>& optionValue) {
  if (optionValue && !optionValue->empty()) return *optionValue;
  const char* env = std::getenv(kSettingsEnvVar);
  if (env && *env) return env;
  return AppDataFolder(false, true) + kSettingsFileName;
}

}  // namespace kelvane
