// SPDX-License-Identifier: GPL-3.0-or-later
// What `render` does with its signal: the output options (-o, --format, --center-frequency,
// -q), the recording's metadata, and the progress read-outs on standard error.
#pragma once

#include <optional>
#include <string>

#include "IqFileWriter.h"
#include "Modulator.h"
#include "SettingsFile.h"
#include "options.h"

namespace kelvane::cli {

extern const OptionSpec kOutputOption;           // -o OUT
extern const OptionSpec kFormatOption;           // --format NAME
extern const OptionSpec kCenterFrequencyOption;  // --center-frequency HZ
extern const OptionSpec kQuietOption;            // -q

struct OutputChoice {
  std::string path;
  IqFormat format = IqFormat::Wav;
  std::optional<double> centerFrequency;  // Hz
  bool quiet = false;
  bool toStdout() const { return path == "-"; }
};

// False with a one-line error for a missing -o, an unknown --format or a centre frequency
// that is not a number of Hz in range.
bool ReadOutputOptions(const ParsedOptions& options, OutputChoice& out, std::string& error);

// The metadata of a recording made with these settings: every key as the settings file
// holds it.
IqMetadata RecordingMetadata(const SettingsValues& values, int rate, double startUtc,
                             std::optional<double> centerFrequency, std::string description);

// What the files of a recording are called, for the closing line ("a.sigmf-data and
// a.sigmf-meta").
std::string OutputNamesText(const std::string& path, IqFormat format);

// The two meter read-outs as one text; the power's window (the meter's red and green) in
// words.
std::string ReadoutText(const char* peak, const MeterReadout& power);

// Progress on standard error: on a terminal the read-outs overwrite one line; otherwise each
// is a line of its own. Quiet drops both; messages that stay (the summary) go unless quiet.
class Progress {
 public:
  explicit Progress(bool quiet);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  void Note(const std::string& line);
  void Update(const std::string& line);
  // Ends an updating line, so that a message can follow on a line of its own.
  void EndLine();

 private:
  bool quiet_;
  bool terminal_;
  bool open_ = false;  // an updating line is on the terminal
};

}  // namespace kelvane::cli
