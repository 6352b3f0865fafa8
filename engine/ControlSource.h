// SPDX-License-Identifier: GPL-3.0-or-later
// How the engine reads the user's settings: a snapshot and the multipath switch once per block,
// and the RDS texts once per group / fourth block.
#pragma once

#include <atomic>
#include <cstddef>
#include <limits>

#include "ParamTable.h"
#include "Programme.h"

namespace kelvane {

// Every control value of both windows that the engine reads at the start of a block.
struct ControlSnapshot {
  ParamValues params;      // spinner values, already normalised by the table
  bool stereo = false;     // CBSTEREO
  bool rds = false;        // CBRDS
  bool dcCoupled = false;  // CBDC
  ProgrammeSettings programme;
  // UTC in seconds since 1970 at the block's first frame as it will be heard (NaN: no clock,
  // no CT), and the local time offset in half hours (-31 .. 31), for the RDS clock-time group.
  double clockUtc = std::numeric_limits<double>::quiet_NaN();
  int localOffsetHalfHours = 0;
  static ControlSnapshot FirstRun() {
    ControlSnapshot s;
    s.params = ParamValues::FirstRun();
    return s;
  }
};

// Implemented by the window (reading its controls) and by the CLI (reading its settings).
class ControlSource {
 public:
  virtual ~ControlSource() = default;
  // Called once at the start of every block.
  virtual void ReadControls(ControlSnapshot& out) = 0;
  // CBMULTI: read by the engine at the start of every block; the owner keeps this flag current.
  const std::atomic<bool>& MultipathFlag() const { return multipath_; }
  void SetMultipath(bool on) { multipath_.store(on, std::memory_order_relaxed); }
  // EPI / EPS texts (PS in RDS character codes): the PI read at each group start, the PS at
  // the fourth block of each 0A group; copied into the caller's buffer (no allocation on the
  // audio path); returns the full length of the text.
  virtual std::size_t ReadPIText(char* out, std::size_t capacity) = 0;
  virtual std::size_t ReadPSText(char* out, std::size_t capacity) = 0;
  // The RadioText in RDS character codes (up to 64), read at each group that may carry it;
  // empty sends no RadioText.
  virtual std::size_t ReadRTText(char* /*out*/, std::size_t /*capacity*/) { return 0; }

 private:
  std::atomic<bool> multipath_{false};
};

}  // namespace kelvane
