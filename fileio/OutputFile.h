// SPDX-License-Identifier: GPL-3.0-or-later
// One output file under the rules every recording follows: a regular file (or a new name) is
// written beside its target and renamed over it only when complete; a character device or a
// FIFO is written straight into (it is not ours to replace); a symbolic link is followed and
// stays; "-" is standard output.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kelvane {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // removes the temporary file unless published
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opening a FIFO waits for its reader. Also removes the part files killed runs for the same
  // target left (see RemoveStaleParts). `what` names the content in the refusal of a terminal.
  bool Open(const std::string& path, const char* what, std::string& error);
  bool Write(const void* data, std::size_t bytes, std::string& error);
  // Overwrites bytes already written (a header whose sizes are known only at the end); only
  // for a file that can seek (not Direct()).
  bool WriteAt(std::uint64_t offset, const void* data, std::size_t bytes, std::string& error);
  // Flushes and syncs; the data is complete but not yet under its name.
  bool Finish(std::string& error);
  // Renames the finished file over its target.
  bool Publish(std::string& error);
  void Abort();

  bool IsOpen() const { return file_ != nullptr; }
  // Written straight into a device, a FIFO or standard output: nothing to rename or undo.
  bool Direct() const { return direct_; }
  // The last failed write met a reader that had gone (EPIPE).
  bool ReaderGone() const { return readerGone_; }
  const std::string& TempPath() const { return tempPath_; }
  const std::string& Target() const { return target_; }

 private:
  bool OpenDirect(int fd, std::string& error);
  bool OpenTemporary(const std::string& target, mode_t mode, std::string& error);
  bool Fail(std::string& error);

  std::FILE* file_ = nullptr;
  bool ownsFile_ = false;   // not standard output
  bool flushEach_ = false;  // a pipe reader sees each block as it is made
  std::string path_;        // as given, for messages
  std::string target_;      // the file to rename over, links followed
  std::string tempPath_;
  bool direct_ = false;
  bool readerGone_ = false;
};

// Removes `.NAME.part-XXXXXX` files of a target NAME in its folder that a killed run left:
// only regular files of exactly that pattern, owned by this user and not modified for
// olderThanSeconds, so that a run of the same target going on beside us keeps its file.
void RemoveStaleParts(const std::string& target, int olderThanSeconds = 60);

}  // namespace kelvane
