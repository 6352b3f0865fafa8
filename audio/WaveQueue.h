// Queued playback/capture devices on top of a block clock (PortAudio, or a test thread).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "SpscRing.h"
#include "WaveDevice.h"

namespace kelvane {

// What a block clock calls on its own thread: once per block, and once when it stops by itself.
class BlockClient {
 public:
  virtual ~BlockClient() = default;
  virtual void RenderBlock(uint8_t* out, std::size_t bytes) = 0;
  virtual void CaptureBlock(const uint8_t* in, std::size_t bytes) = 0;
  virtual void ClockFinished() = 0;
};

// A running source of blocks: PortAudio's stream, or a thread in the tests.
class BlockClock {
 public:
  virtual ~BlockClock() = default;
  virtual WaveResult Start() = 0;
  // Stops at once; when it returns, no callback runs any more.
  virtual void Abort() = 0;
  // False once the clock has stopped by itself (device gone).
  virtual bool Active() = 0;
  // Stops calling the client at once and lets go of a device that may no longer answer: the
  // clean-up of a dead stream must never block the owner's thread.
  virtual void Abandon() { Abort(); }
};

// Makes the clock for a queued device once the device knows which client it serves.
class BlockClockFactory {
 public:
  virtual ~BlockClockFactory() = default;
  virtual WaveResult Create(std::unique_ptr<BlockClock>& out, BlockClient& client) = 0;
};

// Shared between the two directions: the hand-off rings, the wake-up and the health check.
class QueuedDeviceBase : public BlockClient {
 public:
  // Up to this many headers may be queued at once (the streams use at most four).
  static constexpr std::size_t MaxQueued = 16;

 protected:
  QueuedDeviceBase(const PcmFormat& format, int noticeFd);
  void Signal();
  WaveHeader* PopDone();
  WaveResult CheckHealth(BlockClock* clock, bool running);
  void ClockFinished() override;
  // Moves every header the clock side still holds to the done ring; the clock must be stopped.
  void ReturnAll();

  alignas(4) PcmFormat format_;
  int noticeFd_;
  SpscRing<WaveHeader*, MaxQueued> submitted_;  // owner -> clock thread
  SpscRing<WaveHeader*, MaxQueued> done_;       // clock thread -> owner
  // Clock-thread state: the header being played or recorded and the byte offset in it.
  WaveHeader* current_ = nullptr;
  std::size_t offset_ = 0;
  std::atomic<bool> finished_{false};
  std::atomic<uint64_t> blocks_{0};
  std::atomic<uint64_t> missed_{0};
  // Owner-side watchdog of the clock's progress.
  uint64_t lastBlocks_ = 0;
  std::chrono::steady_clock::time_point lastProgress_{};
  std::chrono::milliseconds stallLimit_{2000};
};

class QueuedWaveOut final : public WaveOutDevice, private QueuedDeviceBase {
 public:
  QueuedWaveOut(const PcmFormat& format, int noticeFd, uint32_t blockBytes);
  ~QueuedWaveOut() override;
  // Second step of opening: creates the clock (not started).
  WaveResult Attach(BlockClockFactory& factory);

  WaveResult Prepare(WaveHeader& header) override;
  WaveResult Write(WaveHeader& header) override;
  void Pause() override;
  void Restart() override;
  void Reset() override;
  void Unprepare(WaveHeader& header) override;
  void Close() override;
  WaveHeader* TakeDone() override { return PopDone(); }
  WaveResult Health() override;
  uint64_t Underruns() const override { return missed_.load(std::memory_order_relaxed); }

 private:
  void RenderBlock(uint8_t* out, std::size_t bytes) override;
  void CaptureBlock(const uint8_t*, std::size_t) override {}
  WaveResult StartClock();

  std::unique_ptr<BlockClock> clock_;
  bool lost_ = false;  // Health() found the device gone: let go of it instead of stopping it
  std::atomic<bool> paused_{false};
  bool running_ = false;  // owner side: the clock was started and not aborted
  bool closed_ = false;
  uint8_t silence_ = 0;
};

class QueuedWaveIn final : public WaveInDevice, private QueuedDeviceBase {
 public:
  QueuedWaveIn(const PcmFormat& format, int noticeFd, uint32_t blockBytes);
  ~QueuedWaveIn() override;
  WaveResult Attach(BlockClockFactory& factory);

  WaveResult Prepare(WaveHeader& header) override;
  WaveResult AddBuffer(WaveHeader& header) override;
  WaveResult Start() override;
  void Reset() override;
  void Unprepare(WaveHeader& header) override;
  void Close() override;
  WaveHeader* TakeDone() override { return PopDone(); }
  WaveResult Health() override;
  uint64_t Overruns() const override { return missed_.load(std::memory_order_relaxed); }

 private:
  void RenderBlock(uint8_t*, std::size_t) override {}
  void CaptureBlock(const uint8_t* in, std::size_t bytes) override;

  std::unique_ptr<BlockClock> clock_;
  bool lost_ = false;
  bool running_ = false;
  bool closed_ = false;
};

}  // namespace kelvane
