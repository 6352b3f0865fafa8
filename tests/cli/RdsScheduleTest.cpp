// SPDX-License-Identifier: GPL-3.0-or-later
// The RDS group schedule over a rendered minute: the engine renders at 192000 Hz from a silent
// sound-card source with every RDS item on, and the reference receiver times the groups it
// decodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FmReceiver.h"
#include "Modulator.h"

namespace kelvane::receiver {
namespace {

constexpr int kRate = 192000;
constexpr double kBitRate = 1187.5;
const std::string kText = "RadioText of sixty-four characters, sent in sixteen 2A segments.";

class ClockedControls : public ControlSource {
 public:
  ControlSnapshot snap = ControlSnapshot::FirstRun();
  double startUtc = 0;
  long frames = 0;  // frames rendered before the block being filled
  void ReadControls(ControlSnapshot& out) override {
    out = snap;
    out.clockUtc = startUtc + static_cast<double>(frames) / kRate;
  }
  std::size_t ReadPIText(char* out, std::size_t capacity) override {
    return Copy("C0DE", out, capacity);
  }
  std::size_t ReadPSText(char* out, std::size_t capacity) override {
    return Copy("KELVANE ", out, capacity);
  }
  std::size_t ReadRTText(char* out, std::size_t capacity) override {
    return Copy(kText, out, capacity);
  }

 private:
  static std::size_t Copy(const std::string& s, char* out, std::size_t capacity) {
    std::memcpy(out, s.data(), std::min(s.size(), capacity));
    return s.size();
  }
};

TEST(RdsSchedule, PsRunsRadioTextAndClockTimeOverAMinute) {
  ClockedControls c;
  c.snap.rds = true;
  c.snap.stereo = true;
  ProgrammeSettings& p = c.snap.programme;
  p.pty = 10;
  p.ta = true;
  p.ms = false;
  p.di = DiFollowsStereo;
  p.ct = true;
  p.af = {1, 167, 204};
  p.afCount = 3;
  c.snap.localOffsetHalfHours = -10;
  c.startUtc = 1796827010;  // 2026-12-09 14:36:50 UTC: the minute edge 10 s in
  Modulator m(c);
  m.SetFrameRate(kRate);
  m.BeginRun(SourceInput);
  // Blocks of 4800 frames: the chunk boundaries wander through the groups.
  constexpr int kBlock = 4800;
  IqRecording rec;
  rec.rate = kRate;
  std::vector<std::uint8_t> buffer(4 * kBlock);
  for (; c.frames < 60L * kRate; c.frames += kBlock) {
    m.AudioOut1FillBuffer(buffer.data(), 4 * kBlock);
    for (int k = 0; k < kBlock; ++k) {
      std::int16_t iq[2];
      std::memcpy(iq, buffer.data() + 4 * k, sizeof iq);
      rec.i.push_back(iq[0]);
      rec.q.push_back(iq[1]);
    }
  }
  const std::size_t begin = 9600, end = rec.i.size() - 1;
  const std::vector<double> mpx = Demodulate(rec, EstimateCalibration(rec, begin, end));
  const RdsSignal rds = DemodulateRds(mpx, MeasurePilot(mpx, kRate, 19000, begin, end), begin, end);
  const RdsFrames frames = FrameBlocks(rds.bits);
  const RdsContent g = DecodeGroups(frames);
  ASSERT_TRUE(frames.synced);
  EXPECT_EQ(frames.blockErrors, 0);
  EXPECT_GE(g.groupsDecoded, 680);  // 60 s at 1187.5 bit/s is 685 groups
  // Every item of the basic tuning groups.
  EXPECT_EQ(g.ps, "KELVANE ");
  EXPECT_EQ(g.di, (std::array<int, 4>{0, 0, 0, 1}));
  EXPECT_EQ(g.afCount, 3);
  EXPECT_EQ(g.af, (std::vector<int>{1, 167, 204}));
  EXPECT_TRUE(std::all_of(g.ta.begin(), g.ta.end(), [](int v) { return v == 1; }));
  EXPECT_TRUE(std::all_of(g.ms.begin(), g.ms.end(), [](int v) { return v == 0; }));
  for (std::size_t k = 0; k < g.piValues.size(); ++k) {
    ASSERT_EQ(g.piValues[k], 0xC0DE);
    ASSERT_EQ(g.pty[k], 10);
    ASSERT_EQ(g.tp[k], 1);
  }
  const auto seconds = [&](std::size_t fromGroup, std::size_t toGroupEnd) {
    return static_cast<double>(g.startBits[toGroupEnd] + 104 - g.startBits[fromGroup]) / kBitRate;
  };

  // PS: runs of segments 0..3 in consecutive 0A groups (a 4A group may cut in), one run at
  // least every eight groups.
  double longestRun = 0, longestPlainRun = 0;
  std::size_t lastRunStart = 0, widestRunGap = 0;
  int runs = 0;
  for (std::size_t k = 0; k + 5 < g.groupTypes.size(); ++k) {
    if (g.groupTypes[k] != 0 || g.addresses[k] % 4 != 0) continue;
    std::size_t j = k;
    bool cut = false;
    for (int seg = 1; seg < 4; ++seg) {
      ++j;
      if (g.groupTypes[j] == 4) ++j, cut = true;
      ASSERT_EQ(g.groupTypes[j], 0) << j;
      ASSERT_EQ(g.addresses[j] % 4, seg) << j;
    }
    longestRun = std::max(longestRun, seconds(k, j));
    if (!cut) longestPlainRun = std::max(longestPlainRun, seconds(k, j));
    if (runs++ > 0) widestRunGap = std::max(widestRunGap, k - lastRunStart);
    lastRunStart = k;
  }
  EXPECT_GE(runs, 95);
  EXPECT_LT(longestPlainRun, 0.4);
  EXPECT_LE(widestRunGap, 8u);

  // RT: all 16 segments from any group on, within 4 s; the text complete with flag 0.
  std::string text;
  EXPECT_TRUE(CompleteRadioText(g.rt[0], &text));
  EXPECT_EQ(text, kText);
  EXPECT_EQ(g.rtFlag, 0);
  double slowestRt = 0;
  for (std::size_t k = 0; k < g.groupTypes.size(); ++k) {
    unsigned seen = 0;
    std::size_t j = k;
    for (; j < g.groupTypes.size() && seen != 0xFFFF; ++j) {
      if (g.groupTypes[j] == 2) seen |= 1u << g.addresses[j];
    }
    if (seen != 0xFFFF) break;
    slowestRt = std::max(slowestRt, seconds(k, j - 1));
  }
  EXPECT_LT(slowestRt, 4.0);

  // CT: one 4A group, starting within 0.1 s after the minute edge, for the minute that began.
  ASSERT_EQ(g.clockTimes.size(), 1u);
  const RdsClockTime& ct = g.clockTimes[0];
  EXPECT_EQ(ct.mjd, 61383);
  EXPECT_EQ(ct.hour, 14);
  EXPECT_EQ(ct.minute, 37);
  EXPECT_EQ(ct.offsetHalfHours, -10);
  const double ctStart = rds.bitStarts[g.startBits[ct.group]] / kRate;
  EXPECT_GE(ctStart, 10.0);
  EXPECT_LE(ctStart, 10.1);
  std::printf(
      "%d groups, %d PS runs: longest %.4f s (%.4f s without a 4A group), run starts at most %zu "
      "groups apart; RT complete within %.3f s from any group; 4A group at %.4f s (edge 10 s)\n",
      g.groupsDecoded, runs, longestRun, longestPlainRun, widestRunGap, slowestRt, ctStart);
}

}  // namespace
}  // namespace kelvane::receiver
