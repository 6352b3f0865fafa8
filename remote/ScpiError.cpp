// SPDX-License-Identifier: GPL-3.0-or-later
// Error texts and the error queue.
#include "ScpiError.h"

namespace kelvane::remote {

std::string_view ErrorText(int code) {
  switch (code) {
    case kNoError:
      return "No error";
    case kCommandError:
      return "Command error";
    case kInvalidCharacter:
      return "Invalid character";
    case kSyntaxError:
      return "Syntax error";
    case kDataTypeError:
      return "Data type error";
    case kParameterNotAllowed:
      return "Parameter not allowed";
    case kMissingParameter:
      return "Missing parameter";
    case kUndefinedHeader:
      return "Undefined header";
    case kInvalidSuffix:
      return "Invalid suffix";
    case kInvalidStringData:
      return "Invalid string data";
    case kExecutionError:
      return "Execution error";
    case kDataOutOfRange:
      return "Data out of range";
    case kIllegalParameterValue:
      return "Illegal parameter value";
    case kMassStorageError:
      return "Mass storage error";
    case kFileNameNotFound:
      return "File name not found";
    case kQueueOverflow:
      return "Queue overflow";
    case kInputBufferOverrun:
      return "Input buffer overrun";
    case kQueryError:
      return "Query error";
    default:
      return "Error";
  }
}

namespace {

// IEEE 488.2 event status bits: command, execution, device-dependent and query errors.
int EventBit(int code) {
  if (code <= -100 && code > -200) return 32;
  if (code <= -200 && code > -300) return 16;
  if (code <= -300 && code > -400) return 8;
  if (code <= -400 && code > -500) return 4;
  return 0;
}

std::string Entry(int code, std::string_view detail) {
  std::string text = std::to_string(code) + ",\"" + std::string(ErrorText(code));
  if (!detail.empty()) {
    text += ';';
    constexpr std::size_t kMaxDetail = 100;
    for (std::size_t i = 0; i < detail.size() && i < kMaxDetail; ++i) {
      const auto c = static_cast<unsigned char>(detail[i]);
      if (c == '"') {
        text += "\"\"";
      } else {
        text += (c < 0x20 || c >= 0x7F) ? '?' : static_cast<char>(c);
      }
    }
    if (detail.size() > kMaxDetail) text += "...";
  }
  return text + "\"";
}

}  // namespace

void ErrorQueue::Push(int code, std::string_view detail) {
  eventStatus_ |= EventBit(code);
  if (entries_.size() >= kCapacity) return;
  if (entries_.size() == kCapacity - 1) {
    entries_.push_back(Entry(kQueueOverflow, {}));
    return;
  }
  entries_.push_back(Entry(code, detail));
}

std::string ErrorQueue::Pop() {
  if (entries_.empty()) return Entry(kNoError, {});
  std::string e = std::move(entries_.front());
  entries_.pop_front();
  return e;
}

int ErrorQueue::TakeEventStatus() {
  const int s = eventStatus_;
  eventStatus_ = 0;
  return s;
}

}  // namespace kelvane::remote
