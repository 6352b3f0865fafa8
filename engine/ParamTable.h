// SPDX-License-Identifier: GPL-3.0-or-later
// The one table of every spinner value the engine reads: settings key, control, range, step,
// displayed precision and first-run value. The windows, the settings file and the CLI all use it.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace kelvane {

enum class ParamId : int {
  SinePeakDev,     // main BMSEPD, kHz
  SineModFreq,     // BMSEMF, Hz
  ExtModSens,      // BMSEMS, Hz/step
  CarrierFreq,     // BMSECF, Hz
  MaxOutputSwing,  // BMSESWING, % of FS
  LRGainRatio,     // BMSEGO
  LRPhaseOffset,   // BMSEPO, deg.
  DCOffsetL,       // BMSEDCOL, % of FS
  DCOffsetR,       // BMSEDCOR, % of FS
  PilotFrequency,  // dialog BMSEPF, Hz
  PilotDeviation,  // dialog BMSEPD, Hz
  RDSPhase,        // BMSERP, deg.
  RDSDeviation,    // BMSERD, Hz
  StereoEffect,    // BMSELR, %
  StereoPhase,     // BMSEPH, deg.
  MDelay,          // BMSEDELAY, smp
  MVoltage,        // BMSEPOW, %
  Count
};

inline constexpr std::size_t kParamCount = static_cast<std::size_t>(ParamId::Count);

enum class ParamWindow { Main, Dialog };

struct ParamRow {
  ParamId id;
  std::string_view key;      // settings file key
  std::string_view control;  // control object name (BMSEPD exists in both windows)
  ParamWindow window;
  std::string_view label;  // caption above the spinner
  std::string_view unit;   // unit text after the number; empty for none
  double minValue;
  double maxValue;
  double increment;
  int precision;         // decimals the spinner shows
  double firstRun;       // value when the settings file lacks the key
  double designValue;    // value in the window design (shown only before settings load)
  int left, top, width;  // position in the parent group; every spinner is 28 pixels high
};

// Rows in settings-file order (keys 15..23, then 28..33, then 35..36).
extern const std::array<ParamRow, kParamCount> kParamTable;

const ParamRow& ParamInfo(ParamId id);
std::optional<ParamId> FindParamByKey(std::string_view key);  // case-sensitive, as stored

// What a spinner would hold after being given v: clamped to the range, then rounded to the
// displayed precision as the spinner's text shows it (its 15 significant digits, halves away
// from zero: 2.5 smp shows 3, 12.35 kHz 12.4), since the spinner keeps its value only as text.
double NormaliseParam(ParamId id, double v);

// Plain record of every control value the engine reads, in engine-independent units.
struct ParamValues {
  std::array<double, kParamCount> v{};
  double operator[](ParamId id) const { return v[static_cast<std::size_t>(id)]; }
  double& operator[](ParamId id) { return v[static_cast<std::size_t>(id)]; }
  static ParamValues FirstRun();
};

}  // namespace kelvane
