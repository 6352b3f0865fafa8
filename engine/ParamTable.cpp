// SPDX-License-Identifier: GPL-3.0-or-later
// Values of the spinner table and the normalisation that every value source shares.
#include "ParamTable.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

namespace kelvane {

// clang-format off
const std::array<ParamRow, kParamCount> kParamTable = {{
  {ParamId::SinePeakDev,    "SinePeakDev",    "BMSEPD",    ParamWindow::Main,   "Peak deviation:",        "kHz",     0,      150,    0.1,  1, 10,    10,    8,   24,  249},
  {ParamId::SineModFreq,    "SineModFreq",    "BMSEMF",    ParamWindow::Main,   "Modulation frequency:",  "Hz",      0,      60000,  1,    0, 1000,  1000,  8,   80,  249},
  {ParamId::ExtModSens,     "ExtModSens",     "BMSEMS",    ParamWindow::Main,   "Modulator sensitivity:", "Hz/step", 0.1,    10,     0.01, 2, 1,     1,     8,   72,  249},
  {ParamId::CarrierFreq,    "CarrierFreq",    "BMSECF",    ParamWindow::Main,   "Carrier frequency:",     "Hz",      -30000, 30000,  1,    0, 0,     0,     8,   76,  273},
  {ParamId::MaxOutputSwing, "MaxOutputSwing", "BMSESWING", ParamWindow::Main,   "Max. output swing:",     "% of FS", 1,      100,    0.1,  1, 10,    10,    8,   32,  121},
  {ParamId::LRGainRatio,    "LRGainRatio",    "BMSEGO",    ParamWindow::Main,   "L to R gain ratio:",     "",        0.5,    2,      0.01, 2, 1,     0.92,  8,   80,  121},
  {ParamId::LRPhaseOffset,  "LRPhaseOffset",  "BMSEPO",    ParamWindow::Main,   "L to R phase offset:",   "deg.",    -180,   180,    0.1,  1, 0,     -31,   8,   128, 121},
  {ParamId::DCOffsetL,      "DCOffsetL",      "BMSEDCOL",  ParamWindow::Main,   "DC offset L:",           "% of FS", 10,     90,     0.01, 2, 50,    78.74, 152, 64,  105},
  {ParamId::DCOffsetR,      "DCOffsetR",      "BMSEDCOR",  ParamWindow::Main,   "DC offset R:",           "% of FS", 10,     90,     0.01, 2, 50,    78.73, 152, 112, 105},
  {ParamId::PilotFrequency, "PilotFrequency", "BMSEPF",    ParamWindow::Dialog, "Pilot frequency:",       "Hz",      18980,  19020,  0.1,  1, 19000, 19000, 8,   40,  121},
  {ParamId::PilotDeviation, "PilotDeviation", "BMSEPD",    ParamWindow::Dialog, "Pilot deviation:",       "Hz",      4000,   10000,  10,   0, 6800,  6800,  8,   96,  121},
  {ParamId::RDSPhase,       "RDSPhase",       "BMSERP",    ParamWindow::Dialog, "RDS phase:",             "deg.",    -90,    90,     1,    0, 0,     0,     8,   40,  121},
  {ParamId::RDSDeviation,   "RDSDeviation",   "BMSERD",    ParamWindow::Dialog, "RDS deviation:",         "Hz",      500,    10000,  10,   0, 2700,  2700,  8,   96,  121},
  {ParamId::StereoEffect,   "StereoEffect",   "BMSELR",    ParamWindow::Dialog, "L-R level:",             "%",       0,      150,    0.1,  1, 100,   100,   16,  40,  129},
  {ParamId::StereoPhase,    "StereoPhase",    "BMSEPH",    ParamWindow::Dialog, "38 kHz phase offset:",   "deg.",    -90,    90,     1,    0, 0,     0,     160, 40,  121},
  {ParamId::MDelay,         "MDelay",         "BMSEDELAY", ParamWindow::Dialog, "Delay of Reflected:",    "smp",     0,      20,     1,    0, 0,     0,     8,   72,  121},
  {ParamId::MVoltage,       "MVoltage",       "BMSEPOW",   ParamWindow::Dialog, "Voltage of Reflected:",  "%",       0,      100,    1,    0, 50,    50,    8,   152, 121},
}};
// clang-format on

const ParamRow& ParamInfo(ParamId id) {
  return kParamTable[static_cast<std::size_t>(id)];
}

std::optional<ParamId> FindParamByKey(std::string_view key) {
  for (const auto& row : kParamTable) {
    if (row.key == key) return row.id;
  }
  return std::nullopt;
}

namespace {

// The spinner's rounding: take the 15 significant digits of |v| (so 12.35, stored in binary
// as 12.3499999..., counts as the tie it was typed as) and round them to `decimals` places,
// half away from zero. Digits only, so no locale and no binary tie-breaking is involved.
double RoundLikeSpinner(double v, int decimals) {
  char e[32];
  const auto end =
      std::to_chars(e, e + sizeof e, std::fabs(v), std::chars_format::scientific, 14).ptr;
  // e holds d.dddddddddddddde+XX: 15 digits, digit k weighs 10^(exp10 - k).
  std::string_view text(e, static_cast<std::size_t>(end - e));
  const auto ePos = text.find('e');
  std::string digits = std::string(text.substr(0, 1)) + std::string(text.substr(2, ePos - 2));
  int exp10 = 0;
  const auto expText = text.substr(ePos + 1);
  std::from_chars(expText.data() + (expText.front() == '+' ? 1 : 0),
                  expText.data() + expText.size(), exp10);
  const int keep = exp10 + 1 + decimals;  // digits with weight >= 10^-decimals
  if (keep < 0) return 0.0;
  if (keep < static_cast<int>(digits.size())) {
    const bool up = digits[static_cast<std::size_t>(keep)] >= '5';
    digits.resize(static_cast<std::size_t>(keep));
    if (up) {
      int k = keep - 1;
      for (; k >= 0 && digits[static_cast<std::size_t>(k)] == '9'; --k) {
        digits[static_cast<std::size_t>(k)] = '0';
      }
      if (k >= 0) {
        ++digits[static_cast<std::size_t>(k)];
      } else {
        digits.insert(digits.begin(), '1');
        ++exp10;
      }
    }
  }
  // digits * 10^(exp10 + 1 - size), read back through text so that the result is the double
  // nearest to the decimal the spinner shows.
  const std::string sci = (digits.empty() ? std::string("0") : digits) + "e" +
                          std::to_string(exp10 + 1 - static_cast<int>(digits.size()));
  double r = 0.0;
  std::from_chars(sci.data(), sci.data() + sci.size(), r);
  return v < 0 ? -r : r;
}

}  // namespace

double NormaliseParam(ParamId id, double v) {
  const ParamRow& row = ParamInfo(id);
  if (std::isnan(v)) v = row.minValue;
  v = std::clamp(v, row.minValue, row.maxValue);
  const double r = RoundLikeSpinner(v, row.precision);
  return r == 0.0 ? 0.0 : r;  // no "-0" from rounding a tiny negative
}

ParamValues ParamValues::FirstRun() {
  ParamValues p;
  for (const auto& row : kParamTable) p[row.id] = row.firstRun;
  return p;
}

}  // namespace kelvane
