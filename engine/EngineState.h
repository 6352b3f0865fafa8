// SPDX-License-Identifier: GPL-3.0-or-later
// The modulator's persistent state: phases, filter histories, RDS counters, delay lines, meter
// accumulators and the 512-frame captures that carry over from one playback block to the next.
#pragma once

#include <array>
#include <cstdint>
#include <limits>

#include "ChannelTrim.h"
#include "Programme.h"

namespace kelvane {

inline constexpr int SourceSine = 2, SourceInput = 3;

// Single-precision full turn used for every phase wrap.
inline constexpr float kTwoPiF = 6.2831855f;
inline constexpr float kPiF = 3.14159265f;
inline constexpr int kCaptureFrames = 512;
inline constexpr int kMpxAATaps = 18;
inline constexpr int kRFTaps = 76;
inline constexpr int kDelayLength = 21;    // element 0 newest, element 20 oldest
inline constexpr int kRdsCycleBits = 416;  // 4 groups x 4 blocks x 26 bits
inline constexpr int kPmRingSize = 60;

// The RDS group scheduler: what the current block says, the group being sent and where each
// group type stands in its sequence.
struct RdsState {
  // Handed over per chunk from the block's snapshot.
  ProgrammeSettings programme;
  bool stereo = false;
  double chunkClock = std::numeric_limits<double>::quiet_NaN();  // UTC of the chunk's frame 0
  double secondsPerFrame = 0.0;
  int32_t localOffsetHalfHours = 0;

  std::array<uint16_t, 4> words{};  // blocks 1..4 of the group being sent
  int32_t slot = 0;                 // 0..3: PS segment of the run; 4..6: a group after the run
  int32_t psSegment = -1;           // PS segment of the 0A group being sent; -1: another type
  int32_t afPair = 0;               // next AF pair, of a list of afCount codes
  int32_t afCount = 0;
  // RadioText: the text last sent (RDS codes), its length (-1: none yet this run), the A/B flag
  // it went with and its next segment.
  std::array<char, kRtLength> rtText{};
  int32_t rtLength = -1;
  bool rtFlag = false;
  int32_t rtSegment = 0;
  // Minute (since 1970) at the last group start, to find the minute edges.
  int64_t minute = 0;
  bool minuteKnown = false;
};

struct EngineState {
  int32_t SourceMode = 0;  // 0 until streaming first starts, then SourceSine or SourceInput
  bool StopRequested = false;

  float PilotPhase = 0.0f;      // rad, [0, 2pi)
  double CarrierPhase = 0.0;    // rad, (-2pi, 2pi)
  float RDSImpulse = 0.0f;      // -1, 0 or +1
  int32_t PilotCycleCount = 0;  // 0..15
  bool RDSDiffBit = false;
  int32_t RDSBitIndex = 0;  // 0..415
  int32_t RDSInfoWord = 0;
  int32_t RDSCheckWord = 0;
  RdsState Rds;
  std::array<std::array<float, 2>, 3> RDSShapeState{};    // (a1,a2), (b1,b2), (c1,c2)
  std::array<std::array<float, 2>, 2> PilotNotchState{};  // L and R: (s1, s2)
  std::array<float, 2> DCBlockState{};                    // L and R

  std::array<float, kMpxAATaps> MPXAARing{};
  int32_t MPXAAIndex = 0;                                      // next write position
  std::array<std::array<float, kRFTaps>, 2> RFRing{};          // 0 = I, 1 = Q
  int32_t RFIndex = 0;                                         // shared by both rings
  std::array<std::array<float, kDelayLength>, 2> DelayLine{};  // 0 = I, 1 = Q

  // Meter fields.
  float DevMax = 0.0f;
  float DevMin = 0.0f;
  double PmAcc = 0.0;
  int32_t PmSamples = 0;
  std::array<double, kPmRingSize> PmRing{};
  int32_t PmIndex = 0;
  int32_t PmCount = 0;
  // Output samples (I and Q counted apart) saturated to the 16-bit range since the run began.
  std::uint64_t ClippedSamples = 0;
  ChannelTrimState Trim;  // the last untrimmed output frames

  // Oscilloscope captures.
  std::array<float, kCaptureFrames> CapOutI{};
  std::array<float, kCaptureFrames> CapOutQ{};
  std::array<float, kCaptureFrames> CapMpx{};
  std::array<int32_t, kCaptureFrames> CapInL{};
  std::array<int32_t, kCaptureFrames> CapInR{};
};

}  // namespace kelvane
