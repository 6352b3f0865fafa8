// Option parsing, key help and the --settings/--set handling shared by the subcommands.
#include "options.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "ParamTable.h"
#include "TerminalText.h"

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

std::string Number(double v) {
  return FormatSettingsFloat(v);
}

// One help line per key: name, what it holds, range or values, first-run value.
std::string KeyLine(const SettingsKey& key, const SettingsValues& first) {
  std::string what;
  if (key.type == KeyType::Float) {
    const ParamRow& row = ParamInfo(*FindParamByKey(key.name));
    what = std::string(row.label) + " " + Number(row.minValue) + " .. " + Number(row.maxValue);
    if (!row.unit.empty()) what += " " + std::string(row.unit);
  } else if (key.name == "SamplingRate") {
    what = "0 = 44100, 1 = 48000, 2 = 96000, 3 = 192000 Hz";
  } else if (key.name == "BufferLength") {
    what = "0 = 50 ms, 1 = 100 ms, 2 = 250 ms, 3 = 500 ms, 4 = 1 s";
  } else if (key.name == "SineSource") {
    what = "1 = internal sine source";
  } else if (key.name == "ExtSource") {
    what = "1 = sound-card input source (the --input file); wins over SineSource";
  } else if (key.name == "Stereo") {
    what = "1 = stereo encoder (input source)";
  } else if (key.name == "RDS") {
    what = "1 = RDS encoder (input source, 192000 Hz only)";
  } else if (key.name == "DCCoupledDAC") {
    what = "1 = apply the DC offsets";
  } else if (key.name == "Multipath") {
    what = "1 = multipath emulator on";
  } else if (key.name == "RDSPS") {
    what = "RDS programme service name (8 characters)";
  } else if (key.name == "RDSPI") {
    what = "RDS programme identification, 4 hex digits";
  } else {
    what = "window setting, no effect on rendering";
  }
  std::string line = "  " + std::string(key.name);
  if (line.size() < 22) line.resize(22, ' ');
  line += " " + what + " (default " + SettingText(first, key) + ")\n";
  return line;
}

}  // namespace

std::string SettingsKeysHelp() {
  const SettingsValues first;
  std::string text =
      "Settings keys (as in vantorex.ini; names are case-insensitive; booleans 0/1, integers\n"
      "also as 0x.., decimals with '.' or ','; numbers are clamped and rounded like the\n"
      "window's spinners):\n";
  for (const auto& key : SettingsKeys()) text += KeyLine(key, first);
  return text;
}

bool LoadSettingsWithOverrides(const ParsedOptions& options, SettingsValues& values,
                               std::string& path, bool& found, std::string& error) {
  path = ResolveSettingsPath(options.Get(kSettingsOption.longName));
  struct stat st {};
  found = ::stat(path.c_str(), &st) == 0;
  if (found) {
    std::FILE* f = S_ISDIR(st.st_mode) ? nullptr : std::fopen(path.c_str(), "rb");
    if (!f) {
      error = "cannot read settings file " + path + ": " +
              (S_ISDIR(st.st_mode) ? std::string("is a directory") : std::strerror(errno));
      return false;
    }
    std::fclose(f);
  }
  values = LoadSettingsFile(path);
  for (const std::string& item : options.All(kSetOption.longName)) {
    const auto eq = item.find('=');
    if (eq == std::string::npos || eq == 0) {
      error = "--set needs KEY=VALUE, got '" + item + "'";
      return false;
    }
    const std::string name = item.substr(0, eq);
    const std::string text = item.substr(eq + 1);
    const SettingsKey* key = FindSettingsKey(name);
    if (!key) {
      error = "unknown settings key '" + name + "' in --set (see --help for the keys)";
      return false;
    }
    bool ok = false;
    if (key->type == KeyType::Boolean) {
      // Words as well as the file's integers.
      for (const char* on : {"true", "on", "yes"}) ok = ok || text == on;
      if (ok) {
        ok = ApplySettingText(values, *key, "1");
      } else if (text == "false" || text == "off" || text == "no") {
        ok = ApplySettingText(values, *key, "0");
      } else {
        ok = ApplySettingText(values, *key, text);
      }
    } else {
      ok = ApplySettingText(values, *key, text);
    }
    if (!ok) {
      error = "cannot read '" + text + "' as a value for " + std::string(key->name);
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
