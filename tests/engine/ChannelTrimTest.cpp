// SPDX-License-Identifier: GPL-3.0-or-later
// I/Q swap and inter-channel delay: exact sample relations against an untrimmed engine, across
// block and chunk edges and with the settings changed while running.
#include <gtest/gtest.h>

#include <vector>

#include "TestSupport.h"

namespace kelvane::test {
namespace {

TEST(ChannelTrim, DelayAndSwapMoveWholeSamplesAndTheDefaultChangesNothing) {
  ref::TestControls plainControls, trimmedControls;
  for (ref::TestControls* c : {&plainControls, &trimmedControls}) {
    c->Set(ParamId::CarrierFreq, 7000.0);  // I and Q differ at every sample
    c->Set(ParamId::SinePeakDev, 40.0);
  }
  Modulator plain(plainControls), trimmed(trimmedControls);
  for (Modulator* m : {&plain, &trimmed}) {
    m->SetFrameRate(192000);
    m->BeginRun(SourceSine);
  }
  struct Step {
    int frames, delay;
    bool swap;
  };
  // Odd sizes cross the engine's 2048-frame chunks; the first block keeps the defaults.
  const std::vector<Step> steps = {{5000, 0, false}, {2049, 3, false}, {7, -8, false},
                                   {4096, 8, true},  {3, 0, true},     {3000, -1, true},
                                   {2500, 0, false}};
  std::vector<int16_t> i, q;  // the untrimmed signal from the start
  for (const Step& s : steps) {
    trimmedControls.snap.programme.channelDelay = s.delay;
    trimmedControls.snap.programme.iqSwap = s.swap;
    std::vector<uint8_t> a(4 * static_cast<std::size_t>(s.frames));
    std::vector<uint8_t> b(a.size());
    const int size = static_cast<int>(a.size());
    plain.AudioOut1FillBuffer(a.data(), size);
    trimmed.AudioOut1FillBuffer(b.data(), size);
    const int first = static_cast<int>(i.size());
    for (int n = 0; n < s.frames; ++n) {
      i.push_back(SampleAt(a, n, 0));
      q.push_back(SampleAt(a, n, 1));
    }
    if (s.delay == 0 && !s.swap) {
      EXPECT_EQ(a, b) << "defaults at frame " << first;
      continue;
    }
    const int dI = s.delay < 0 ? -s.delay : 0;
    const int dQ = s.delay > 0 ? s.delay : 0;
    int wrong = 0;
    for (int n = 0; n < s.frames; ++n) {
      const int k = first + n;
      const int16_t wantI = i[static_cast<std::size_t>(k - dI)];
      const int16_t wantQ = q[static_cast<std::size_t>(k - dQ)];
      const int16_t left = SampleAt(b, n, 0), right = SampleAt(b, n, 1);
      wrong += s.swap ? (left != wantQ || right != wantI) : (left != wantI || right != wantQ);
    }
    EXPECT_EQ(wrong, 0) << "delay " << s.delay << " swap " << s.swap << " at frame " << first;
  }
}

}  // namespace
}  // namespace kelvane::test
