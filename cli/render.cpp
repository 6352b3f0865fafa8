// `kelvane-cli render`: runs the engine exactly as a live run would and writes what the sound
// card would get to a WAV file (or raw frames to standard output), with the meter read-outs.
#include "render.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "Modulator.h"
#include "RunRules.h"
#include "SettingsControls.h"
#include "SettingsFile.h"
#include "options.h"
#include "wav.h"

namespace kelvane::cli {
namespace {

constexpr double kDefaultSeconds = 10.0;

const std::vector<OptionSpec>& RenderOptions() {
  static const std::vector<OptionSpec> specs = {
      {"output", 'o', true, false, "OUT",
       "WAV file to write (required); - writes raw 16-bit little-endian I/Q frames to standard "
       "output"},
      {"seconds", 's', true, false, "S",
       "length of the signal in seconds (default 10, fractions allowed)"},
      kSettingsOption,
      kSetOption,
      {"input", 'i', true, false, "IN.wav",
       "16-bit stereo PCM WAV at the playback rate, fed as the sound-card input when the input "
       "source is selected (ExtSource=1); silence after its end"},
      {"help", 'h', false, false, "", "show this help"},
  };
  return specs;
}

volatile sig_atomic_t gInterrupted = 0;
extern "C" void OnInterrupt(int) {
  gInterrupted = 1;
}

std::string FormatSeconds(double s) {
  return FormatSettingsFloat(s);
}

bool WriteStdout(const std::uint8_t* data, std::size_t bytes, std::string& error) {
  if (std::fwrite(data, 1, bytes, stdout) != bytes) {
    error = std::string("cannot write to standard output: ") + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

std::string RenderHelp() {
  std::string text =
      "Usage: kelvane-cli render -o OUT.wav [--seconds S] [--settings FILE] [--set KEY=VALUE "
      "...] [--input IN.wav]\n"
      "       kelvane-cli render -o - ... > iq.raw\n\n"
      "Renders the modulator's I/Q output (I left, Q right, 16-bit) from the settings file, or\n"
      "from the first-run defaults when there is none, exactly as the sound card would get it\n"
      "at the chosen sampling rate and buffer length. Once per second of output it prints the\n"
      "peak deviation and MPX power read-outs as the meters show them (on standard error with\n"
      "-o -). The WAV file appears only when the whole signal was written.\n\n"
      "Options:\n";
  text += OptionsHelp(RenderOptions());
  text +=
      "\nThe settings file is the one given with --settings, else $KELVANE_SETTINGS, else\n"
      "vantorex.ini in $XDG_CONFIG_HOME/kelvane (default ~/.config/kelvane). It is only read.\n"
      "The sine source runs when SineSource=1 and ExtSource=0; otherwise the input source runs\n"
      "on the --input file (silence without one). RDS is switched off below 192000 Hz.\n"
      "The read-outs are taken as the window's one-second meter timer takes them: with\n"
      "buffers longer than a second (BufferLength=4) a second without a new block reads 0.0.\n\n";
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

  WavReader input;
  bool haveInput = false;
  if (const auto in = opts.Get("input")) {
    if (sine) {
      std::fprintf(stderr,
                   "%s: note: --input is not used with the sine source (--set ExtSource=1 "
                   "selects the input)\n",
                   kProgramName);
    } else {
      if (!input.Open(*in, error)) {
        PrintError("cannot use input " + error);
        return 1;
      }
      const WavFormat& f = input.Format();
      if (!f.pcm || f.channels != 2 || f.bitsPerSample != 16 || f.blockAlign != 4) {
        PrintError(*in + ": not 16-bit stereo PCM (" + std::to_string(f.channels) +
                   " channel(s), " + std::to_string(f.bitsPerSample) + " bits" +
                   (f.pcm ? "" : ", not PCM") + ")");
        return 1;
      }
      if (static_cast<int>(f.sampleRate) != rate) {
        PrintError(*in + ": sampled at " + std::to_string(f.sampleRate) +
                   " Hz, but the playback rate is " + std::to_string(rate) +
                   " Hz (set SamplingRate to match)");
        return 1;
      }
      haveInput = true;
    }
  }

  WavWriter writer;
  if (raw) {
    if (::isatty(STDOUT_FILENO)) {
      PrintError("refusing to write raw I/Q frames to a terminal: redirect standard output");
      return 2;
    }
    ::signal(SIGPIPE, SIG_IGN);  // a closed pipe shows as a write error instead
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
               values.multipath ? ", multipath" : "", settingsPath.c_str(),
               settingsFound ? "" : " (not found: first-run defaults)");

  SettingsControls controls(values, rdsOn);
  Modulator modulator(controls);
  modulator.SetFrameRate(rate);
  modulator.BeginRun(sine ? SourceSine : SourceInput);

  std::vector<std::uint8_t> block(static_cast<std::size_t>(bufferBytes));
  std::vector<std::uint8_t> capture(static_cast<std::size_t>(bufferBytes));
  const std::uint64_t lastTick = frames / static_cast<std::uint64_t>(rate);
  std::uint64_t nextTick = 1;
  std::uint64_t written = 0;
  std::uint64_t generated = 0;
  while (written < frames) {
    if (gInterrupted) {
      writer.Abort();
      PrintError(raw ? "interrupted" : "interrupted; " + *out + " was not written");
      return 130;
    }
    if (!sine) {
      // A capture block of the same size ahead of each playback block; silence after the end
      // of the file, as a sound-card input would deliver.
      std::size_t got = haveInput ? input.Read(capture.data(), capture.size()) : 0;
      if (input.Failed()) {
        writer.Abort();
        PrintError("cannot read input " + *opts.Get("input"));
        return 1;
      }
      std::memset(capture.data() + got, 0, capture.size() - got);
      modulator.AudioIn1BufferFilled(capture.data(), bufferBytes);
    }
    modulator.AudioOut1FillBuffer(block.data(), bufferBytes);
    generated += static_cast<std::uint64_t>(blockFrames);
    const std::uint64_t take = std::min<std::uint64_t>(blockFrames, frames - written);
    const std::size_t bytes = static_cast<std::size_t>(take * 4);
    const bool ok =
        raw ? WriteStdout(block.data(), bytes, error) : writer.Write(block.data(), bytes, error);
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
    if (std::fflush(stdout) != 0) {
      PrintError(std::string("cannot write to standard output: ") + std::strerror(errno));
      return 1;
    }
  } else {
    if (!writer.Commit(error)) {
      PrintError(error);
      return 1;
    }
    std::fprintf(report, "Wrote %llu frames (%s s at %d Hz) to %s\n",
                 static_cast<unsigned long long>(frames), FormatSeconds(seconds).c_str(), rate,
                 out->c_str());
  }
  return 0;
}

}  // namespace kelvane::cli
