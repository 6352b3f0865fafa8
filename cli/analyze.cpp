// SPDX-License-Identifier: GPL-3.0-or-later
// `kelvane-cli analyze`: options, reading the recording or the live input, the report.
#include "analyze.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "AnalyzeReport.h"
#include "Analyzer.h"
#include "IqInput.h"
#include "audio_commands.h"
#include "options.h"

namespace kelvane::cli {
namespace {

constexpr int kStatusOk = 0, kStatusUnreadable = 1, kStatusNotFm = 2, kStatusUsage = 3;
constexpr double kMaxSeconds = 86400;
constexpr double kDefaultLiveSeconds = 5, kDefaultLiveRate = 192000;

const std::vector<OptionSpec>& AnalyzeOptions() {
  static const std::vector<OptionSpec> specs = {
      {"json", 0, false, false, "", "print the figures as JSON under stable keys"},
      {"format", 0, true, false, "NAME",
       "wav, sigmf, raw (ci16) or cf32; default from the name as render chooses it"},
      {"rate", 0, true, false, "HZ",
       "sample rate of a raw file, or of the live input (default 192000); 44100 .. 20000000"},
      {"skip", 0, true, false, "S", "seconds to leave out at the start (default 0)"},
      {"length", 0, true, false, "S",
       "seconds to analyse (default: the rest of the file; live: 5)"},
      {"input-device", 0, true, false, "NAME|NUMBER",
       "measure live from this input device (see kelvane-cli devices): I left, Q right"},
      kSettingsOption,
      kSetOption,
      {"help", 'h', false, false, "", "show this help"},
  };
  return specs;
}

// The one argument that is no option (nor an option's value) is the file.
bool TakeFile(std::vector<std::string>& args, std::string& file, std::string& error) {
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() > 1 && a[0] == '-') {
      rest.push_back(a);
      bool takesValue = false;
      for (const auto& s : AnalyzeOptions()) {
        const bool named = a.compare(0, 2, "--") == 0 ? a.substr(2) == s.longName
                                                      : a.size() == 2 && a[1] == s.shortName;
        if (named) takesValue = s.takesValue;
      }
      if (takesValue && i + 1 < args.size()) rest.push_back(args[++i]);
      continue;
    }
    if (!file.empty()) {
      error = "unexpected argument '" + a + "': one file at a time";
      return false;
    }
    file = a;
  }
  args = rest;
  return true;
}

// A number option within [lo, hi] (lo itself excluded when `openLow`).
bool ReadNumber(const ParsedOptions& o, const char* name, const char* unit, double lo, double hi,
                bool openLow, double& value, std::string& error) {
  const auto text = o.Get(name);
  if (!text) return true;
  char* end = nullptr;
  const double v = std::strtod(text->c_str(), &end);
  if (text->empty() || *end != '\0' || !std::isfinite(v) || v < lo || v > hi ||
      (openLow && v == lo)) {
    char range[96];
    std::snprintf(range, sizeof range, "%s%.10g .. %.10g", openLow ? "more than " : "", lo, hi);
    error = std::string("--") + name + " " + *text + ": not a number of " + unit + " in " + range;
    return false;
  }
  value = v;
  return true;
}

}  // namespace

std::string AnalyzeHelp() {
  std::string text =
      "Usage: kelvane-cli analyze FILE [--json] [--format NAME] [--rate HZ] [--skip S]\n"
      "                               [--length S]\n"
      "       kelvane-cli analyze --input-device NAME|NUMBER [--rate HZ] [--length S] [--json]\n\n"
      "Measures an FM signal as I/Q (I left, Q right) the way a receiver would see it: the\n"
      "carrier offset, the I/Q gain ratio (Q over I) and phase error, the DC of each channel\n"
      "and the calibration values that cancel them; the peak and rms deviation, the tone and\n"
      "its deviation, the MPX power (ITU-R BS.412, 0 dBr = a tone of 19 kHz deviation) over\n"
      "the time analysed; the pilot's frequency and deviation, the 38 kHz and 57 kHz phases\n"
      "against the pilot, the left and right tones and the separation when one is silent; the\n"
      "RDS PI, PS, PTY, TP, TA, MS, DI, RadioText, clock time, AF list, group counts and block\n"
      "error rate. Signs and units are those of the settings: a render with CarrierFreq=5000\n"
      "reads 5000 Hz, LRGainRatio=0.92 reads 0.92, LRPhaseOffset=-31 reads -31 deg and\n"
      "DCOffsetL=60 (with DCCoupledDAC=1) reads +6553.6 counts, +10 % of full scale.\n\n"
      "FILE is a 2-channel WAV/RF64 file (any sample format libsndfile reads), a SigMF\n"
      "recording (NAME.sigmf-meta beside NAME.sigmf-data; ci16_le, cf32_le, ci8 or cu8), or\n"
      "raw ci16 or cf32 frames (.raw, .ci16, .iq, .cf32, .cfile) with --rate, at 44100 Hz\n"
      "to 20 MS/s. Samples are read as 16-bit counts (float x 32768). From 400 kHz up the\n"
      "recording is converted to 384000 Hz with libsoxr first (+-175 kHz kept). Stereo and\n"
      "RDS need 120000 Hz or more, and RDS needs the pilot. The tones, the pilot and the\n"
      "stereo figures come from the middle 10 s at most. A phase error beyond +-90 deg reads as\n"
      "the opposite phase with the carrier offset and the modulation mirrored (the two give\n"
      "the same I/Q points).\n"
      "The corrections are the calibration fields to enter so that the output measured like\n"
      "this one comes out clean: the values in the settings file (--settings, --set) corrected\n"
      "by what was measured. A render analysed with its own settings gives LRGainRatio=1.00,\n"
      "LRPhaseOffset=0.0, DCOffsetL=DCOffsetR=50.00.\n\n"
      "Exit status: 0 measured; 1 the file or device could not be read; 2 not an FM signal;\n"
      "3 an option refused.\n\n"
      "Options:\n";
  text += OptionsHelp(AnalyzeOptions());
  return text;
}

int RunAnalyze(const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  std::string file, error;
  ParsedOptions opts;
  if (!TakeFile(args, file, error) || !ParseOptions(AnalyzeOptions(), args, opts, error)) {
    PrintError(error + " (see kelvane-cli analyze --help)");
    return kStatusUsage;
  }
  if (opts.Has("help")) {
    std::fputs(AnalyzeHelp().c_str(), stdout);
    return kStatusOk;
  }
  const bool live = opts.Has("input-device");
  if (live == !file.empty()) {
    PrintError(live ? "give either a FILE or --input-device, not both"
                    : "no FILE to analyse (see kelvane-cli analyze --help)");
    return kStatusUsage;
  }
  analysis::IqReadOptions read;
  if (const auto f = opts.Get("format")) {
    if (live || !analysis::ParseIqFileFormat(*f, read.format)) {
      PrintError("--format " + *f +
                 (live ? ": only for a FILE" : ": not one of wav, sigmf, raw, ci16, cf32"));
      return kStatusUsage;
    }
  }
  if (!ReadNumber(opts, "rate", "Hz", analysis::kMinRate_Hz, analysis::kMaxRate_Hz, false,
                  read.rate_Hz, error) ||
      !ReadNumber(opts, "skip", "seconds", 0, kMaxSeconds, false, read.skip_s, error) ||
      !ReadNumber(opts, "length", "seconds", 0, kMaxSeconds, true, read.length_s, error)) {
    PrintError(error);
    return kStatusUsage;
  }
  SettingsValues settings;
  std::string settingsPath;
  bool settingsFound = false;
  if (!LoadSettingsWithOverrides(opts, settings, settingsPath, settingsFound, error)) {
    PrintError(error);
    return kStatusUsage;
  }

  receiver::IqRecording rec;
  AnalyzeSource src;
  src.skip_s = read.skip_s;
  if (live) {
    const double rate = read.rate_Hz > 0 ? read.rate_Hz : kDefaultLiveRate;
    const double seconds = read.length_s > 0 ? read.length_s : kDefaultLiveSeconds;
    src.name = "input device " + *opts.Get("input-device");
    src.container = "live";
    src.inputRate_Hz = rate;
    if (!CaptureIq(*opts.Get("input-device"), rate, read.skip_s, seconds, rec, error)) {
      PrintError(error);
      return kStatusUnreadable;
    }
  } else {
    analysis::IqFileInfo info;
    if (!analysis::ReadIqFile(file, read, rec, info, error)) {
      PrintError(error);
      return kStatusUnreadable;
    }
    src.name = file;
    src.container = info.container;
    src.inputRate_Hz = info.inputRate_Hz;
  }
  analysis::Measurement m;
  std::string why;
  if (analysis::Analyse(rec, m, why) == analysis::AnalyseStatus::NotFm) {
    PrintError(src.name + ": not an FM signal: " + why);
    return kStatusNotFm;
  }
  const CalibrationCorrection c = CorrectionFor(
      m, settings, settingsFound ? settingsPath : settingsPath + " (not found: first-run values)");
  const std::string report = opts.Has("json") ? ReportJson(src, m, c) : ReportText(src, m, c);
  std::fputs(report.c_str(), stdout);
  return kStatusOk;
}

}  // namespace kelvane::cli
