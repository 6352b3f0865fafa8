// SPDX-License-Identifier: GPL-3.0-or-later
// Ring of captured samples: the capture side appends, the fill routine reads.
#include "InputSampleQueue.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kelvane {

InputSampleQueue::InputSampleQueue() : samples_(new int16_t[InQueueSize]()) {}

namespace {
inline int Count(int readPos, int writePos) {
  const int c = writePos - readPos;
  return c >= 0 ? c : c + InputSampleQueue::InQueueSize;
}
}  // namespace

int InputSampleQueue::SampleCount() const {
  return Count(readPos_.load(std::memory_order_acquire), writePos_.load(std::memory_order_acquire));
}

void InputSampleQueue::AddSampleToBuffer(int16_t value) {
  int w = writePos_.load(std::memory_order_relaxed);
  if (Count(readPos_.load(std::memory_order_acquire), w) >= MaxSamples) return;
  samples_[w] = value;
  if (++w == InQueueSize) w = 0;
  writePos_.store(w, std::memory_order_release);
}

void InputSampleQueue::AddFrame(int16_t l, int16_t r) {
  int w = writePos_.load(std::memory_order_relaxed);
  if (Count(readPos_.load(std::memory_order_acquire), w) > MaxSamples - 2) return;
  samples_[w] = l;
  if (++w == InQueueSize) w = 0;
  samples_[w] = r;
  if (++w == InQueueSize) w = 0;
  writePos_.store(w, std::memory_order_release);
}

void InputSampleQueue::AddFrames(const uint8_t* bytes, int frames) {
  static_assert(std::endian::native == std::endian::little, "capture bytes are little-endian");
  const int w = writePos_.load(std::memory_order_relaxed);
  const int room = (MaxSamples - Count(readPos_.load(std::memory_order_acquire), w)) / 2;
  const int take = 2 * std::clamp(frames, 0, room);
  const int first = std::min(take, InQueueSize - w);
  std::memcpy(&samples_[w], bytes, sizeof(int16_t) * first);
  std::memcpy(&samples_[0], bytes + sizeof(int16_t) * first, sizeof(int16_t) * (take - first));
  const int end = w + take;
  writePos_.store(end >= InQueueSize ? end - InQueueSize : end, std::memory_order_release);
}

int16_t InputSampleQueue::ReadSampleFromBuffer() {
  int r = readPos_.load(std::memory_order_relaxed);
  if (Count(r, writePos_.load(std::memory_order_acquire)) < 1) return 0;
  const int16_t v = samples_[r];
  if (++r == InQueueSize) r = 0;
  readPos_.store(r, std::memory_order_release);
  return v;
}

void InputSampleQueue::ReadSamples(int16_t* out, int n) {
  if (n <= 0) return;
  int r = readPos_.load(std::memory_order_relaxed);
  const int take = std::min(n, Count(r, writePos_.load(std::memory_order_acquire)));
  const int first = std::min(take, InQueueSize - r);
  std::memcpy(out, &samples_[r], sizeof(int16_t) * first);
  std::memcpy(out + first, &samples_[0], sizeof(int16_t) * (take - first));
  r += take;
  if (r >= InQueueSize) r -= InQueueSize;
  readPos_.store(r, std::memory_order_release);
  std::fill(out + take, out + n, int16_t{0});
}

void InputSampleQueue::SetPositionsForTest(int readPos, int writePos) {
  readPos_.store(readPos, std::memory_order_release);
  writePos_.store(writePos, std::memory_order_release);
}

}  // namespace kelvane
