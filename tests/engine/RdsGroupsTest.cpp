// SPDX-License-Identifier: GPL-3.0-or-later
// The 0A, 2A and 4A groups as they leave the bit encoder: information words and checkwords
// against values worked by hand, the A/B flag of the RadioText and the AF list.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Rds.h"

namespace kelvane {
namespace {

class RdsControls : public ControlSource {
 public:
  std::string pi = "D3C2", ps = "KELVANE", rt;
  void ReadControls(ControlSnapshot&) override {}
  std::size_t ReadPIText(char* out, std::size_t capacity) override {
    return Copy(pi, out, capacity);
  }
  std::size_t ReadPSText(char* out, std::size_t capacity) override {
    return Copy(ps, out, capacity);
  }
  std::size_t ReadRTText(char* out, std::size_t capacity) override {
    return Copy(rt, out, capacity);
  }

 private:
  static std::size_t Copy(const std::string& s, char* out, std::size_t capacity) {
    std::memcpy(out, s.data(), std::min(s.size(), capacity));
    return s.size();
  }
};

// One group through the encoder, starting at frame `frame` of the chunk, read back from the
// differential bits: four 26-bit blocks, information word then checkword with the offset added.
std::vector<std::uint32_t> SendGroup(EngineState& s, ControlSource& c, int frame = 0) {
  std::vector<std::uint32_t> blocks(4, 0);
  for (int i = 0; i < 104; ++i) {
    const bool before = s.RDSDiffBit;
    GetNextRDSBit(s, c, i == 0 ? frame : 0);
    blocks[static_cast<std::size_t>(i / 26)] =
        blocks[static_cast<std::size_t>(i / 26)] << 1 | (s.RDSDiffBit != before ? 1u : 0u);
  }
  return blocks;
}

std::uint32_t Block(std::uint32_t info, std::uint32_t check) {
  return info << 10 | check;
}

// 2026-12-09 14:37 UTC with the local time 5 hours behind (-10 half hours), TP 1, PTY 0.
// MJD 40587 + 20796 days = 61383 = 0 1110 1111 1100 0111 (17 bits).
//   Block 2: 0100 (type 4) 0 (A) 1 (TP) 00000 (PTY) 000 01 (MJD bits 16..15)   = 0x4401
//   Block 3: 110 1111 1100 0111 (MJD bits 14..0) 0 (hour 14 = 01110, bit 4)     = 0xDF8E
//   Block 4: 1110 (hour bits 3..0) 100101 (37) 1 (negative) 01010 (10)          = 0xE96A
// Checkwords by long division by x^10 + x^8 + x^7 + x^5 + x^4 + x^3 + 1, plus the offset words
// A 0x0FC, B 0x198, C 0x168, D 0x1B4: D3C2 -> 0x328, 4401 -> 0x1B6, DF8E -> 0x2FC,
// E96A -> 0x18F.
TEST(RdsGroups, ClockTimeGroupWordsAndCheckwords) {
  RdsControls c;
  EngineState s;
  ControlSnapshot snap;
  snap.programme.ct = true;
  snap.localOffsetHalfHours = -10;
  const double edge = 1796827020.0;  // 2026-12-09 14:37:00 UTC
  snap.clockUtc = edge - 0.05;
  SetRdsChunk(s, snap, 192000, 0);
  EXPECT_EQ(SendGroup(s, c)[1] >> 10, 0x0408u);  // PS segment 0: no CT at the first group
  // The next group starts 2000 frames (10.4 ms) into a chunk that began 5 ms before the edge.
  snap.clockUtc = edge - 0.005;
  SetRdsChunk(s, snap, 192000, 0);
  EXPECT_EQ(SendGroup(s, c, 2000),
            (std::vector<std::uint32_t>{Block(0xD3C2, 0x328), Block(0x4401, 0x1B6),
                                        Block(0xDF8E, 0x2FC), Block(0xE96A, 0x18F)}));
  // The PS run goes on where the clock time interrupted it, and no second CT in the minute.
  snap.clockUtc = edge + 0.09;
  SetRdsChunk(s, snap, 192000, 0);
  EXPECT_EQ(SendGroup(s, c)[1] >> 10, 0x0409u);
  // Hour bit 4 and a positive offset: 23:05 UTC, +5.5 hours, PTY 10.
  ProgrammeSettings p;
  p.pty = 10;
  const RdsGroupWords w = Group4A(p, 1796827020 / 60 - 14 * 60 - 37 + 23 * 60 + 5, 11);
  EXPECT_EQ(w.b, 0x4541);  // 0100 0 1 01010 000 01
  EXPECT_EQ(w.c, 0xDF8F);  // hour 23 = 10111: bit 4 set
  EXPECT_EQ(w.d, 0x714B);  // 0111 000101 0 01011
}

// A/B flag and segment addresses of the 2A groups after each PS run, as block-2 words (TP 1,
// PTY 0: 0x2400 | flag << 4 | segment), and a segment with its end code and padding by hand:
// "Hello" + 0x0D + two spaces, segment 1 = 'o' 0x0D ' ' ' ':
//   block 2 0x2401 -> check 0x0FE, block 3 0x6F0D -> 0x08A, block 4 0x2020 -> 0x0DC.
TEST(RdsGroups, RadioTextSegmentsAndTheABFlag) {
  RdsControls c;
  EngineState s;
  std::vector<std::vector<std::uint32_t>> sent;
  const auto block2 = [&](int groups) {
    std::vector<int> v;
    for (int g = 0; g < groups; ++g) {
      sent.push_back(SendGroup(s, c));
      v.push_back(static_cast<int>(sent.back()[1] >> 10));
    }
    return v;
  };
  const std::vector<int> run = {0x0408, 0x0409, 0x040A, 0x040B};
  const auto then = [](std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  c.rt = "Hello";  // two segments
  EXPECT_EQ(block2(7), then(run, {0x2400, 0x2401, 0x2400}));
  EXPECT_EQ(sent[5], (std::vector<std::uint32_t>{Block(0xD3C2, 0x328), Block(0x2401, 0x0FE),
                                                 Block(0x6F0D, 0x08A), Block(0x2020, 0x0DC)}));
  // A new text after segment 0: flag 1 from segment 0, never the rest of the old text.
  c.rt = "Hello, world";  // four segments
  EXPECT_EQ(block2(10), then(run, {0x2410, 0x2411, 0x2412, 0x0408, 0x0409, 0x040A}));
  // An empty text sends no 2A groups; the first text again toggles the flag back.
  c.rt = "";
  EXPECT_EQ(block2(5), then({0x040B}, run));
  c.rt = "Hello";
  EXPECT_EQ(block2(8), then({0x2400, 0x2401, 0x2400}, then(run, {0x2401})));
  c.rt = "Hello, world";
  EXPECT_EQ(block2(6), then({0x2410, 0x2411}, run));
  // A new run starts with flag 0 whatever the last one ended with; the same text goes on.
  ResetRdsRun(s);
  EXPECT_EQ(block2(3), (std::vector<int>{0x2400, 0x2401, 0x2402}));
}

// AF method A: codes of 87.6, 104.2 and 107.9 MHz, and the list behind its count code (224 + N)
// in block 3 of successive 0A groups, an odd last pair padded with 205. With the 0A flags:
// PTY 10, TP 0, TA 1, MS 0 (speech) and DI following the stereo switch (d0 in segment 3).
TEST(RdsGroups, AfListAndBasicTuningFlags) {
  EXPECT_EQ(AfCodeForTenthsMHz(876), 1);
  EXPECT_EQ(AfCodeForTenthsMHz(1042), 167);
  EXPECT_EQ(AfCodeForTenthsMHz(1079), 204);
  EXPECT_EQ(AfCodeForTenthsMHz(875), -1);
  EXPECT_EQ(AfCodeForTenthsMHz(1080), -1);
  RdsControls c;
  EngineState s;
  ControlSnapshot snap;
  ProgrammeSettings& p = snap.programme;
  p.pty = 10;
  p.tp = false;
  p.ta = true;
  p.ms = false;
  p.di = DiFollowsStereo;
  p.af = {1, 167, 204};
  p.afCount = 3;
  snap.stereo = true;
  SetRdsChunk(s, snap, 192000, 0);
  std::vector<std::uint32_t> b2, b3;
  for (int g = 0; g < 5; ++g) {
    const auto blocks = SendGroup(s, c);
    b2.push_back(blocks[1] >> 10);
    b3.push_back(blocks[2] >> 10);
  }
  // 0000 0 0 01010 1 0 d 00: 0x0150 | DI bit << 2 | segment.
  EXPECT_EQ(b2, (std::vector<std::uint32_t>{0x0150, 0x0151, 0x0152, 0x0157, 0x0150}));
  // (227, 1) (167, 204): 0xE301, 0xA7CC.
  EXPECT_EQ(b3, (std::vector<std::uint32_t>{0xE301, 0xA7CC, 0xE301, 0xA7CC, 0xE301}));
  // Two AFs restart the list: (226, 1) (204, 205); DI off clears d0.
  p.af = {1, 204};
  p.afCount = 2;
  p.di = DiOff;
  SetRdsChunk(s, snap, 192000, 0);
  b2.clear();
  b3.clear();
  for (int g = 0; g < 3; ++g) {
    const auto blocks = SendGroup(s, c);
    b2.push_back(blocks[1] >> 10);
    b3.push_back(blocks[2] >> 10);
  }
  EXPECT_EQ(b2, (std::vector<std::uint32_t>{0x0151, 0x0152, 0x0153}));
  EXPECT_EQ(b3, (std::vector<std::uint32_t>{0xE201, 0xCCCD, 0xE201}));
}

}  // namespace
}  // namespace kelvane
