// SPDX-License-Identifier: GPL-3.0-or-later
// The FM stereo and RDS receiver that judges I/Q recordings from the outside.
//
// It is built from radio-engineering first principles and the RDS standard alone (nothing
// here is shared with the engine): a blind I/Q calibration estimate from the constellation
// ellipse, a phase-difference FM demodulator, a pilot estimator, a stereo decoder whose
// 38 kHz reference is twice the pilot phase, and an RDS demodulator (57 kHz reference from
// three times the pilot phase, biphase symbols clocked at pilot / 16, differential decoding,
// block synchronisation by syndrome, decoding of the type 0A, 2A and 4A groups).
#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvane::receiver {

// An I/Q recording: I from the left channel, Q from the right, in sample counts.
struct IqRecording {
  int rate = 0;
  std::vector<double> i, q;
};

// Reads a 16-bit stereo PCM WAV file; on failure returns false with a reason.
bool ReadIqWav(const std::string& path, IqRecording& out, std::string& error);

// The calibration a file carries: I = ampI sin(phi) + dcI, Q = ampQ cos(phi + phase) + dcQ.
struct IqCalibration {
  double dcI = 0, dcQ = 0;
  double ampI = 0, ampQ = 0;
  double phaseDeg = 0;  // Q's phase error beyond the nominal quadrature, -90..90
  double GainRatio() const { return ampQ / ampI; }
};

// Estimates the calibration from the recording itself: a least-squares conic fit to the
// constellation (an FM carrier has constant envelope, so its points lie on an ellipse whose
// centre is the DC offset and whose shape gives the amplitudes and the quadrature error).
// Uses the samples [begin, end).
IqCalibration EstimateCalibration(const IqRecording& rec, std::size_t begin, std::size_t end);

// Undoes the calibration and demodulates: element n is the instantaneous frequency in Hz
// between samples n and n + 1 (the MPX signal as deviation, carrier offset included).
std::vector<double> Demodulate(const IqRecording& rec, const IqCalibration& cal);

// Complex amplitude of the tone at freq in x[begin, end), Hann-windowed:
// x ~ |a| cos(2 pi freq n / rate + arg a).
std::complex<double> ToneAt(const std::vector<double>& x, std::size_t begin, std::size_t end,
                            double freq, double rate);

double Mean(const std::vector<double>& x, std::size_t begin, std::size_t end);

// The 19 kHz pilot: pilot(n) = deviation sin(phase0 + 2 pi frequency n / rate).
struct Pilot {
  double frequency = 0;    // Hz, from the phase slope over the analysed span
  double deviation = 0;    // Hz, peak
  double phase0 = 0;       // rad at n = 0
  double phaseRmsDeg = 0;  // scatter of the 10 ms phase readings about the straight line
  double rate = 0;
  double PhaseAt(double n) const;
};

// Finds the pilot near `nominal` (within about +-40 Hz) in mpx[begin, end).
Pilot MeasurePilot(const std::vector<double>& mpx, double rate, double nominal, std::size_t begin,
                   std::size_t end);

// Stereo decoding with the 38 kHz reference at twice the pilot phase. The results are left and
// right before any low-pass: read them with ToneAt, whose window rejects the subcarrier bands.
struct StereoChannels {
  std::vector<double> left, right;
};
StereoChannels DecodeStereo(const std::vector<double>& mpx, const Pilot& pilot, std::size_t begin,
                            std::size_t end);

// RDS block coding: checkword of a 16-bit information word (remainder of m(x) x^10 divided by
// g(x) = x^10 + x^8 + x^7 + x^5 + x^4 + x^3 + 1) and the syndrome of a received 26-bit block
// (its remainder by g(x)); for an undisturbed block the syndrome is its offset word.
std::uint16_t Checkword(std::uint16_t info);
std::uint16_t Syndrome(std::uint32_t block);

enum Offset { kOffsetA, kOffsetB, kOffsetC, kOffsetCPrime, kOffsetD, kOffsetCount };
extern const std::uint16_t kOffsetWords[kOffsetCount];

// Block synchronisation and group assembly on a stream of decoded data bits. Sync is taken
// where two consecutive 26-bit blocks carry the syndromes of two offsets in sequence; from
// there every block is checked and a mismatch counts as a block error.
struct RdsGroup {
  std::size_t startBit = 0;  // index of the group's first bit in the data bits
  std::uint16_t blocks[4] = {};
  bool valid[4] = {};
  bool cPrime = false;  // block 3 carried offset C'
};
struct RdsFrames {
  bool synced = false;
  std::size_t syncBit = 0;  // index of the first bit of the first checked block
  int blocksChecked = 0;
  int blockErrors = 0;
  std::vector<RdsGroup> groups;  // complete groups only, from the first A block on
};
RdsFrames FrameBlocks(const std::vector<std::uint8_t>& bits);

// Content of the decoded groups: every group's common fields, and the type 0 (basic tuning),
// 2A (RadioText) and 4A (clock time) items assembled as a receiver would.
struct RdsClockTime {
  std::size_t group = 0;  // index into the decoded groups
  int mjd = 0, hour = 0, minute = 0;
  int offsetHalfHours = 0;  // local time offset, negative west of Greenwich
};
struct RdsContent {
  int groupsDecoded = 0;
  std::vector<std::size_t> startBits;        // first data bit of every group
  std::vector<std::uint16_t> piValues;       // PI of every group
  std::vector<int> groupTypes;               // 4-bit type code of every group
  std::vector<int> versions;                 // 0 = A, 1 = B
  std::vector<int> tp;                       // traffic programme flag
  std::vector<int> pty;                      // programme type
  std::vector<int> addresses;                // low 4 bits of block 2 (segment address, A/B flag)
  std::vector<int> segments;                 // PS segment address (type 0 only)
  std::vector<int> ta, ms;                   // type 0 only, alongside segments
  std::vector<std::uint16_t> block3;         // third block (AF codes in type 0A)
  std::string ps = std::string(8, '\0');     // assembled PS name; '\0' where never received
  std::array<int, 4> di = {-1, -1, -1, -1};  // decoder identification d3, d2, d1, d0; -1 unseen
  // AF method A: the count announced by the last count code and the codes that followed it.
  int afCount = -1;
  std::vector<int> af;
  // RadioText per A/B flag, 64 character codes, '\0' where not received since the flag last
  // changed to this value (a change clears that buffer).
  std::array<std::string, 2> rt = {std::string(64, '\0'), std::string(64, '\0')};
  int rtFlag = -1;  // flag of the last 2A group
  std::vector<RdsClockTime> clockTimes;
};
RdsContent DecodeGroups(const RdsFrames& frames);

// Whether a RadioText buffer is complete: every character up to the end code 0x0D (or all 64)
// received. Then `text` is the text without the end code.
bool CompleteRadioText(const std::string& buffer, std::string* text);

// The RDS demodulator up to the data bits.
struct RdsSignal {
  std::vector<std::uint8_t> bits;  // differentially decoded data bits
  std::vector<double> bitStarts;   // MPX sample where the symbol of each data bit begins
  double peakDeviation = 0;        // Hz: peak of the subcarrier's envelope
  double carrierPhaseDeg = 0;      // subcarrier phase against 3 x pilot phase, modulo 180
  double eyeOpening = 0;           // smallest |symbol| over the mean |symbol|
  int symbols = 0;
};
RdsSignal DemodulateRds(const std::vector<double>& mpx, const Pilot& pilot, std::size_t begin,
                        std::size_t end);

}  // namespace kelvane::receiver
