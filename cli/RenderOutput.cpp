// SPDX-License-Identifier: GPL-3.0-or-later
// The output side of `render`: option reading, SigMF metadata from the settings, progress.
#include "RenderOutput.h"

#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>

#include "TerminalText.h"

namespace kelvane::cli {

const OptionSpec kOutputOption{"output",
                               'o',
                               true,
                               false,
                               "OUT",
                               "file to write (required); - is standard output (raw I/Q "
                               "frames unless --format says otherwise)"};
const OptionSpec kFormatOption{"format",
                               0,
                               true,
                               false,
                               "NAME",
                               "wav, sigmf, sigmf-cf32, raw or cf32 (default: from the name of "
                               "OUT; see below)"};
const OptionSpec kCenterFrequencyOption{
    "center-frequency",
    0,
    true,
    false,
    "HZ",
    "the RF frequency of the carrier for SigMF (core:frequency), in Hz, more than 0 up to "
    "100 GHz (k, M, G allowed)"};
const OptionSpec kQuietOption{
    "quiet", 'q', false, false, "", "no summary, progress or read-outs (errors and warnings only)"};

namespace {

constexpr double kMaxCenterFrequency = 100e9;

std::optional<double> ReadFrequency(const std::string& text) {
  double v = 0.0;
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, v);
  if (text.empty() || r.ec != std::errc()) return std::nullopt;
  std::string_view rest(r.ptr, static_cast<std::size_t>(end - r.ptr));
  double scale = 1.0;
  if (!rest.empty() && (rest[0] == 'k' || rest[0] == 'M' || rest[0] == 'G')) {
    scale = rest[0] == 'k' ? 1e3 : rest[0] == 'M' ? 1e6 : 1e9;
    rest.remove_prefix(1);
  }
  if (rest == "Hz") rest = {};
  if (!rest.empty() || !std::isfinite(v)) return std::nullopt;
  return v * scale;
}

}  // namespace

bool ReadOutputOptions(const ParsedOptions& options, OutputChoice& out, std::string& error) {
  const auto path = options.Get(kOutputOption.longName);
  if (!path || path->empty()) {
    error = "no output given: use -o OUT.wav, or -o - for raw I/Q on standard output";
    return false;
  }
  out.path = *path;
  const auto format =
      ChooseIqFormat(out.path, options.Get(kFormatOption.longName).value_or(""), error);
  if (!format) return false;
  out.format = *format;
  if (const auto text = options.Get(kCenterFrequencyOption.longName)) {
    const auto hz = ReadFrequency(*text);
    if (!hz || *hz <= 0.0 || *hz > kMaxCenterFrequency) {
      error = "--center-frequency " + *text +
              ": not a frequency in Hz of more than 0 up to 100 GHz (such as 98.5M)";
      return false;
    }
    out.centerFrequency = hz;
  }
  out.quiet = options.Has(kQuietOption.longName);
  return true;
}

IqMetadata RecordingMetadata(const SettingsValues& values, int rate, double startUtc,
                             std::optional<double> centerFrequency, std::string description) {
  IqMetadata meta;
  meta.sampleRate = rate;
  meta.startUtc = startUtc;
  meta.centerFrequency = centerFrequency;
  meta.description = std::move(description);
  for (const auto& key : SettingsKeys()) {
    meta.settings.emplace_back(std::string(key.name), SettingText(values, key));
  }
  return meta;
}

std::string OutputNamesText(const std::string& path, IqFormat format) {
  const auto names = IqFileWriter::OutputNames(path, format);
  std::string text = EscapeControls(names[0]);
  if (names.size() > 1) text += " and " + EscapeControls(names[1]);
  return text;
}

std::string ReadoutText(const char* peak, const MeterReadout& power) {
  char line[128];
  // The power is the mean over the seconds so far until a minute is full (the meter shows it
  // red), then over the last minute (green).
  std::snprintf(line, sizeof line, "Peak Deviation [kHz] %6s   MPX Power [dBr] %6s (%s)", peak,
                power.text, power.green ? "last minute" : "first minute");
  return line;
}

Progress::Progress(bool quiet) : quiet_(quiet), terminal_(::isatty(STDERR_FILENO) != 0) {}

Progress::~Progress() {
  EndLine();
}

void Progress::EndLine() {
  if (open_) {
    std::fputs("\n", stderr);
    open_ = false;
  }
}

void Progress::Note(const std::string& line) {
  if (quiet_) return;
  EndLine();
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

void Progress::Update(const std::string& line) {
  if (quiet_) return;
  if (terminal_) {
    // Clear to the end of the line: a shorter line must not leave the tail of a longer one.
    std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
    open_ = true;
  } else {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  std::fflush(stderr);
}

}  // namespace kelvane::cli
