// SPDX-License-Identifier: GPL-3.0-or-later
// One client's SCPI conversation: splits a line into its commands, finds each header in the
// command tree, runs it on the instrument and collects the answers and errors.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "CommandTree.h"
#include "Instrument.h"
#include "ScpiError.h"

namespace kelvane::remote {

class ScpiSession {
 public:
  explicit ScpiSession(Instrument& instrument) : instrument_(instrument) {}
  // Runs one line (without its line end). Returns the answers of its queries joined by ';'
  // and ended by '\n', or nothing when it asked nothing.
  std::string Execute(std::string_view line);
  ErrorQueue& Errors() { return errors_; }

 private:
  struct Header {
    bool common = false;  // *IDN? and the like
    bool absolute = false;
    bool query = false;
    std::string common_;  // upper case, without '*' and '?'
    std::vector<std::string_view> mnemonics;
  };
  // Runs one command; false when the rest of the line must be skipped (a command error).
  bool Run(std::string_view unit, std::vector<std::string>& answers);
  bool RunCommon(const Header& h, const std::vector<std::string_view>& params,
                 std::vector<std::string>& answers);
  void RunNode(int node, const Header& h, const std::vector<std::string_view>& params,
               std::vector<std::string>& answers);
  void RunBuiltin(const TreeNode& n, bool query, const std::vector<std::string_view>& params,
                  std::vector<std::string>& answers);
  void Reset();
  bool Apply(const SettingsValues& next);

  Instrument& instrument_;
  ErrorQueue errors_;
  int pathNode_ = CommandTree::kRoot;  // where a relative header of the same line starts
};

// The line split at ';' outside quoted strings.
std::vector<std::string_view> SplitUnits(std::string_view line);
// The parameters split at ',' outside quoted strings (none for blank text).
std::vector<std::string_view> SplitParams(std::string_view text);

}  // namespace kelvane::remote
