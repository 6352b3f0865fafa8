// SPDX-License-Identifier: GPL-3.0-or-later
// The signal engine: fills playback blocks with the FM-modulated I/Q carrier, takes captured
// input into the sample queue, and keeps the meters. Owns the engine state and the queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "BlockParams.h"
#include "ControlSource.h"
#include "EngineState.h"
#include "InputSampleQueue.h"
#include "MeterText.h"

namespace kelvane {

struct MeterReadout {
  char text[16] = "-90.0";
  bool green = false;
  unsigned serial = 0;  // incremented on every change of text or colour
};

struct EngineScratch;  // per-chunk work arrays, allocated once
class AudioFilters;    // pre-emphasis and low-pass, designed per rate

class Modulator {
 public:
  // Frames processed per internal chunk; blocks of any size are split into chunks of this size.
  static constexpr int kChunkFrames = 2048;

  explicit Modulator(ControlSource& controls);
  ~Modulator();
  Modulator(const Modulator&) = delete;
  Modulator& operator=(const Modulator&) = delete;

  EngineState& State() { return state_; }
  const EngineState& State() const { return state_; }
  InputSampleQueue& Queue() { return queue_; }
  const InputSampleQueue& Queue() const { return queue_; }

  // Also designs the audio filters for the rate (not on the audio path).
  void SetFrameRate(int hz);
  int FrameRate() const { return frameRate_; }

  // Start of streaming: StopRequested = false, ClearPm, CapInL/CapInR zeroed, SourceMode = mode,
  // the RDS RadioText and clock-time sequences started afresh.
  void BeginRun(int sourceMode);
  void RequestStop() { state_.StopRequested = true; }

  // Fills size div 4 frames of 16-bit little-endian I/Q; returns !StopRequested.
  bool AudioOut1FillBuffer(uint8_t* buffer, const int& size);

  struct CaptureResult {
    bool keepGoing;
    float levelL;
    float levelR;
  };
  // Capture handler: appends the frames to the queue, fills CapInL/R, returns the peak levels.
  CaptureResult AudioIn1BufferFilled(const uint8_t* buffer, int size);

  void ClearPm();
  const MeterReadout& PowerReadout() const { return power_; }
  // Peak deviation in kHz from DevMax/DevMin as read-out text; resets both trackers.
  void TakePeakDeviation(char* text, std::size_t capacity);

  // The snapshot the last filled block used.
  const BlockParams& LastBlockParams() const { return params_; }

 private:
  void UpdatePm();
  void SetPowerText(double value);
  void FillChunk(uint8_t* out, int frames, int firstFrame);
  void MpxSine(int n);
  void MpxInput(int n);

  ControlSource& controls_;
  EngineState state_;
  InputSampleQueue queue_;
  BlockParams params_;
  ControlSnapshot snapshot_;
  MeterReadout power_;
  int frameRate_ = 48000;
  bool multipath_ = false;  // the switch as read at the start of the block
  std::unique_ptr<EngineScratch> scratch_;
  std::unique_ptr<AudioFilters> audio_;
};

}  // namespace kelvane
