// SPDX-License-Identifier: GPL-3.0-or-later
// The modulator written frame by frame and call by call, exactly in the order the algorithm is
// described: the oracle against which the block-wise engine is compared.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "ControlSource.h"
#include "EngineState.h"
#include "InputSampleQueue.h"

namespace kelvane::ref {

struct Params {
  int32_t FrameRate;
  bool StereoOn, RDSOn, InputFilters, PilotNotch;
  float RDSGain, RDSPhase, LRLevel, Phase38;
  int32_t DelaySamples;
  float ReflectedPct, CarrierInc, QPhase, AmpI, AmpQ, DCOffsetI, DCOffsetQ;
  float PhaseInc, DevScale, PilotDev;
};

Params Derive(const ControlSnapshot& c, int frameRate, int sourceMode);

// A control source with plain fields, for tests.
class TestControls : public ControlSource {
 public:
  ControlSnapshot snap = ControlSnapshot::FirstRun();
  std::string pi = "FFFF";
  std::string ps = "PS Name";
  int piReads = 0, psReads = 0;
  void ReadControls(ControlSnapshot& out) override { out = snap; }
  std::size_t ReadPIText(char* out, std::size_t capacity) override {
    ++piReads;
    return Copy(pi, out, capacity);
  }
  std::size_t ReadPSText(char* out, std::size_t capacity) override {
    ++psReads;
    return Copy(ps, out, capacity);
  }
  void Set(ParamId id, double v) { snap.params[id] = NormaliseParam(id, v); }

 private:
  static std::size_t Copy(const std::string& s, char* out, std::size_t capacity);
};

class Modulator {
 public:
  explicit Modulator(ControlSource& controls) : controls_(controls) {}
  EngineState st;
  InputSampleQueue queue;
  int frameRate = 48000;

  bool Fill(uint8_t* buffer, const int& size);
  void UpdatePm();

  // Per-call routines.
  float MPXFIRAA(float x);
  float RFFIR(int channel, int substep, float x);
  void GetNextRDSBit();
  static int RDSChecksum(int w);
  void AddToDelay(int channel, float x);
  float Delayed(int channel, int delay, float percent);

 private:
  float InputMpx(const Params& p);
  ControlSource& controls_;
  Params p_{};
  bool multipath_ = false;  // CBMULTI, read at the start of each block
};

}  // namespace kelvane::ref
