// SPDX-License-Identifier: GPL-3.0-or-later
// The measurements of one I/Q recording: carrier and calibration, FM, stereo and RDS.
#pragma once

#include <optional>
#include <string>

#include "FmReceiver.h"

namespace kelvane::analysis {

// Signs and units follow Kelvane's own settings: a render with CarrierFreq=5000, LRGainRatio=0.92,
// LRPhaseOffset=-31 and DCOffsetL=60 reads 5000 Hz, 0.92, -31 deg and +6553.6 counts.
struct IqMeasurement {
  double gainRatio = 0;     // Q amplitude over I amplitude
  double phaseDeg = 0;      // Q = ampQ cos(phi + phase): Q's phase error, -90..90
  double dcI = 0, dcQ = 0;  // sample counts
  double ampI = 0, ampQ = 0;
  double imageRejection_dB = 0;  // the carrier over its mirror image that gain and phase leave
  double envelopeRms = 0;        // scatter of the corrected envelope about 1 (0 for clean FM)
};

struct FmMeasurement {
  double peakDeviation_Hz = 0;  // largest |instantaneous frequency - carrier|
  double rmsDeviation_Hz = 0;
  double mpxPower_dBr = 0;  // mean power over the span, 0 dBr = a tone of 19 kHz peak deviation
  std::optional<double> tone_Hz, toneDeviation_Hz;  // the strongest modulating tone
};

struct ChannelTone {
  std::optional<double> tone_Hz, level_Hz;  // strongest tone of the channel, its peak deviation
};

struct StereoMeasurement {
  bool present = false;
  double pilot_Hz = 0, pilotDeviation_Hz = 0, pilotPhaseJitterDeg = 0;
  std::optional<double> phase38Deg;     // L-R subcarrier against 2 x pilot phase, -90..90
  ChannelTone left, right;              // as a receiver locked to 2 x pilot phase decodes them
  std::optional<double> separation_dB;  // when one channel is silent (20 dB or more below)
  std::string silentChannel;            // "left" or "right" then
};

struct RdsMeasurement {
  bool present = false;  // blocks synchronised and at least one whole group decoded
  double deviation_Hz = 0, phaseDeg = 0;  // subcarrier peak; phase against 3 x pilot, -90..90
  receiver::RdsFrames frames;
  receiver::RdsContent content;
  double Bler() const {
    return frames.blocksChecked ? static_cast<double>(frames.blockErrors) / frames.blocksChecked
                                : 0;
  }
};

struct Measurement {
  double rate_Hz = 0, seconds = 0;
  double carrierOffset_Hz = 0;
  IqMeasurement iq;
  FmMeasurement fm;
  StereoMeasurement stereo;
  RdsMeasurement rds;
};

enum class AnalyseStatus { Ok, NotFm };

// Measures the whole recording. NotFm (with the reason in `why`) when its constellation is no
// constant-envelope circle that gain, phase and DC could have made into an ellipse.
AnalyseStatus Analyse(const receiver::IqRecording& rec, Measurement& m, std::string& why);

}  // namespace kelvane::analysis
