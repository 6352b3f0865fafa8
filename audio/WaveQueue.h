// SPDX-License-Identifier: GPL-3.0-or-later
// Queued playback/capture devices on top of a block clock (PortAudio, or a test thread).
#pragma once

#include <algorithm>
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
  // Seconds from a block's hand-over to its being heard (what the device and server buffer).
  virtual double OutputLatency() { return 0.0; }
};

// Makes the clock for a queued device once the device knows which client it serves.
class BlockClockFactory {
 public:
  virtual ~BlockClockFactory() = default;
  virtual WaveResult Create(std::unique_ptr<BlockClock>& out, BlockClient& client) = 0;
};

// Shared between the two directions: the hand-off rings, the clock's life, the wake-up and the
// health check. The owner's thread and the clock's thread meet only in the rings and atomics.
class QueuedDeviceBase : public BlockClient {
 public:
  // Up to this many headers may be queued at once (the streams use at most four).
  static constexpr std::size_t MaxQueued = 16;
  // Second step of opening: creates the clock (not started).
  WaveResult Attach(BlockClockFactory& factory);

 protected:
  QueuedDeviceBase(const PcmFormat& format, int noticeFd, uint32_t blockBytes);

  // Owner side.
  void Signal();
  WaveHeader* PopDone();
  WaveResult PrepareHeader(WaveHeader& header) const;
  static void UnprepareHeader(WaveHeader& header) { header.flags &= ~WhdrPrepared; }
  // Hands a prepared header to the clock side.
  WaveResult QueueHeader(WaveHeader& header);
  WaveResult StartClock();
  // Stops the clock and returns every header it still holds.
  void ResetClock();
  void CloseClock();
  // `watching`: the clock is meant to be running, so a lack of progress is a stall.
  WaveResult CheckHealth(bool watching);
  bool ClockRunning() const { return running_; }
  bool Closed() const { return closed_; }
  bool AnyQueued() const { return submitted_.Size() > 0; }
  // Counts the clock's progress from now on (after a pause, which plays nothing to watch).
  void RestartWatch();

  // Clock side: one call per device block, whatever it carries (the watchdog counts them).
  void CountBlock() { blocks_.fetch_add(1, std::memory_order_relaxed); }
  // Clock side: walks `bytes` of the device's block through the queued headers, calling
  // copy(blockOffset, header, headerOffset, n) for each piece, and hands back every header it
  // completes. Returns how many bytes found no header.
  template <typename Copy>
  std::size_t Transfer(std::size_t bytes, Copy&& copy) {
    bool returned = false;
    std::size_t pos = 0;
    while (pos < bytes) {
      if (current_ == nullptr) {
        if (!submitted_.Pop(current_)) break;
        offset_ = 0;
      }
      const std::size_t n = std::min<std::size_t>(bytes - pos, current_->bufferLength - offset_);
      copy(pos, *current_, offset_, n);
      pos += n;
      offset_ += n;
      if (offset_ >= current_->bufferLength) {
        done_.Push(current_);  // cannot fail: both rings hold every queued header at once
        current_ = nullptr;
        returned = true;
      }
    }
    if (returned) Signal();
    return bytes - pos;
  }
  void ClockFinished() override;

  alignas(4) PcmFormat format_;
  uint8_t silence_ = 0;
  std::unique_ptr<BlockClock> clock_;
  std::atomic<uint64_t> missed_{0};

 private:
  int noticeFd_;
  SpscRing<WaveHeader*, MaxQueued> submitted_;  // owner -> clock thread
  SpscRing<WaveHeader*, MaxQueued> done_;       // clock thread -> owner
  // Clock-thread state: the header being played or recorded and the byte offset in it.
  WaveHeader* current_ = nullptr;
  std::size_t offset_ = 0;
  std::atomic<bool> finished_{false};
  std::atomic<uint64_t> blocks_{0};
  // Owner side: the clock's life and the watchdog of its progress.
  bool running_ = false;  // started and not stopped
  bool lost_ = false;     // the health check found the device gone: let go, do not stop it
  bool closed_ = false;
  WaveResult startError_ = wave::NoError;  // a start that failed stays the device's state
  uint64_t lastBlocks_ = 0;
  std::chrono::steady_clock::time_point lastProgress_{};
  std::chrono::milliseconds stallLimit_{2000};
};

class QueuedWaveOut final : public WaveOutDevice, private QueuedDeviceBase {
 public:
  QueuedWaveOut(const PcmFormat& format, int noticeFd, uint32_t blockBytes);
  ~QueuedWaveOut() override;
  using QueuedDeviceBase::Attach;

  WaveResult Prepare(WaveHeader& header) override { return PrepareHeader(header); }
  WaveResult Write(WaveHeader& header) override;
  void Pause() override;
  WaveResult Restart() override;
  void Reset() override { ResetClock(); }
  void Unprepare(WaveHeader& header) override { UnprepareHeader(header); }
  void Close() override { CloseClock(); }
  WaveHeader* TakeDone() override { return PopDone(); }
  WaveResult Health() override;
  uint64_t Underruns() const override { return missed_.load(std::memory_order_relaxed); }
  void FadeOut(uint32_t frames) override;
  bool FadedOut() override;

 private:
  void RenderBlock(uint8_t* out, std::size_t bytes) override;
  void CaptureBlock(const uint8_t*, std::size_t) override {}
  void Fade(uint8_t* out, std::size_t bytes);

  std::atomic<bool> paused_{false};
  // Owner -> clock: the fade's length in frames (0: none asked) and the silence after it.
  std::atomic<uint32_t> fadeFrames_{0};
  std::atomic<uint64_t> tailFrames_{0};
  std::atomic<bool> fadedOut_{false};  // clock -> owner
  // Clock-thread state.
  bool starved_ = false;  // the last block ran out of sound: a gap, counted when sound resumes
  bool fading_ = false;
  uint64_t fadePos_ = 0;  // frames since the fade began
};

class QueuedWaveIn final : public WaveInDevice, private QueuedDeviceBase {
 public:
  QueuedWaveIn(const PcmFormat& format, int noticeFd, uint32_t blockBytes);
  ~QueuedWaveIn() override;
  using QueuedDeviceBase::Attach;

  WaveResult Prepare(WaveHeader& header) override { return PrepareHeader(header); }
  WaveResult AddBuffer(WaveHeader& header) override;
  WaveResult Start() override;
  void Reset() override { ResetClock(); }
  void Unprepare(WaveHeader& header) override { UnprepareHeader(header); }
  void Close() override { CloseClock(); }
  WaveHeader* TakeDone() override { return PopDone(); }
  WaveResult Health() override { return CheckHealth(ClockRunning()); }
  uint64_t Overruns() const override { return missed_.load(std::memory_order_relaxed); }

 private:
  void RenderBlock(uint8_t*, std::size_t) override {}
  void CaptureBlock(const uint8_t* in, std::size_t bytes) override;
};

}  // namespace kelvane
