// SPDX-License-Identifier: GPL-3.0-or-later
// The queue of captured input samples (interleaved L, R) between the capture handler and the
// fill routine. Safe for one producer thread and one consumer thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace kelvane {

class InputSampleQueue {
 public:
  static constexpr int InQueueSize = 1152000;
  static constexpr int MaxSamples = InQueueSize - 1;  // equal positions mean empty

  InputSampleQueue();  // allocates once, zeroed

  int SampleCount() const;
  void AddSampleToBuffer(int16_t value);  // dropped when the queue is full
  int16_t ReadSampleFromBuffer();         // empty queue -> 0
  // Appends a stereo frame, or drops both samples when there is no room for both, so left and
  // right never swap.
  void AddFrame(int16_t l, int16_t r);
  // Appends frames of 16-bit little-endian stereo bytes; frames beyond the free room are
  // dropped whole.
  void AddFrames(const uint8_t* bytes, int frames);
  // Takes up to n samples into out; the missing rest (empty queue) is filled with 0.
  // Equivalent to n calls of ReadSampleFromBuffer.
  void ReadSamples(int16_t* out, int n);

  int InReadPos() const { return readPos_.load(std::memory_order_relaxed); }
  int InWritePos() const { return writePos_.load(std::memory_order_relaxed); }
  void SetPositionsForTest(int readPos, int writePos);
  int16_t SlotForTest(int index) const { return samples_[index]; }

 private:
  std::unique_ptr<int16_t[]> samples_;
  std::atomic<int> readPos_{0};
  std::atomic<int> writePos_{0};
};

}  // namespace kelvane
