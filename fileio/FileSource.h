// SPDX-License-Identifier: GPL-3.0-or-later
// The audio-file modulation source of a live run: a reader thread decodes and resamples the file
// ahead into a bounded lock-free ring; the run's owner thread takes frames from it once per
// output block without waiting (FrameSource). A file that ends either loops or leaves silence.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "FramePorts.h"

namespace kelvane {

class FileSource final : public FrameSource {
 public:
  FileSource();
  ~FileSource() override;  // stops the reader thread
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  // Opens the file for `targetRate` and fills the ring before returning (so the first block
  // has signal); false with a one-line reason, and the source stays as it was. Open, Close and
  // PullFrames come from one thread (the run's owner); the ring holds two seconds.
  bool Open(const std::string& path, int targetRate, bool loop, std::string& error);
  void Close();
  bool IsOpen() const;

  std::size_t PullFrames(std::uint8_t* out, std::size_t frames) override;

  // Frames asked for that the reader had not decoded in time (silence was sent instead).
  std::uint64_t Shortfalls() const;
  // True once a file that does not loop has been sent to its end.
  bool Ended() const;
  // A decode error after the open (the rest is silence), or empty.
  std::string Error() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kelvane
