// SPDX-License-Identifier: GPL-3.0-or-later
// Queued playback/capture devices: the clock thread only copies blocks and hands headers back.
#include "WaveQueue.h"

#include <unistd.h>

#include <cmath>
#include <cstring>

namespace kelvane {

namespace {
std::chrono::milliseconds StallLimitFor(const PcmFormat& format, uint32_t blockBytes) {
  const uint32_t bytesPerSecond = std::max<uint32_t>(format.avgBytesPerSec, 1);
  const auto blockMs = static_cast<int64_t>(blockBytes) * 1000 / bytesPerSecond;
  // A live device calls back at least once per block; three missing blocks (and at least two
  // seconds) mean the device or its server has gone quiet for good.
  return std::chrono::milliseconds(std::max<int64_t>(2000, 3 * blockMs + 1000));
}
}  // namespace

// ---- shared ----

QueuedDeviceBase::QueuedDeviceBase(const PcmFormat& format, int noticeFd, uint32_t blockBytes)
    : format_(format), noticeFd_(noticeFd) {
  silence_ = format.bitsPerSample == 8 ? 0x80 : 0;
  stallLimit_ = StallLimitFor(format, blockBytes);
}

WaveResult QueuedDeviceBase::Attach(BlockClockFactory& factory) {
  return factory.Create(clock_, *this);
}

void QueuedDeviceBase::Signal() {
  if (noticeFd_ < 0) return;
  const uint64_t one = 1;
  // An eventfd write never blocks here (the counter cannot overflow in practice); a failure
  // only loses a wake-up that the owner's periodic check makes up for.
  [[maybe_unused]] const ssize_t n = ::write(noticeFd_, &one, sizeof one);
}

WaveHeader* QueuedDeviceBase::PopDone() {
  WaveHeader* header = nullptr;
  if (!done_.Pop(header)) return nullptr;
  header->flags = (header->flags & ~WhdrInQueue) | WhdrDone;
  return header;
}

WaveResult QueuedDeviceBase::PrepareHeader(WaveHeader& header) const {
  if (closed_) return wave::InvalidHandle;
  if (header.data == nullptr && header.bufferLength > 0) return wave::InvalidParam;
  header.flags |= WhdrPrepared;
  return wave::NoError;
}

WaveResult QueuedDeviceBase::QueueHeader(WaveHeader& header) {
  if (closed_) return wave::InvalidHandle;
  if ((header.flags & WhdrPrepared) == 0) return wave::Unprepared;
  if (finished_.load(std::memory_order_acquire)) return wave::DeviceLost;
  header.flags = (header.flags & ~WhdrDone) | WhdrInQueue;
  if (!submitted_.Push(&header)) {
    header.flags &= ~WhdrInQueue;
    return wave::QueueFull;
  }
  return wave::NoError;
}

WaveResult QueuedDeviceBase::StartClock() {
  if (closed_) return wave::InvalidHandle;
  if (running_ || clock_ == nullptr) return wave::NoError;
  const WaveResult r = clock_->Start();
  if (r != wave::NoError) {
    startError_ = r;
    return r;
  }
  running_ = true;
  lastBlocks_ = blocks_.load(std::memory_order_relaxed);
  RestartWatch();
  return wave::NoError;
}

void QueuedDeviceBase::RestartWatch() {
  lastProgress_ = std::chrono::steady_clock::now();
}

void QueuedDeviceBase::ResetClock() {
  if (clock_ != nullptr && running_) lost_ ? clock_->Abandon() : clock_->Abort();
  running_ = false;
  // The clock is stopped: its side of the hand-off is ours now.
  if (current_ != nullptr) {
    done_.Push(current_);
    current_ = nullptr;
    offset_ = 0;
  }
  WaveHeader* header = nullptr;
  while (submitted_.Pop(header)) done_.Push(header);
  Signal();
}

void QueuedDeviceBase::CloseClock() {
  if (closed_) return;
  if (clock_ != nullptr && running_) lost_ ? clock_->Abandon() : clock_->Abort();
  running_ = false;
  clock_.reset();
  closed_ = true;
}

void QueuedDeviceBase::ClockFinished() {
  finished_.store(true, std::memory_order_release);
  Signal();
}

WaveResult QueuedDeviceBase::CheckHealth(bool watching) {
  if (closed_) return wave::NoError;
  WaveResult r = wave::NoError;
  if (startError_ != wave::NoError) {
    r = startError_;  // never started: nothing plays or records
  } else if (finished_.load(std::memory_order_acquire)) {
    r = wave::DeviceLost;
  } else if (watching && running_ && clock_ != nullptr) {
    if (!clock_->Active()) {
      r = wave::DeviceLost;
    } else {
      const auto now = std::chrono::steady_clock::now();
      const uint64_t blocks = blocks_.load(std::memory_order_relaxed);
      if (blocks != lastBlocks_) {
        lastBlocks_ = blocks;
        lastProgress_ = now;
      } else if (now - lastProgress_ > stallLimit_) {
        r = wave::DeviceStalled;
      }
    }
  }
  lost_ = lost_ || r != wave::NoError;
  return r;
}

// ---- playback ----

QueuedWaveOut::QueuedWaveOut(const PcmFormat& format, int noticeFd, uint32_t blockBytes)
    : QueuedDeviceBase(format, noticeFd, blockBytes) {}

QueuedWaveOut::~QueuedWaveOut() {
  // The clock calls into this object: it must stop before anything of it goes.
  CloseClock();
}

WaveResult QueuedWaveOut::Write(WaveHeader& header) {
  if (const WaveResult r = QueueHeader(header); r != wave::NoError) return r;
  if (!paused_.load(std::memory_order_relaxed)) {
    const WaveResult r = StartClock();
    if (r != wave::NoError) return r;  // the header stays queued and comes back with a reset
  }
  return wave::NoError;
}

void QueuedWaveOut::Pause() {
  paused_.store(true, std::memory_order_relaxed);
}

WaveResult QueuedWaveOut::Restart() {
  paused_.store(false, std::memory_order_relaxed);
  RestartWatch();
  return !Closed() && AnyQueued() ? StartClock() : wave::NoError;
}

WaveResult QueuedWaveOut::Health() {
  return CheckHealth(!paused_.load(std::memory_order_relaxed));
}

void QueuedWaveOut::FadeOut(uint32_t frames) {
  if (fadeFrames_.load(std::memory_order_relaxed) != 0) return;  // one fade is enough
  // The silence behind the fade must fill what the device and the server hold, plus a block
  // or two of the clock's own, before the fade has been heard.
  const double seconds = (clock_ != nullptr ? clock_->OutputLatency() : 0.0) + 0.05;
  tailFrames_.store(static_cast<uint64_t>(seconds * format_.samplesPerSec),
                    std::memory_order_relaxed);
  fadeFrames_.store(std::max<uint32_t>(frames, 1), std::memory_order_release);
}

bool QueuedWaveOut::FadedOut() {
  // A clock that does not run plays nothing that could click.
  if (!ClockRunning()) return true;
  return fadedOut_.load(std::memory_order_acquire);
}

void QueuedWaveOut::RenderBlock(uint8_t* out, std::size_t bytes) {
  CountBlock();
  if (paused_.load(std::memory_order_relaxed)) {
    std::memset(out, silence_, bytes);
  } else {
    const std::size_t missing =
        Transfer(bytes, [out](std::size_t pos, WaveHeader& h, std::size_t offset, std::size_t n) {
          std::memcpy(out + pos, h.data + offset, n);
        });
    if (missing > 0) {
      std::memset(out + (bytes - missing), silence_, missing);
      starved_ = true;
    } else if (starved_) {
      // Sound again after a gap: one underrun. Silence after the last buffer is no gap.
      missed_.fetch_add(1, std::memory_order_relaxed);
      starved_ = false;
    }
  }
  if (fading_ || fadeFrames_.load(std::memory_order_acquire) != 0) Fade(out, bytes);
}

void QueuedWaveOut::Fade(uint8_t* out, std::size_t bytes) {
  const uint64_t fadeFrames = fadeFrames_.load(std::memory_order_relaxed);
  const uint64_t tail = tailFrames_.load(std::memory_order_relaxed);
  fading_ = true;
  const std::size_t sampleBytes = format_.bitsPerSample / 8;
  const std::size_t channels = format_.channels;
  const std::size_t frames = bytes / (sampleBytes * channels);
  const double step = 3.14159265358979323846 / static_cast<double>(fadeFrames);
  for (std::size_t f = 0; f < frames; ++f, ++fadePos_) {
    // A raised-cosine fade from full level to nothing, then silence.
    const double gain =
        fadePos_ < fadeFrames ? 0.5 * (1.0 + std::cos(step * static_cast<double>(fadePos_))) : 0.0;
    for (std::size_t c = 0; c < channels; ++c) {
      uint8_t* p = out + (f * channels + c) * sampleBytes;
      if (sampleBytes == 2) {
        int16_t v;
        std::memcpy(&v, p, 2);
        v = static_cast<int16_t>(std::lround(gain * v));
        std::memcpy(p, &v, 2);
      } else {
        *p = static_cast<uint8_t>(128 + std::lround(gain * (static_cast<int>(*p) - 128)));
      }
    }
  }
  if (fadePos_ >= fadeFrames + tail && !fadedOut_.load(std::memory_order_relaxed)) {
    fadedOut_.store(true, std::memory_order_release);
    Signal();
  }
}

// ---- capture ----

QueuedWaveIn::QueuedWaveIn(const PcmFormat& format, int noticeFd, uint32_t blockBytes)
    : QueuedDeviceBase(format, noticeFd, blockBytes) {}

QueuedWaveIn::~QueuedWaveIn() {
  CloseClock();
}

WaveResult QueuedWaveIn::AddBuffer(WaveHeader& header) {
  header.bytesRecorded = 0;
  return QueueHeader(header);
}

WaveResult QueuedWaveIn::Start() {
  return StartClock();
}

void QueuedWaveIn::CaptureBlock(const uint8_t* in, std::size_t bytes) {
  CountBlock();
  const uint8_t silence = silence_;
  const std::size_t dropped = Transfer(
      bytes, [in, silence](std::size_t pos, WaveHeader& h, std::size_t offset, std::size_t n) {
        if (in != nullptr) {
          std::memcpy(h.data + offset, in + pos, n);
        } else {
          std::memset(h.data + offset, silence, n);
        }
        h.bytesRecorded = static_cast<uint32_t>(offset + n);
      });
  if (dropped > 0) missed_.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace kelvane
