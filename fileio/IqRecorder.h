// SPDX-License-Identifier: GPL-3.0-or-later
// Recording what a live run sends: the owner thread hands over each output block (FrameSink)
// into a bounded lock-free queue; a writer thread drains it into an IqFileWriter. The run never
// waits for the disk: a queue that fills (the disk cannot keep up) or a failed write (a full
// disk) stops the recording with a message, and the transmission goes on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "FramePorts.h"
#include "IqFileWriter.h"

namespace kelvane {

class IqRecorder final : public FrameSink {
 public:
  IqRecorder();
  ~IqRecorder() override;  // stops and commits what was recorded
  IqRecorder(const IqRecorder&) = delete;
  IqRecorder& operator=(const IqRecorder&) = delete;

  bool Start(const std::string& path, IqFormat format, const IqMetadata& meta, std::string& error);
  // Drains the queue, commits the files; false with the reason when the recording failed.
  bool Stop(std::string& error);
  bool Recording() const;  // started, and not stopped by a failure

  void PushFrames(const std::uint8_t* frames, std::size_t count) override;

  std::uint64_t FramesRecorded() const;  // written to the file
  std::uint64_t BytesWritten() const;
  // Why the recording stopped by itself (disk full, queue overflow), or empty.
  std::string Failure() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kelvane
