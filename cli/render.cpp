// SPDX-License-Identifier: GPL-3.0-or-later
// `kelvane-cli render`: runs the engine as a live run would and records what the sound card
// would get (a WAV, SigMF or raw I/Q file, or standard output), with the meter read-outs.
#include "render.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "AudioFileReader.h"
#include "ClockTime.h"
#include "IqFileWriter.h"
#include "Modulator.h"
#include "RenderOutput.h"
#include "RunRules.h"
#include "SettingsControls.h"
#include "SettingsFile.h"
#include "TerminalText.h"
#include "options.h"

namespace kelvane::cli {
namespace {

constexpr double kDefaultSeconds = 10.0;
// A live start fills all four playback buffers before the first capture block of the run can
// arrive, so with the input source these blocks read the empty input queue.
constexpr int kPrefillBlocks = 4;

const std::vector<OptionSpec>& RenderOptions() {
  static const std::vector<OptionSpec> specs = {
      kOutputOption,
      kFormatOption,
      {"seconds", 's', true, false, "S",
       "length of the signal in seconds (default 10, fractions allowed; with -o - and no "
       "--seconds the signal goes on until the reader closes the pipe or Ctrl-C)"},
      kSettingsOption,
      kSetOption,
      {"input", 'i', true, false, "FILE",
       "audio file (WAV, FLAC, Ogg/Vorbis, MP3, ...; mono or stereo, any rate, converted to "
       "the playback rate) fed as the sound-card input when the input source is selected "
       "(ExtSource=1); silence after its end; - reads standard input (WAV, or raw with "
       "--input-rate)"},
      {"input-rate", 0, true, false, "HZ",
       "with --input -: standard input is raw 16-bit little-endian stereo at this rate"},
      {"start-time", 0, true, false, "TIME",
       "UTC time of the first frame for the RDS clock time (RDSCT=1), ISO 8601 such as "
       "2026-12-09T14:37:00Z; default: now; also the SigMF core:datetime"},
      kCenterFrequencyOption,
      kQuietOption,
      {"help", 'h', false, false, "", "show this help"},
  };
  return specs;
}

volatile sig_atomic_t gInterrupted = 0;
extern "C" void OnInterrupt(int) {
  gInterrupted = 1;
}

constexpr int kMinInputRate = 1000, kMaxInputRate = 768000;

std::string FormatSeconds(double s) {
  return FormatSettingsFloat(s);
}

}  // namespace

std::string RenderHelp() {
  std::string text =
      "Usage: kelvane-cli render -o OUT.wav [--format NAME] [--seconds S] [--settings FILE]\n"
      "                          [--set KEY=VALUE ...] [--input FILE|-] [-q]\n"
      "       kelvane-cli render -o OUT.sigmf --center-frequency 98.5M ...\n"
      "       kelvane-cli render -o - ... > iq.raw\n\n"
      "Renders the modulator's I/Q output (I left, Q right, 16-bit) from the settings file, or\n"
      "from the first-run defaults when there is none, as the sound card would get it at the\n"
      "chosen sampling rate and buffer length. Once per second of output it shows the peak\n"
      "deviation and MPX power read-outs as the meters show them, on standard error (never\n"
      "mixed into the output): one updating line on a terminal, else a line per second; -q\n"
      "leaves only errors and warnings. The MPX power is the mean over the seconds so far\n"
      "during the first minute (\"first minute\"), then over the last minute (\"last minute\").\n"
      "A positive carrier offset puts the carrier at a negative frequency of I + jQ (left +\n"
      "j right): Q leads I by 90 degrees. Swap the channels or read I - jQ to see it at +f.\n\n"
      "The container comes from --format or from the name: .wav, .sigmf (.sigmf-data,\n"
      ".sigmf-meta), .raw (.ci16, .iq), .cf32 (.cfile); - is raw and any other name WAV.\n"
      "A WAV file is 16-bit stereo; past 4 GiB of data it is RF64 (the 64-bit sizes in a\n"
      "ds64 chunk). SigMF writes NAME.sigmf-data (ci16_le, or cf32_le with sigmf-cf32) and\n"
      "NAME.sigmf-meta: the sampling rate, the UTC time of the first sample (--start-time),\n"
      "the --center-frequency as core:frequency and every settings key under\n"
      "\"kelvane:settings\". raw is the 16-bit frames alone, cf32 the same as float32 (each\n"
      "sample / 32768).\n"
      "A regular file (or a new one) appears only when the whole signal was written; it is\n"
      "written beside the target and renamed over it (SigMF: both files, the meta file last).\n"
      "A character device or FIFO is written straight into, and a symbolic link is followed\n"
      "(the link stays). The WAV header holds the final sizes from the start (the length is\n"
      "known from --seconds), so a reader of a FIFO gets a complete file unless the render is\n"
      "interrupted. With -o - a reader that closes the pipe early ends the render quietly with\n"
      "status 0; without --seconds it streams until then, or until Ctrl-C (status 0).\n\n"
      "Options:\n";
  text += OptionsHelp(RenderOptions());
  text +=
      "\nThe settings file is the one given with --settings, else $KELVANE_SETTINGS, else\n"
      "vantorex.ini in $XDG_CONFIG_HOME/kelvane (default ~/.config/kelvane). It is only read.\n"
      "The sine source runs when SineSource=1 and ExtSource=0; otherwise the input source runs\n"
      "on the --input file (silence without one, with a warning). RDS is switched off below\n"
      "192000 Hz. As at a live start, the first four buffers are filled before any input has\n"
      "arrived and carry silence as the input, so the --input file starts four buffers late;\n"
      "from then on each input block is taken as arriving just in time for its output block\n"
      "(a live run may also lose or delay input blocks, and its two sound-card clocks drift).\n"
      "The --input file may be in any format libsndfile reads (WAV, FLAC, Ogg/Vorbis, MP3,\n"
      "AIFF, ...), mono (sent to both channels) or stereo, at any rate: another rate is\n"
      "converted to the playback rate with libsoxr (high quality), and a 16-bit file at the\n"
      "playback rate is used sample for sample. The line after the first says which. --input -\n"
      "reads a WAV file from standard input, or with --input-rate HZ raw 16-bit little-endian\n"
      "stereo frames at that rate. A file that cannot be decoded to its end stops the render\n"
      "with status 1, and no output file is left.\n"
      "The read-outs are taken as the window's one-second meter timer takes them: with\n"
      "buffers longer than a second (BufferLength=4) a second without a new block reads 0.0.\n"
      "The RDS clock time starts at --start-time (or when the render starts) and advances with\n"
      "the rendered frames, so a file rendered twice with the same --start-time is the same;\n"
      "its local offset is the time zone's (TZ) at the start time.\n\n";
  text += SettingsKeysHelp();
  return text;
}

int RunRender(const std::vector<std::string>& args) {
  ParsedOptions opts;
  std::string error;
  if (!ParseOptions(RenderOptions(), args, opts, error)) {
    PrintError(error + " (see kelvane-cli render --help)");
    return 2;
  }
  if (opts.Has("help")) {
    std::fputs(RenderHelp().c_str(), stdout);
    return 0;
  }
  OutputChoice output;
  if (!ReadOutputOptions(opts, output, error)) {
    PrintError(error);
    return 2;
  }
  const std::string* out = &output.path;
  const bool toStdout = output.toStdout();
  // Standard output with no length goes on until its reader stops.
  const bool endless = toStdout && !opts.Has("seconds");

  double seconds = kDefaultSeconds;
  if (!ReadSecondsOption(opts, seconds, error)) {
    PrintError(error);
    return 2;
  }

  double startTime = NowUtc();
  if (const auto text = opts.Get("start-time")) {
    const auto t = ParseUtcTime(*text, error);
    if (!t) {
      PrintError("--start-time " + error);
      return 2;
    }
    startTime = *t;
  }

  SettingsValues values;
  std::string settingsPath;
  bool settingsFound = false;
  if (!LoadSettingsWithOverrides(opts, values, settingsPath, settingsFound, error)) {
    PrintError(error);
    return 2;
  }
  const int rate = SamplingRateForIndex(values.samplingRate);
  if (rate < 0) {
    PrintError(
        "no sampling rate selected: SamplingRate must be 0 (44100), 1 (48000), "
        "2 (96000) or 3 (192000)");
    return 2;
  }
  const int bufferBytes = PlaybackBufferSize(rate, values.bufferLength);
  const int blockFrames = bufferBytes / 4;
  const auto frames =
      endless ? UINT64_MAX : static_cast<std::uint64_t>(std::llround(seconds * rate));
  if (frames == 0) {
    PrintError("the duration " + FormatSeconds(seconds) + " s is shorter than one frame");
    return 2;
  }
  const bool sine = values.SineChecked();
  const bool rdsOn = values.rds && RdsAllowed(rate);

  int inputRate = 0;  // raw standard input only
  if (const auto text = opts.Get("input-rate")) {
    char* end = nullptr;
    const long v = std::strtol(text->c_str(), &end, 10);
    if (text->empty() || *end != '\0' || v < kMinInputRate || v > kMaxInputRate) {
      PrintError("--input-rate " + *text + ": out of range, Hz " + std::to_string(kMinInputRate) +
                 " .. " + std::to_string(kMaxInputRate));
      return 2;
    }
    if (opts.Get("input") != "-") {
      PrintError("--input-rate applies only to --input - (raw audio on standard input)");
      return 2;
    }
    inputRate = static_cast<int>(v);
  }

  AudioFileReader input;
  bool haveInput = false;
  std::string inputLine;
  if (const auto in = opts.Get("input")) {
    if (sine) {
      std::fprintf(stderr,
                   "%s: note: --input is not used with the sine source (--set ExtSource=1 "
                   "selects the input)\n",
                   kProgramName);
    } else {
      if (!input.Open(*in, rate, error, inputRate)) {
        PrintError("cannot use input " + error);
        return 1;
      }
      const AudioFileInfo& f = input.Info();
      inputLine = "Input " + EscapeControls(*in == "-" ? "standard input" : *in) + ": " + f.format +
                  ", " + std::to_string(f.rate) + " Hz " +
                  (f.channels == 1 ? "mono (sent to both channels)" : "stereo") +
                  (f.rate == rate ? "" : ", resampled to " + std::to_string(rate) + " Hz") + "\n";
      haveInput = true;
    }
  }

  if (!sine && !haveInput) {
    PrintError(
        "warning: the sound-card input source is selected but no --input file is given: the "
        "input is silence, so the carrier carries no programme");
  }

  const bool sigmf = output.format == IqFormat::SigMF || output.format == IqFormat::SigMFcf32;
  if (output.centerFrequency && !sigmf) {
    std::fprintf(stderr, "%s: note: --center-frequency is only recorded in SigMF files\n",
                 kProgramName);
  }
  char signal[256];
  std::snprintf(signal, sizeof signal, "%d Hz (buffer %d bytes), %s source%s%s%s%s", rate,
                bufferBytes, sine ? "sine" : "input", values.stereo && !sine ? ", stereo" : "",
                rdsOn && !sine ? ", RDS" : "",
                values.rds && !rdsOn ? " (RDS off below 192000 Hz)" : "",
                values.multipath ? ", multipath" : "");

  // A reader that goes away shows as EPIPE: a quiet end on standard output, an error for a
  // FIFO named with -o.
  ::signal(SIGPIPE, SIG_IGN);
  IqFileWriter writer;
  const IqMetadata meta =
      RecordingMetadata(values, rate, startTime, output.centerFrequency,
                        std::string("FM test signal from kelvane-cli render at ") + signal);
  if (!writer.Open(*out, output.format, meta, endless ? -1 : static_cast<std::int64_t>(frames),
                   error)) {
    PrintError(error);
    return toStdout ? 2 : 1;
  }
  gInterrupted = 0;
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);

  Progress progress(output.quiet);
  progress.Note("Rendering " +
                (endless ? std::string("until the reader stops") : FormatSeconds(seconds) + " s") +
                " at " + signal + "; settings " + EscapeControls(settingsPath) +
                (settingsFound ? "" : " (not found: first-run defaults)"));
  if (!inputLine.empty()) {
    progress.Note(inputLine.substr(0, inputLine.size() - (inputLine.back() == '\n' ? 1 : 0)));
  }

  SettingsControls controls(values, rdsOn);
  controls.StartClock(startTime, LocalOffsetHalfHours(startTime), rate, blockFrames);
  Modulator modulator(controls);
  modulator.SetFrameRate(rate);
  modulator.BeginRun(sine ? SourceSine : SourceInput);

  std::vector<std::uint8_t> block(static_cast<std::size_t>(bufferBytes));
  std::vector<std::int16_t> capture(static_cast<std::size_t>(blockFrames) * 2);
  const std::uint64_t lastTick = frames / static_cast<std::uint64_t>(rate);
  std::uint64_t nextTick = 1;
  std::uint64_t written = 0;
  std::uint64_t generated = 0;
  for (std::uint64_t blockIndex = 0; written < frames; ++blockIndex) {
    if (gInterrupted) {
      if (endless) break;  // Ctrl-C is how an endless stream ends
      writer.Abort();
      progress.EndLine();
      PrintError(toStdout          ? "interrupted"
                 : writer.Direct() ? "interrupted; " + *out + " got only part of the signal"
                                   : "interrupted; " + *out + " was not written");
      return 130;
    }
    if (!sine && blockIndex >= kPrefillBlocks) {
      // A capture block of the same size ahead of each playback block; silence after the end
      // of the file, as a sound-card input would deliver.
      const std::size_t got =
          haveInput ? input.Read(capture.data(), static_cast<std::size_t>(blockFrames)) : 0;
      if (input.Failed()) {
        writer.Abort();
        progress.EndLine();
        PrintError("cannot read input " + input.Error());
        return 1;
      }
      std::fill(capture.begin() + static_cast<std::ptrdiff_t>(2 * got), capture.end(), 0);
      modulator.AudioIn1BufferFilled(reinterpret_cast<const std::uint8_t*>(capture.data()),
                                     bufferBytes);
    }
    modulator.AudioOut1FillBuffer(block.data(), bufferBytes);
    generated += static_cast<std::uint64_t>(blockFrames);
    const std::uint64_t take = std::min<std::uint64_t>(blockFrames, frames - written);
    if (!writer.Write(block.data(), static_cast<std::size_t>(take), error)) {
      if (toStdout && writer.ReaderGone()) return 0;
      writer.Abort();
      progress.EndLine();
      PrintError(error);
      return 1;
    }
    written += take;
    // The meter timer's tick, once per second of output.
    while (nextTick <= lastTick && generated >= nextTick * static_cast<std::uint64_t>(rate)) {
      char peak[16];
      modulator.TakePeakDeviation(peak, sizeof peak);
      char when[32];
      if (toStdout) {
        std::snprintf(when, sizeof when, "%6llu s", static_cast<unsigned long long>(nextTick));
      } else {
        std::snprintf(when, sizeof when, "[%3d%%] %6llu s",
                      static_cast<int>(100.0 * static_cast<double>(nextTick * rate) /
                                       static_cast<double>(frames)),
                      static_cast<unsigned long long>(nextTick));
      }
      progress.Update(std::string(when) + "  " + ReadoutText(peak, modulator.PowerReadout()));
      ++nextTick;
    }
  }
  if (!writer.Commit(error)) {
    if (toStdout && writer.ReaderGone()) return 0;
    progress.EndLine();
    PrintError(error);
    return 1;
  }
  if (!toStdout) {
    progress.Note("Wrote " + std::to_string(written) + " frames (" +
                  FormatSeconds(static_cast<double>(written) / rate) + " s at " +
                  std::to_string(rate) + " Hz) to " + OutputNamesText(*out, output.format));
  }
  return 0;
}

}  // namespace kelvane::cli
