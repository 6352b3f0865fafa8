// SPDX-License-Identifier: GPL-3.0-or-later
// The one table of the programme keys: settings key, caption, kind, range, first-run value and
// the names of a choice's entries. The dialog, the settings file, the CLI and a remote control
// read their keys, ranges and captions from here.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace kelvane {

enum class ProgrammeKey : int {
  PreEmphasis,
  AudioLowPass,
  RDSPTY,
  RDSTP,
  RDSTA,
  RDSMS,
  RDSDI,
  RDSRT,
  RDSCT,
  RDSAF,
  FileSource,
  InputFile,
  InputFileLoop,
  IQSwap,
  ChannelDelay,
  SdrArgs,
  SdrFrequency,
  SdrRate,
  SdrGain,
  SdrAntenna,
  RemotePort,
  Count
};
inline constexpr std::size_t kProgrammeKeyCount = static_cast<std::size_t>(ProgrammeKey::Count);

enum class ProgrammeKind {
  Choice,  // an integer index into `choices`
  Switch,  // 0 / 1
  Number,  // an integer min .. max
  Text,    // RDS characters, up to max of them
  AfList,  // frequencies in MHz separated by commas, up to max of them
  Path,    // a file name, UTF-8 without control characters, up to max characters
  Words,   // free text, UTF-8 without control characters, up to max characters
  Decimal  // a decimal number min .. max in `unit`, or empty (the row's help says what that means)
};

struct ProgrammeRow {
  ProgrammeKey id;
  std::string_view key;      // settings file key
  std::string_view caption;  // the dialog's label
  ProgrammeKind kind;
  int minValue, maxValue;  // range; for Text and AfList the largest count
  int firstRun;            // value when the file lacks the key (texts and lists: empty)
  std::span<const std::string_view> choices;  // names of a Choice's entries
  std::string_view help;                      // one line for help texts
  std::string_view unit = {};                 // Number and Decimal rows that have one
};

extern const std::array<ProgrammeRow, kProgrammeKeyCount> kProgrammeTable;
const ProgrammeRow& ProgrammeInfo(ProgrammeKey id);
std::optional<ProgrammeKey> FindProgrammeKey(std::string_view key);  // case-sensitive

// The programme type names, European (RDS) and North-American (RBDS), index = PTY code.
extern const std::array<std::string_view, 32> kPtyNamesRds;
extern const std::array<std::string_view, 32> kPtyNamesRbds;

}  // namespace kelvane
