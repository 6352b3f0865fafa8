// SPDX-License-Identifier: GPL-3.0-or-later
// The recorder's hand-off: a byte ring allocated at Start, written by the run's owner thread
// and drained by a writer thread that polls it. Only atomics cross between the two.
#include "IqRecorder.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace kelvane {
namespace {

constexpr double kQueueSeconds = 4.0;
constexpr std::size_t kWriteChunk = 256 * 1024;
constexpr auto kPoll = std::chrono::milliseconds(10);

std::string SecondsText(std::uint64_t frames, int rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", rate > 0 ? static_cast<double>(frames) / rate : 0.0);
  return text;
}

}  // namespace

struct IqRecorder::Impl {
  IqFileWriter writer;
  std::vector<std::uint8_t> ring;  // a multiple of 4 bytes, so chunks stay whole frames
  int rate = 0;
  std::thread thread;
  alignas(64) std::atomic<std::uint64_t> head{0};  // bytes taken by the writer
  alignas(64) std::atomic<std::uint64_t> tail{0};  // bytes put by the owner
  std::atomic<bool> accepting{false};              // PushFrames takes frames
  std::atomic<bool> overflow{false};               // the ring was full: stop after draining
  std::atomic<bool> writeFailed{false};
  std::atomic<bool> stopping{false};
  std::atomic<std::uint64_t> framesWritten{0};
  std::atomic<std::uint64_t> bytesWritten{0};
  mutable std::mutex failureLock;  // the writer thread and Failure(); never the owner's push
  std::string failure;
  bool started = false;

  void Run();
  void SetFailure(std::string text) {
    std::lock_guard<std::mutex> hold(failureLock);
    if (failure.empty()) failure = std::move(text);
  }
};

void IqRecorder::Impl::Run() {
  for (;;) {
    const bool last =
        stopping.load(std::memory_order_acquire) || overflow.load(std::memory_order_acquire);
    const std::uint64_t end = tail.load(std::memory_order_acquire);
    std::uint64_t at = head.load(std::memory_order_relaxed);
    while (at < end) {
      const std::size_t offset = static_cast<std::size_t>(at % ring.size());
      const std::size_t n = static_cast<std::size_t>(
          std::min<std::uint64_t>({end - at, ring.size() - offset, kWriteChunk}));
      std::string error;
      if (!writer.Write(ring.data() + offset, n / 4, error)) {
        accepting.store(false, std::memory_order_release);
        writeFailed.store(true, std::memory_order_release);
        const bool full = error.find(std::strerror(ENOSPC)) != std::string::npos;
        SetFailure(
            (full ? "the disk is full; the recording stopped at " : "the recording stopped at ") +
            SecondsText(framesWritten.load(), rate) + ": " + error);
        writer.Abort();
        return;
      }
      at += n;
      head.store(at, std::memory_order_release);
      framesWritten.fetch_add(n / 4, std::memory_order_relaxed);
      bytesWritten.store(writer.BytesWritten(), std::memory_order_relaxed);
    }
    if (last && at == tail.load(std::memory_order_acquire)) break;
    std::this_thread::sleep_for(kPoll);
  }
  if (overflow.load()) {
    SetFailure("the disk could not keep up; the recording stopped at " +
               SecondsText(framesWritten.load(), rate));
  }
  std::string error;
  if (!writer.Commit(error)) {
    writeFailed.store(true);
    SetFailure("the recording could not be completed: " + error);
  }
  bytesWritten.store(writer.BytesWritten(), std::memory_order_relaxed);
}

IqRecorder::IqRecorder() : impl_(std::make_unique<Impl>()) {}

IqRecorder::~IqRecorder() {
  std::string error;
  Stop(error);
}

bool IqRecorder::Start(const std::string& path, IqFormat format, const IqMetadata& meta,
                       std::string& error) {
  Stop(error);
  error.clear();
  Impl& m = *impl_;
  if (meta.sampleRate <= 0) {
    error = "no sampling rate to record at";
    return false;
  }
  if (!m.writer.Open(path, format, meta, -1, error)) return false;
  m.rate = meta.sampleRate;
  const auto frames = static_cast<std::size_t>(kQueueSeconds * meta.sampleRate);
  m.ring.assign(frames * 4, 0);
  m.head = 0;
  m.tail = 0;
  m.overflow = false;
  m.writeFailed = false;
  m.stopping = false;
  m.framesWritten = 0;
  m.bytesWritten = m.writer.BytesWritten();
  {
    std::lock_guard<std::mutex> hold(m.failureLock);
    m.failure.clear();
  }
  m.started = true;
  m.accepting.store(true, std::memory_order_release);
  m.thread = std::thread([&m] { m.Run(); });
  return true;
}

void IqRecorder::PushFrames(const std::uint8_t* frames, std::size_t count) {
  Impl& m = *impl_;
  if (!m.accepting.load(std::memory_order_acquire)) return;
  const std::size_t bytes = count * 4;
  const std::uint64_t t = m.tail.load(std::memory_order_relaxed);
  if (t + bytes - m.head.load(std::memory_order_acquire) > m.ring.size()) {
    // The writer fell behind by the whole queue: stop here rather than wait or leave a gap.
    m.accepting.store(false, std::memory_order_relaxed);
    m.overflow.store(true, std::memory_order_release);
    return;
  }
  const std::size_t offset = static_cast<std::size_t>(t % m.ring.size());
  const std::size_t first = std::min(bytes, m.ring.size() - offset);
  std::memcpy(m.ring.data() + offset, frames, first);
  std::memcpy(m.ring.data(), frames + first, bytes - first);
  m.tail.store(t + bytes, std::memory_order_release);
}

bool IqRecorder::Stop(std::string& error) {
  Impl& m = *impl_;
  if (!m.started) return true;
  m.accepting.store(false, std::memory_order_release);
  m.stopping.store(true, std::memory_order_release);
  if (m.thread.joinable()) m.thread.join();
  m.started = false;
  const std::string why = Failure();
  if (!why.empty()) {
    error = why;
    return false;
  }
  return true;
}

bool IqRecorder::Recording() const {
  return impl_->accepting.load(std::memory_order_acquire);
}

std::uint64_t IqRecorder::FramesRecorded() const {
  return impl_->framesWritten.load(std::memory_order_relaxed);
}

std::uint64_t IqRecorder::BytesWritten() const {
  return impl_->bytesWritten.load(std::memory_order_relaxed);
}

std::string IqRecorder::Failure() const {
  std::lock_guard<std::mutex> hold(impl_->failureLock);
  return impl_->failure;
}

}  // namespace kelvane
