// SPDX-License-Identifier: GPL-3.0-or-later
// Option parsing, key help and the --settings/--set handling shared by the subcommands.
#include "options.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "ParamTable.h"
#include "ProgrammeTable.h"
#include "TerminalText.h"
#include "UserSetting.h"

namespace kelvane::cli {

const OptionSpec kSettingsOption{
    "settings",
    0,
    true,
    false,
    "FILE",
    "settings file to use instead of $KELVANE_SETTINGS or ~/.config/kelvane/vantorex.ini"};
const OptionSpec kSetOption{
    "set", 0, true, true, "KEY=VALUE", "override one settings key for this run (repeatable)"};

std::optional<std::string> ParsedOptions::Get(std::string_view name) const {
  const auto it = values_.find(std::string(name));
  if (it == values_.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

const std::vector<std::string>& ParsedOptions::All(std::string_view name) const {
  static const std::vector<std::string> none;
  const auto it = values_.find(std::string(name));
  return it == values_.end() ? none : it->second;
}

bool ParseOptions(const std::vector<OptionSpec>& specs, const std::vector<std::string>& args,
                  ParsedOptions& out, std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const OptionSpec* option = nullptr;
    std::optional<std::string> inlineValue;
    if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      const auto eq = arg.find('=');
      const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      if (eq != std::string::npos) inlineValue = arg.substr(eq + 1);
      for (const auto& s : specs) {
        if (s.longName == name) option = &s;
      }
    } else if (arg.size() >= 2 && arg[0] == '-' && arg[1] != '-') {
      for (const auto& s : specs) {
        if (s.shortName == arg[1]) option = &s;
      }
      if (option && arg.size() > 2) inlineValue = arg.substr(2);
    } else {
      error = "unexpected argument '" + arg + "'";
      return false;
    }
    if (!option) {
      error = "unknown option '" + arg + "'";
      return false;
    }
    const std::string shown = "--" + std::string(option->longName);
    std::string value;
    if (option->takesValue) {
      if (inlineValue) {
        value = *inlineValue;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        error = "option " + shown + " needs a value (" + std::string(option->valueName) + ")";
        return false;
      }
    } else if (inlineValue) {
      error = "option " + shown + " takes no value";
      return false;
    }
    if (!option->repeatable && out.Has(option->longName)) {
      error = "option " + shown + " given more than once";
      return false;
    }
    out.Add(option->longName, std::move(value));
  }
  return true;
}

bool ReadSecondsOption(const ParsedOptions& options, double& seconds, std::string& error) {
  constexpr double kMaxSeconds = 86400.0;  // a day; anything longer is a typo
  const auto text = options.Get("seconds");
  if (!text) return true;
  double v = 0.0;
  const char* end = text->data() + text->size();
  const auto r = std::from_chars(text->data(), end, v);
  if (text->empty() || r.ec != std::errc() || r.ptr != end || !std::isfinite(v)) {
    error = "cannot read '" + *text + "' as a duration in seconds";
    return false;
  }
  if (v <= 0.0) {
    error = "the duration must be more than 0 s, not " + *text;
    return false;
  }
  if (v > kMaxSeconds) {
    error = "the duration " + *text + " s is too long (at most 86400 s)";
    return false;
  }
  seconds = v;
  return true;
}

std::string OptionsHelp(const std::vector<OptionSpec>& specs) {
  std::string text;
  for (const auto& s : specs) {
    std::string left = "  ";
    left += s.shortName ? std::string("-") + s.shortName + ", " : std::string("    ");
    left += "--" + std::string(s.longName);
    if (s.takesValue) left += " " + std::string(s.valueName);
    if (left.size() < 28) left.resize(28, ' ');
    text += left + " " + std::string(s.help) + "\n";
  }
  return text;
}

namespace {

// What a key does, for the keys whose name does not say it.
std::string KeyPurpose(const SettingsKey& key) {
  if (key.type == KeyType::Float) return std::string(ParamInfo(*FindParamByKey(key.name)).label);
  if (const auto p = FindProgrammeKey(key.name)) return std::string(ProgrammeInfo(*p).help) + ";";
  const std::string_view n = key.name;
  if (n == "SamplingRate") return "Sampling rate:";
  if (n == "BufferLength") return "Buffer length:";
  if (n == "SineSource") return "internal sine source;";
  if (n == "ExtSource") return "sound-card input source (--input), wins over SineSource;";
  if (n == "Stereo") return "stereo encoder (input source);";
  if (n == "RDS") return "RDS encoder (input source, 192000 Hz only);";
  if (n == "DCCoupledDAC") return "apply the DC offsets;";
  if (n == "Multipath") return "multipath emulator;";
  if (n == "RDSPS") return "RDS programme service name,";
  if (n == "RDSPI") return "RDS programme identification,";
  return "window only,";
}

// One help line per key: name, what it does, the forms --set accepts, first-run value.
std::string KeyLine(const SettingsKey& key, const SettingsValues& first) {
  std::string line = "  " + std::string(key.name);
  if (line.size() < 22) line.resize(22, ' ');
  const std::string value = SettingText(first, key);
  line += " " + KeyPurpose(key) + " " + UserSettingForms(key) + " (default " +
          (value.empty() ? std::string("empty") : value) + ")\n";
  return line;
}

}  // namespace

std::string SettingsKeysHelp() {
  const SettingsValues first;
  std::string text =
      "Settings keys (as in vantorex.ini; names are case-insensitive). --set is strict: a value\n"
      "outside the range or of another form is an error. Numbers take '.' or ',' and may end\n"
      "in the key's unit (10kHz); keys marked (k, M) take those suffixes (-5k = -5000, 6.8k);\n"
      "more decimals than the window shows are rounded as it rounds them. Switches take 0/1,\n"
      "off/on, no/yes, false/true. Texts are UTF-8; RDSPS and RDSRT take the characters of\n"
      "the RDS set (ASCII but ^ ` ~, most accented Latin letters, \u20ac and $ among them).\n";
  for (const auto& key : SettingsKeys()) text += KeyLine(key, first);
  return text;
}

bool LoadSettingsWithOverrides(const ParsedOptions& options, SettingsValues& values,
                               std::string& path, bool& found, std::string& error) {
  const auto chosen = options.Get(kSettingsOption.longName);
  path = ResolveSettingsPath(chosen);
  SettingsLoadReport report;
  values = LoadSettingsFile(path, &report);
  found = report.status == SettingsLoadReport::Status::Ok;
  for (const std::string& w : report.warnings) PrintError("warning: " + w);
  if (report.status == SettingsLoadReport::Status::Unreadable) {
    error = report.message;
    return false;
  }
  // A file the user named and that is not there is most likely a typo; a missing default
  // file is a first run.
  if (report.status == SettingsLoadReport::Status::Missing && SettingsPathIsChosen(chosen)) {
    PrintError("warning: " + report.message + ", using first-run values");
  }
  for (const std::string& item : options.All(kSetOption.longName)) {
    const auto eq = item.find('=');
    if (eq == std::string::npos || eq == 0) {
      error = "--set needs KEY=VALUE, got '" + item + "'";
      return false;
    }
    std::string why;
    if (!ApplyUserSetting(values, item, why)) {
      error = "--set " + why;
      if (!FindSettingsKey(std::string_view(item).substr(0, eq))) {
        error += " (see --help for the keys)";
      }
      return false;
    }
  }
  return true;
}

void PrintError(std::string_view message) {
  // Always one line that cannot drive the terminal, whatever it quotes from the command line.
  std::fprintf(stderr, "%s: %s\n", kProgramName, EscapeControls(message).c_str());
}

}  // namespace kelvane::cli
