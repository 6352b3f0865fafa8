// SPDX-License-Identifier: GPL-3.0-or-later
// The group scheduler, checkwords and the differential bit encoder.
#include "Rds.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace kelvane {

const std::array<uint16_t, 16> RDSCheckMatrix = {0x077, 0x2E7, 0x3AF, 0x30B, 0x359, 0x370,
                                                 0x1B8, 0x0DC, 0x06E, 0x037, 0x2C7, 0x3BF,
                                                 0x303, 0x35D, 0x372, 0x1B9};
const std::array<uint16_t, 4> RDSOffsetWord = {0x0FC, 0x198, 0x168, 0x1B4};

namespace {
constexpr int kBitsPerBlock = 26;
constexpr int kBitsPerGroup = 4 * kBitsPerBlock;
constexpr std::size_t kTextCapacity = 64;
}  // namespace

int RDSChecksum(int infoWord) {
  int r = 0;
  for (int i = 0; i < 16; ++i) {
    if ((infoWord >> (15 - i)) & 1) r ^= RDSCheckMatrix[i];
  }
  return r;
}

int ParsePIText(std::string_view text) {
  if (text.empty()) return 0xFFFF;
  unsigned value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (ec != std::errc() || end != text.data() + text.size()) return 0xFFFF;
  // Only the low 16 bits are ever sent.
  return static_cast<int>(value & 0xFFFFu);
}

int PSWord(std::string_view psText, int group) {
  unsigned char ps[8];
  std::memset(ps, ' ', sizeof ps);
  std::memcpy(ps, psText.data(), psText.size() < 8 ? psText.size() : 8);
  return ps[2 * group] * 256 + ps[2 * group + 1];
}

void SetRdsChunk(EngineState& s, const ControlSnapshot& snap, int frameRate, int firstFrame) {
  RdsState& r = s.Rds;
  r.programme = snap.programme;
  r.stereo = snap.stereo;
  r.secondsPerFrame = frameRate > 0 ? 1.0 / frameRate : 0.0;
  r.chunkClock = snap.clockUtc + firstFrame * r.secondsPerFrame;
  r.localOffsetHalfHours = snap.localOffsetHalfHours;
}

void ResetRdsRun(EngineState& s) {
  RdsState& r = s.Rds;
  r.rtLength = -1;
  r.rtFlag = false;
  r.rtSegment = 0;
  r.minuteKnown = false;
}

namespace {

// True at the first group start in a new minute (never at the first one with a clock). Tracks
// the minute whether or not the clock time is on, so switching it on waits for the next edge.
bool MinuteEdge(RdsState& r, double utc) {
  if (!std::isfinite(utc) || std::abs(utc) > 1e15) {
    r.minuteKnown = false;
    return false;
  }
  const auto minute = static_cast<std::int64_t>(std::floor(utc / 60.0));
  const bool edge = r.minuteKnown && minute != r.minute;
  r.minute = minute;
  r.minuteKnown = true;
  return edge;
}

// The next RadioText segment into blocks 2..4; false when the text is empty. A text that
// differs from the one last sent toggles the A/B flag and starts again at segment 0.
bool NextRtGroup(RdsState& r, ControlSource& controls) {
  char text[kRtLength];
  std::size_t len = controls.ReadRTText(text, sizeof text);
  if (len > kRtLength) len = kRtLength;
  if (len == 0) return false;
  const bool same =
      r.rtLength == static_cast<int>(len) && std::memcmp(text, r.rtText.data(), len) == 0;
  if (!same) {
    if (r.rtLength >= 0) r.rtFlag = !r.rtFlag;
    std::memcpy(r.rtText.data(), text, len);
    r.rtLength = static_cast<int>(len);
    r.rtSegment = 0;
  }
  const RdsGroupWords w = Group2A(r.programme, r.rtFlag, r.rtText.data(), len, r.rtSegment);
  r.words[1] = w.b;
  r.words[2] = w.c;
  r.words[3] = w.d;
  r.rtSegment = (r.rtSegment + 1) % RtSegmentCount(len);
  return true;
}

// Blocks 2 and 3 of 0A segment `segment`; the PS pair of block 4 is read when that block starts.
void Next0AGroup(RdsState& r, int segment) {
  const ProgrammeSettings& p = r.programme;
  r.psSegment = segment;
  // The AF list starts over when its length changes.
  if (p.afCount != r.afCount) {
    r.afCount = p.afCount;
    r.afPair = 0;
  }
  const int pairs = AfPairCount(p.afCount);
  if (r.afPair >= pairs) r.afPair = 0;
  r.words[1] = Block2Of0A(p, r.stereo, segment);
  r.words[2] = AfBlock3(p, r.afPair);
  if (pairs > 0) r.afPair = (r.afPair + 1) % pairs;
}

// Chooses the group that starts now and fills its four words.
void NextGroup(RdsState& r, ControlSource& controls, int frame) {
  char text[kTextCapacity];
  const std::size_t len = controls.ReadPIText(text, sizeof text);
  // A text too long for the buffer cannot be a 16-bit code.
  r.words[0] = static_cast<std::uint16_t>(len < sizeof text ? ParsePIText({text, len}) : 0xFFFF);
  r.psSegment = -1;
  const double utc = r.chunkClock + frame * r.secondsPerFrame;
  if (MinuteEdge(r, utc) && r.programme.ct) {
    const RdsGroupWords w = Group4A(r.programme, r.minute, r.localOffsetHalfHours);
    r.words[1] = w.b;
    r.words[2] = w.c;
    r.words[3] = w.d;
    return;
  }
  if (r.slot >= 4) {
    if (NextRtGroup(r, controls)) {
      r.slot = r.slot == 6 ? 0 : r.slot + 1;
      return;
    }
    r.slot = 0;
  }
  Next0AGroup(r, r.slot);
  ++r.slot;
}

}  // namespace

void GetNextRDSBit(EngineState& s, ControlSource& controls, int frame) {
  const int inGroup = s.RDSBitIndex % kBitsPerGroup;
  const int b = inGroup / kBitsPerBlock;
  const int n = inGroup % kBitsPerBlock;
  if (inGroup == 0) NextGroup(s.Rds, controls, frame);
  if (n == 0 && b == 3 && s.Rds.psSegment >= 0) {
    char text[kTextCapacity];
    const std::size_t len = controls.ReadPSText(text, sizeof text);
    s.Rds.words[3] = static_cast<std::uint16_t>(
        PSWord({text, len < sizeof text ? len : sizeof text - 1}, s.Rds.psSegment));
  }
  if (n == 0) {
    s.RDSInfoWord = s.Rds.words[static_cast<std::size_t>(b)];
    s.RDSCheckWord = RDSChecksum(s.RDSInfoWord) ^ RDSOffsetWord[static_cast<std::size_t>(b)];
  }
  const int bit = n < 16 ? (s.RDSInfoWord >> (15 - n)) & 1 : (s.RDSCheckWord >> (25 - n)) & 1;
  s.RDSDiffBit = s.RDSDiffBit != (bit != 0);
  if (++s.RDSBitIndex >= kRdsCycleBits) s.RDSBitIndex = 0;
}

}  // namespace kelvane
