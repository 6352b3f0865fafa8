// SPDX-License-Identifier: GPL-3.0-or-later
// Ports through which a run takes its modulation from something other than the capture device
// (an audio file) and hands what it sends to a recorder. Both are called on the run's owner
// thread once per output block and must neither block nor allocate.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvane {

class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // Fills `frames` 16-bit little-endian stereo frames; what it cannot give (not decoded in time,
  // the end of a file that does not loop) is silence. Returns the frames that carried signal.
  virtual std::size_t PullFrames(std::uint8_t* out, std::size_t frames) = 0;
};

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // `count` 16-bit little-endian I/Q frames exactly as they were handed to the output.
  virtual void PushFrames(const std::uint8_t* frames, std::size_t count) = 0;
};

}  // namespace kelvane
