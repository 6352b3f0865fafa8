// SPDX-License-Identifier: GPL-3.0-or-later
// The output's last step for every device: an inter-channel delay in whole frames and the
// I/Q channel swap, on finished 16-bit frames.
#pragma once

#include <array>
#include <cstdint>

namespace kelvane {

inline constexpr int kMaxChannelDelay = 8;

// The frames before the current chunk, untrimmed, oldest first; kept whatever the switches say
// so that a delay switched on while running takes real history, not zeros.
struct ChannelTrimState {
  std::array<int16_t, kMaxChannelDelay> i{};
  std::array<int16_t, kMaxChannelDelay> q{};
};

// `delay` > 0 delays Q by that many frames against I, < 0 delays I; `swap` then puts Q on the
// left. With delay 0 and no swap the frames are left exactly as they are.
void TrimChannels(ChannelTrimState& state, int delay, bool swap, uint8_t* frames, int n);

}  // namespace kelvane
