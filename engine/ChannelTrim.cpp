// SPDX-License-Identifier: GPL-3.0-or-later
// Inter-channel delay and I/Q swap on finished little-endian 16-bit frames.
#include "ChannelTrim.h"

#include <algorithm>
#include <cstring>

namespace kelvane {

void TrimChannels(ChannelTrimState& state, int delay, bool swap, uint8_t* frames, int n) {
  constexpr int H = kMaxChannelDelay;
  delay = std::clamp(delay, -H, H);
  const int dI = delay < 0 ? -delay : 0;
  const int dQ = delay > 0 ? delay : 0;
  for (int first = 0; first < n; first += 256) {
    const int m = std::min(256, n - first);
    uint8_t* out = frames + 4 * static_cast<std::size_t>(first);
    // History then this piece, per channel, so that a delayed sample is one index back.
    int16_t i[H + 256];
    int16_t q[H + 256];
    std::copy(state.i.begin(), state.i.end(), i);
    std::copy(state.q.begin(), state.q.end(), q);
    for (int k = 0; k < m; ++k) {
      std::memcpy(&i[H + k], out + 4 * k, 2);
      std::memcpy(&q[H + k], out + 4 * k + 2, 2);
    }
    std::copy(i + m, i + m + H, state.i.begin());
    std::copy(q + m, q + m + H, state.q.begin());
    if (delay == 0 && !swap) continue;
    const int left = swap ? 2 : 0;
    for (int k = 0; k < m; ++k) {
      std::memcpy(out + 4 * k + left, &i[H + k - dI], 2);
      std::memcpy(out + 4 * k + (2 - left), &q[H + k - dQ], 2);
    }
  }
}

}  // namespace kelvane
