// `kelvane-cli render`: runs the engine as a live run would and writes what the sound card
// would get to a WAV file (or raw frames to standard output), with the meter read-outs.
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
#include "Modulator.h"
#include "RunRules.h"
#include "SettingsControls.h"
#include "SettingsFile.h"
#include "TerminalText.h"
#include "options.h"
#include "wav.h"

namespace kelvane::cli {
namespace {

constexpr double kDefaultSeconds = 10.0;
// A live start fills all four playback buffers before the first capture block of the run can
// arrive, so with the input source these blocks read the empty input queue.
constexpr int kPrefillBlocks = 4;

const std::vector<OptionSpec>& RenderOptions() {
  static const std::vector<OptionSpec> specs = {
      {"output", 'o', true, false, "OUT",
       "WAV file to write (required); - writes raw 16-bit little-endian I/Q frames to standard "
       "output"},
      {"seconds", 's', true, false, "S",
       "length of the signal in seconds (default 10, fractions allowed)"},
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
       "2026-12-09T14:37:00Z; default: now"},
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

// False on a write error; `closed` tells a reader that went away (EPIPE), which ends the
// render quietly as it ends any pipe tool.
bool WriteStdout(const std::uint8_t* data, std::size_t bytes, bool& closed, std::string& error) {
  if (std::fwrite(data, 1, bytes, stdout) != bytes || std::fflush(stdout) != 0) {
    closed = errno == EPIPE;
    error = std::string("cannot write to standard output: ") + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

std::string RenderHelp() {
  std::string text =
      "Usage: kelvane-cli render -o OUT.wav [--seconds S] [--settings FILE] [--set KEY=VALUE "
      "...] [--input FILE|-]\n"
      "       kelvane-cli render -o - ... > iq.raw\n\n"
      "Renders the modulator's I/Q output (I left, Q right, 16-bit) from the settings file, or\n"
      "from the first-run defaults when there is none, as the sound card would get it at the\n"
      "chosen sampling rate and buffer length. Once per second of output it prints the peak\n"
      "deviation and MPX power read-outs as the meters show them (on standard error with -o -).\n"
      "A positive carrier offset puts the carrier at a negative frequency of I + jQ (left +\n"
      "j right): Q leads I by 90 degrees. Swap the channels or read I - jQ to see it at +f.\n\n"
      "A regular file (or a new one) appears only when the whole signal was written; it is\n"
      "written beside the target and renamed over it. A character device or FIFO is written\n"
      "straight into, and a symbolic link is followed (the link stays). The WAV header holds\n"
      "the final sizes from the start (the length is known from --seconds), so a reader of a\n"
      "FIFO gets a complete file unless the render is interrupted. With -o - a reader that\n"
      "closes the pipe early ends the render quietly with status 0.\n\n"
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
  const auto out = opts.Get("output");
  if (!out || out->empty()) {
    PrintError("no output given: use -o OUT.wav, or -o - for raw I/Q on standard output");
    return 2;
  }
  const bool raw = *out == "-";

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
  const auto frames = static_cast<std::uint64_t>(std::llround(seconds * rate));
  if (frames == 0) {
    PrintError("the duration " + FormatSeconds(seconds) + " s is shorter than one frame");
    return 2;
  }
  if (!raw && frames > kMaxWavDataBytes / 4) {
    PrintError("a WAV file of " + FormatSeconds(seconds) + " s at " + std::to_string(rate) +
               " Hz would pass 4 GiB (at most " +
               std::to_string(kMaxWavDataBytes / 4 / static_cast<std::uint64_t>(rate)) + " s)");
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

  // A reader that goes away shows as EPIPE: a quiet end on standard output, an error for a
  // FIFO named with -o.
  ::signal(SIGPIPE, SIG_IGN);
  WavWriter writer;
  if (raw) {
    if (::isatty(STDOUT_FILENO)) {
      PrintError("refusing to write raw I/Q frames to a terminal: redirect standard output");
      return 2;
    }
  } else if (!writer.Open(*out, static_cast<std::uint32_t>(rate), frames, error)) {
    PrintError(error);
    return 1;
  }
  gInterrupted = 0;
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);

  std::FILE* report = raw ? stderr : stdout;
  std::fprintf(report,
               "Rendering %s s at %d Hz (buffer %d bytes), %s source%s%s%s%s; settings %s%s\n",
               FormatSeconds(seconds).c_str(), rate, bufferBytes, sine ? "sine" : "input",
               values.stereo && !sine ? ", stereo" : "", rdsOn && !sine ? ", RDS" : "",
               values.rds && !rdsOn ? " (RDS off below 192000 Hz)" : "",
               values.multipath ? ", multipath" : "", EscapeControls(settingsPath).c_str(),
               settingsFound ? "" : " (not found: first-run defaults)");
  std::fputs(inputLine.c_str(), report);

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
  bool closed = false;
  for (std::uint64_t blockIndex = 0; written < frames; ++blockIndex) {
    if (gInterrupted) {
      writer.Abort();
      PrintError(raw               ? "interrupted"
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
    const std::size_t bytes = static_cast<std::size_t>(take * 4);
    const bool ok = raw ? WriteStdout(block.data(), bytes, closed, error)
                        : writer.Write(block.data(), bytes, error);
    if (closed) return 0;
    if (!ok) {
      writer.Abort();
      PrintError(error);
      return 1;
    }
    written += take;
    // The meter timer's tick, once per second of output.
    while (nextTick <= lastTick && generated >= nextTick * static_cast<std::uint64_t>(rate)) {
      char peak[16];
      modulator.TakePeakDeviation(peak, sizeof peak);
      const MeterReadout& power = modulator.PowerReadout();
      if (raw) {
        std::fprintf(report, "%6llu s", static_cast<unsigned long long>(nextTick));
      } else {
        std::fprintf(report, "[%3d%%] %6llu s",
                     static_cast<int>(100.0 * static_cast<double>(nextTick * rate) /
                                      static_cast<double>(frames)),
                     static_cast<unsigned long long>(nextTick));
      }
      std::fprintf(report, "  Peak Deviation [kHz] %6s   MPX Power [dBr] %6s (%s)\n", peak,
                   power.text, power.green ? "green" : "red");
      ++nextTick;
    }
    std::fflush(report);
  }
  if (raw) {
    if (!WriteStdout(block.data(), 0, closed, error) && !closed) {
      PrintError(error);
      return 1;
    }
  } else {
    if (!writer.Commit(error)) {
      PrintError(error);
      return 1;
    }
    std::fprintf(report, "Wrote %llu frames (%s s at %d Hz) to %s\n",
                 static_cast<unsigned long long>(frames), FormatSeconds(seconds).c_str(), rate,
                 EscapeControls(*out).c_str());
  }
  return 0;
}

}  // namespace kelvane::cli
