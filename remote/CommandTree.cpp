// SPDX-License-Identifier: GPL-3.0-or-later
// Building the command tree from the settings keys, and looking headers up in it.
#include "CommandTree.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "ProgrammeTable.h"

namespace kelvane::remote {
namespace {

bool Upper(char c) {
  return c >= 'A' && c <= 'Z';
}
bool Lower(char c) {
  return c >= 'a' && c <= 'z';
}

std::string ToUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool SameUpper(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// Abbreviations in key names and the SCPI words they stand for.
constexpr std::pair<std::string_view, std::string_view> kSpelledOut[] = {
    {"Dev", "Deviation"}, {"Freq", "Frequency"}, {"Mod", "Modulation"}, {"Sens", "Sensitivity"},
    {"Func", "Function"}, {"Ext", "External"},   {"M", "Multipath"},
};

std::vector<std::string> CamelWords(std::string_view key) {
  std::vector<std::string> words;
  std::string word;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const char c = key[i];
    const bool next = i + 1 < key.size() && Lower(key[i + 1]);
    if (i > 0 && Upper(c) && (Lower(key[i - 1]) || (Upper(key[i - 1]) && next))) {
      words.push_back(word);
      word.clear();
    }
    word += c;
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

}  // namespace

std::string ShortForm(std::string_view longForm) {
  if (longForm.size() <= 4) return std::string(longForm);
  const char fourth = static_cast<char>(std::toupper(static_cast<unsigned char>(longForm[3])));
  const bool vowel =
      fourth == 'A' || fourth == 'E' || fourth == 'I' || fourth == 'O' || fourth == 'U';
  return std::string(longForm.substr(0, vowel ? 3 : 4));
}

std::vector<std::string> HeaderWords(std::string_view keyName,
                                     const std::vector<std::string>& firstWords) {
  std::vector<std::string> words = CamelWords(keyName);
  if (words.empty()) return words;
  const std::string first = words.front();
  if (std::all_of(first.begin(), first.end(), [](char c) { return !Lower(c); })) {
    std::string best;
    for (const std::string& p : firstWords) {
      if (p.size() < first.size() && first.compare(0, p.size(), p) == 0 && p.size() > best.size()) {
        best = p;
      }
    }
    if (!best.empty()) {
      words.front() = best;
      words.insert(words.begin() + 1, first.substr(best.size()));
    }
  }
  for (std::string& w : words) {
    for (const auto& [abbr, full] : kSpelledOut) {
      if (w == abbr) w = std::string(full);
    }
  }
  return words;
}

bool RemoteSkipsKey(std::string_view keyName) {
  if (keyName == "Running") return true;
  const auto programme = FindProgrammeKey(keyName);
  return programme && ProgrammeInfo(*programme).kind == ProgrammeKind::Path;
}

std::string TreeNode::Display() const {
  std::string out = longForm;
  const std::size_t upper = shortForm.empty() ? longForm.size() : shortForm.size();
  for (std::size_t i = upper; i < out.size(); ++i) {
    out[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(out[i])));
  }
  return out;
}

int CommandTree::AddChild(int parent, const std::string& word) {
  const std::string upper = ToUpper(word);
  for (int c : nodes_[static_cast<std::size_t>(parent)].children) {
    if (nodes_[static_cast<std::size_t>(c)].longForm == upper) return c;
  }
  TreeNode n;
  n.longForm = upper;
  n.shortForm = ShortForm(upper);
  n.parent = parent;
  nodes_.push_back(std::move(n));
  const int index = static_cast<int>(nodes_.size()) - 1;
  nodes_[static_cast<std::size_t>(parent)].children.push_back(index);
  return index;
}

int CommandTree::AddPath(const std::vector<std::string>& words) {
  int at = kRoot;
  for (const std::string& w : words) at = AddChild(at, w);
  return at;
}

// Two siblings whose forms meet (a short form equal to the other's short or long form) would
// make a header ambiguous: both then take their long form only.
void CommandTree::FixShortForms() {
  for (TreeNode& parent : nodes_) {
    for (int a : parent.children) {
      for (int b : parent.children) {
        if (a == b) continue;
        TreeNode& na = nodes_[static_cast<std::size_t>(a)];
        const TreeNode& nb = nodes_[static_cast<std::size_t>(b)];
        if (na.shortForm.empty()) continue;
        if (na.shortForm == nb.shortForm || na.shortForm == nb.longForm ||
            ShortForm(nb.longForm) == na.shortForm) {
          na.shortForm.clear();
        }
      }
    }
  }
}

CommandTree::CommandTree() {
  nodes_.push_back(TreeNode{});
  auto builtin = [this](std::vector<std::string> words, Builtin b, bool query, bool command) {
    TreeNode& n = nodes_[static_cast<std::size_t>(AddPath(words))];
    n.builtin = b;
    n.query = query;
    n.command = command;
  };
  builtin({"Output"}, Builtin::Output, true, true);
  builtin({"Output", "State"}, Builtin::Output, true, true);
  builtin({"Measure", "Deviation"}, Builtin::MeasDeviation, true, false);
  builtin({"Measure", "Power"}, Builtin::MeasPower, true, false);
  builtin({"Measure", "Level"}, Builtin::MeasLevel, true, false);
  builtin({"System", "Error"}, Builtin::SystError, true, false);
  builtin({"System", "Error", "Next"}, Builtin::SystError, true, false);
  builtin({"System", "Error", "Count"}, Builtin::SystErrorCount, true, false);
  builtin({"System", "Version"}, Builtin::SystVersion, true, false);
  builtin({"System", "Help", "Headers"}, Builtin::SystHelpHeaders, true, false);
  builtin({"System", "Settings", "Save"}, Builtin::SettingsSave, false, true);
  builtin({"System", "Settings", "Load"}, Builtin::SettingsLoad, false, true);

  std::vector<std::string> firstWords;
  for (const SettingsKey& k : SettingsKeys()) {
    const auto words = CamelWords(k.name);
    if (!words.empty()) firstWords.push_back(words.front());
  }
  for (const SettingsKey& k : SettingsKeys()) {
    if (RemoteSkipsKey(k.name)) continue;
    TreeNode& n = nodes_[static_cast<std::size_t>(AddPath(HeaderWords(k.name, firstWords)))];
    if (n.key == nullptr && n.builtin == Builtin::None) n.key = &k;
  }
  FixShortForms();
}

int CommandTree::Child(int parent, std::string_view mnemonic) const {
  for (int c : nodes_[static_cast<std::size_t>(parent)].children) {
    const TreeNode& n = nodes_[static_cast<std::size_t>(c)];
    if (SameUpper(mnemonic, n.longForm) ||
        (!n.shortForm.empty() && SameUpper(mnemonic, n.shortForm)))
      return c;
  }
  return -1;
}

std::string CommandTree::HeaderOf(int node) const {
  std::string header;
  for (int at = node; at > kRoot; at = nodes_[static_cast<std::size_t>(at)].parent) {
    header = nodes_[static_cast<std::size_t>(at)].Display() + (header.empty() ? "" : ":") + header;
  }
  return header;
}

std::vector<std::string> CommandTree::Headers() const {
  std::vector<std::string> out;
  std::vector<int> stack{kRoot};
  while (!stack.empty()) {
    const int at = stack.back();
    stack.pop_back();
    const TreeNode& n = nodes_[static_cast<std::size_t>(at)];
    if (n.Addressable()) out.push_back(HeaderOf(at));
    for (auto it = n.children.rbegin(); it != n.children.rend(); ++it) stack.push_back(*it);
  }
  return out;
}

int CommandTree::NodeOfKey(std::string_view keyName) const {
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    if (nodes_[i].key != nullptr && SameUpper(nodes_[i].key->name, keyName))
      return static_cast<int>(i);
  }
  return -1;
}

const CommandTree& RemoteTree() {
  static const CommandTree tree;
  return tree;
}

}  // namespace kelvane::remote
