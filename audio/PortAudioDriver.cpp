// SPDX-License-Identifier: GPL-3.0-or-later
// PortAudio (ALSA host API) under the waveform-device layer.
#include "PortAudioDriver.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "WaveQueue.h"

namespace kelvane {

namespace {

// PortAudio's codes are mapped into a range of our own so that one int carries both kinds.
constexpr WaveResult PaCodeBase = 1000;
constexpr WaveResult PaCodeEnd = 1100;

WaveResult FromPa(PaError e) {
  if (e == paNoError) return wave::NoError;
  if (e == paInsufficientMemory) return wave::NoMem;
  if (e == paInvalidDevice) return wave::BadDeviceId;
  const int offset = e - paNotInitialized;
  if (offset < 0 || offset >= PaCodeEnd - PaCodeBase) return wave::Error;
  return PaCodeBase + offset;
}

void SilentAlsaHandler(const char*, int, const char*, int, const char*, ...) {}
void SilentJackHandler(const char*) {}

std::atomic<int> g_abandonedStreams{0};

// What PortAudio's threads may touch. It outlives the clock when a dead stream is abandoned.
struct PaShared {
  PaStream* stream = nullptr;
  BlockClient* client = nullptr;
  bool output = true;
  uint32_t blockAlign = 4;
  std::atomic<bool> aborting{false};
  std::atomic<bool> detached{false};
  std::atomic<bool> inCallback{false};
};

class PaClock final : public BlockClock {
 public:
  PaClock(BlockClient& client, bool output, uint32_t blockAlign)
      : shared_(std::make_shared<PaShared>()) {
    shared_->client = &client;
    shared_->output = output;
    shared_->blockAlign = blockAlign;
  }
  ~PaClock() override {
    if (shared_ != nullptr && shared_->stream != nullptr) {
      shared_->aborting.store(true);
      Pa_AbortStream(shared_->stream);
      Pa_CloseStream(shared_->stream);
    }
  }

  WaveResult Open(const PaStreamParameters& params, double rate, unsigned long frames) {
    const bool out = shared_->output;
    PaError e =
        Pa_OpenStream(&shared_->stream, out ? nullptr : &params, out ? &params : nullptr, rate,
                      frames, paClipOff | paDitherOff, &PaClock::Callback, shared_.get());
    if (e != paNoError) {
      shared_->stream = nullptr;
      return FromPa(e);
    }
    e = Pa_SetStreamFinishedCallback(shared_->stream, &PaClock::Finished);
    return FromPa(e);
  }

  WaveResult Start() override {
    shared_->aborting.store(false);
    return FromPa(Pa_StartStream(shared_->stream));
  }

  void Abort() override {
    shared_->aborting.store(true);
    // Abort, not stop: a drain of a megabyte of queued sound would take seconds.
    Pa_AbortStream(shared_->stream);
  }

  void Abandon() override {
    // From here on the callbacks leave the client alone; wait out one that is running now
    // (it only copies a block, so this is short).
    shared_->detached.store(true);
    while (shared_->inCallback.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // A stream whose server died can block in its clean-up: do that off the owner's thread.
    ++g_abandonedStreams;
    std::thread([sh = shared_] {
      sh->aborting.store(true);
      Pa_AbortStream(sh->stream);
      Pa_CloseStream(sh->stream);
    }).detach();
    shared_.reset();
  }

  bool Active() override { return Pa_IsStreamActive(shared_->stream) == 1; }

  double OutputLatency() override {
    const PaStreamInfo* info = Pa_GetStreamInfo(shared_->stream);
    return info != nullptr ? info->outputLatency : 0.0;
  }

 private:
  static int Callback(const void* in, void* out, unsigned long frames,
                      const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
    auto* sh = static_cast<PaShared*>(user);
    sh->inCallback.store(true);
    if (sh->detached.load()) {
      sh->inCallback.store(false);
      return paAbort;
    }
    const std::size_t bytes = frames * sh->blockAlign;
    if (sh->output) {
      sh->client->RenderBlock(static_cast<uint8_t*>(out), bytes);
    } else {
      sh->client->CaptureBlock(static_cast<const uint8_t*>(in), bytes);
    }
    sh->inCallback.store(false);
    return paContinue;
  }

  static void Finished(void* user) {
    auto* sh = static_cast<PaShared*>(user);
    sh->inCallback.store(true);
    if (!sh->detached.load() && !sh->aborting.load()) sh->client->ClockFinished();
    sh->inCallback.store(false);
  }

  std::shared_ptr<PaShared> shared_;
};

// About 10 ms per playback period (a power of two, so it divides every buffer size).
unsigned long OutputPeriodFrames(uint32_t rate) {
  unsigned long frames = 256;
  while (frames * 2 <= rate / 50) frames *= 2;
  return frames;
}
constexpr double kMinOutputLatency = 0.15;
constexpr double kMaxOutputLatency = 0.25;

class PaClockFactory final : public BlockClockFactory {
 public:
  PaClockFactory(bool output, int paDevice, const PcmFormat& format, unsigned long frames)
      : output_(output), paDevice_(paDevice), format_(format), frames_(frames) {}

  WaveResult Create(std::unique_ptr<BlockClock>& out, BlockClient& client) override {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(paDevice_);
    if (info == nullptr) return wave::BadDeviceId;
    PaStreamParameters params{};
    params.device = paDevice_;
    params.channelCount = format_.channels;
    params.sampleFormat = format_.bitsPerSample == 8 ? paUInt8 : paInt16;
    params.hostApiSpecificStreamInfo = nullptr;
    // Capture moves whole buffers, with two of latency. Playback moves short periods under a
    // short latency: the queued buffers are the reserve, and a stop can fade out what is heard
    // next instead of waiting for seconds of sound already in the device.
    unsigned long frames = frames_;
    double latency = std::max(info->defaultHighInputLatency,
                              2.0 * static_cast<double>(frames_) / format_.samplesPerSec);
    if (output_) {
      frames = std::min(frames_, OutputPeriodFrames(format_.samplesPerSec));
      latency = std::clamp(info->defaultHighOutputLatency, kMinOutputLatency, kMaxOutputLatency);
    }
    params.suggestedLatency = latency;
    auto clock = std::make_unique<PaClock>(client, output_, format_.blockAlign);
    const WaveResult r = clock->Open(params, format_.samplesPerSec, frames);
    if (r != wave::NoError) return r;
    out = std::move(clock);
    return wave::NoError;
  }

 private:
  bool output_;
  int paDevice_;
  PcmFormat format_;
  unsigned long frames_;
};

WaveResult CheckFormat(const PcmFormat& format) {
  if (format.formatTag != 1 || (format.bitsPerSample != 8 && format.bitsPerSample != 16) ||
      format.channels < 1 || format.channels > 2 || format.samplesPerSec == 0 ||
      format.blockAlign != format.channels * (format.bitsPerSample / 8)) {
    return wave::BadFormat;
  }
  return wave::NoError;
}

}  // namespace

void SilenceAudioDiagnostics() {
  static std::once_flag once;
  std::call_once(once, [] {
    snd_lib_error_set_handler(&SilentAlsaHandler);
    // PortAudio may bring JACK along; when it does, its client library reports a missing
    // server on stderr. Reach it without linking it.
    using JackHandlerSetter = void (*)(void (*)(const char*));
    for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
      if (void* sym = dlsym(RTLD_DEFAULT, name)) {
        reinterpret_cast<JackHandlerSetter>(sym)(&SilentJackHandler);
      }
    }
    setenv("JACK_NO_START_SERVER", "1", 0);
  });
}

PortAudioDriver::PortAudioDriver() = default;

PortAudioDriver::~PortAudioDriver() {
  // An abandoned stream may still be closing on its own thread; the process is ending anyway.
  if (initialised_ && g_abandonedStreams.load() == 0) Pa_Terminate();
}

bool PortAudioDriver::Ready() {
  if (initialised_) return true;
  if (initError_ != 0) return false;
  SilenceAudioDiagnostics();
  const PaError e = Pa_Initialize();
  if (e != paNoError) {
    initError_ = e;
    return false;
  }
  initialised_ = true;
  const int count = Pa_GetDeviceCount();
  for (int i = 0; i < count; ++i) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
    if (info == nullptr) continue;
    if (info->maxOutputChannels > 0) outDevices_.push_back(i);
    if (info->maxInputChannels > 0) inDevices_.push_back(i);
  }
  return true;
}

int PortAudioDriver::OutDeviceCount() {
  return Ready() ? static_cast<int>(outDevices_.size()) : 0;
}
int PortAudioDriver::InDeviceCount() {
  return Ready() ? static_cast<int>(inDevices_.size()) : 0;
}

WaveResult PortAudioDriver::OutDeviceName(int device, std::string& name) {
  name.clear();
  if (!Ready()) return wave::NoDriver;
  if (device < 0 || device >= static_cast<int>(outDevices_.size())) return wave::BadDeviceId;
  const PaDeviceInfo* info = Pa_GetDeviceInfo(outDevices_[device]);
  if (info == nullptr || info->name == nullptr) return wave::Error;
  name = info->name;
  return wave::NoError;
}

WaveResult PortAudioDriver::InDeviceName(int device, std::string& name) {
  name.clear();
  if (!Ready()) return wave::NoDriver;
  if (device < 0 || device >= static_cast<int>(inDevices_.size())) return wave::BadDeviceId;
  const PaDeviceInfo* info = Pa_GetDeviceInfo(inDevices_[device]);
  if (info == nullptr || info->name == nullptr) return wave::Error;
  name = info->name;
  return wave::NoError;
}

int PortAudioDriver::PaIndex(bool output, unsigned device) {
  if (device == WaveMapper)
    return output ? Pa_GetDefaultOutputDevice() : Pa_GetDefaultInputDevice();
  const auto& list = output ? outDevices_ : inDevices_;
  if (device >= list.size()) return paNoDevice;
  return list[device];
}

WaveResult PortAudioDriver::OpenOut(std::unique_ptr<WaveOutDevice>& out, unsigned device,
                                    const PcmFormat& format, uint32_t blockBytes, int noticeFd) {
  if (!Ready()) return wave::NoDriver;
  if (const WaveResult r = CheckFormat(format); r != wave::NoError) return r;
  const int pa = PaIndex(true, device);
  if (pa == paNoDevice) return wave::BadDeviceId;
  if (blockBytes < format.blockAlign) return wave::InvalidParam;
  auto queued = std::make_unique<QueuedWaveOut>(format, noticeFd, blockBytes);
  PaClockFactory factory(true, pa, format, blockBytes / format.blockAlign);
  if (const WaveResult r = queued->Attach(factory); r != wave::NoError) return r;
  out = std::move(queued);
  return wave::NoError;
}

WaveResult PortAudioDriver::OpenIn(std::unique_ptr<WaveInDevice>& out, unsigned device,
                                   const PcmFormat& format, uint32_t blockBytes, int noticeFd) {
  if (!Ready()) return wave::NoDriver;
  if (const WaveResult r = CheckFormat(format); r != wave::NoError) return r;
  const int pa = PaIndex(false, device);
  if (pa == paNoDevice) return wave::BadDeviceId;
  if (blockBytes < format.blockAlign) return wave::InvalidParam;
  auto queued = std::make_unique<QueuedWaveIn>(format, noticeFd, blockBytes);
  PaClockFactory factory(false, pa, format, blockBytes / format.blockAlign);
  if (const WaveResult r = queued->Attach(factory); r != wave::NoError) return r;
  out = std::move(queued);
  return wave::NoError;
}

std::string PortAudioDriver::ErrorText(WaveResult code) {
  if (code >= PaCodeBase && code < PaCodeEnd) {
    const PaError e = paNotInitialized + (code - PaCodeBase);
    std::string text = Pa_GetErrorText(e);
    if (e == paUnanticipatedHostError) {
      const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
      if (host != nullptr && host->errorText != nullptr && host->errorText[0] != '\0') {
        text += ": ";
        text += host->errorText;
      }
    }
    return text;
  }
  if (code == wave::NoDriver && initError_ != 0) {
    return std::string("The audio system could not be started: ") + Pa_GetErrorText(initError_);
  }
  return wave::GenericErrorText(code);
}

WaveResult PortAudioDriver::DeviceChannels(bool output, int device, int& inChannels,
                                           int& outChannels) {
  inChannels = outChannels = 0;
  if (!Ready()) return wave::NoDriver;
  const auto& list = output ? outDevices_ : inDevices_;
  if (device < 0 || device >= static_cast<int>(list.size())) return wave::BadDeviceId;
  const PaDeviceInfo* info = Pa_GetDeviceInfo(list[static_cast<std::size_t>(device)]);
  if (info == nullptr) return wave::Error;
  inChannels = info->maxInputChannels;
  outChannels = info->maxOutputChannels;
  return wave::NoError;
}

bool PortAudioDriver::RateSupported(bool output, int device, uint32_t rate) {
  if (!Ready()) return false;
  const auto& list = output ? outDevices_ : inDevices_;
  if (device < 0 || device >= static_cast<int>(list.size())) return false;
  const int pa = list[static_cast<std::size_t>(device)];
  const PaDeviceInfo* info = Pa_GetDeviceInfo(pa);
  if (info == nullptr) return false;
  PaStreamParameters params{};
  params.device = pa;
  params.channelCount = std::min(2, output ? info->maxOutputChannels : info->maxInputChannels);
  params.sampleFormat = paInt16;
  params.suggestedLatency = output ? info->defaultHighOutputLatency : info->defaultHighInputLatency;
  params.hostApiSpecificStreamInfo = nullptr;
  return Pa_IsFormatSupported(output ? nullptr : &params, output ? &params : nullptr, rate) ==
         paFormatIsSupported;
}

WaveDriver& DefaultWaveDriver() {
  static PortAudioDriver driver;
  return driver;
}

}  // namespace kelvane
