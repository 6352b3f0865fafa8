// SPDX-License-Identifier: GPL-3.0-or-later
// Group content: bit layouts of blocks 2 to 4 of the 0A, 2A and 4A groups.
#include "RdsGroups.h"

#include <cstdlib>

namespace kelvane {

namespace {
std::uint16_t Pair(int hi, int lo) {
  return static_cast<std::uint16_t>((hi & 0xFF) << 8 | (lo & 0xFF));
}
}  // namespace

std::uint16_t Block2Common(int groupType, const ProgrammeSettings& p) {
  return static_cast<std::uint16_t>((groupType & 0xF) << 12 | (p.tp ? 1 : 0) << 10 |
                                    (p.pty & 0x1F) << 5);
}

std::uint16_t Block2Of0A(const ProgrammeSettings& p, bool stereo, int segment) {
  // Segment 3 carries d0, the stereo flag; d3..d1 (dummy head, compression, dynamic PTY) stay 0.
  const bool d0 = p.di == DiStereo || (p.di == DiFollowsStereo && stereo);
  const bool diBit = segment == 3 && d0;
  return static_cast<std::uint16_t>(Block2Common(0, p) | (p.ta ? 1 : 0) << 4 | (p.ms ? 1 : 0) << 3 |
                                    (diBit ? 1 : 0) << 2 | (segment & 3));
}

namespace {
int ClampAfCount(int afCount) {
  return afCount < 0 ? 0 : (afCount > kMaxAfCount ? kMaxAfCount : afCount);
}
}  // namespace

int AfPairCount(int afCount) {
  const int n = ClampAfCount(afCount);
  return n == 0 ? 0 : (n + 2) / 2;  // the count code and N codes, rounded up
}

std::uint16_t AfBlock3(const ProgrammeSettings& p, int pair) {
  const int n = ClampAfCount(p.afCount);
  if (n == 0) return Pair(kRdsFillerCode, kRdsFillerCode);
  // Position 0 of the list is the count code, position i >= 1 is AF i.
  const auto code = [&](int i) {
    if (i == 0) return kAfCountBase + n;
    return i <= n ? static_cast<int>(p.af[static_cast<std::size_t>(i - 1)]) : kRdsFillerCode;
  };
  return Pair(code(2 * pair), code(2 * pair + 1));
}

int RtSegmentCount(std::size_t length) {
  if (length >= kRtLength) return static_cast<int>(kRtLength / 4);
  return static_cast<int>((length + 1 + 3) / 4);
}

RdsGroupWords Group2A(const ProgrammeSettings& p, bool abFlag, const char* text, std::size_t length,
                      int segment) {
  const auto at = [&](std::size_t i) -> int {
    if (i < length) return static_cast<unsigned char>(text[i]);
    return i == length ? kRtEndCode : ' ';
  };
  const auto first = static_cast<std::size_t>(4 * segment);
  RdsGroupWords w;
  w.b = static_cast<std::uint16_t>(Block2Common(2, p) | (abFlag ? 1 : 0) << 4 | (segment & 0xF));
  w.c = Pair(at(first), at(first + 1));
  w.d = Pair(at(first + 2), at(first + 3));
  return w;
}

RdsGroupWords Group4A(const ProgrammeSettings& p, std::int64_t minute, int offsetHalfHours) {
  // Floor division: minutes before 1970 still land on the right day.
  std::int64_t day = minute / 1440;
  if (minute % 1440 < 0) --day;
  const std::int64_t ofDay = minute - day * 1440;
  const std::int64_t mjd = kMjdOf1970 + day;
  const int hour = static_cast<int>(ofDay / 60);
  const int min = static_cast<int>(ofDay % 60);
  const int offset = std::abs(offsetHalfHours) & 0x1F;
  RdsGroupWords w;
  w.b = static_cast<std::uint16_t>(Block2Common(4, p) | ((mjd >> 15) & 3));
  w.c = static_cast<std::uint16_t>((mjd & 0x7FFF) << 1 | (hour >> 4 & 1));
  w.d = static_cast<std::uint16_t>((hour & 0xF) << 12 | min << 6 |
                                   (offsetHalfHours < 0 ? 1 : 0) << 5 | offset);
  return w;
}

}  // namespace kelvane
