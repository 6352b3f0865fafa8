// SPDX-License-Identifier: GPL-3.0-or-later
// The report of `kelvane-cli analyze`: readable text and JSON under stable keys.
#pragma once

#include <string>

#include "Analyzer.h"
#include "SettingsFile.h"

namespace kelvane::cli {

struct AnalyzeSource {
  std::string name;         // the file, or "input device N"
  std::string container;    // "WAV", "SigMF ci16_le", ...
  double inputRate_Hz = 0;  // the recording's own rate
  double skip_s = 0, seconds = 0;
};

// The calibration to enter in Kelvane so that its output, measured like this one, comes out
// clean: the settings it was made with (`base`) corrected by what was measured.
struct CalibrationCorrection {
  double lrGainRatio = 1, lrPhaseOffset = 0, dcOffsetL = 50, dcOffsetR = 50;
  bool outOfRange = false;  // a value had to be clamped to its range
  std::string settingsPath;
};
CalibrationCorrection CorrectionFor(const analysis::Measurement& m, const SettingsValues& base,
                                    const std::string& settingsPath);

std::string ReportText(const AnalyzeSource& src, const analysis::Measurement& m,
                       const CalibrationCorrection& c);
std::string ReportJson(const AnalyzeSource& src, const analysis::Measurement& m,
                       const CalibrationCorrection& c);

}  // namespace kelvane::cli
