// SPDX-License-Identifier: GPL-3.0-or-later
// The SDR's writer thread as the block clock of a queued playback device: each turn it takes
// one engine-rate block from the queue (silence and a counted underrun when none is there),
// resamples it to the device rate and hands it to writeStream, which paces the thread.
#pragma once

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "SdrDevice.h"
#include "SdrResampler.h"
#include "WaveQueue.h"

namespace kelvane::sdr {

// What the writer tells the owner once it stops by itself. Written by the writer thread before
// `failed` is set (release), read by the owner after seeing it (acquire).
struct WriterStatus {
  std::atomic<bool> failed{false};
  char message[256] = {};
};

class SdrWriter final : public BlockClock {
 public:
  // `blockFrames` engine frames per turn; the device must be open and configured.
  SdrWriter(std::shared_ptr<OpenedSdr> sdr, BlockClient& client, int engineRate, int blockFrames,
            std::shared_ptr<WriterStatus> status);
  ~SdrWriter() override;
  // False with the reason in the status when the resampler cannot be made.
  bool Prepare(std::string& error);

  WaveResult Start() override;
  void Abort() override;
  bool Active() override { return !status_->failed.load(std::memory_order_acquire); }
  void Abandon() override;
  double OutputLatency() override { return 0.05; }

 private:
  struct Shared;  // what the thread keeps alive after being cut loose
  static void Run(std::shared_ptr<Shared> shared);
  void Stop(bool waitForExit);

  std::shared_ptr<Shared> shared_;
  std::shared_ptr<WriterStatus> status_;
  std::thread thread_;
};

}  // namespace kelvane::sdr
