// SPDX-License-Identifier: GPL-3.0-or-later
// Waveform-device layer: numbered PCM devices with queued buffers returned as ordered notices.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kelvane {

// Result of a device call: 0 is success, anything else names a failure (see WaveDriver::ErrorText).
using WaveResult = int;

namespace wave {
inline constexpr WaveResult NoError = 0;
inline constexpr WaveResult Error = 1;           // unspecified failure
inline constexpr WaveResult BadDeviceId = 2;     // no device with that number
inline constexpr WaveResult NotEnabled = 3;      // the audio system could not be started
inline constexpr WaveResult Allocated = 4;       // the device is busy
inline constexpr WaveResult InvalidHandle = 5;   // the device is not open
inline constexpr WaveResult NoDriver = 6;        // no audio system
inline constexpr WaveResult NoMem = 7;           // out of memory
inline constexpr WaveResult InvalidParam = 11;   // a bad argument
inline constexpr WaveResult BadFormat = 32;      // the PCM format is not supported
inline constexpr WaveResult StillPlaying = 33;   // buffers are still queued
inline constexpr WaveResult Unprepared = 34;     // the buffer was not prepared
inline constexpr WaveResult QueueFull = 35;      // more buffers queued than the device takes
inline constexpr WaveResult DeviceLost = 36;     // the device or sound server went away
inline constexpr WaveResult DeviceStalled = 37;  // the device stopped taking or giving data

// Text of one of the codes above; unknown codes get a generic text with the number.
std::string GenericErrorText(WaveResult code);
}  // namespace wave

// Header flag bits as the streams use them: a prepared header, and one the device has returned.
inline constexpr uint32_t WhdrDone = 1;
inline constexpr uint32_t WhdrPrepared = 2;
inline constexpr uint32_t WhdrInQueue = 16;

// The packed 18-byte PCM format record handed unchanged to the device open call.
#pragma pack(push, 1)
struct PcmFormat {
  uint16_t formatTag = 1;
  uint16_t channels = 1;
  uint32_t samplesPerSec = 22050;
  uint32_t avgBytesPerSec = 44100;
  uint16_t blockAlign = 2;
  uint16_t bitsPerSample = 16;
  uint16_t extraSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(PcmFormat) == 18);

// One queued buffer's description, filled by the stream and read/updated by the device.
struct WaveHeader {
  uint8_t* data = nullptr;
  uint32_t bufferLength = 0;
  uint32_t bytesRecorded = 0;
  uintptr_t user = 0;
  uint32_t flags = 0;
  uint32_t loops = 0;
  WaveHeader* next = nullptr;
  uintptr_t reserved = 0;
};

// What every open device offers, playback or capture. All calls come from the thread that owns
// the stream. Each queued header comes back exactly once through TakeDone, in the order queued.
class WaveDeviceCommon {
 public:
  virtual ~WaveDeviceCommon() = default;
  virtual WaveResult Prepare(WaveHeader& header) = 0;
  // Stops the device and returns every queued header at once (partly recorded ones included).
  virtual void Reset() = 0;
  virtual void Unprepare(WaveHeader& header) = 0;
  virtual void Close() = 0;
  // Next returned header, or nullptr when none is pending.
  virtual WaveHeader* TakeDone() = 0;
  // NoError while the device works; otherwise why it stopped (sound server gone, stalled).
  virtual WaveResult Health() = 0;
};

// An open playback device.
class WaveOutDevice : public WaveDeviceCommon {
 public:
  virtual WaveResult Write(WaveHeader& header) = 0;
  virtual void Pause() = 0;
  // Resumes playback; the first one after an open starts the device, which can fail.
  virtual WaveResult Restart() = 0;
  // Buffers the device had to replace with silence because none was queued in time (one per
  // gap, however long).
  virtual uint64_t Underruns() const = 0;
  // A stop without a click: from the next moment on the sound fades out over `frames` frames
  // and silence follows. FadedOut() turns true once the fade has left the device, so that a
  // reset then cuts only silence. A device that cannot fade is done at once.
  virtual void FadeOut(uint32_t /*frames*/) {}
  virtual bool FadedOut() { return true; }
};

// An open capture device.
class WaveInDevice : public WaveDeviceCommon {
 public:
  virtual WaveResult AddBuffer(WaveHeader& header) = 0;
  virtual WaveResult Start() = 0;
  // Captured blocks dropped because no free buffer was queued.
  virtual uint64_t Overruns() const = 0;
};

// Device number that selects the system's default device.
inline constexpr unsigned WaveMapper = 0xFFFFFFFFu;

// The audio system: device lists and opening. Devices are numbered from 0 separately for output
// and input. `blockBytes` is the size of one queued buffer: the device moves exactly that much per
// period, so each period maps onto one notice. `noticeFd` is an eventfd the device writes to
// whenever a header comes back (or the device fails); the owner watches it and then calls
// TakeDone on its own thread.
class WaveDriver {
 public:
  virtual ~WaveDriver() = default;
  virtual int OutDeviceCount() = 0;
  virtual int InDeviceCount() = 0;
  // Product name of a device; a failure leaves `name` empty and returns the code.
  virtual WaveResult OutDeviceName(int device, std::string& name) = 0;
  virtual WaveResult InDeviceName(int device, std::string& name) = 0;
  virtual WaveResult OpenOut(std::unique_ptr<WaveOutDevice>& out, unsigned device,
                             const PcmFormat& format, uint32_t blockBytes, int noticeFd) = 0;
  virtual WaveResult OpenIn(std::unique_ptr<WaveInDevice>& out, unsigned device,
                            const PcmFormat& format, uint32_t blockBytes, int noticeFd) = 0;
  virtual std::string ErrorText(WaveResult code) { return wave::GenericErrorText(code); }
  // The channels a device has for capture and for playback (a device may have both), and
  // whether it takes 16-bit frames at `rate` (stereo, or mono when it has one channel) in that
  // direction. A driver that cannot ask says stereo and yes.
  virtual WaveResult DeviceChannels(bool output, int device, int& inChannels, int& outChannels) {
    inChannels = output ? 0 : 2;
    outChannels = output ? 2 : 0;
    return device >= 0 && device < (output ? OutDeviceCount() : InDeviceCount())
               ? wave::NoError
               : wave::BadDeviceId;
  }
  virtual bool RateSupported(bool /*output*/, int /*device*/, uint32_t /*rate*/) { return true; }
};

// The PortAudio driver, created on first use and kept for the process's life so that device
// numbers stay stable.
WaveDriver& DefaultWaveDriver();

}  // namespace kelvane
