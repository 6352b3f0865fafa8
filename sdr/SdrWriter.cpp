// SPDX-License-Identifier: GPL-3.0-or-later
// The writer thread: queue -> float -> resampler -> writeStream. It never allocates, locks or
// logs while streaming; a driver error ends it and is reported through the status.
#include "SdrWriter.h"

#include <SoapySDR/Device.hpp>
#include <SoapySDR/Errors.hpp>
#include <chrono>
#include <cstdio>
#include <exception>
#include <mutex>

namespace kelvane::sdr {

struct SdrWriter::Shared {
  std::shared_ptr<OpenedSdr> sdr;
  std::shared_ptr<WriterStatus> status;
  BlockClient* client = nullptr;
  SdrResampler resampler;
  std::vector<int16_t> block;  // one engine block, interleaved I/Q
  std::vector<float> out;      // its resampled frames, interleaved I/Q
  std::atomic<bool> stop{false};
  // The owner waits for this to be false before it lets the client go (see Stop).
  std::atomic<bool> inClient{false};
  // kRunning until the thread ends (kExited) or the owner stops waiting for it (kCutLoose);
  // whichever comes first decides who releases the device.
  static constexpr int kRunning = 0, kExited = 1, kCutLoose = 2;
  std::atomic<int> state{kRunning};
  int engineRate = 0;
};

namespace {
// Devices whose writer was cut loose: kept open for the rest of the process. Their driver did
// not come back in time; releasing them later could run into the library's own teardown at exit.
void KeepForGood(std::shared_ptr<OpenedSdr> sdr) {
  static std::mutex lock;
  static auto* kept = new std::vector<std::shared_ptr<OpenedSdr>>;
  const std::lock_guard<std::mutex> hold(lock);
  kept->push_back(std::move(sdr));
}
}  // namespace

SdrWriter::SdrWriter(std::shared_ptr<OpenedSdr> sdr, BlockClient& client, int engineRate,
                     int blockFrames, std::shared_ptr<WriterStatus> status)
    : shared_(std::make_shared<Shared>()), status_(std::move(status)) {
  shared_->sdr = std::move(sdr);
  shared_->status = status_;
  shared_->client = &client;
  shared_->engineRate = engineRate;
  shared_->block.resize(2 * static_cast<std::size_t>(blockFrames));
}

SdrWriter::~SdrWriter() {
  Stop(true);
}

bool SdrWriter::Prepare(std::string& error) {
  Shared& s = *shared_;
  const std::size_t frames = s.block.size() / 2;
  if (!s.resampler.Open(s.engineRate, s.sdr->Report().rate, frames, error)) return false;
  s.out.resize(2 * s.resampler.MaxOutFrames());
  return true;
}

namespace {
void Fail(WriterStatus& status, const char* what, const char* detail) {
  std::snprintf(status.message, sizeof status.message, "%s%s", what, detail);
  status.failed.store(true, std::memory_order_release);
}
}  // namespace

WaveResult SdrWriter::Start() {
  if (thread_.joinable()) return wave::NoError;
  OpenedSdr& sdr = *shared_->sdr;
  try {
    const int r = sdr.Device().activateStream(sdr.Stream());
    if (r != 0) {
      Fail(*status_, "the SDR would not start sending: ", SoapySDR::errToStr(r));
      return wave::Error;
    }
  } catch (const std::exception& e) {
    Fail(*status_, "the SDR would not start sending: ", e.what());
    return wave::Error;
  }
  sdr.active = true;
  thread_ = std::thread(&SdrWriter::Run, shared_);
  return wave::NoError;
}

void SdrWriter::Run(std::shared_ptr<Shared> shared) {
  Shared& s = *shared;
  OpenedSdr& sdr = *s.sdr;
  const std::size_t frames = s.block.size() / 2;
  while (!s.stop.load()) {
    s.inClient.store(true);
    if (s.stop.load()) {
      s.inClient.store(false);
      break;
    }
    s.client->RenderBlock(reinterpret_cast<uint8_t*>(s.block.data()), 4 * frames);
    s.inClient.store(false);
    const std::size_t made = s.resampler.Process(s.block.data(), frames, s.out.data());
    std::size_t sent = 0;
    const char* failure = nullptr;
    const char* detail = "";
    while (sent < made && !s.stop.load()) {
      const void* buffs[1] = {s.out.data() + 2 * sent};
      int flags = 0;
      int r = 0;
      try {
        r = sdr.Device().writeStream(sdr.Stream(), buffs, made - sent, flags, 0, 100000);
      } catch (const std::exception&) {
        r = SOAPY_SDR_STREAM_ERROR;
      }
      if (r == SOAPY_SDR_TIMEOUT || r == SOAPY_SDR_UNDERFLOW) continue;
      if (r < 0) {
        failure = "the SDR stopped taking samples: ";
        detail = SoapySDR::errToStr(r);
        break;
      }
      sent += static_cast<std::size_t>(r);
    }
    if (failure != nullptr) {
      Fail(*s.status, failure, detail);
      s.inClient.store(true);
      if (!s.stop.load()) s.client->ClockFinished();
      s.inClient.store(false);
      break;
    }
  }
  int running = Shared::kRunning;
  if (!s.state.compare_exchange_strong(running, Shared::kExited)) KeepForGood(s.sdr);
}

void SdrWriter::Stop(bool waitForExit) {
  if (!thread_.joinable()) return;
  Shared& s = *shared_;
  s.stop.store(true);
  // Sequentially consistent with the thread's inClient/stop pair: once this loop ends, the
  // thread is not inside the client and will not enter it again.
  while (s.inClient.load()) std::this_thread::yield();
  if (waitForExit) {
    // writeStream returns within its 100 ms timeout on a driver that keeps to it; one that
    // does not is left to finish on its own, and its device stays open.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (s.state.load() == Shared::kRunning && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  int running = Shared::kRunning;
  if (s.state.compare_exchange_strong(running, Shared::kCutLoose)) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void SdrWriter::Abort() {
  Stop(true);
}

void SdrWriter::Abandon() {
  Stop(false);
}

}  // namespace kelvane::sdr
