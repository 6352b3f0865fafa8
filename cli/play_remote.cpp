// SPDX-License-Identifier: GPL-3.0-or-later
// `kelvane-cli play --remote`: the player as an SCPI instrument. The settings act from the next
// block, OUTPut OFF fades out and closes the devices, OUTPut ON starts again with the settings
// then current; the program goes on until Ctrl-C.
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AudioIO.h"
#include "ClockTime.h"
#include "DeviceList.h"
#include "FileSource.h"
#include "KelvaneVersion.h"
#include "Modulator.h"
#include "PlayInstrument.h"
#include "PlayShared.h"
#include "QuietStderr.h"
#include "RemoteServer.h"
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

int RunRemotePlay(const std::vector<std::string>& args) {
  ParsedOptions opts;
  std::string error;
  if (!ParseOptions(PlayOptionSpecs(), args, opts, error)) {
    PrintError(error + " (see kelvane-cli play --help)");
    return 2;
  }
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
  bool sine = values.SineChecked();
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
  bool fromFile = inputFile && !sine;
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

  std::optional<remote::ListenAddress> remoteAddress;
  if (const auto text = opts.Get("remote")) {
    remoteAddress.emplace();
    if (!remote::ParseListenAddress(*text, *remoteAddress, error)) {
      PrintError("--remote " + error);
      return 2;
    }
    if (seconds > 0.0) {
      PrintError("--remote plays until Ctrl-C (or OUTPut OFF); leave out --seconds");
      return 2;
    }
  }

  // From here on the audio libraries may print to fd 2; our messages go through `quiet`.
  StopSignals signals;
  QuietStderr quiet;
  const std::vector<std::string> outs = GetWaveOutDevices(sdr::DefaultSdrDriver());
  const std::vector<std::string> ins = GetWaveInDevices();
  SettingsControls controls(values, values.rds);
  Modulator modulator(controls);
  TAudioOut out(&sdr::DefaultSdrDriver());
  TAudioIn in;
  RunControl run(modulator, out, in);
  PlayInstrument instrument(values, controls, settingsPath, kProgramVersion);
  run.OnInputLevels = [&instrument](float left, float right) {
    instrument.readings.levelL = left;
    instrument.readings.levelR = right;
  };
  // What the current run uses; a remote control may change the settings between runs.
  int outDevice = -1;
  int inDevice = -1;
  StartResult started;
  bool lost = false;
  run.OnDeviceLost = [&](const DeviceLostEvent& e) {
    if (lost) return;  // the first loss is the one to report
    lost = true;
    const std::string& name = e.output ? outs[static_cast<std::size_t>(outDevice)]
                                       : ins[static_cast<std::size_t>(inDevice)];
    quiet.Say(std::string("the ") + (e.output ? "output" : "input") + " device \"" + name +
              "\" stopped: " + e.errorText);
  };

  // Starts a run from `values`: 0, or the exit status of a failure with `failure` saying why.
  bool firstStart = true;
  auto startRun = [&](std::string& failure) -> int {
    sine = values.SineChecked();
    const bool wasFromFile = fromFile;
    fromFile = inputFile && !sine;
    if (fromFile && (!firstStart || !wasFromFile)) {
      file.Close();
      if (!file.Open(*inputFile, SamplingRateForIndex(values.samplingRate), opts.Has("loop"),
                     failure)) {
        failure = "cannot use input " + failure;
        return 1;
      }
    }
    firstStart = false;
    outDevice = PickDevice("output", "output-device", opts.Get("output-device"), outs,
                           values.audioOutDeviceName, values.audioOutDevice, failure);
    if (outDevice < 0) return 1;
    // An SDR transmits only with --yes, at every start the remote control asks for.
    if (!PrepareSdrOutput(outDevice, values, opts.Has("yes"), failure)) return 2;
    run.SetServerWatch(!sdr::DefaultSdrDriver().IsSdr(outDevice));
    inDevice = -1;
    if (!sine && !fromFile) {
      inDevice = PickDevice("input", "input-device", opts.Get("input-device"), ins,
                            values.audioInDeviceName, values.audioInDevice, failure);
      if (inDevice < 0) return 1;
    }
    controls.Update(values, values.rds);
    if (const int rate = SamplingRateForIndex(values.samplingRate); rate > 0) {
      // The first frame is heard after the device's own latency, about 0.2 s; from there the
      // clock runs with the frames played.
      const double firstHeard = NowUtc() + kDeviceLatencySeconds;
      controls.StartClock(firstHeard, LocalOffsetHalfHours(firstHeard), rate,
                          PlaybackBufferSize(rate, values.bufferLength) / 4);
    }
    RunSettings settings;
    settings.samplingRateIndex = values.samplingRate;
    settings.bufferLengthIndex = values.bufferLength;
    settings.sineSource = sine;
    settings.outputDevice = outDevice;
    settings.inputDevice = inDevice;
    settings.stopAfterSeconds = seconds;
    settings.fileSource = fromFile ? &file : nullptr;
    lost = false;
    started = run.Start(settings, [&controls, &instrument](bool allowed) {
      instrument.rdsAllowed = allowed;
      if (!allowed) controls.SetRds(false);
    });
    auto openFailure = [&](const char* kind, const DeviceOutcome& o,
                           const std::vector<std::string>& list) {
      failure = std::string("cannot open the ") + kind + " device \"" +
                list[static_cast<std::size_t>(o.device)] + "\" (number " +
                std::to_string(o.device) + "): " + o.errorText;
    };
    if (!started.started) {
      failure = started.error;
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
        sine ? "sine" : (fromFile ? "file" : "sound-card"),
        values.stereo && !sine ? ", stereo" : "", controls.Rds() && !sine ? ", RDS" : "",
        values.rds && !started.rdsAllowed ? " (RDS off below 192000 Hz)" : "", settingsPath.c_str(),
        settingsFound ? "" : " (not found: first-run defaults)");
    if (const std::string sdrLine = SdrReadBack(outDevice); !sdrLine.empty()) {
      std::printf("%s\n", sdrLine.c_str());
    }
    std::fflush(stdout);
    return 0;
  };
  // A stop without a click: the fade is heard (within kStopWithin), then the devices close.
  auto stopRun = [&] {
    run.StopSoftly();
    const auto until = Clock::now() + kStopWithin;
    while (!run.SoftStopDone() && Clock::now() < until) {
      pollfd fds[2] = {{out.NoticeFd(), POLLIN, 0}, {in.NoticeFd(), POLLIN, 0}};
      ::poll(fds, 2, 20);
      out.ProcessNotices();
      in.ProcessNotices();
      run.CheckDevices();
    }
    run.Stop();
  };

  bool running = false;
  std::unique_ptr<remote::RemoteServer> server;
  if (remoteAddress) {
    server = std::make_unique<remote::RemoteServer>(instrument);
    if (!server->Listen(*remoteAddress, error)) {
      quiet.Say("--remote: " + error);
      return 2;
    }
    if (const std::string warning = remote::ExposureWarning(*remoteAddress); !warning.empty())
      quiet.Say(warning);
    server->OnEvent = [&quiet](const std::string& text) { quiet.Say(text); };
    instrument.running = [&running] { return running; };
    instrument.setOutput = [&](bool on, std::string& why) {
      if (on == running) return true;
      if (!on) {
        stopRun();
        running = false;
        return true;
      }
      if (startRun(why) != 0) {
        quiet.Say(why);
        return false;
      }
      running = true;
      return true;
    };
    std::printf("Remote control (SCPI) on %s port %d\n", remoteAddress->host.c_str(),
                server->Port());
    std::fflush(stdout);
  }
  if (const int failed = startRun(error); failed != 0) {
    quiet.Say(error);
    return failed;
  }
  running = true;

  const auto begin = Clock::now();
  auto nextTick = begin + std::chrono::seconds(1);
  long long tick = 1;
  int handledSignals = 0;
  // Set by the first stop signal: the fade must have been heard by then, else the stop cuts.
  auto stopDeadline = Clock::time_point::max();
  int status = 0;
  bool quitAtOnce = false;
  bool serverBusy = false;
  for (;;) {
    if (running) {
      bool ended = false;
      if (lost) {
        status = 1;
        ended = true;
      } else if (run.OutputFinished()) {
        ended = true;
      } else if (fromFile && !file.Error().empty()) {
        quiet.Say("cannot read input " + file.Error());
        status = 1;
        ended = true;
      } else if (!out.DeviceOpen()) {
        // Closed without a reported loss or the timed end: nothing plays any more.
        quiet.Say("the output device \"" + outs[static_cast<std::size_t>(outDevice)] +
                  "\" stopped: " + out.ErrorText());
        status = 1;
        ended = true;
      }
      if (ended) {
        if (!server || stopDeadline != Clock::time_point::max()) break;
        // The remote control stays: OUTPut ON may start again.
        run.Stop();
        running = false;
        status = 0;
      } else if (fromFile && file.Ended() && !run.FadingOut()) {
        // The file's last frames went into the block just filled; the next one may still hold
        // the input path's delay.
        run.FadeOutAt(run.FramesFilled() + static_cast<uint64_t>(started.bufferBytes / 4));
      }
    }
    const int signalsNow = gSignals;
    if (signalsNow > handledSignals) {
      handledSignals = signalsNow;
      if (stopDeadline != Clock::time_point::max() || !running) {
        quitAtOnce = running;  // a second stop signal
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
    const auto wait =
        serverBusy ? 0LL
                   : std::clamp<long long>(
                         std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count(),
                         0, 250);
    std::vector<pollfd> fds = {{out.NoticeFd(), POLLIN, 0}, {in.NoticeFd(), POLLIN, 0}};
    if (server) {
      const std::vector<pollfd> more = server->Fds();
      fds.insert(fds.end(), more.begin(), more.end());
    }
    const timespec timeout{0, static_cast<long>(wait) * 1000000L};
    ::ppoll(fds.data(), fds.size(), &timeout, &signals.WaitMask());
    out.ProcessNotices();
    in.ProcessNotices();
    run.CheckDevices();
    const MeterReadout& power = modulator.PowerReadout();
    instrument.readings.power_dBr = power.text;
    instrument.readings.powerFinal = power.green;
    if (server && stopDeadline == Clock::time_point::max()) serverBusy = server->Process();
    if (Clock::now() >= nextTick) {
      if (running && !lost) {
        for (const ServerProblem& p : run.NewServerProblems()) quiet.Say("warning: " + p.text);
        instrument.readings.deviation_kHz =
            PrintReadouts(modulator, run, out, sine, fromFile ? &file : nullptr, tick);
      }
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
