// The main window's programme values: the "RDS and audio" dialog, the RadioText and the clock
// the engine reads with every block.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "MainWindow.h"
#include "ProgrammeDialog.h"

namespace kelvane {

namespace {
constexpr int kFrameBytes = 4;  // 16-bit I and Q
constexpr int kMaxOffsetHalfHours = 31;
}  // namespace

void TForm1::Label20Click() {
  Guard([this] {
    if (programmeDialog_ == nullptr) programmeDialog_ = new TFRDS(*this);
    programmeDialog_->show();
    programmeDialog_->raise();
    programmeDialog_->activateWindow();
  });
}

void TForm1::SetRTCodes(std::string codes) {
  if (codes.size() > kRtLength) codes.resize(kRtLength);
  rtCodes_ = std::move(codes);
}

std::size_t TForm1::ReadRTText(char* out, std::size_t capacity) {
  std::memcpy(out, rtCodes_.data(), std::min(rtCodes_.size(), capacity));
  return rtCodes_.size();
}

double TForm1::QueuedOutputSeconds() const {
  // A block is filled when the device gives a buffer back, behind the buffers still queued:
  // InFlight() of them (0 .. 3 during the prefill, 3 of the 4 once running), each BufferSize()
  // bytes long. What the sound server itself holds is not known here and not counted.
  const int rate = audioOut1_.FrameRate();
  if (!audioOut1_.DeviceOpen() || rate <= 0) return 0.0;
  const double bufferSeconds = static_cast<double>(audioOut1_.BufferSize() / kFrameBytes) / rate;
  return audioOut1_.InFlight() * bufferSeconds;
}

void TForm1::ReadClock(ControlSnapshot& out) const {
  using namespace std::chrono;
  const double now = duration<double>(system_clock::now().time_since_epoch()).count();
  out.clockUtc = now + QueuedOutputSeconds();
  // The offset in force when the block is heard; RDS counts it in half hours.
  const auto heard = static_cast<time_t>(std::floor(out.clockUtc));
  tm local{};
  const long offset = localtime_r(&heard, &local) != nullptr ? local.tm_gmtoff : 0;
  out.localOffsetHalfHours =
      std::clamp(static_cast<int>(offset / 1800), -kMaxOffsetHalfHours, kMaxOffsetHalfHours);
}

}  // namespace kelvane
