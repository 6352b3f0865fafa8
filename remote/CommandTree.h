// SPDX-License-Identifier: GPL-3.0-or-later
// The SCPI command tree: the fixed nodes (output, meters, system) and one node per settings key,
// generated from the key names so that a key added to the tables appears here by itself.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "SettingsFile.h"

namespace kelvane::remote {

// What a header leads to when it names no settings key.
enum class Builtin {
  None,
  Output,
  MeasDeviation,
  MeasPower,
  MeasLevel,
  SystError,
  SystErrorCount,
  SystVersion,
  SystHelpHeaders,
  SettingsSave,
  SettingsLoad
};

struct TreeNode {
  std::string longForm;   // upper case, e.g. "DEVIATION"
  std::string shortForm;  // upper case, e.g. "DEV"; empty when only the long form is taken
  const SettingsKey* key = nullptr;
  Builtin builtin = Builtin::None;
  bool query = false;    // the builtin answers a query
  bool command = false;  // the builtin takes a command form
  int parent = -1;
  std::vector<int> children;
  bool Addressable() const { return key != nullptr || builtin != Builtin::None; }
  // "DEViation": the short form upper case, the rest lower case.
  std::string Display() const;
};

class CommandTree {
 public:
  CommandTree();
  const TreeNode& Node(int i) const { return nodes_[static_cast<std::size_t>(i)]; }
  static constexpr int kRoot = 0;
  // The child of `parent` that `mnemonic` names (case-insensitive; short or long form), or -1.
  int Child(int parent, std::string_view mnemonic) const;
  // Every addressable node's header ("SINE:PEAK:DEViation"), in tree order.
  std::vector<std::string> Headers() const;
  std::string HeaderOf(int node) const;
  // The node of a settings key (by name), or -1; keys the remote leaves alone give -1.
  int NodeOfKey(std::string_view keyName) const;

 private:
  int AddPath(const std::vector<std::string>& words);
  int AddChild(int parent, const std::string& word);
  void FixShortForms();
  std::vector<TreeNode> nodes_;
};

const CommandTree& RemoteTree();

// The words of a key name as headers: the camel-case parts, with a leading acronym split after
// another key's first word ("RDSPS" -> RDS, PS) and a few abbreviations spelt out
// ("Dev" -> Deviation).
std::vector<std::string> HeaderWords(std::string_view keyName,
                                     const std::vector<std::string>& firstWords);
// The SCPI short form of a long mnemonic: four letters, three when the fourth is a vowel.
std::string ShortForm(std::string_view longForm);

// Keys the remote does not offer: the run flag (OUTPut is the run switch) and the input file
// (no path from the network).
bool RemoteSkipsKey(std::string_view keyName);

}  // namespace kelvane::remote
