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
  Streaming_ = false;
  KeepGoing_ = false;
}

void TAudioIO::Finish() {
  KeepGoing_ = false;
}

void TAudioIO::SetBufferSize(int value) {
  requestedSize_ = std::max(value, 512);
  Recalculate();
  FreeBuffers();
  AllocBuffers();
}

void TAudioIO::SetNumBuffers(int value) {
  numBuffers_ = std::clamp(value, 2, 4);
  // Every used slot keeps a buffer: a larger count gets its buffers now rather than at the
  // next size change.
  if (numBuffers_ > allocatedCount_ && !Streaming_) {
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

namespace {
bool BuffersReady(const std::array<BufferSlot, 4>& slots, int count) {
  for (int i = 0; i < count; ++i) {
    const BufferSlot& slot = slots[static_cast<std::size_t>(i)];
    if (slot.header == nullptr || slot.data == nullptr) return false;
  }
  return true;
}
}  // namespace

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
  if (DeviceOpen_) Abort();
}

void TAudioOut::SetPaused(bool value) {
  paused_ = value;
  if (Streaming_ && DeviceHandle_) {
    if (value) {
      DeviceHandle_->Pause();
    } else {
      DeviceHandle_->Restart();
    }
  }
}

bool TAudioOut::StartStream() {
  if (!OpenDevice()) return false;
  return Run();
}

bool TAudioOut::OpenDevice() {
  if (DeviceOpen_) {
    ErrorText_ = kTextOutOpen;
    return false;
  }
  NextSlot_ = 0;
  Receiver_ = std::make_unique<TCallBackWinOut>(*this);
  Recalculate();
  if (!BuffersReady(Slots_, numBuffers_)) {
    if (ErrorText_.empty()) ErrorText_ = kTextBufferAlloc;
    return false;
  }
  deviceFailed_ = false;
  const WaveResult r = driver_.OpenOut(DeviceHandle_, static_cast<unsigned>(waveDevice_),
                                       PcmFormat_, static_cast<uint32_t>(alignedSize_), NoticeFd());
  if (r != wave::NoError || !DeviceHandle_) {
    DeviceHandle_.reset();
    ErrorText_ = DeviceErrorText(r != wave::NoError ? r : wave::Error);
    return false;
  }
  DeviceOpen_ = true;
  PostNotice(Notice::Opened);
  InitHeaders();
  for (int i = 0; i < numBuffers_; ++i) {
    const WaveResult p = DeviceHandle_->Prepare(*Slots_[static_cast<std::size_t>(i)].header);
    if (p != wave::NoError) {
      ErrorText_ = DeviceErrorText(p);
      CloseDevice();
      return false;
    }
  }
  InFlight_ = 0;
  DoneCount_ = 0;
  FilledCount_ = 0;
  counted_.fill(false);
  KeepGoing_ = true;
  Streaming_ = true;
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
  if (paused_ && DeviceHandle_) DeviceHandle_->Pause();
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
  const WaveResult r = DeviceHandle_ ? DeviceHandle_->Write(header) : wave::InvalidHandle;
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
  if (DeviceHandle_) {
    for (int i = 0; i < numBuffers_; ++i) {
      WaveHeader* header = Slots_[static_cast<std::size_t>(i)].header;
      if (header != nullptr) DeviceHandle_->Unprepare(*header);
    }
    DeviceHandle_->Close();
    underruns_ = DeviceHandle_->Underruns();
    // Dropping the device drops the notices it still had: a closed stream ignores them.
    DeviceHandle_.reset();
  }
  const bool wasOpen = DeviceOpen_;
  DeviceOpen_ = false;
  if (wasOpen) PostNotice(Notice::Closed);
}

void TAudioOut::Abort() {
  if (!DeviceOpen_) return;
  Streaming_ = false;
  KeepGoing_ = false;
  if (DeviceHandle_) DeviceHandle_->Reset();
  CloseDevice();
}

void TAudioOut::Finish() {
  if (DeviceOpen_) KeepGoing_ = false;
}

void TAudioOut::ProcessNotices() {
  DrainWakeups();
  for (;;) {
    Notice n;
    while (TakeNotice(n)) {
      if (Receiver_) {
        if (n == Notice::Opened) {
          Receiver_->WomOpen();
        } else {
          Receiver_->WomClose();
        }
      }
    }
    if (!DeviceHandle_) break;
    WaveHeader* header = DeviceHandle_->TakeDone();
    if (header == nullptr) break;
    Receiver_->WomDone(header);
  }
  CheckDevice();
}

bool TAudioOut::CheckDevice() {
  if (!DeviceOpen_ || !DeviceHandle_) return true;
  const WaveResult r = DeviceHandle_->Health();
  if (r == wave::NoError) return true;
  ErrorText_ = DeviceErrorText(r);
  deviceFailed_ = true;
  Abort();
  if (OnError) OnError(this);
  return false;
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
  if (DeviceOpen_) Abort();
}

bool TAudioIn::StartStream() {
  if (!OpenDevice()) return false;
  return BeginRecord();
}

bool TAudioIn::OpenDevice() {
  if (DeviceOpen_) {
    ErrorText_ = kTextInOpen;
    return false;
  }
  NextSlot_ = 0;
  Receiver_ = std::make_unique<TCallBackWinIn>(*this);
  Recalculate();
  if (!BuffersReady(Slots_, numBuffers_)) {
    if (ErrorText_.empty()) ErrorText_ = kTextBufferAlloc;
    return false;
  }
  deviceFailed_ = false;
  const WaveResult r = driver_.OpenIn(DeviceHandle_, static_cast<unsigned>(waveDevice_), PcmFormat_,
                                      static_cast<uint32_t>(alignedSize_), NoticeFd());
  if (r != wave::NoError || !DeviceHandle_) {
    DeviceHandle_.reset();
    ErrorText_ = DeviceErrorText(r != wave::NoError ? r : wave::Error);
    return false;
  }
  DeviceOpen_ = true;
  PostNotice(Notice::Opened);
  InitHeaders();
  for (int i = 0; i < numBuffers_; ++i) {
    const WaveResult p = DeviceHandle_->Prepare(*Slots_[static_cast<std::size_t>(i)].header);
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

bool TAudioIn::BeginRecord() {
  const WaveResult r = DeviceHandle_ ? DeviceHandle_->Start() : wave::InvalidHandle;
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
  const WaveResult r = DeviceHandle_ ? DeviceHandle_->AddBuffer(header) : wave::InvalidHandle;
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
  if (DeviceHandle_) {
    for (int i = 0; i < numBuffers_; ++i) {
      WaveHeader* header = Slots_[static_cast<std::size_t>(i)].header;
      if (header != nullptr) DeviceHandle_->Unprepare(*header);
    }
    DeviceHandle_->Reset();
    DeviceHandle_->Close();
    overruns_ = DeviceHandle_->Overruns();
    DeviceHandle_.reset();
  }
  const bool wasOpen = DeviceOpen_;
  DeviceOpen_ = false;
  if (wasOpen) PostNotice(Notice::Closed);
}

void TAudioIn::Abort() {
  if (!DeviceOpen_) return;
  Streaming_ = false;
  KeepGoing_ = false;
  if (DeviceHandle_) DeviceHandle_->Reset();
  CloseDevice();
}

void TAudioIn::Finish() {
  if (DeviceOpen_) KeepGoing_ = false;
}

void TAudioIn::ProcessNotices() {
  DrainWakeups();
  for (;;) {
    Notice n;
    while (TakeNotice(n)) {
      if (Receiver_) {
        if (n == Notice::Opened) {
          Receiver_->WimOpen();
        } else {
          Receiver_->WimClose();
        }
      }
    }
    if (!DeviceHandle_) break;
    WaveHeader* header = DeviceHandle_->TakeDone();
    if (header == nullptr) break;
    Receiver_->WimData(header);
  }
  CheckDevice();
}

bool TAudioIn::CheckDevice() {
  if (!DeviceOpen_ || !DeviceHandle_) return true;
  const WaveResult r = DeviceHandle_->Health();
  if (r == wave::NoError) return true;
  ErrorText_ = DeviceErrorText(r);
  deviceFailed_ = true;
  Abort();
  if (OnError) OnError(this);
  return false;
}

}  // namespace kelvane
