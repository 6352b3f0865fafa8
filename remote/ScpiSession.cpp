// SPDX-License-Identifier: GPL-3.0-or-later
// Header parsing, the path rule of chained commands, and the common and built-in commands.
#include "ScpiSession.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "ScpiValue.h"
#include "UserSetting.h"

namespace kelvane::remote {
namespace {

bool Letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool MnemonicChar(char c) {
  return Letter(c) || (c >= '0' && c <= '9') || c == '_';
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// Splits at `sep` outside '...' and "..." strings.
std::vector<std::string_view> SplitOutsideQuotes(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  char quote = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote != 0) {
      if (c == quote) quote = 0;  // a doubled quote closes and reopens: same result
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == sep) {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(text.substr(start));
  return parts;
}

std::string Level_dBFS(float level) {
  const double db = 20.0 * std::log10(std::max(static_cast<double>(level), 1e-5));
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, db, std::chars_format::fixed, 1).ptr;
  return std::string(text, end);
}

// One line per header for SYSTem:HELP:HEADers?: the header, '?' for a query only, "[?]"
// for both, then a tab and the values it takes.
std::string HelpText() {
  const CommandTree& tree = RemoteTree();
  std::string text;
  std::vector<int> stack{CommandTree::kRoot};
  while (!stack.empty()) {
    const int at = stack.back();
    stack.pop_back();
    const TreeNode& n = tree.Node(at);
    for (auto it = n.children.rbegin(); it != n.children.rend(); ++it) stack.push_back(*it);
    if (!n.Addressable()) continue;
    text += tree.HeaderOf(at);
    if (n.key != nullptr) {
      text += "[?]\t" + KeyForms(*n.key);
    } else if (n.query && n.command) {
      text += "[?]\tON|OFF|1|0";
    } else if (n.query) {
      text += "?";
    }
    text += '\n';
  }
  return text;
}

}  // namespace

std::vector<std::string_view> SplitUnits(std::string_view line) {
  return SplitOutsideQuotes(line, ';');
}

std::vector<std::string_view> SplitParams(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return {};
  return SplitOutsideQuotes(text, ',');
}

std::string ScpiSession::Execute(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  // Bytes outside printable ASCII are garbage, except UTF-8 inside a string (RDS texts).
  char quote = 0;
  for (const char ch : line) {
    const auto c = static_cast<unsigned char>(ch);
    if (quote != 0 && ch == quote) {
      quote = 0;
    } else if (quote == 0 && (ch == '\'' || ch == '"')) {
      quote = ch;
    }
    if ((c < 0x20 && c != '\t') || c == 0x7F || (c >= 0x80 && quote == 0)) {
      errors_.Push(kInvalidCharacter, "byte " + std::to_string(c) + " in the line");
      return {};
    }
  }
  pathNode_ = CommandTree::kRoot;
  std::vector<std::string> answers;
  const auto units = SplitUnits(line);
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::string_view unit = Trim(units[i]);
    if (unit.empty()) continue;
    if (!Run(unit, answers)) break;
  }
  if (answers.empty()) return {};
  std::string out;
  for (std::size_t i = 0; i < answers.size(); ++i) out += (i ? ";" : "") + answers[i];
  return out + "\n";
}

bool ScpiSession::Run(std::string_view unit, std::vector<std::string>& answers) {
  Header h;
  std::size_t i = 0;
  if (unit[0] == '*') {
    h.common = true;
    for (i = 1; i < unit.size() && Letter(unit[i]); ++i) h.common_ += unit[i];
    h.common_ = Upper(h.common_);
    if (h.common_.empty()) {
      errors_.Push(kSyntaxError, unit);
      return false;
    }
  } else {
    if (unit[0] == ':') {
      h.absolute = true;
      i = 1;
    }
    for (;;) {
      const std::size_t start = i;
      if (i >= unit.size() || !Letter(unit[i])) {
        errors_.Push(kSyntaxError, unit);
        return false;
      }
      while (i < unit.size() && MnemonicChar(unit[i])) ++i;
      h.mnemonics.push_back(unit.substr(start, i - start));
      if (i < unit.size() && unit[i] == ':') {
        ++i;
        continue;
      }
      break;
    }
  }
  if (i < unit.size() && unit[i] == '?') {
    h.query = true;
    ++i;
  }
  if (i < unit.size() && unit[i] != ' ' && unit[i] != '\t') {
    errors_.Push(kSyntaxError, unit);
    return false;
  }
  const auto params = SplitParams(unit.substr(i));
  if (h.common) return RunCommon(h, params, answers);

  const CommandTree& tree = RemoteTree();
  auto resolve = [&](int from) {
    int at = from;
    for (std::string_view m : h.mnemonics) {
      at = tree.Child(at, m);
      if (at < 0) return -1;
    }
    return at;
  };
  int node = resolve(h.absolute ? CommandTree::kRoot : pathNode_);
  if (node < 0 && !h.absolute && pathNode_ != CommandTree::kRoot) {
    node = resolve(CommandTree::kRoot);
  }
  if (node < 0 || !tree.Node(node).Addressable()) {
    errors_.Push(kUndefinedHeader, unit.substr(0, i));
    return false;
  }
  pathNode_ = tree.Node(node).parent;
  RunNode(node, h, params, answers);
  return true;
}

bool ScpiSession::RunCommon(const Header& h, const std::vector<std::string_view>& params,
                            std::vector<std::string>& answers) {
  const std::string& c = h.common_;
  const bool known = (h.query && (c == "IDN" || c == "OPC" || c == "ESR" || c == "TST")) ||
                     (!h.query && (c == "RST" || c == "CLS" || c == "OPC" || c == "WAI"));
  if (!known) {
    errors_.Push(kUndefinedHeader, "*" + c + (h.query ? "?" : ""));
    return false;
  }
  if (!params.empty()) {
    errors_.Push(kParameterNotAllowed, "*" + c + " takes no parameter");
    return false;
  }
  if (c == "IDN") answers.push_back("Kelvane,FM I/Q modulator,0," + instrument_.Version());
  if (c == "OPC" && h.query) answers.push_back("1");  // every command completes before the next
  if (c == "ESR") answers.push_back(std::to_string(errors_.TakeEventStatus()));
  if (c == "TST") answers.push_back("0");
  if (c == "CLS") {
    errors_.Clear();
    errors_.TakeEventStatus();
  }
  if (c == "RST") Reset();
  return true;
}

void ScpiSession::RunNode(int node, const Header& h, const std::vector<std::string_view>& params,
                          std::vector<std::string>& answers) {
  const TreeNode& n = RemoteTree().Node(node);
  if (n.key == nullptr) {
    RunBuiltin(n, h.query, params, answers);
    return;
  }
  const SettingsKey& key = *n.key;
  if (params.size() > 1) {
    errors_.Push(kParameterNotAllowed, std::string(key.name) + " takes one value");
    return;
  }
  if (h.query) {
    Param::Kind which = Param::Kind::Other;
    if (params.size() == 1) {
      which = ReadParam(params[0]).kind;
      if (which != Param::Kind::Min && which != Param::Kind::Max && which != Param::Kind::Default) {
        errors_.Push(kIllegalParameterValue, "a query takes MIN, MAX or DEF only");
        return;
      }
    }
    if (const auto answer = QueryKey(instrument_.Settings(), key, which)) {
      answers.push_back(*answer);
    } else {
      errors_.Push(kIllegalParameterValue, std::string(key.name) + " has no such limit");
    }
    return;
  }
  if (params.empty()) {
    errors_.Push(kMissingParameter, key.name);
    return;
  }
  SettingsValues next = instrument_.Settings();
  const SetResult r = SetKey(next, key, ReadParam(params[0]));
  if (r.error != 0) {
    errors_.Push(r.error, r.detail);
    return;
  }
  Apply(next);
}

void ScpiSession::RunBuiltin(const TreeNode& n, bool query,
                             const std::vector<std::string_view>& params,
                             std::vector<std::string>& answers) {
  if ((query && !n.query) || (!query && !n.command)) {
    errors_.Push(kUndefinedHeader, n.longForm + (query ? " has no query form" : " is a query"));
    return;
  }
  if (query || n.builtin != Builtin::Output) {
    if (!params.empty()) {
      errors_.Push(kParameterNotAllowed, n.longForm + " takes no parameter");
      return;
    }
  }
  std::string error;
  switch (n.builtin) {
    case Builtin::Output: {
      if (query) {
        answers.push_back(instrument_.Output() ? "1" : "0");
        return;
      }
      if (params.size() != 1) {
        errors_.Push(params.empty() ? kMissingParameter : kParameterNotAllowed, "OUTPut ON|OFF");
        return;
      }
      const auto on = ReadBool(ReadParam(params[0]));
      if (!on) {
        errors_.Push(kIllegalParameterValue, "OUTPut takes ON, OFF, 1 or 0");
      } else if (!instrument_.SetOutput(*on, error)) {
        errors_.Push(kExecutionError, error);
      }
      return;
    }
    case Builtin::MeasDeviation:
      answers.push_back(instrument_.Measure().deviation_kHz);
      return;
    case Builtin::MeasPower: {
      const Readings r = instrument_.Measure();
      answers.push_back(r.power_dBr + (r.powerFinal ? ",1" : ",0"));
      return;
    }
    case Builtin::MeasLevel: {
      const Readings r = instrument_.Measure();
      answers.push_back(Level_dBFS(r.levelL) + "," + Level_dBFS(r.levelR));
      return;
    }
    case Builtin::SystError:
      answers.push_back(errors_.Pop());
      return;
    case Builtin::SystErrorCount:
      answers.push_back(std::to_string(errors_.Count()));
      return;
    case Builtin::SystVersion:
      answers.push_back("1999.0");
      return;
    case Builtin::SystHelpHeaders: {
      // A definite-length block: '#', the count of length digits, the length, the bytes.
      const std::string text = HelpText();
      const std::string length = std::to_string(text.size());
      answers.push_back("#" + std::to_string(length.size()) + length + text);
      return;
    }
    case Builtin::SettingsSave: {
      const SaveResult r = SaveSettingsFile(instrument_.SettingsPath(), instrument_.Settings());
      if (!r.ok) errors_.Push(kMassStorageError, r.error);
      return;
    }
    case Builtin::SettingsLoad: {
      SettingsLoadReport report;
      SettingsValues v = LoadSettingsFile(instrument_.SettingsPath(), &report);
      if (report.status == SettingsLoadReport::Status::Missing) {
        errors_.Push(kFileNameNotFound, report.message);
        return;
      }
      if (report.status == SettingsLoadReport::Status::Unreadable) {
        errors_.Push(kMassStorageError, report.message);
        return;
      }
      v.running = instrument_.Settings().running;
      Apply(v);
      return;
    }
    case Builtin::None:
      break;
  }
  errors_.Push(kUndefinedHeader, n.longForm);
}

void ScpiSession::Reset() {
  std::string error;
  instrument_.SetOutput(false, error);
  const SettingsValues now = instrument_.Settings();
  SettingsValues v;
  // The devices, the window's place and the input file belong to the bench, not to the signal.
  v.top = now.top;
  v.left = now.left;
  v.audioInDevice = now.audioInDevice;
  v.audioInDeviceName = now.audioInDeviceName;
  v.audioOutDevice = now.audioOutDevice;
  v.audioOutDeviceName = now.audioOutDeviceName;
  v.inputFile = now.inputFile;
  v.running = false;
  Apply(v);
}

bool ScpiSession::Apply(const SettingsValues& next) {
  std::string error;
  if (instrument_.ApplySettings(next, error)) return true;
  errors_.Push(kExecutionError, error);
  return false;
}

}  // namespace kelvane::remote
