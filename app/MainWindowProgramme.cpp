// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's programme values: the "RDS and audio" dialog, the RadioText and the clock
// the engine reads with every block.
#include <algorithm>
#include <cstring>

#include "ClockTime.h"
#include "MainWindow.h"
#include "ProgrammeDialog.h"
#include "RunRules.h"

namespace kelvane {

namespace {
constexpr int kFrameBytes = 4;  // 16-bit I and Q
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
  // bytes long, then the device's own latency.
  const int rate = audioOut1_.FrameRate();
  if (!audioOut1_.DeviceOpen() || rate <= 0) return 0.0;
  const double bufferSeconds = static_cast<double>(audioOut1_.BufferSize() / kFrameBytes) / rate;
  return audioOut1_.InFlight() * bufferSeconds + kDeviceLatencySeconds;
}

void TForm1::ReadClock(ControlSnapshot& out) const {
  out.clockUtc = NowUtc() + QueuedOutputSeconds();
  // The offset in force when the block is heard.
  out.localOffsetHalfHours = LocalOffsetHalfHours(out.clockUtc);
}

}  // namespace kelvane
