// SPDX-License-Identifier: GPL-3.0-or-later
// Live I/Q for `kelvane-cli analyze`: a stretch of 16-bit stereo from a sound-card input.
#include <poll.h>

#include <chrono>
#include <cmath>
#include <cstring>

#include "AudioIO.h"
#include "DeviceList.h"
#include "PlayShared.h"
#include "audio_commands.h"

namespace kelvane::cli {

bool CaptureIq(const std::string& deviceText, double rate, double skip_s, double seconds,
               receiver::IqRecording& out, std::string& error) {
  const std::vector<std::string> ins = GetWaveInDevices();
  // A number, else a name, as play takes its devices.
  const int device = PickDevice("input", "input-device", deviceText, ins, "", 0, error);
  if (device < 0) {
    error = "--input-device " + deviceText + ": " + error;
    return false;
  }
  const auto skip = static_cast<std::size_t>(std::llround(skip_s * rate));
  const auto want = static_cast<std::size_t>(std::llround(seconds * rate));
  out.rate = static_cast<int>(std::lround(rate));
  out.i.clear();
  out.q.clear();
  out.i.reserve(want);
  out.q.reserve(want);
  std::size_t seen = 0;
  TAudioIn in;
  in.SetFrameRate(out.rate);
  in.SetStereo(true);
  in.SetQuantization(16);
  in.SetBufferSize(16384);
  in.SetWaveDevice(device);
  in.OnBufferFilled = [&](uint8_t* buffer, int& size) {
    for (int k = 0; k + 4 <= size && out.i.size() < want; k += 4, ++seen) {
      if (seen < skip) continue;
      std::int16_t iq[2];
      std::memcpy(iq, buffer + k, 4);
      out.i.push_back(iq[0]);
      out.q.push_back(iq[1]);
    }
    return out.i.size() < want;
  };
  const std::string name = "input device \"" + ins[static_cast<std::size_t>(device)] + "\"";
  if (!in.StartStream()) {
    error =
        "cannot open the " + name + " at " + std::to_string(out.rate) + " Hz: " + in.ErrorText();
    return false;
  }
  // Twice the time asked for (and some seconds) before a silent device is given up.
  const auto deadline =
      std::chrono::steady_clock::now() +
      std::chrono::milliseconds(static_cast<long>(2000 * (skip_s + seconds)) + 5000);
  while (out.i.size() < want) {
    pollfd fd{in.NoticeFd(), POLLIN, 0};
    poll(&fd, 1, 200);
    in.ProcessNotices();
    if (!in.CheckDevice() || std::chrono::steady_clock::now() > deadline) {
      error = "the " + name + " stopped delivering: " +
              (in.ErrorText().empty() ? std::string("no data") : in.ErrorText());
      in.Abort();
      return false;
    }
  }
  in.Abort();
  return true;
}

}  // namespace kelvane::cli
