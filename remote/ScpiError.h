// SPDX-License-Identifier: GPL-3.0-or-later
// The standard SCPI error codes this instrument reports, and the error queue of one client.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace kelvane::remote {

enum ScpiError : int {
  kNoError = 0,
  kCommandError = -100,
  kInvalidCharacter = -101,
  kSyntaxError = -102,
  kDataTypeError = -104,
  kParameterNotAllowed = -108,
  kMissingParameter = -109,
  kUndefinedHeader = -113,
  kInvalidSuffix = -131,
  kInvalidStringData = -151,
  kExecutionError = -200,
  kDataOutOfRange = -222,
  kIllegalParameterValue = -224,
  kMassStorageError = -250,
  kFileNameNotFound = -256,
  kQueueOverflow = -350,
  kInputBufferOverrun = -363,
  kQueryError = -400,
};

// The standard text of a code ("Data out of range").
std::string_view ErrorText(int code);

// First in, first out, at most kCapacity entries; when full, the newest entry becomes
// -350 "Queue overflow" and further errors are dropped, as IEEE 488.2 has it.
class ErrorQueue {
 public:
  static constexpr std::size_t kCapacity = 16;
  // `detail` follows the text after a ';' (cut to 100 characters, quotes doubled, control
  // characters and non-ASCII bytes shown as '?').
  void Push(int code, std::string_view detail = {});
  // `-222,"Data out of range;..."`, or `0,"No error"` when empty; removes the entry.
  std::string Pop();
  std::size_t Count() const { return entries_.size(); }
  void Clear() { entries_.clear(); }
  // The standard event status register bits set by the errors since it was last read.
  int TakeEventStatus();

 private:
  std::deque<std::string> entries_;
  int eventStatus_ = 0;
};

}  // namespace kelvane::remote
