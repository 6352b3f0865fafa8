// SPDX-License-Identifier: GPL-3.0-or-later
// Texts of the waveform-device failure codes.
#include "WaveDevice.h"

namespace kelvane::wave {

std::string GenericErrorText(WaveResult code) {
  switch (code) {
    case NoError:
      return "The command completed successfully.";
    case Error:
      return "An unspecified error occurred in the audio device.";
    case BadDeviceId:
      return "The audio device number is out of range: the device is not present.";
    case NotEnabled:
      return "The audio system could not be started.";
    case Allocated:
      return "The audio device is already in use by another program.";
    case InvalidHandle:
      return "The audio device is not open.";
    case NoDriver:
      return "No audio system is available.";
    case NoMem:
      return "Not enough memory for the audio device.";
    case InvalidParam:
      return "An invalid parameter was passed to the audio device.";
    case BadFormat:
      return "The audio device does not support this sample format.";
    case StillPlaying:
      return "Buffers are still queued on the audio device.";
    case Unprepared:
      return "The audio buffer was not prepared.";
    case QueueFull:
      return "The audio device cannot queue more buffers.";
    case DeviceLost:
      return "The audio device stopped: the device or the sound server went away.";
    case DeviceStalled:
      return "The audio device stopped responding.";
    default:
      return "Audio device error " + std::to_string(code) + ".";
  }
}

}  // namespace kelvane::wave
