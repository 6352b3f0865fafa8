// SPDX-License-Identifier: GPL-3.0-or-later
// The reader thread and the single-producer single-consumer ring between it and the run.
#include "FileSource.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "AudioFileReader.h"

namespace kelvane {
namespace {

// The ring holds two seconds: more than the longest output block (1 s rounded up to a power
// of two, 1.37 s at 192000 Hz), so a whole block is always ready when the reader keeps up.
constexpr int kRingSeconds = 2;
constexpr std::size_t kReadFrames = 4096;  // the reader's step
constexpr auto kReaderNap = std::chrono::milliseconds(5);

static_assert(std::endian::native == std::endian::little,
              "the ring's 16-bit samples are handed out as little-endian bytes");

}  // namespace

struct FileSource::Impl {
  ~Impl() { Stop(); }

  void Stop() {
    stop.store(true, std::memory_order_relaxed);
    if (thread.joinable()) thread.join();
  }

  std::size_t Free() const {
    return ring.size() / 2 - static_cast<std::size_t>(head.load(std::memory_order_relaxed) -
                                                      tail.load(std::memory_order_acquire));
  }

  // Decodes into the ring's free space up to its end (one contiguous stretch); false when the
  // file has given everything (or failed), after which `finished` is set.
  bool ReadStep(std::size_t most) {
    const std::size_t capacity = ring.size() / 2;
    const std::uint64_t h = head.load(std::memory_order_relaxed);
    const std::size_t at = static_cast<std::size_t>(h % capacity);
    const std::size_t want = std::min({most, Free(), capacity - at});
    if (want == 0) return true;
    const std::size_t got = reader.Read(ring.data() + 2 * at, want);
    head.store(h + got, std::memory_order_release);
    if (got > 0) return true;
    if (reader.Failed()) error = reader.Error();
    finished.store(true, std::memory_order_release);
    return false;
  }

  void Run() {
    while (!stop.load(std::memory_order_relaxed)) {
      if (Free() < kReadFrames) {
        std::this_thread::sleep_for(kReaderNap);
        continue;
      }
      if (!ReadStep(kReadFrames)) return;
    }
  }

  AudioFileReader reader;
  std::vector<std::int16_t> ring;  // interleaved L, R
  // Frames written and taken since the open; only the reader moves head, only the run tail.
  std::atomic<std::uint64_t> head{0};
  std::atomic<std::uint64_t> tail{0};
  std::atomic<bool> finished{false};  // the reader has put the file's last frame in the ring
  std::atomic<bool> stop{false};
  std::string error;  // written before `finished` is set, read after it is seen
  std::atomic<std::uint64_t> shortfalls{0};
  std::atomic<bool> ended{false};
  std::thread thread;
};

FileSource::FileSource() = default;

FileSource::~FileSource() {
  Close();
}

bool FileSource::Open(const std::string& path, int targetRate, bool loop, std::string& error) {
  auto d = std::make_unique<Impl>();
  d->reader.SetLoop(loop);
  if (!d->reader.Open(path, targetRate, error)) return false;
  d->ring.assign(static_cast<std::size_t>(targetRate) * kRingSeconds * 2, 0);
  // Filled here, so the first block has the file's start.
  while (d->Free() > 0 && d->ReadStep(d->ring.size() / 2)) {
  }
  if (d->finished.load() && !d->error.empty()) {
    error = d->error;
    return false;
  }
  Close();
  impl_ = std::move(d);
  if (!impl_->finished.load()) impl_->thread = std::thread([d = impl_.get()] { d->Run(); });
  return true;
}

void FileSource::Close() {
  impl_.reset();
}

bool FileSource::IsOpen() const {
  return impl_ != nullptr;
}

std::size_t FileSource::PullFrames(std::uint8_t* out, std::size_t frames) {
  if (!impl_) {
    std::memset(out, 0, frames * 4);
    return 0;
  }
  Impl& d = *impl_;
  const bool finished = d.finished.load(std::memory_order_acquire);
  const std::uint64_t t = d.tail.load(std::memory_order_relaxed);
  const auto ready = static_cast<std::size_t>(d.head.load(std::memory_order_acquire) - t);
  const std::size_t n = std::min(ready, frames);
  const std::size_t capacity = d.ring.size() / 2;
  const std::size_t at = static_cast<std::size_t>(t % capacity);
  const std::size_t first = std::min(n, capacity - at);
  std::memcpy(out, d.ring.data() + 2 * at, first * 4);
  std::memcpy(out + first * 4, d.ring.data(), (n - first) * 4);
  std::memset(out + n * 4, 0, (frames - n) * 4);
  d.tail.store(t + n, std::memory_order_release);
  if (n < frames) {
    // `finished` was read before the head: when set, the head seen was the last one.
    if (finished) {
      d.ended.store(true, std::memory_order_relaxed);
    } else {
      d.shortfalls.fetch_add(frames - n, std::memory_order_relaxed);
    }
  }
  return n;
}

std::uint64_t FileSource::Shortfalls() const {
  return impl_ ? impl_->shortfalls.load(std::memory_order_relaxed) : 0;
}

bool FileSource::Ended() const {
  return impl_ && impl_->ended.load(std::memory_order_relaxed);
}

std::string FileSource::Error() const {
  if (!impl_ || !impl_->finished.load(std::memory_order_acquire)) return {};
  return impl_->error;
}

}  // namespace kelvane
