// Queued playback/capture devices: the clock thread only copies blocks and hands headers back.
#include "WaveQueue.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace kelvane {

namespace {
std::chrono::milliseconds StallLimitFor(const PcmFormat& format, uint32_t blockBytes) {
  const uint32_t bytesPerSecond = std::max<uint32_t>(format.avgBytesPerSec, 1);
  const auto blockMs = static_cast<int64_t>(blockBytes) * 1000 / bytesPerSecond;
  // A live device calls back once per block; three missing blocks (and at least two
  // seconds) mean the device or its server has gone quiet for good.
  return std::chrono::milliseconds(std::max<int64_t>(2000, 3 * blockMs + 1000));
}
}  // namespace

QueuedDeviceBase::QueuedDeviceBase(const PcmFormat& format, int noticeFd)
    : format_(format), noticeFd_(noticeFd) {}

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

void QueuedDeviceBase::ClockFinished() {
  finished_.store(true, std::memory_order_release);
  Signal();
}

void QueuedDeviceBase::ReturnAll() {
  if (current_ != nullptr) {
    done_.Push(current_);
    current_ = nullptr;
    offset_ = 0;
  }
  WaveHeader* header = nullptr;
  while (submitted_.Pop(header)) done_.Push(header);
  Signal();
}

WaveResult QueuedDeviceBase::CheckHealth(BlockClock* clock, bool running) {
  if (finished_.load(std::memory_order_acquire)) return wave::DeviceLost;
  if (!running || clock == nullptr) return wave::NoError;
  if (!clock->Active()) return wave::DeviceLost;
  const auto now = std::chrono::steady_clock::now();
  const uint64_t blocks = blocks_.load(std::memory_order_relaxed);
  if (blocks != lastBlocks_) {
    lastBlocks_ = blocks;
    lastProgress_ = now;
    return wave::NoError;
  }
  return now - lastProgress_ > stallLimit_ ? wave::DeviceStalled : wave::NoError;
}

// ---- playback ----

QueuedWaveOut::QueuedWaveOut(const PcmFormat& format, int noticeFd, uint32_t blockBytes)
    : QueuedDeviceBase(format, noticeFd) {
  silence_ = format.bitsPerSample == 8 ? 0x80 : 0;
  stallLimit_ = StallLimitFor(format, blockBytes);
}

QueuedWaveOut::~QueuedWaveOut() {
  Close();
}

WaveResult QueuedWaveOut::Attach(BlockClockFactory& factory) {
  return factory.Create(clock_, *this);
}

WaveResult QueuedWaveOut::Prepare(WaveHeader& header) {
  if (closed_) return wave::InvalidHandle;
  if (header.data == nullptr && header.bufferLength > 0) return wave::InvalidParam;
  header.flags |= WhdrPrepared;
  return wave::NoError;
}

void QueuedWaveOut::Unprepare(WaveHeader& header) {
  header.flags &= ~WhdrPrepared;
}

WaveResult QueuedWaveOut::StartClock() {
  if (running_ || clock_ == nullptr) return wave::NoError;
  const WaveResult r = clock_->Start();
  if (r != wave::NoError) return r;
  running_ = true;
  lastBlocks_ = blocks_.load(std::memory_order_relaxed);
  lastProgress_ = std::chrono::steady_clock::now();
  return wave::NoError;
}

WaveResult QueuedWaveOut::Write(WaveHeader& header) {
  if (closed_) return wave::InvalidHandle;
  if ((header.flags & WhdrPrepared) == 0) return wave::Unprepared;
  if (finished_.load(std::memory_order_acquire)) return wave::DeviceLost;
  header.flags = (header.flags & ~WhdrDone) | WhdrInQueue;
  if (!submitted_.Push(&header)) {
    header.flags &= ~WhdrInQueue;
    return wave::QueueFull;
  }
  if (!paused_.load(std::memory_order_relaxed)) {
    const WaveResult r = StartClock();
    if (r != wave::NoError) return r;  // the header stays queued and comes back with a reset
  }
  return wave::NoError;
}

void QueuedWaveOut::Pause() {
  paused_.store(true, std::memory_order_relaxed);
}

void QueuedWaveOut::Restart() {
  paused_.store(false, std::memory_order_relaxed);
  if (!closed_ && submitted_.Size() > 0) StartClock();
  lastProgress_ = std::chrono::steady_clock::now();
}

void QueuedWaveOut::Reset() {
  if (clock_ != nullptr && running_) lost_ ? clock_->Abandon() : clock_->Abort();
  running_ = false;
  ReturnAll();
}

void QueuedWaveOut::Close() {
  if (closed_) return;
  if (clock_ != nullptr && running_) lost_ ? clock_->Abandon() : clock_->Abort();
  running_ = false;
  clock_.reset();
  closed_ = true;
}

WaveResult QueuedWaveOut::Health() {
  if (closed_) return wave::NoError;
  const WaveResult r =
      CheckHealth(clock_.get(), running_ && !paused_.load(std::memory_order_relaxed));
  lost_ = lost_ || r != wave::NoError;
  return r;
}

void QueuedWaveOut::RenderBlock(uint8_t* out, std::size_t bytes) {
  blocks_.fetch_add(1, std::memory_order_relaxed);
  if (paused_.load(std::memory_order_relaxed)) {
    std::memset(out, silence_, bytes);
    return;
  }
  bool returned = false;
  std::size_t pos = 0;
  while (pos < bytes) {
    if (current_ == nullptr) {
      if (!submitted_.Pop(current_)) {
        std::memset(out + pos, silence_, bytes - pos);
        missed_.fetch_add(1, std::memory_order_relaxed);
        break;
      }
      offset_ = 0;
    }
    const std::size_t n = std::min<std::size_t>(bytes - pos, current_->bufferLength - offset_);
    std::memcpy(out + pos, current_->data + offset_, n);
    pos += n;
    offset_ += n;
    if (offset_ >= current_->bufferLength) {
      done_.Push(current_);  // cannot fail: both rings hold every queued header at once
      current_ = nullptr;
      returned = true;
    }
  }
  if (returned) Signal();
}

// ---- capture ----

QueuedWaveIn::QueuedWaveIn(const PcmFormat& format, int noticeFd, uint32_t blockBytes)
    : QueuedDeviceBase(format, noticeFd) {
  stallLimit_ = StallLimitFor(format, blockBytes);
}

QueuedWaveIn::~QueuedWaveIn() {
  Close();
}

WaveResult QueuedWaveIn::Attach(BlockClockFactory& factory) {
  return factory.Create(clock_, *this);
}

WaveResult QueuedWaveIn::Prepare(WaveHeader& header) {
  if (closed_) return wave::InvalidHandle;
  if (header.data == nullptr && header.bufferLength > 0) return wave::InvalidParam;
  header.flags |= WhdrPrepared;
  return wave::NoError;
}

void QueuedWaveIn::Unprepare(WaveHeader& header) {
  header.flags &= ~WhdrPrepared;
}

WaveResult QueuedWaveIn::AddBuffer(WaveHeader& header) {
  if (closed_) return wave::InvalidHandle;
  if ((header.flags & WhdrPrepared) == 0) return wave::Unprepared;
  if (finished_.load(std::memory_order_acquire)) return wave::DeviceLost;
  header.flags = (header.flags & ~WhdrDone) | WhdrInQueue;
  header.bytesRecorded = 0;
  if (!submitted_.Push(&header)) {
    header.flags &= ~WhdrInQueue;
    return wave::QueueFull;
  }
  return wave::NoError;
}

WaveResult QueuedWaveIn::Start() {
  if (closed_) return wave::InvalidHandle;
  if (running_ || clock_ == nullptr) return wave::NoError;
  const WaveResult r = clock_->Start();
  if (r != wave::NoError) return r;
  running_ = true;
  lastBlocks_ = blocks_.load(std::memory_order_relaxed);
  lastProgress_ = std::chrono::steady_clock::now();
  return wave::NoError;
}

void QueuedWaveIn::Reset() {
  if (clock_ != nullptr && running_) lost_ ? clock_->Abandon() : clock_->Abort();
  running_ = false;
  ReturnAll();
}

void QueuedWaveIn::Close() {
  if (closed_) return;
  if (clock_ != nullptr && running_) lost_ ? clock_->Abandon() : clock_->Abort();
  running_ = false;
  clock_.reset();
  closed_ = true;
}

WaveResult QueuedWaveIn::Health() {
  if (closed_) return wave::NoError;
  const WaveResult r = CheckHealth(clock_.get(), running_);
  lost_ = lost_ || r != wave::NoError;
  return r;
}

void QueuedWaveIn::CaptureBlock(const uint8_t* in, std::size_t bytes) {
  blocks_.fetch_add(1, std::memory_order_relaxed);
  bool returned = false;
  std::size_t pos = 0;
  while (pos < bytes) {
    if (current_ == nullptr) {
      if (!submitted_.Pop(current_)) {
        missed_.fetch_add(1, std::memory_order_relaxed);
        break;
      }
      offset_ = 0;
    }
    const std::size_t n = std::min<std::size_t>(bytes - pos, current_->bufferLength - offset_);
    if (in != nullptr) {
      std::memcpy(current_->data + offset_, in + pos, n);
    } else {
      std::memset(current_->data + offset_, format_.bitsPerSample == 8 ? 0x80 : 0, n);
    }
    pos += n;
    offset_ += n;
    current_->bytesRecorded = static_cast<uint32_t>(offset_);
    if (offset_ >= current_->bufferLength) {
      done_.Push(current_);
      current_ = nullptr;
      returned = true;
    }
  }
  if (returned) Signal();
}

}  // namespace kelvane
