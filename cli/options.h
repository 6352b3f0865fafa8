// SPDX-License-Identifier: GPL-3.0-or-later
// Option parsing and the settings options (--settings, --set) shared by the subcommands.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SettingsFile.h"

namespace kelvane::cli {

inline constexpr const char* kProgramName = "kelvane-cli";

struct OptionSpec {
  std::string_view longName;  // without "--"
  char shortName = 0;         // 0: none
  bool takesValue = false;
  bool repeatable = false;
  std::string_view valueName;  // shown in the help, e.g. "FILE"
  std::string_view help;
};

class ParsedOptions {
 public:
  bool Has(std::string_view name) const { return values_.count(std::string(name)) != 0; }
  // The option's value (the last one given), or nullopt.
  std::optional<std::string> Get(std::string_view name) const;
  // Every value of a repeatable option, in the order given.
  const std::vector<std::string>& All(std::string_view name) const;
  void Add(std::string_view name, std::string value) {
    values_[std::string(name)].push_back(std::move(value));
  }

 private:
  std::map<std::string, std::vector<std::string>> values_;
};

// Accepts "--name VALUE", "--name=VALUE", "-x VALUE", "-xVALUE" and flags. Unknown options,
// missing values, a single option given twice and stray arguments are errors (one line).
bool ParseOptions(const std::vector<OptionSpec>& specs, const std::vector<std::string>& args,
                  ParsedOptions& out, std::string& error);

// Help lines for the options, aligned.
std::string OptionsHelp(const std::vector<OptionSpec>& specs);

// The two settings options every subcommand takes.
extern const OptionSpec kSettingsOption;  // --settings FILE
extern const OptionSpec kSetOption;       // --set KEY=VALUE (repeatable)

// Help text listing every settings key with its type, range and first-run value.
std::string SettingsKeysHelp();

// Loads the settings file chosen by --settings / KELVANE_SETTINGS (first-run defaults when
// it does not exist, with a warning on standard error when the user named it), then applies
// each --set in order with the strict rules of ApplyUserSetting. Returns false with a one-line
// error for a file that cannot be read (not a regular file, over 1 MiB, no permission), an
// unknown key or a value that is refused. `path` receives the file used and `found` whether
// it was read.
bool LoadSettingsWithOverrides(const ParsedOptions& options, SettingsValues& values,
                               std::string& path, bool& found, std::string& error);

// The --seconds option: leaves `seconds` as it is when the option is absent; false with a
// one-line error for text that is not a number, 0 or less, or more than a day.
bool ReadSecondsOption(const ParsedOptions& options, double& seconds, std::string& error);

// Prints "kelvane-cli: <message>" as one line on standard error, control characters escaped.
void PrintError(std::string_view message);

}  // namespace kelvane::cli
