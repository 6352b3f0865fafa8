// The multipath emulator's delay lines: a delayed, attenuated copy of the unfiltered carrier.
// Both calls read the enable switch themselves, so it acts from the next sub-step on.
#pragma once

#include <atomic>

#include "EngineState.h"

namespace kelvane {

inline void AddToDelay(EngineState& s, const std::atomic<bool>& enabled, int channel, float x) {
  if (!enabled.load(std::memory_order_relaxed)) return;
  auto& line = s.DelayLine[channel];
  for (int i = kDelayLength - 2; i >= 0; --i) line[i + 1] = line[i];
  line[0] = x;
}

inline float Delayed(const EngineState& s, const std::atomic<bool>& enabled, int channel, int delay,
                     float percent) {
  if (!enabled.load(std::memory_order_relaxed)) return 0.0f;
  return s.DelayLine[channel][delay] * percent / 100.0f;
}

}  // namespace kelvane
