// SPDX-License-Identifier: GPL-3.0-or-later
// The information words of the RDS groups the engine sends: 0A (basic tuning: flags, PS,
// AF method A), 2A (RadioText) and 4A (clock time and date). Block 1 (PI) is the caller's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Programme.h"

namespace kelvane {

inline constexpr int kRdsFillerCode = 205;
inline constexpr int kAfCountBase = 224;  // "N AFs follow" is 224 + N
inline constexpr std::uint8_t kRtEndCode = 0x0D;

// Blocks 2, 3 and 4 of a group.
struct RdsGroupWords {
  std::uint16_t b = 0, c = 0, d = 0;
};

// Block 2 bits common to every version-A group: type code, B0 = 0, TP and PTY.
std::uint16_t Block2Common(int groupType, const ProgrammeSettings& p);

// Block 2 of 0A segment 0..3: TA, MS, the decoder-identification bit of the segment (only d0,
// the stereo flag, is ever set) and the segment address.
std::uint16_t Block2Of0A(const ProgrammeSettings& p, bool stereo, int segment);

// AF method A: the list [224 + N, AF1 .. AFN] sent two codes per group, the last pair padded
// with the filler. Number of pairs (0 for an empty list) and the block-3 word of pair k; an
// empty list sends the filler twice.
int AfPairCount(int afCount);
std::uint16_t AfBlock3(const ProgrammeSettings& p, int pair);

// Segments of a RadioText of `length` characters (1..64): with the end code appended when the
// text is shorter than 64, four characters per segment.
int RtSegmentCount(std::size_t length);
// Group 2A, segment `segment` of `text` (RDS codes): the end code after a short text, spaces
// after that to the end of the segment.
RdsGroupWords Group2A(const ProgrammeSettings& p, bool abFlag, const char* text, std::size_t length,
                      int segment);

// Modified Julian Day of a day counted from 1970-01-01 (day 0 = MJD 40587).
inline constexpr std::int64_t kMjdOf1970 = 40587;
// Group 4A for the UTC minute `minute` (minutes since 1970-01-01 00:00 UTC) and a local time
// offset in half hours (negative west of Greenwich).
RdsGroupWords Group4A(const ProgrammeSettings& p, std::int64_t minute, int offsetHalfHours);

}  // namespace kelvane
