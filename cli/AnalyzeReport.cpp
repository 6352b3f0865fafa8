// SPDX-License-Identifier: GPL-3.0-or-later
// The analyze report: readable text and JSON.
#include "AnalyzeReport.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "ParamTable.h"
#include "TextCodec.h"

namespace kelvane::cli {
namespace {

using analysis::Measurement;
using nlohmann::json;

// DC offsets are set in percent of full scale, 655.36 sample counts each.
constexpr double kCountsPerPercent = 655.36;

std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

json Optional(const std::optional<double>& v) {
  return v ? json(*v) : json(nullptr);
}

// The RDS texts as UTF-8; a character never received shows as '?'.
std::string RdsText(const std::string& codes) {
  return Utf8FromRds(codes);
}

std::optional<std::string> RadioText(const receiver::RdsContent& c, bool& complete) {
  complete = false;
  if (c.rtFlag < 0) return std::nullopt;
  const std::string& buffer = c.rt[static_cast<std::size_t>(c.rtFlag)];
  std::string text;
  complete = receiver::CompleteRadioText(buffer, &text);
  if (!complete) {
    const auto end = buffer.find('\r');
    text = buffer.substr(0, end);
    while (!text.empty() && text.back() == '\0') text.pop_back();
  }
  return RdsText(text);
}

// The date of a modified Julian day (the conversion the RDS standard gives).
void DateOfMjd(int mjd, int& year, int& month, int& day) {
  const int y1 = static_cast<int>((mjd - 15078.2) / 365.25);
  const int m1 = static_cast<int>((mjd - 14956.1 - static_cast<int>(y1 * 365.25)) / 30.6001);
  day = mjd - 14956 - static_cast<int>(y1 * 365.25) - static_cast<int>(m1 * 30.6001);
  const int k = m1 == 14 || m1 == 15 ? 1 : 0;
  year = y1 + k + 1900;
  month = m1 - 1 - k * 12;
}

std::optional<std::string> ClockTime(const receiver::RdsContent& c, double& offsetHours) {
  if (c.clockTimes.empty()) return std::nullopt;
  const receiver::RdsClockTime& t = c.clockTimes.back();
  int y = 0, mo = 0, d = 0;
  DateOfMjd(t.mjd, y, mo, d);
  offsetHours = t.offsetHalfHours / 2.0;
  return Format("%04d-%02d-%02dT%02d:%02dZ", y, mo, d, t.hour, t.minute);
}

std::map<std::string, int> GroupCounts(const receiver::RdsContent& c) {
  std::map<std::string, int> counts;
  for (std::size_t g = 0; g < c.groupTypes.size(); ++g) {
    ++counts[std::to_string(c.groupTypes[g]) + (c.versions[g] ? "B" : "A")];
  }
  return counts;
}

// The last value of a per-group field, or nullopt when no group carried it.
std::optional<int> Last(const std::vector<int>& v) {
  if (v.empty()) return std::nullopt;
  return v.back();
}

std::optional<int> DecoderId(const receiver::RdsContent& c) {
  int di = 0;
  for (int k = 0; k < 4; ++k) {
    if (c.di[static_cast<std::size_t>(k)] < 0) return std::nullopt;
    di |= c.di[static_cast<std::size_t>(k)] << (3 - k);  // segment 0 carries d3
  }
  return di;
}

std::vector<double> AfMHz(const receiver::RdsContent& c) {
  std::vector<double> mhz;
  for (const int code : c.af) mhz.push_back(std::round((87.5 + 0.1 * code) * 10) / 10);
  return mhz;
}

json IntOrNull(const std::optional<int>& v) {
  return v ? json(*v) : json(nullptr);
}

}  // namespace

CalibrationCorrection CorrectionFor(const Measurement& m, const SettingsValues& base,
                                    const std::string& settingsPath) {
  CalibrationCorrection c;
  c.settingsPath = settingsPath;
  const auto set = [&c](ParamId id, double v) {
    const double n = NormaliseParam(id, v);
    const ParamRow& row = ParamInfo(id);
    if (v < row.minValue || v > row.maxValue) c.outOfRange = true;
    return n;
  };
  c.lrGainRatio = set(ParamId::LRGainRatio, base.params[ParamId::LRGainRatio] / m.iq.gainRatio);
  c.lrPhaseOffset = set(ParamId::LRPhaseOffset,
                        std::remainder(base.params[ParamId::LRPhaseOffset] - m.iq.phaseDeg, 360.0));
  // Without DCCoupledDAC the DC fields do nothing, so the correction starts from none.
  const double dcL = base.dcCoupledDAC ? base.params[ParamId::DCOffsetL] : 50;
  const double dcR = base.dcCoupledDAC ? base.params[ParamId::DCOffsetR] : 50;
  c.dcOffsetL = set(ParamId::DCOffsetL, dcL - m.iq.dcI / kCountsPerPercent);
  c.dcOffsetR = set(ParamId::DCOffsetR, dcR - m.iq.dcQ / kCountsPerPercent);
  return c;
}

std::string ReportJson(const AnalyzeSource& src, const Measurement& m,
                       const CalibrationCorrection& c) {
  json j;
  j["file"] = src.name;
  j["container"] = src.container;
  j["sample_rate_hz"] = src.inputRate_Hz;
  j["working_rate_hz"] = m.rate_Hz;
  j["skip_s"] = src.skip_s;
  j["analysed_s"] = m.seconds;
  j["carrier_offset_hz"] = m.carrierOffset_Hz;
  j["iq"] = {{"gain_ratio", m.iq.gainRatio},
             {"phase_deg", m.iq.phaseDeg},
             {"dc_i", m.iq.dcI},
             {"dc_q", m.iq.dcQ},
             {"dc_i_pct", m.iq.dcI / kCountsPerPercent},
             {"dc_q_pct", m.iq.dcQ / kCountsPerPercent},
             {"amplitude_i", m.iq.ampI},
             {"amplitude_q", m.iq.ampQ},
             {"image_rejection_db", m.iq.imageRejection_dB},
             {"envelope_rms", m.iq.envelopeRms},
             {"correction",
              {{"LRGainRatio", c.lrGainRatio},
               {"LRPhaseOffset", c.lrPhaseOffset},
               {"DCOffsetL", c.dcOffsetL},
               {"DCOffsetR", c.dcOffsetR},
               {"out_of_range", c.outOfRange},
               {"settings_file", c.settingsPath}}}};
  j["fm"] = {{"peak_deviation_hz", m.fm.peakDeviation_Hz},
             {"rms_deviation_hz", m.fm.rmsDeviation_Hz},
             {"mpx_power_dbr", m.fm.mpxPower_dBr},
             {"tone_hz", Optional(m.fm.tone_Hz)},
             {"tone_deviation_hz", Optional(m.fm.toneDeviation_Hz)}};
  const analysis::StereoMeasurement& st = m.stereo;
  const auto onlyStereo = [&st](double v) { return st.present ? json(v) : json(nullptr); };
  j["stereo"] = {
      {"pilot_hz", onlyStereo(st.pilot_Hz)},
      {"pilot_deviation_hz", onlyStereo(st.pilotDeviation_Hz)},
      {"pilot_phase_jitter_deg", onlyStereo(st.pilotPhaseJitterDeg)},
      {"subcarrier_38k_phase_deg", Optional(st.phase38Deg)},
      {"left_tone_hz", Optional(st.left.tone_Hz)},
      {"left_level_hz", Optional(st.left.level_Hz)},
      {"right_tone_hz", Optional(st.right.tone_Hz)},
      {"right_level_hz", Optional(st.right.level_Hz)},
      {"silent_channel", st.silentChannel.empty() ? json(nullptr) : json(st.silentChannel)},
      {"separation_db", Optional(st.separation_dB)}};
  const analysis::RdsMeasurement& r = m.rds;
  const receiver::RdsContent& rc = r.content;
  json rds;
  const bool have = r.present;
  rds["pi"] = have ? json(Format("%04X", rc.piValues.back())) : json(nullptr);
  rds["ps"] = have && !rc.segments.empty() ? json(RdsText(rc.ps)) : json(nullptr);
  rds["pty"] = have ? IntOrNull(Last(rc.pty)) : json(nullptr);
  rds["tp"] = have ? IntOrNull(Last(rc.tp)) : json(nullptr);
  rds["ta"] = have ? IntOrNull(Last(rc.ta)) : json(nullptr);
  rds["ms"] = have ? IntOrNull(Last(rc.ms)) : json(nullptr);
  rds["di"] = have ? IntOrNull(DecoderId(rc)) : json(nullptr);
  bool complete = false;
  const auto rt = RadioText(rc, complete);
  rds["rt"] = rt ? json(*rt) : json(nullptr);
  rds["rt_complete"] = rt ? json(complete) : json(nullptr);
  double offset = 0;
  const auto ct = ClockTime(rc, offset);
  rds["ct"] = ct ? json(*ct) : json(nullptr);
  rds["ct_offset_hours"] = ct ? json(offset) : json(nullptr);
  rds["af_mhz"] = rc.afCount >= 0 ? json(AfMHz(rc)) : json(nullptr);
  rds["groups"] = GroupCounts(rc);
  rds["blocks"] = r.frames.blocksChecked;
  rds["block_errors"] = r.frames.blockErrors;
  rds["bler"] = r.frames.synced && r.frames.blocksChecked > 0 ? json(r.Bler()) : json(nullptr);
  rds["deviation_hz"] = st.present && r.frames.synced ? json(r.deviation_Hz) : json(nullptr);
  rds["phase_deg"] = st.present && r.frames.synced ? json(r.phaseDeg) : json(nullptr);
  j["rds"] = rds;
  return j.dump(2) + "\n";
}

std::string ReportText(const AnalyzeSource& src, const Measurement& m,
                       const CalibrationCorrection& c) {
  std::string t;
  t += Format("%s: %s, %.0f Hz, %.3f s analysed from %.3f s", src.name.c_str(),
              src.container.c_str(), src.inputRate_Hz, m.seconds, src.skip_s);
  if (m.rate_Hz != src.inputRate_Hz) t += Format(" (measured at %.0f Hz)", m.rate_Hz);
  t += "\n\n";
  t += Format("Carrier offset     %+.2f Hz\n", m.carrierOffset_Hz);
  t += Format(
      "I/Q gain ratio     %.4f (Q over I)    phase error %+.2f deg    image rejection %.1f dB\n",
      m.iq.gainRatio, m.iq.phaseDeg, m.iq.imageRejection_dB);
  t += Format("DC                 I %+.1f counts (%+.2f %% FS)    Q %+.1f counts (%+.2f %% FS)\n",
              m.iq.dcI, m.iq.dcI / kCountsPerPercent, m.iq.dcQ, m.iq.dcQ / kCountsPerPercent);
  t +=
      Format("To cancel them     LRGainRatio=%.2f LRPhaseOffset=%.1f DCOffsetL=%.2f DCOffsetR=%.2f",
             c.lrGainRatio, c.lrPhaseOffset, c.dcOffsetL, c.dcOffsetR);
  t += c.outOfRange ? " (clamped to the ranges)\n" : "\n";
  t += "                   (from the settings in " + c.settingsPath +
       "; the DC offsets act with DCCoupledDAC=1)\n";
  t += Format("FM deviation       peak %.1f Hz    rms %.1f Hz    MPX power %+.2f dBr\n",
              m.fm.peakDeviation_Hz, m.fm.rmsDeviation_Hz, m.fm.mpxPower_dBr);
  if (m.fm.tone_Hz) {
    t += Format("Tone               %.3f Hz at %.1f Hz deviation\n", *m.fm.tone_Hz,
                *m.fm.toneDeviation_Hz);
  } else {
    t += "Tone               none\n";
  }
  const analysis::StereoMeasurement& st = m.stereo;
  if (!st.present) {
    t += "Stereo             no pilot\n";
  } else {
    t += Format("Pilot              %.3f Hz, %.1f Hz deviation, phase jitter %.2f deg\n",
                st.pilot_Hz, st.pilotDeviation_Hz, st.pilotPhaseJitterDeg);
    t += st.phase38Deg ? Format("38 kHz phase       %+.1f deg against 2 x pilot\n", *st.phase38Deg)
                       : std::string("38 kHz phase       no L-R signal\n");
    const auto channel = [](const char* name, const analysis::ChannelTone& ch) {
      return ch.tone_Hz
                 ? Format("%-19s%.2f Hz at %.1f Hz deviation\n", name, *ch.tone_Hz, *ch.level_Hz)
                 : Format("%-19ssilent\n", name);
    };
    t += channel("Left", st.left);
    t += channel("Right", st.right);
    if (st.separation_dB) {
      t += Format("Separation         %.1f dB (%s silent)\n", *st.separation_dB,
                  st.silentChannel.c_str());
    }
  }
  const analysis::RdsMeasurement& r = m.rds;
  const receiver::RdsContent& rc = r.content;
  if (!r.present) {
    t += st.present ? "RDS                none decoded\n" : "";
    return t;
  }
  const auto di = DecoderId(rc);
  t += Format("RDS                PI %04X  PS \"%s\"  PTY %d  TP %d", rc.piValues.back(),
              RdsText(rc.ps).c_str(), rc.pty.back(), rc.tp.back());
  if (!rc.ta.empty()) t += Format("  TA %d  MS %d", rc.ta.back(), rc.ms.back());
  t += di ? Format("  DI %d\n", *di) : std::string("\n");
  bool complete = false;
  if (const auto rt = RadioText(rc, complete)) {
    t += "  RadioText        \"" + *rt + "\"" + (complete ? "\n" : " (incomplete)\n");
  }
  double offset = 0;
  if (const auto ct = ClockTime(rc, offset)) {
    t += Format("  Clock time       %s, local offset %+.1f h\n", ct->c_str(), offset);
  }
  if (rc.afCount >= 0) {
    t += "  AF              ";
    for (const double f : AfMHz(rc)) t += Format(" %.1f", f);
    t += " MHz\n";
  }
  t += "  Groups          ";
  for (const auto& [type, n] : GroupCounts(rc)) t += Format(" %s %d", type.c_str(), n);
  t += "\n";
  t += Format("  Block errors     %d of %d (BLER %.2f %%)\n", r.frames.blockErrors,
              r.frames.blocksChecked, 100 * r.Bler());
  t += Format("  57 kHz           %.1f Hz deviation, phase %+.1f deg against 3 x pilot\n",
              r.deviation_Hz, r.phaseDeg);
  return t;
}

}  // namespace kelvane::cli
