// SPDX-License-Identifier: GPL-3.0-or-later
// Playback and capture streams: four queued buffer slots per stream, refilled on device notices.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "WaveDevice.h"

namespace kelvane {

// A buffer's bytes and its size in bytes; true: play or record the buffer again.
using TBufferEvent = std::function<bool(uint8_t* Buffer, int& Size)>;
// A notification with the object that sent it (a receiver, or the stream itself).
using TNotifyEvent = std::function<void(void* Sender)>;

inline constexpr const char* kTextHeaderAlloc = "Error allocating wave header memory";
inline constexpr const char* kTextHeaderLock = "Could not lock header memory for recording";
inline constexpr const char* kTextBufferAlloc = "Error allocating wave buffer memory";
inline constexpr const char* kTextBufferLock = "Error Locking wave buffer memory";
inline constexpr const char* kTextOutOpen = "Wave output device is already open";
inline constexpr const char* kTextNoFilled = "There must be at least one filled buffer";
inline constexpr const char* kTextInOpen = "Wave Input device is already open";
inline constexpr const char* kTextStartRecord = "Error starting wave record: ";
inline constexpr const char* kTextSizeWhileOpen =
    "The buffer size cannot change while the device is open";

struct BufferSlot {
  std::unique_ptr<WaveHeader> headerStorage;
  WaveHeader* header = nullptr;
  std::unique_ptr<uint8_t[]> dataStorage;
  uint8_t* data = nullptr;
};

// Base of both streams: format, buffer slots, counters and the notice wake-up. All methods run on
// the owner's thread; the device's notices reach the owner through NoticeFd() (watch it for
// input, then call ProcessNotices on the same thread).
class TAudioIO {
 public:
  explicit TAudioIO(WaveDriver* driver = nullptr);
  virtual ~TAudioIO();
  TAudioIO(const TAudioIO&) = delete;
  TAudioIO& operator=(const TAudioIO&) = delete;

  // Stop at once: the device gives back its buffers and is closed. Nothing if it is closed.
  virtual void Abort();
  // Stop refilling (playback) or delivering (capture) and let the queue drain.
  virtual void Finish();
  virtual void CloseDevice() = 0;

  int BufferSize() const { return alignedSize_; }
  // Reallocates the buffers, so only while the device is closed: while it is open the write
  // is refused (false, ErrorText says why) and the buffers the device holds stay as they are.
  bool SetBufferSize(int value);
  int RequestedSize() const { return requestedSize_; }
  int NumBuffers() const { return numBuffers_; }
  void SetNumBuffers(int value);
  int FrameRate() const { return static_cast<int>(PcmFormat_.samplesPerSec); }
  void SetFrameRate(int value);
  bool Stereo() const { return PcmFormat_.channels == 2; }
  void SetStereo(bool value);
  uint16_t Quantization() const { return PcmFormat_.bitsPerSample; }
  void SetQuantization(uint16_t value);
  int WaveDevice() const { return waveDevice_; }
  void SetWaveDevice(int value) { waveDevice_ = value; }
  bool Paused() const { return paused_; }

  const kelvane::PcmFormat& PcmFormat() const { return PcmFormat_; }
  const std::string& ErrorText() const { return ErrorText_; }
  bool Streaming() const { return Streaming_; }
  bool KeepGoing() const { return KeepGoing_; }
  bool DeviceOpen() const { return DeviceOpen_; }
  int NextSlot() const { return NextSlot_; }
  int FilledCount() const { return FilledCount_; }
  int InFlight() const { return InFlight_; }
  int DoneCount() const { return DoneCount_; }
  const BufferSlot& Slot(int i) const { return Slots_[static_cast<std::size_t>(i)]; }

  std::string DeviceErrorText(WaveResult code) const;

  // The wake-up descriptor of this stream, valid for the stream's whole life.
  int NoticeFd() const { return noticeFd_; }
  // Delivers every pending notice (opened, done/data, closed) on the calling thread.
  void ProcessNotices();
  // Asks an open device whether it still works. If it has stopped (device removed, sound
  // server gone, no progress for several blocks) the stream is closed, ErrorText names the
  // reason, DeviceFailed() turns true and OnError runs. Returns false in that case.
  bool CheckDevice();
  bool DeviceFailed() const { return deviceFailed_; }

  TNotifyEvent OnStart;
  TNotifyEvent OnStop;
  TNotifyEvent OnError;

 protected:
  void Recalculate();
  bool AllocHeaders();
  void FreeHeaders();
  bool AllocBuffers();
  bool FreeBuffers();
  bool InitHeaders();
  int SlotOf(const WaveHeader* header) const;
  // Owner-side open/close notices, delivered by ProcessNotices before the device's own.
  enum class Notice : uint8_t { Opened, Closed };
  void PostNotice(Notice n);

  // The steps of opening and closing that both directions share. BeginOpen: the checks before
  // the device is opened (`openText` when it is open already). Opened: takes the new device,
  // prepares every used slot and resets the counters; false (device closed) when a prepare
  // fails. ReleaseDevice: unprepares, optionally resets, closes and drops the device.
  bool BeginOpen(const char* openText);
  bool Opened(std::unique_ptr<WaveDeviceCommon> device);
  void ReleaseDevice(bool resetFirst);
  WaveDeviceCommon* Device() const { return device_.get(); }

  // What differs by direction: the receiver's open/close calls, the done/data notice, and the
  // device's gap counter, read before the device is dropped.
  virtual void DeliverNotice(Notice n) = 0;
  virtual void DeviceNotice(WaveHeader* header) = 0;
  virtual void KeepCounters() = 0;

  // Allocation hooks, so that a test can make an allocation fail.
  virtual WaveHeader* NewHeader();
  virtual uint8_t* NewBuffer(std::size_t bytes);

  WaveDriver& driver_;
  int alignedSize_ = 0;
  int requestedSize_ = 8192;
  int numBuffers_ = 4;
  bool paused_ = false;
  alignas(4) kelvane::PcmFormat
      PcmFormat_{};  // aligned so that its fields can be read by reference
  int waveDevice_ = -1;
  std::array<BufferSlot, 4> Slots_{};
  int NextSlot_ = 0;
  bool KeepGoing_ = false;
  std::string ErrorText_;
  bool Streaming_ = false;
  int FilledCount_ = 0;
  int InFlight_ = 0;
  int DoneCount_ = 0;
  bool DeviceOpen_ = false;
  bool deviceFailed_ = false;
  // The size the data buffers were allocated with; the aligned size never exceeds it.
  int allocatedSize_ = 0;
  int allocatedCount_ = 0;

 private:
  bool TakeNotice(Notice& n);
  void DrainWakeups();

  std::unique_ptr<WaveDeviceCommon> device_;
  int noticeFd_ = -1;
  std::array<Notice, 16> notices_{};
  std::size_t noticeHead_ = 0;
  std::size_t noticeCount_ = 0;
};

class TAudioOut;
class TAudioIn;

// The object that receives a playback device's notices on the owner's thread.
class TCallBackWinOut {
 public:
  explicit TCallBackWinOut(TAudioOut& stream) : stream_(stream) {}
  void WomOpen();
  void WomClose();
  void WomDone(WaveHeader* header);

 private:
  TAudioOut& stream_;
};

// The object that receives a capture device's notices on the owner's thread.
class TCallBackWinIn {
 public:
  explicit TCallBackWinIn(TAudioIn& stream) : stream_(stream) {}
  void WimOpen();
  void WimClose();
  void WimData(WaveHeader* header);

 private:
  TAudioIn& stream_;
};

class TAudioOut : public TAudioIO {
 public:
  explicit TAudioOut(WaveDriver* driver = nullptr) : TAudioIO(driver) {}
  ~TAudioOut() override;

  // While streaming, pauses or resumes the device. A device that cannot resume (its start
  // failed) is closed with its error text and DeviceFailed().
  void SetPaused(bool value);
  bool StartStream();
  virtual bool OpenDevice();
  bool Run();
  bool QueueNext();
  virtual bool FillSlot(int index, int size);
  void CloseDevice() override;

  TCallBackWinOut* Receiver() const { return Receiver_.get(); }
  WaveOutDevice* DeviceHandle() const { return static_cast<WaveOutDevice*>(Device()); }
  // Gaps the device had to fill with silence since it was opened.
  uint64_t Underruns() const { return DeviceHandle() ? DeviceHandle()->Underruns() : underruns_; }
  // A stop without a click: the device fades out what it plays now over `ms` milliseconds;
  // FadedOut() is true once that has been heard (or when nothing plays), and Abort then cuts
  // only silence.
  void FadeOut(int ms);
  bool FadedOut() const;

  TBufferEvent OnFillBuffer;

 private:
  friend class TCallBackWinOut;
  void DoneNotice(WaveHeader* header);
  void DeliverNotice(Notice n) override;
  void DeviceNotice(WaveHeader* header) override;
  void KeepCounters() override;

  std::unique_ptr<TCallBackWinOut> Receiver_;
  // Slots whose successful fill is counted in FilledCount but not yet handed to the device.
  std::array<bool, 4> counted_{};
  uint64_t underruns_ = 0;
};

class TAudioIn : public TAudioIO {
 public:
  explicit TAudioIn(WaveDriver* driver = nullptr) : TAudioIO(driver) {}
  ~TAudioIn() override;

  bool StartStream();
  bool OpenDevice();
  bool BeginRecord();
  bool AddNext();
  bool DeliverSlot(uint8_t* buffer, int size);
  void CloseDevice() override;

  TCallBackWinIn* Receiver() const { return Receiver_.get(); }
  WaveInDevice* DeviceHandle() const { return static_cast<WaveInDevice*>(Device()); }
  // Captured blocks the device dropped since it was opened (no free buffer in time).
  uint64_t Overruns() const { return DeviceHandle() ? DeviceHandle()->Overruns() : overruns_; }

  TBufferEvent OnBufferFilled;

 private:
  friend class TCallBackWinIn;
  void DataNotice(WaveHeader* header);
  void DeliverNotice(Notice n) override;
  void DeviceNotice(WaveHeader* header) override;
  void KeepCounters() override;

  std::unique_ptr<TCallBackWinIn> Receiver_;
  uint64_t overruns_ = 0;
};

}  // namespace kelvane
