// SPDX-License-Identifier: GPL-3.0-or-later
// Playback and capture streams on the waveform-device layer.
#include "AudioIO.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <new>

namespace kelvane {

// ---- TAudioIO ----

TAudioIO::TAudioIO(WaveDriver* driver)
    : driver_(driver != nullptr ? *driver : DefaultWaveDriver()) {
  noticeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  numBuffers_ = 4;
  requestedSize_ = 8192;
  Streaming_ = false;
  paused_ = false;
  waveDevice_ = -1;
  ErrorText_.clear();
  PcmFormat_.formatTag = 1;
  PcmFormat_.bitsPerSample = 16;
  PcmFormat_.channels = 1;
  PcmFormat_.samplesPerSec = 22050;
  Recalculate();
  AllocHeaders();
  AllocBuffers();
}

TAudioIO::~TAudioIO() {
  FreeBuffers();
  FreeHeaders();
  if (noticeFd_ >= 0) ::close(noticeFd_);
}

void TAudioIO::Abort() {
  if (!DeviceOpen_) return;
  Streaming_ = false;
  KeepGoing_ = false;
  if (device_) device_->Reset();
  CloseDevice();
}

void TAudioIO::Finish() {
  if (DeviceOpen_) KeepGoing_ = false;
}

bool TAudioIO::SetBufferSize(int value) {
  if (DeviceOpen_) {
    // The device reads and writes these buffers on its own thread until it is closed.
    ErrorText_ = kTextSizeWhileOpen;
    return false;
  }
  requestedSize_ = std::max(value, 512);
  Recalculate();
  FreeBuffers();
  return AllocBuffers();
}

void TAudioIO::SetNumBuffers(int value) {
  numBuffers_ = std::clamp(value, 2, 4);
  // Every used slot keeps a buffer: a larger count gets its buffers now rather than at the
  // next size change.
  if (numBuffers_ > allocatedCount_ && !DeviceOpen_) {
    FreeBuffers();
    AllocBuffers();
  }
}

void TAudioIO::SetFrameRate(int value) {
  PcmFormat_.samplesPerSec = static_cast<uint32_t>(value);
  Recalculate();
}

void TAudioIO::SetStereo(bool value) {
  PcmFormat_.channels = value ? 2 : 1;
  Recalculate();
}

void TAudioIO::SetQuantization(uint16_t value) {
  PcmFormat_.bitsPerSample = value < 8 ? 8 : (value > 8 ? 16 : 8);
  Recalculate();
}

void TAudioIO::Recalculate() {
  PcmFormat_.blockAlign =
      static_cast<uint16_t>((PcmFormat_.bitsPerSample / 8) * PcmFormat_.channels);
  PcmFormat_.avgBytesPerSec = PcmFormat_.blockAlign * PcmFormat_.samplesPerSec;
  alignedSize_ = requestedSize_ - (requestedSize_ % PcmFormat_.blockAlign);
}

WaveHeader* TAudioIO::NewHeader() {
  return new (std::nothrow) WaveHeader{};
}

uint8_t* TAudioIO::NewBuffer(std::size_t bytes) {
  return new (std::nothrow) uint8_t[bytes];
}

bool TAudioIO::AllocHeaders() {
  for (BufferSlot& slot : Slots_) {
    WaveHeader* header = NewHeader();
    if (header == nullptr) {
      FreeHeaders();
      ErrorText_ = kTextHeaderAlloc;
      return false;
    }
    slot.headerStorage.reset(header);
    slot.header = header;
  }
  return true;
}

void TAudioIO::FreeHeaders() {
  for (BufferSlot& slot : Slots_) {
    slot.headerStorage.reset();
    slot.header = nullptr;
  }
}

bool TAudioIO::AllocBuffers() {
  // Allocated with the requested size, which no aligned size of any format exceeds, so a later
  // change of channels or sample width can never make a buffer too small.
  for (int i = 0; i < numBuffers_; ++i) {
    BufferSlot& slot = Slots_[static_cast<std::size_t>(i)];
    uint8_t* data = NewBuffer(static_cast<std::size_t>(requestedSize_));
    if (data == nullptr) {
      FreeBuffers();
      ErrorText_ = kTextBufferAlloc;
      return false;
    }
    slot.dataStorage.reset(data);
    slot.data = data;
    if (slot.header != nullptr) slot.header->data = data;
  }
  allocatedSize_ = requestedSize_;
  allocatedCount_ = numBuffers_;
  return true;
}

bool TAudioIO::FreeBuffers() {
  bool freed = false;
  for (BufferSlot& slot : Slots_) {
    if (slot.dataStorage) {
      slot.dataStorage.reset();
      freed = true;
    }
    slot.data = nullptr;
    if (slot.header != nullptr) slot.header->data = nullptr;
  }
  allocatedSize_ = 0;
  allocatedCount_ = 0;
  return freed;
}

bool TAudioIO::InitHeaders() {
  Recalculate();
  for (int i = 0; i < numBuffers_; ++i) {
    BufferSlot& slot = Slots_[static_cast<std::size_t>(i)];
    if (slot.header == nullptr || slot.data == nullptr) return false;
    *slot.header = WaveHeader{};
    slot.header->data = slot.data;
    slot.header->bufferLength = static_cast<uint32_t>(alignedSize_);
  }
  return true;
}

int TAudioIO::SlotOf(const WaveHeader* header) const {
  for (int i = 0; i < 4; ++i) {
    if (Slots_[static_cast<std::size_t>(i)].header == header) return i;
  }
  return -1;
}

std::string TAudioIO::DeviceErrorText(WaveResult code) const {
  std::string text = driver_.ErrorText(code);
  if (text.size() > 255) text.resize(255);
  return text;
}

void TAudioIO::PostNotice(Notice n) {
  if (noticeCount_ == notices_.size()) {  // keep the newest; the oldest is of no use by now
    noticeHead_ = (noticeHead_ + 1) % notices_.size();
    --noticeCount_;
  }
  notices_[(noticeHead_ + noticeCount_) % notices_.size()] = n;
  ++noticeCount_;
  if (noticeFd_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t w = ::write(noticeFd_, &one, sizeof one);
  }
}

bool TAudioIO::TakeNotice(Notice& n) {
  if (noticeCount_ == 0) return false;
  n = notices_[noticeHead_];
  noticeHead_ = (noticeHead_ + 1) % notices_.size();
  --noticeCount_;
  return true;
}

void TAudioIO::DrainWakeups() {
  if (noticeFd_ < 0) return;
  uint64_t value = 0;
  [[maybe_unused]] const ssize_t r = ::read(noticeFd_, &value, sizeof value);
}

bool TAudioIO::BeginOpen(const char* openText) {
  if (DeviceOpen_) {
    ErrorText_ = openText;
    return false;
  }
  NextSlot_ = 0;
  Recalculate();
  for (int i = 0; i < numBuffers_; ++i) {
    const BufferSlot& slot = Slots_[static_cast<std::size_t>(i)];
    if (slot.header == nullptr || slot.data == nullptr) {
      if (ErrorText_.empty()) ErrorText_ = kTextBufferAlloc;
      return false;
    }
  }
  deviceFailed_ = false;
  return true;
}

bool TAudioIO::Opened(std::unique_ptr<WaveDeviceCommon> device) {
  device_ = std::move(device);
  DeviceOpen_ = true;
  PostNotice(Notice::Opened);
  InitHeaders();
  for (int i = 0; i < numBuffers_; ++i) {
    const WaveResult p = device_->Prepare(*Slots_[static_cast<std::size_t>(i)].header);
    if (p != wave::NoError) {
      ErrorText_ = DeviceErrorText(p);
      CloseDevice();
      return false;
    }
  }
  InFlight_ = 0;
  DoneCount_ = 0;
  FilledCount_ = 0;
  KeepGoing_ = true;
  Streaming_ = true;
  return true;
}

void TAudioIO::ReleaseDevice(bool resetFirst) {
  if (device_) {
    for (int i = 0; i < numBuffers_; ++i) {
      WaveHeader* header = Slots_[static_cast<std::size_t>(i)].header;
      if (header != nullptr) device_->Unprepare(*header);
    }
    if (resetFirst) device_->Reset();
    device_->Close();
    KeepCounters();
    // Dropping the device drops the notices it still had: a closed stream ignores them.
    device_.reset();
  }
  const bool wasOpen = DeviceOpen_;
  DeviceOpen_ = false;
  if (wasOpen) PostNotice(Notice::Closed);
}

void TAudioIO::ProcessNotices() {
  DrainWakeups();
  for (;;) {
    Notice n;
    while (TakeNotice(n)) DeliverNotice(n);
    if (!device_) break;
    WaveHeader* header = device_->TakeDone();
    if (header == nullptr) break;
    DeviceNotice(header);
  }
  CheckDevice();
}

bool TAudioIO::CheckDevice() {
  if (!DeviceOpen_ || !device_) return true;
  const WaveResult r = device_->Health();
  if (r == wave::NoError) return true;
  ErrorText_ = DeviceErrorText(r);
  deviceFailed_ = true;
  Abort();
  if (OnError) OnError(this);
  return false;
}

// ---- TAudioOut ----

void TCallBackWinOut::WomOpen() {
  if (stream_.OnStart) stream_.OnStart(this);
}

void TCallBackWinOut::WomClose() {
  if (stream_.OnStop) stream_.OnStop(this);
}

void TCallBackWinOut::WomDone(WaveHeader* header) {
  stream_.DoneNotice(header);
}

TAudioOut::~TAudioOut() {
  // The device reads straight from our buffers on its own thread: never free them under it.
  Abort();
}

void TAudioOut::SetPaused(bool value) {
  paused_ = value;
  if (!Streaming_ || DeviceHandle() == nullptr) return;
  if (value) {
    DeviceHandle()->Pause();
    return;
  }
  const WaveResult r = DeviceHandle()->Restart();
  if (r != wave::NoError) {
    // Nothing will ever play: say so rather than stream silently.
    ErrorText_ = DeviceErrorText(r);
    deviceFailed_ = true;
    Abort();
  }
}

bool TAudioOut::StartStream() {
  if (!OpenDevice()) return false;
  return Run();
}

bool TAudioOut::OpenDevice() {
  if (!BeginOpen(kTextOutOpen)) return false;
  Receiver_ = std::make_unique<TCallBackWinOut>(*this);
  std::unique_ptr<WaveOutDevice> device;
  const WaveResult r = driver_.OpenOut(device, static_cast<unsigned>(waveDevice_), PcmFormat_,
                                       static_cast<uint32_t>(alignedSize_), NoticeFd());
  if (r != wave::NoError || !device) {
    ErrorText_ = DeviceErrorText(r != wave::NoError ? r : wave::Error);
    return false;
  }
  counted_.fill(false);
  if (!Opened(std::move(device))) return false;
  if (!FillSlot(0, alignedSize_)) {
    CloseDevice();
    ErrorText_ = kTextNoFilled;
    return false;
  }
  for (int i = 1; i < numBuffers_; ++i) FillSlot(i, alignedSize_);
  return true;
}

bool TAudioOut::Run() {
  Streaming_ = true;
  if (paused_ && DeviceHandle()) DeviceHandle()->Pause();
  if (!QueueNext()) {
    CloseDevice();
    return false;
  }
  for (int i = 1; i < numBuffers_; ++i) {
    // A slot whose prefill produced nothing stays out, and so does every slot after it, so
    // that the device keeps returning the slots in index order.
    if (!counted_[static_cast<std::size_t>(NextSlot_)]) break;
    QueueNext();
  }
  return true;
}

bool TAudioOut::QueueNext() {
  const auto slot = static_cast<std::size_t>(NextSlot_);
  WaveHeader& header = *Slots_[slot].header;
  header.flags = WhdrPrepared;
  const WaveResult r = DeviceHandle() ? DeviceHandle()->Write(header) : wave::InvalidHandle;
  if (r != wave::NoError) {
    ErrorText_ = DeviceErrorText(r);
    if (counted_[slot]) {
      // The device never got this buffer: it must not be waited for.
      counted_[slot] = false;
      --FilledCount_;
      InFlight_ = FilledCount_ - DoneCount_;
    }
    Finish();
    return false;
  }
  counted_[slot] = false;
  NextSlot_ = (NextSlot_ + 1) % numBuffers_;
  return true;
}

bool TAudioOut::FillSlot(int index, int size) {
  if (!KeepGoing_) return false;
  BufferSlot& slot = Slots_[static_cast<std::size_t>(index)];
  bool r = false;
  if (OnFillBuffer) {
    int s = size;
    r = OnFillBuffer(slot.data, s);
    // A handler may shorten the buffer, never lengthen it past what was allocated.
    s = std::clamp(s, 0, size);
    slot.header->bufferLength = static_cast<uint32_t>(s);
  }
  if (r) {
    ++FilledCount_;
    counted_[static_cast<std::size_t>(index)] = true;
  }
  InFlight_ = FilledCount_ - DoneCount_;
  return r;
}

void TAudioOut::DoneNotice(WaveHeader*) {
  ++DoneCount_;
  InFlight_ = FilledCount_ - DoneCount_;
  Streaming_ = InFlight_ > 0;
  const bool streaming = Streaming_;
  if (FillSlot(NextSlot_, alignedSize_)) QueueNext();
  if (!streaming) {
    KeepGoing_ = false;
    CloseDevice();
  }
}

void TAudioOut::CloseDevice() {
  Streaming_ = false;
  SetPaused(false);
  ReleaseDevice(false);
}

void TAudioOut::KeepCounters() {
  underruns_ = DeviceHandle()->Underruns();
}

void TAudioOut::DeliverNotice(Notice n) {
  if (!Receiver_) return;
  if (n == Notice::Opened) {
    Receiver_->WomOpen();
  } else {
    Receiver_->WomClose();
  }
}

void TAudioOut::DeviceNotice(WaveHeader* header) {
  Receiver_->WomDone(header);
}

void TAudioOut::FadeOut(int ms) {
  if (DeviceHandle() == nullptr) return;
  const int64_t frames = static_cast<int64_t>(FrameRate()) * std::max(ms, 0) / 1000;
  DeviceHandle()->FadeOut(static_cast<uint32_t>(std::clamp<int64_t>(frames, 1, INT32_MAX)));
}

bool TAudioOut::FadedOut() const {
  return DeviceHandle() == nullptr || DeviceHandle()->FadedOut();
}

// ---- TAudioIn ----

void TCallBackWinIn::WimOpen() {
  if (stream_.OnStart) stream_.OnStart(this);
}

void TCallBackWinIn::WimClose() {
  if (stream_.OnStop) stream_.OnStop(this);
}

void TCallBackWinIn::WimData(WaveHeader* header) {
  stream_.DataNotice(header);
}

TAudioIn::~TAudioIn() {
  Abort();
}

bool TAudioIn::StartStream() {
  if (!OpenDevice()) return false;
  return BeginRecord();
}

bool TAudioIn::OpenDevice() {
  if (!BeginOpen(kTextInOpen)) return false;
  Receiver_ = std::make_unique<TCallBackWinIn>(*this);
  std::unique_ptr<WaveInDevice> device;
  const WaveResult r = driver_.OpenIn(device, static_cast<unsigned>(waveDevice_), PcmFormat_,
                                      static_cast<uint32_t>(alignedSize_), NoticeFd());
  if (r != wave::NoError || !device) {
    ErrorText_ = DeviceErrorText(r != wave::NoError ? r : wave::Error);
    return false;
  }
  return Opened(std::move(device));
}

bool TAudioIn::BeginRecord() {
  const WaveResult r = DeviceHandle() ? DeviceHandle()->Start() : wave::InvalidHandle;
  if (r != wave::NoError) {
    CloseDevice();
    ErrorText_ = std::string(kTextStartRecord) + DeviceErrorText(r);
    return false;
  }
  Streaming_ = true;
  for (int i = 0; i < numBuffers_; ++i) {
    if (!AddNext()) {
      CloseDevice();
      return false;
    }
  }
  return true;
}

bool TAudioIn::AddNext() {
  WaveHeader& header = *Slots_[static_cast<std::size_t>(NextSlot_)].header;
  header.flags = WhdrPrepared;
  const WaveResult r = DeviceHandle() ? DeviceHandle()->AddBuffer(header) : wave::InvalidHandle;
  if (r != wave::NoError) {
    ErrorText_ = DeviceErrorText(r);
    Finish();
    return false;
  }
  NextSlot_ = (NextSlot_ + 1) % numBuffers_;
  ++InFlight_;
  return true;
}

bool TAudioIn::DeliverSlot(uint8_t* buffer, int size) {
  if (!KeepGoing_) return false;
  bool r = true;
  if (OnBufferFilled) {
    int s = size;  // the handler's copy: a change is of no consequence
    r = OnBufferFilled(buffer, s);
  }
  if (r) ++FilledCount_;
  return r;
}

void TAudioIn::DataNotice(WaveHeader* header) {
  ++DoneCount_;
  --InFlight_;
  Streaming_ = InFlight_ > 0;
  const bool streaming = Streaming_;
  // The notice names the buffer that was recorded; deliver that one.
  int slot = SlotOf(header);
  if (slot < 0) slot = NextSlot_;
  if (DeliverSlot(Slots_[static_cast<std::size_t>(slot)].data, alignedSize_)) AddNext();
  if (!streaming) {
    KeepGoing_ = false;
    CloseDevice();
  }
}

void TAudioIn::CloseDevice() {
  Streaming_ = false;
  ReleaseDevice(true);
}

void TAudioIn::KeepCounters() {
  overruns_ = DeviceHandle()->Overruns();
}

void TAudioIn::DeliverNotice(Notice n) {
  if (!Receiver_) return;
  if (n == Notice::Opened) {
    Receiver_->WimOpen();
  } else {
    Receiver_->WimClose();
  }
}

void TAudioIn::DeviceNotice(WaveHeader* header) {
  Receiver_->WimData(header);
}

}  // namespace kelvane
