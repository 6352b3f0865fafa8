// SPDX-License-Identifier: GPL-3.0-or-later
// The broadcast programme settings beyond the basic modulator: audio pre-emphasis and band
// limit, and the RDS items past PI and PS. Every first-run value reproduces the plain signal
// (no emphasis, no low-pass, the four 0A groups with TP 1, PTY 0, TA 0, MS 1, DI 0).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kelvane {

inline constexpr int kMaxAfCount = 25;
inline constexpr std::size_t kRtLength = 64;
inline constexpr int kAfFirstCode = 1;   // 87.6 MHz
inline constexpr int kAfLastCode = 204;  // 107.9 MHz

enum PreEmphasisMode : int { EmphasisOff = 0, Emphasis50us = 1, Emphasis75us = 2 };
enum RdsDiMode : int { DiOff = 0, DiStereo = 1, DiFollowsStereo = 2 };

// What the engine reads once per block (fixed size: no allocation on the audio path). RT goes
// through ControlSource::ReadRTText like the PS.
struct ProgrammeSettings {
  int preEmphasis = EmphasisOff;  // PreEmphasisMode
  bool audioLowPass = false;      // 15 kHz low-pass on the sound-card source
  int pty = 0;                    // 0..31
  bool tp = true;
  bool ta = false;
  bool ms = true;  // music
  int di = DiOff;  // RdsDiMode
  bool ct = false;
  std::array<std::uint8_t, kMaxAfCount> af{};  // AF codes 1..204 (87.6 + 0.1 (code - 1) MHz)
  int afCount = 0;
  // Every output: Q delayed against I by this many frames (-8 .. 8), and I/Q swapped.
  int channelDelay = 0;
  bool iqSwap = false;
  bool operator==(const ProgrammeSettings&) const = default;
};

// The AF code of a frequency in units of 100 kHz (876 .. 1079), or -1 outside the band.
inline int AfCodeForTenthsMHz(int tenths) {
  return tenths >= 876 && tenths <= 1079 ? tenths - 875 : -1;
}

}  // namespace kelvane
