// SPDX-License-Identifier: GPL-3.0-or-later
// `kelvane-cli play`: runs the modulator on the sound card through the window's run control,
// printing the meter read-outs once a second.
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "AudioIO.h"
#include "ClockTime.h"
#include "DeviceList.h"
#include "FileSource.h"
#include "Modulator.h"
#include "PlayShared.h"
#include "QuietStderr.h"
#include "RenderOutput.h"
#include "RunControl.h"
#include "RunRules.h"
#include "SdrDriver.h"
#include "SdrPlay.h"
#include "SettingsControls.h"
#include "SettingsFile.h"
#include "audio_commands.h"
#include "options.h"

namespace kelvane::cli {
namespace {

const std::vector<OptionSpec>& PlayOptions() {
  static const std::vector<OptionSpec> specs = {
      {"seconds", 's', true, false, "S",
       "play this long (fractions allowed), then fade out; default: until Ctrl-C"},
      kSettingsOption,
      kSetOption,
      {"output-device", 'o', true, false, "NAME|NUMBER",
       "output device by name or number (see kelvane-cli devices) instead of the saved one"},
      {"input-device", 'i', true, false, "NAME|NUMBER",
       "input device for the sound-card source instead of the saved one"},
      {"input", 0, true, false, "FILE",
       "audio file (WAV, FLAC, Ogg/Vorbis, MP3, ...; mono or stereo, any rate) as the input "
       "source's signal instead of the input device"},
      {"loop", 0, false, false, "", "with --input: start the file again at its end"},
      {"yes", 'y', false, false, "",
       "confirm transmitting when the output is an SDR (needs a licence or a shielded set-up)"},
      {"remote", 0, true, false, "[ADDR:]PORT",
       "take SCPI commands on this TCP port (5025 by convention) on 127.0.0.1, or on ADDR; "
       "plays until Ctrl-C, OUTPut OFF|ON stops and starts"},
      {"help", 'h', false, false, "", "show this help"},
  };
  return specs;
}

}  // namespace

const std::vector<OptionSpec>& PlayOptionSpecs() {
  return PlayOptions();
}

volatile sig_atomic_t gSignals = 0;
extern "C" void OnStopSignal(int) {
  gSignals = gSignals + 1;
}

static bool AllDigits(const std::string& s) {
  return !s.empty() && s.size() < 9 &&
         std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int PickDevice(const char* kind, const char* option, const std::optional<std::string>& given,
               const std::vector<std::string>& list, const std::string& savedName, int savedIndex,
               std::string& error) {
  const std::string count = std::to_string(list.size()) + " " + kind + " device" +
                            (list.size() == 1 ? "" : "s") + "; see kelvane-cli devices";
  if (given) {
    if (AllDigits(*given)) {
      const int n = std::stoi(*given);
      if (n < static_cast<int>(list.size())) return n;
      error = "there is no " + std::string(kind) + " device number " + *given + " (" + count + ")";
      return -1;
    }
    const int i = FindItemIndex(list, *given, -1);
    if (i < 0)
      error = "there is no " + std::string(kind) + " device \"" + *given + "\" (" + count + ")";
    return i;
  }
  const int i = ChooseDevice(list, savedName, savedIndex);
  if (i < 0) {
    error = "no " + std::string(kind) + " device: the saved \"" + savedName +
            "\" is not listed and number " + std::to_string(savedIndex) + " is not in the list (" +
            count + "); choose one with --" + option;
  }
  return i;
}

std::string PrintReadouts(Modulator& modulator, const RunControl& run, const TAudioOut& out,
                          bool sine, const FileSource* file, long long second) {
  char peak[16];
  modulator.TakePeakDeviation(peak, sizeof peak);
  const MeterReadout& power = modulator.PowerReadout();
  std::string faults = "   underruns " + std::to_string(out.Underruns());
  if (file) {
    faults += "   file late " + std::to_string(file->Shortfalls());
  } else if (!sine) {
    faults += "   input gaps " + std::to_string(run.InputGaps());
  }
  faults += "   clipped " + std::to_string(modulator.State().ClippedSamples);
  std::printf("%6lld s  %s%s\n", second, ReadoutText(peak, power).c_str(), faults.c_str());
  std::fflush(stdout);
  return peak;
}

std::string PlayHelp() {
  std::string text =
      "Usage: kelvane-cli play [--seconds S] [--settings FILE] [--set KEY=VALUE ...]\n"
      "                        [--output-device NAME|NUMBER] [--input-device NAME|NUMBER]\n"
      "                        [--input FILE [--loop]] [--yes] [--remote [ADDR:]PORT]\n\n"
      "Runs the modulator on the sound card exactly as the window's Start does: the devices\n"
      "saved in the settings (by name, else by number), the sampling rate and buffer length\n"
      "of the settings, RDS only at 192000 Hz, the sine source (SineSource=1, ExtSource=0) or\n"
      "the sound-card input. Once a second it prints the peak deviation and MPX power\n"
      "read-outs, with the output underruns (gaps of silence because a buffer was late) and,\n"
      "with the sound-card source, the input gaps (captured blocks lost), counted from the\n"
      "start. When the time is up the signal fades out over 20 ms and the queued silence plays\n"
      "out. Ctrl-C (or SIGTERM) says that it is stopping, fades out what is playing over 20 ms\n"
      "and ends within half a second whatever the buffer length; a second Ctrl-C stops at\n"
      "once. Exit status 0 after a stop, 1 when a device cannot be opened or started or stops\n"
      "working (the message says which and why), 2 for bad options or settings.\n\n"
      "With --input the input source (ExtSource=1; the sine source does not use it) takes its\n"
      "signal from an audio file instead of an input device (none is opened): any format\n"
      "libsndfile reads, mono (sent to both channels) or stereo, at any rate, converted to the\n"
      "playback rate with libsoxr. A reader thread keeps two seconds decoded ahead; frames it\n"
      "had not ready in time go out as silence and are counted as \"file late\" on the\n"
      "read-out lines. With --loop the file starts again at its end without a gap; without it\n"
      "the play fades out once the whole file was sent. A file that cannot be opened or\n"
      "decoded to its end is an error (status 1).\n\n"
      "An SDR transmitter (\"SDR: ...\" in kelvane-cli devices) gets the same signal,\n"
      "resampled to its own rate and sent at SdrFrequency + CarrierFreq with the SdrArgs,\n"
      "SdrRate, SdrGain and SdrAntenna settings; it transmits only with --yes.\n\n"
      "With --remote the player is also an SCPI instrument on a TCP port (5025 by\n"
      "convention; 127.0.0.1 unless ADDR is given; up to 4 clients, one command line each,\n"
      "ended by a line feed): every settings key has a command, OUTPut ON|OFF starts and\n"
      "stops the run (the program goes on until Ctrl-C), MEASure:DEViation?, :POWer? and\n"
      "LEVel? read the meters and SYSTem:SETTings:SAVE writes the settings file. Anyone who\n"
      "can reach the port can transmit with it: use another address than the loopback only\n"
      "on a trusted bench network. SYSTem:HELP:HEADers? lists the commands.\n\n"
      "Options:\n";
  text += OptionsHelp(PlayOptions());
  text +=
      "\nThe settings file is the one given with --settings, else $KELVANE_SETTINGS, else\n"
      "vantorex.ini in $XDG_CONFIG_HOME/kelvane (default ~/.config/kelvane). It is only read.\n"
      "'kelvane-cli render --help' lists every settings key.\n";
  return text;
}

int RunPlay(const std::vector<std::string>& args) {
  ParsedOptions opts;
  std::string error;
  if (!ParseOptions(PlayOptions(), args, opts, error)) {
    PrintError(error + " (see kelvane-cli play --help)");
    return 2;
  }
  if (opts.Has("help")) {
    std::fputs(PlayHelp().c_str(), stdout);
    return 0;
  }
  if (opts.Has("remote")) return RunRemotePlay(args);
  double seconds = 0.0;  // 0: until stopped
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
  if (SamplingRateForIndex(values.samplingRate) < 0) {
    PrintError(
        "no sampling rate selected: SamplingRate must be 0 (44100), 1 (48000), "
        "2 (96000) or 3 (192000)");
    return 2;
  }
  const bool sine = values.SineChecked();
  const std::optional<std::string> inputFile = opts.Get("input");
  if (opts.Has("loop") && !inputFile) {
    PrintError("--loop needs --input FILE");
    return 2;
  }
  if (sine && inputFile) {
    std::fprintf(stderr,
                 "%s: note: --input is not used with the sine source (--set ExtSource=1 "
                 "selects the input)\n",
                 kProgramName);
  }
  FileSource file;
  const bool fromFile = inputFile && !sine;
  if (fromFile) {
    if (!file.Open(*inputFile, SamplingRateForIndex(values.samplingRate), opts.Has("loop"),
                   error)) {
      PrintError("cannot use input " + error);
      return 1;
    }
  }
  if (sine && opts.Has("input-device")) {
    std::fprintf(stderr,
                 "%s: note: --input-device is not used with the sine source (--set ExtSource=1 "
                 "selects the sound-card input)\n",
                 kProgramName);
  }

  // From here on the audio libraries may print to fd 2; our messages go through `quiet`.
  StopSignals signals;
  QuietStderr quiet;
  const std::vector<std::string> outs = GetWaveOutDevices(sdr::DefaultSdrDriver());
  const std::vector<std::string> ins = GetWaveInDevices();
  const int outDevice = PickDevice("output", "output-device", opts.Get("output-device"), outs,
                                   values.audioOutDeviceName, values.audioOutDevice, error);
  if (outDevice < 0) {
    quiet.Say(error);
    return 1;
  }
  if (!PrepareSdrOutput(outDevice, values, opts.Has("yes"), error)) {
    quiet.Say(error);
    return 2;
  }
  int inDevice = -1;
  if (!sine && !fromFile) {
    inDevice = PickDevice("input", "input-device", opts.Get("input-device"), ins,
                          values.audioInDeviceName, values.audioInDevice, error);
    if (inDevice < 0) {
      quiet.Say(error);
      return 1;
    }
  }

  SettingsControls controls(values, values.rds);
  if (const int rate = SamplingRateForIndex(values.samplingRate); rate > 0) {
    // The first frame is heard after the device's own latency, about 0.2 s; from there the
    // clock runs with the frames played.
    const double firstHeard = NowUtc() + kDeviceLatencySeconds;
    controls.StartClock(firstHeard, LocalOffsetHalfHours(firstHeard), rate,
                        PlaybackBufferSize(rate, values.bufferLength) / 4);
  }
  Modulator modulator(controls);
  TAudioOut out(&sdr::DefaultSdrDriver());
  TAudioIn in;
  RunControl run(modulator, out, in);
  run.SetServerWatch(!sdr::DefaultSdrDriver().IsSdr(outDevice));
  bool lost = false;
  run.OnDeviceLost = [&](const DeviceLostEvent& e) {
    if (lost) return;  // the first loss is the one to report
    lost = true;
    const std::string& name = e.output ? outs[static_cast<std::size_t>(outDevice)]
                                       : ins[static_cast<std::size_t>(inDevice)];
    quiet.Say(std::string("the ") + (e.output ? "output" : "input") + " device \"" + name +
              "\" stopped: " + e.errorText);
  };

  RunSettings settings;
  settings.samplingRateIndex = values.samplingRate;
  settings.bufferLengthIndex = values.bufferLength;
  settings.sineSource = sine;
  settings.outputDevice = outDevice;
  settings.inputDevice = inDevice;
  settings.stopAfterSeconds = seconds;
  settings.fileSource = fromFile ? &file : nullptr;
  const StartResult started = run.Start(settings, [&controls](bool allowed) {
    if (!allowed) controls.SetRds(false);
  });
  auto openFailure = [&](const char* kind, const DeviceOutcome& o,
                         const std::vector<std::string>& list) {
    quiet.Say(std::string("cannot open the ") + kind + " device \"" +
              list[static_cast<std::size_t>(o.device)] + "\" (number " + std::to_string(o.device) +
              "): " + o.errorText);
  };
  if (!started.started) {
    quiet.Say(started.error);
    return 2;
  }
  if (!sine && !fromFile && !started.input.opened) {
    openFailure("input", started.input, ins);
    run.Stop();
    return 1;
  }
  if (!started.output.opened) {
    openFailure("output", started.output, outs);
    run.Stop();
    return 1;
  }

  std::printf(
      "Playing %s at %d Hz (buffer %d bytes) on \"%s\" (output %d)%s, %s source%s%s%s; "
      "settings %s%s\n",
      seconds > 0.0 ? (FormatSettingsFloat(seconds) + " s").c_str() : "until Ctrl-C",
      started.frameRate, started.bufferBytes, outs[static_cast<std::size_t>(outDevice)].c_str(),
      outDevice,
      sine ? ""
      : fromFile
          ? (", input file \"" + *inputFile + "\"" + (opts.Has("loop") ? " looped" : "")).c_str()
          : (", input \"" + ins[static_cast<std::size_t>(inDevice)] + "\" (input " +
             std::to_string(inDevice) + ")")
                .c_str(),
      sine ? "sine" : (fromFile ? "file" : "sound-card"), values.stereo && !sine ? ", stereo" : "",
      controls.Rds() && !sine ? ", RDS" : "",
      values.rds && !started.rdsAllowed ? " (RDS off below 192000 Hz)" : "", settingsPath.c_str(),
      settingsFound ? "" : " (not found: first-run defaults)");
  if (const std::string sdrLine = SdrReadBack(outDevice); !sdrLine.empty()) {
    std::printf("%s\n", sdrLine.c_str());
  }
  std::fflush(stdout);

  const auto begin = Clock::now();
  auto nextTick = begin + std::chrono::seconds(1);
  long long tick = 1;
  int handledSignals = 0;
  // Set by the first stop signal: the fade must have been heard by then, else the stop cuts.
  auto stopDeadline = Clock::time_point::max();
  int status = 0;
  bool quitAtOnce = false;
  for (;;) {
    if (lost) {
      status = 1;
      break;
    }
    if (run.OutputFinished()) break;
    if (fromFile) {
      if (const std::string failure = file.Error(); !failure.empty()) {
        quiet.Say("cannot read input " + failure);
        status = 1;
        break;
      }
    }
    if (fromFile && file.Ended() && !run.FadingOut()) {
      // The file's last frames went into the block just filled; the next one may still hold
      // the input path's delay.
      run.FadeOutAt(run.FramesFilled() + static_cast<uint64_t>(started.bufferBytes / 4));
    }
    if (!out.DeviceOpen()) {
      // Closed without a reported loss or the timed end: nothing plays any more.
      quiet.Say("the output device \"" + outs[static_cast<std::size_t>(outDevice)] +
                "\" stopped: " + out.ErrorText());
      status = 1;
      break;
    }
    const int signalsNow = gSignals;
    if (signalsNow > handledSignals) {
      handledSignals = signalsNow;
      if (stopDeadline != Clock::time_point::max()) {
        quitAtOnce = true;  // a second stop signal
        break;
      }
      std::printf("Stopping: fading out (Ctrl-C again stops at once)\n");
      std::fflush(stdout);
      // The device fades out what it plays now, however long the queued buffers are.
      run.StopSoftly();
      stopDeadline = Clock::now() + kStopWithin;
    }
    if (stopDeadline != Clock::time_point::max() &&
        (run.SoftStopDone() || Clock::now() >= stopDeadline)) {
      break;
    }
    const auto now = Clock::now();
    const auto until = std::min(nextTick, stopDeadline);
    const auto wait = std::clamp<long long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count(), 0, 250);
    pollfd fds[2] = {{out.NoticeFd(), POLLIN, 0}, {in.NoticeFd(), POLLIN, 0}};
    const timespec timeout{0, static_cast<long>(wait) * 1000000L};
    ::ppoll(fds, 2, &timeout, &signals.WaitMask());
    out.ProcessNotices();
    in.ProcessNotices();
    run.CheckDevices();
    if (Clock::now() >= nextTick && !lost) {
      for (const ServerProblem& p : run.NewServerProblems()) quiet.Say("warning: " + p.text);
      PrintReadouts(modulator, run, out, sine, fromFile ? &file : nullptr, tick);
      ++tick;
      nextTick += std::chrono::seconds(1);
    }
  }
  const uint64_t underruns = out.Underruns();
  run.Stop();
  if (status == 0 && underruns > 0 && !quitAtOnce) {
    quiet.Say("note: the output played silence " + std::to_string(underruns) +
              " time(s) because the next buffer was late");
  }
  return status;
}

}  // namespace kelvane::cli
