// SPDX-License-Identifier: GPL-3.0-or-later
// Starting and stopping a run: rate, buffer size, source, the two streams, device loss.
#include "RunControl.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#include "DeviceList.h"
#include "RunRules.h"

namespace kelvane {

int ChooseDevice(const std::vector<std::string>& list, const std::string& name, int index) {
  const int i = FindItemIndex(list, name, index);
  return i >= 0 && i < static_cast<int>(list.size()) ? i : -1;
}

RunControl::RunControl(Modulator& modulator, TAudioOut& output, TAudioIn& input)
    : modulator_(modulator), output_(output), input_(input) {
  output_.SetBufferSize(32768);
  output_.SetFrameRate(192000);
  output_.SetStereo(true);
  input_.SetBufferSize(32768);
  input_.SetFrameRate(192000);
  input_.SetStereo(true);
  output_.OnFillBuffer = [this](uint8_t* buffer, int& size) { return Fill(buffer, size); };
  input_.OnBufferFilled = [this](uint8_t* buffer, int& size) {
    const int before = modulator_.Queue().SampleCount();
    const Modulator::CaptureResult r = modulator_.AudioIn1BufferFilled(buffer, size);
    // What did not fit into the full queue is lost to the modulation: an input gap.
    const int added = (modulator_.Queue().SampleCount() - before) / 2;
    if (size / 4 > added) ++queueOverflows_;
    if (OnInputLevels) OnInputLevels(r.levelL, r.levelR);
    return r.keepGoing;
  };
  output_.OnError = [this](void*) {
    if (OnDeviceLost) OnDeviceLost(DeviceLostEvent{true, output_.ErrorText()});
  };
  input_.OnError = [this](void*) {
    if (OnDeviceLost) OnDeviceLost(DeviceLostEvent{false, input_.ErrorText()});
  };
}

RunControl::~RunControl() {
  // The streams may outlive this object: they must not call back into it.
  output_.OnFillBuffer = nullptr;
  output_.OnError = nullptr;
  input_.OnBufferFilled = nullptr;
  input_.OnError = nullptr;
}

StartResult RunControl::Start(const RunSettings& settings,
                              const std::function<void(bool rdsAllowed)>& applyRdsRule) {
  StartResult r;
  if (output_.DeviceOpen() || input_.DeviceOpen()) {
    // The streams' buffers and format belong to the running devices until they are closed.
    r.error = "Streaming has started already: stop it before starting again";
    return r;
  }
  EngineState& s = modulator_.State();
  s.StopRequested = false;
  modulator_.ClearPm();
  s.CapInL.fill(0);
  s.CapInR.fill(0);

  const int rate = SamplingRateForIndex(settings.samplingRateIndex);
  if (rate < 0) {
    // The window reads the rate from the list's text, which is empty without a selection.
    r.error = "'' is not a valid integer value";
    return r;
  }
  if (settings.outputDevice < 0) {
    // A run without an output plays nothing: say so rather than show a run that is not there.
    r.error = kTextNoOutputDevice;
    return r;
  }
  input_.SetFrameRate(rate);
  output_.SetFrameRate(rate);
  modulator_.SetFrameRate(rate);
  r.frameRate = output_.FrameRate();
  r.rdsAllowed = RdsAllowed(r.frameRate);
  if (applyRdsRule) applyRdsRule(r.rdsAllowed);

  r.bufferBytes = PlaybackBufferSize(r.frameRate, settings.bufferLengthIndex);
  input_.SetBufferSize(r.bufferBytes);
  output_.SetBufferSize(r.bufferBytes);

  framesFilled_ = 0;
  fadeSet_ = false;
  queueOverflows_ = 0;
  if (settings.stopAfterSeconds > 0.0) {
    FadeOutAt(static_cast<uint64_t>(std::llround(settings.stopAfterSeconds * r.frameRate)));
  }

  serverProblemsTold_ = 0;
  if (serverWatchOn_) RequestServerRate(r.frameRate);
  // The engine's run state (source, audio filters, RDS texts and clock) starts afresh.
  modulator_.BeginRun(settings.sineSource ? SourceSine : SourceInput);
  fileSource_ = settings.sineSource ? nullptr : settings.fileSource;
  if (fileSource_) {
    // The file takes the place of the capture device; its frames come with each block.
    fileBlock_.assign(static_cast<std::size_t>(r.bufferBytes), 0);
  } else if (!settings.sineSource) {
    OpenInput(settings.inputDevice, r.input);
  }
  // The prefill fills all buffers at once, so with the input source the first blocks come
  // from whatever the input queue holds from before.
  OpenOutput(settings.outputDevice, r.output);
  if (serverWatchOn_ && r.output.opened) serverWatch_.Start(::getpid());
  running_ = true;
  r.started = true;
  return r;
}

bool RunControl::OpenInput(int device, DeviceOutcome& outcome) {
  if (device < 0) return false;
  outcome.tried = true;
  outcome.device = device;
  try {
    input_.SetWaveDevice(device);
    outcome.opened = input_.StartStream();
    if (!outcome.opened) outcome.errorText = input_.ErrorText();
  } catch (const std::exception& e) {
    outcome.errorText = e.what();
  }
  return outcome.opened;
}

bool RunControl::OpenOutput(int device, DeviceOutcome& outcome) {
  outcome.tried = true;
  outcome.device = device;
  try {
    // Opened held, so that the prefilled buffers are all queued before the first one plays.
    output_.SetPaused(true);
    output_.SetWaveDevice(device);
    outcome.opened = output_.StartStream();
    // The release starts the device, which can still fail: then the stream is closed.
    output_.SetPaused(false);
    outcome.opened = outcome.opened && output_.DeviceOpen();
    if (!outcome.opened) outcome.errorText = output_.ErrorText();
  } catch (const std::exception& e) {
    outcome.errorText = e.what();
  }
  return outcome.opened;
}

void RunControl::StopSoftly() {
  output_.FadeOut(kFadeMs);
}

bool RunControl::SoftStopDone() const {
  return output_.FadedOut();
}

void RunControl::Stop() {
  modulator_.RequestStop();
  // A stream that is still open without streaming (its last buffers on their way back) is
  // closed as well.
  if (input_.Streaming() || input_.DeviceOpen()) input_.Abort();
  if (output_.Streaming() || output_.DeviceOpen()) output_.Abort();
  serverWatch_.Stop();
  running_ = false;
}

std::vector<ServerProblem> RunControl::NewServerProblems() {
  if (!output_.DeviceOpen()) return {};
  const std::optional<ServerReport> report = serverWatch_.Latest();
  if (!report) return {};
  std::vector<ServerProblem> fresh;
  for (ServerProblem& p : ServerProblems(*report, output_.FrameRate())) {
    const unsigned bit = 1u << p.kind;
    if ((serverProblemsTold_ & bit) != 0) continue;
    serverProblemsTold_ |= bit;
    fresh.push_back(std::move(p));
  }
  return fresh;
}

bool RunControl::CheckDevices() {
  const bool out = output_.CheckDevice();
  const bool in = input_.CheckDevice();
  return out && in;
}

void RunControl::FadeOutAt(uint64_t frame) {
  const int rate = std::max(output_.FrameRate(), 1);
  const uint64_t blockFrames = static_cast<uint64_t>(std::max(output_.BufferSize(), 4) / 4);
  const uint64_t start = std::max(frame, framesFilled_);
  if (fadeSet_ && fadeStart_ <= start) return;  // an earlier end stays
  fadeStart_ = start;
  fadeFrames_ = static_cast<uint64_t>(rate) * kFadeMs / 1000;
  // The device holds about two blocks beyond the last one it gave back, the sound server
  // a little more: that much silence pushes the faded signal all the way out.
  // Whole blocks only, so that the device never meets a short last buffer (and counts the
  // rest of its block as an underrun).
  const uint64_t end = fadeStart_ + fadeFrames_ + 2 * blockFrames + static_cast<uint64_t>(rate) / 2;
  fadeEnd_ = (end + blockFrames - 1) / blockFrames * blockFrames;
  fadeSet_ = true;
}

bool RunControl::Fill(uint8_t* buffer, int& size) {
  const uint64_t first = framesFilled_;
  if (fadeSet_ && first >= fadeEnd_) return false;
  uint64_t frames = static_cast<uint64_t>(std::max(size, 0) / 4);
  if (fileSource_ && frames * 4 <= fileBlock_.size()) {
    // The file's frames for this block enter the input queue just ahead of it.
    fileSource_->PullFrames(fileBlock_.data(), frames);
    const Modulator::CaptureResult r =
        modulator_.AudioIn1BufferFilled(fileBlock_.data(), static_cast<int>(frames * 4));
    if (OnInputLevels) OnInputLevels(r.levelL, r.levelR);
  }
  const uint64_t silenceFrom = fadeStart_ + fadeFrames_;
  bool more = true;
  if (fadeSet_ && first >= silenceFrom) {
    std::memset(buffer, 0, static_cast<std::size_t>(size));
  } else {
    more = modulator_.AudioOut1FillBuffer(buffer, size);
  }
  if (fadeSet_ && first + frames > fadeStart_ && first < silenceFrom) {
    // A raised-cosine fade from full level to nothing, then silence to the end of the block.
    auto* samples = reinterpret_cast<int16_t*>(buffer);
    const double step = 3.14159265358979323846 / static_cast<double>(fadeFrames_);
    for (uint64_t f = std::max(first, fadeStart_); f < first + frames; ++f) {
      const uint64_t k = f - fadeStart_;
      const double gain =
          k < fadeFrames_ ? 0.5 * (1.0 + std::cos(step * static_cast<double>(k))) : 0.0;
      int16_t* frame = samples + 2 * (f - first);
      for (int c = 0; c < 2; ++c) {
        frame[c] = static_cast<int16_t>(std::lround(gain * frame[c]));
      }
    }
  }
  if (fadeSet_) {
    // The end of the silence may fall inside this block: hand over only what is left.
    if (first + frames > fadeEnd_) {
      frames = fadeEnd_ - first;
      size = static_cast<int>(frames * 4);
    }
    more = true;  // the fade plays out even after the engine was asked to stop
  }
  framesFilled_ += frames;
  if (recorder_) recorder_->PushFrames(buffer, static_cast<std::size_t>(frames));
  if (OnBlockFilled) OnBlockFilled();
  return more;
}

}  // namespace kelvane
