// SPDX-License-Identifier: GPL-3.0-or-later
// The measurements of one I/Q recording, on the receiver's parts.
#include "Analyzer.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "Phasor.h"

namespace kelvane::analysis {
namespace {

using receiver::IqRecording;
using cd = std::complex<double>;

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2 * kPi;
constexpr double kPilotNominal_Hz = 19000;
// The pilot may be set 18980 .. 19020 Hz; a little margin either side.
constexpr double kPilotSearch_Hz = 40;
constexpr double kMinPilot_Hz = 500;          // deviation below which there is no pilot
constexpr double kStereoMinRate_Hz = 120000;  // the MPX up to 60 kHz must fit
constexpr double kToneSeconds = 10;

double Deg(double rad) {
  return rad * 180 / kPi;
}

// Reduces an angle in degrees to (-90, 90]: a phase known only modulo 180 degrees.
double Half(double deg) {
  double r = std::remainder(deg, 180.0);
  return r == -90 ? 90 : r;
}

void Fft(std::vector<cd>& a) {
  const std::size_t n = a.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const cd w = std::polar(1.0, -kTwoPi / static_cast<double>(len));
    for (std::size_t i = 0; i < n; i += len) {
      cd wk = 1;
      for (std::size_t k = 0; k < len / 2; ++k) {
        const cd u = a[i + k], v = a[i + k + len / 2] * wk;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        wk *= w;
      }
    }
  }
}

// Peak amplitude of a tone per bin (Hann window, the mean power of up to eight segments spread
// over the span); bin k is k * rate / size Hz.
struct Spectrum {
  std::vector<double> amplitude;
  double binWidth_Hz = 0;
};

Spectrum AmplitudeSpectrum(const std::vector<double>& x, std::size_t begin, std::size_t end,
                           double rate) {
  std::size_t size = 1;
  while (size * 2 <= std::min<std::size_t>(end - begin, 65536)) size *= 2;
  Spectrum s;
  s.binWidth_Hz = rate / static_cast<double>(size);
  s.amplitude.assign(size / 2, 0.0);
  std::vector<double> w(size);
  double wsum = 0;
  for (std::size_t n = 0; n < size; ++n) {
    w[n] = 0.5 - 0.5 * std::cos(kTwoPi * static_cast<double>(n) / static_cast<double>(size));
    wsum += w[n];
  }
  const std::size_t room = end - begin - size;
  const std::size_t segments = std::min<std::size_t>(8, 1 + room / size);
  std::vector<cd> a(size);
  for (std::size_t seg = 0; seg < segments; ++seg) {
    const std::size_t at = begin + (segments > 1 ? room * seg / (segments - 1) : 0);
    for (std::size_t n = 0; n < size; ++n) a[n] = w[n] * x[at + n];
    Fft(a);
    for (std::size_t k = 0; k < size / 2; ++k) s.amplitude[k] += std::norm(a[k]);
  }
  for (double& v : s.amplitude) v = 2 * std::sqrt(v / static_cast<double>(segments)) / wsum;
  return s;
}

// Strongest bin in [lo, hi] Hz outside the pilot's neighbourhood (when `skipPilot`): its
// frequency, or 0 when the band is empty.
double StrongestLine(const Spectrum& s, double lo, double hi, bool skipPilot, double& amplitude) {
  amplitude = 0;
  double at = 0;
  for (std::size_t k = 1; k < s.amplitude.size(); ++k) {
    const double f = static_cast<double>(k) * s.binWidth_Hz;
    if (f < lo || f > hi) continue;
    if (skipPilot && std::abs(f - kPilotNominal_Hz) < 200) continue;
    if (s.amplitude[k] > amplitude) amplitude = s.amplitude[k], at = f;
  }
  return at;
}

// The phase-difference demodulator reads the mean frequency over each sample interval, a
// response of sin(pi f / fs) / (pi f / fs) (0.98 at 19 kHz and 0.86 at 57 kHz at 192000 Hz).
// Its inverse as a symmetric 33-tap FIR (Hann-windowed), flat within 0.15 % up to 0.4 fs.
void EqualiseDemodulator(std::vector<double>& x) {
  constexpr int kHalf = 16, kSteps = 4096;
  double h[kHalf + 1];
  for (int k = 0; k <= kHalf; ++k) {
    double s = 0;
    for (int i = 0; i <= kSteps; ++i) {
      const double w = kPi * i / kSteps;
      const double inverse = i == 0 ? 1 : (w / 2) / std::sin(w / 2);
      s += (i == 0 || i == kSteps ? 0.5 : 1) * inverse * std::cos(w * k);
    }
    h[k] = s / kSteps * (0.5 + 0.5 * std::cos(kPi * k / (kHalf + 1)));
  }
  if (x.size() <= 2 * kHalf) return;
  // In place: a ring keeps the last kHalf inputs that have already been overwritten.
  double ring[kHalf] = {};
  for (std::size_t k = 0; k < kHalf; ++k) ring[k] = x[k];
  for (std::size_t n = kHalf; n + kHalf < x.size(); ++n) {
    double acc = h[0] * x[n];
    for (std::size_t k = 1; k <= kHalf; ++k) acc += h[k] * (ring[(n - k) % kHalf] + x[n + k]);
    ring[n % kHalf] = x[n];
    x[n] = acc;
  }
}

// Phase of the L-R subcarrier against twice the pilot phase: the subcarrier mixed to 0 Hz,
// low-passed below the pilot and RDS and squared (which removes the programme's sign). Null without
// enough L-R.
std::optional<double> MeasurePhase38(const std::vector<double>& mpx, const receiver::Pilot& pilot,
                                     std::size_t begin, std::size_t end) {
  const double rate = pilot.rate;
  // 10 kHz cut-off, 6.6 kHz transition: the RDS band starts 16.6 kHz from 0 Hz, the pilot 19.
  const int taps = static_cast<int>(5.5 * rate / 6600) | 1;
  std::vector<double> h(static_cast<std::size_t>(taps));
  double sum = 0;
  for (int k = 0; k < taps; ++k) {
    const double t = k - (taps - 1) / 2.0;
    const double sinc = t == 0 ? 2 * 10000 / rate : std::sin(kTwoPi * 10000 / rate * t) / (kPi * t);
    const double w = 0.42 - 0.5 * std::cos(kTwoPi * k / (taps - 1)) +
                     0.08 * std::cos(2 * kTwoPi * k / (taps - 1));
    h[static_cast<std::size_t>(k)] = sinc * w;
    sum += sinc * w;
  }
  for (double& v : h) v /= sum;
  const std::size_t step = std::max<std::size_t>(1, static_cast<std::size_t>(rate / 48000));
  std::vector<cd> mixed(end - begin);
  receiver::Phasor ref(-2 * pilot.frequency, rate, -2 * pilot.phase0, begin);
  for (std::size_t n = begin; n < end; ++n, ref.Next()) mixed[n - begin] = mpx[n] * *ref;
  cd acc = 0;
  double power = 0;
  std::size_t count = 0;
  for (std::size_t c = 0; c + h.size() <= mixed.size(); c += step, ++count) {
    cd b = 0;
    for (std::size_t k = 0; k < h.size(); ++k) b += h[k] * mixed[c + k];
    acc += b * b;
    power += std::norm(b);
  }
  // b = (D / 2) e^{j(theta - pi/2)} for L-R = D: b^2 turns at 2 theta - pi.
  if (count == 0 || 2 * std::sqrt(power / static_cast<double>(count)) < 50) return std::nullopt;
  return Half(Deg(std::arg(-acc)) / 2);
}

// Fills `weak` with the samples whose corrected envelope is below half (a start or an end of
// the signal, a dropout): their phase means nothing, so no frequency is read across them.
void MeasureCalibration(const IqRecording& rec, IqMeasurement& iq,
                        const receiver::IqCalibration& cal, std::vector<std::size_t>& weak) {
  iq.gainRatio = cal.GainRatio();
  iq.phaseDeg = cal.phaseDeg;
  iq.dcI = cal.dcI;
  iq.dcQ = cal.dcQ;
  iq.ampI = cal.ampI;
  iq.ampQ = cal.ampQ;
  // Mirror image over the carrier of I = sin, Q = g cos(phi + p).
  const double g = iq.gainRatio, c = std::cos(cal.phaseDeg * kPi / 180);
  iq.imageRejection_dB = 10 * std::log10((1 + g * g + 2 * g * c) / (1 + g * g - 2 * g * c));
  const double sinP = std::sin(cal.phaseDeg * kPi / 180), cosP = c;
  double sq = 0;
  for (std::size_t n = 0; n < rec.i.size(); ++n) {
    const double s = (rec.i[n] - cal.dcI) / cal.ampI;
    const double co = ((rec.q[n] - cal.dcQ) / cal.ampQ + s * sinP) / cosP;
    const double e = std::sqrt(s * s + co * co) - 1;
    sq += e * e;
    if (e < -0.5) weak.push_back(n);
  }
  iq.envelopeRms = std::sqrt(sq / static_cast<double>(rec.i.size()));
}

// Left and right at `freq` as a receiver with its 38 kHz reference at twice the pilot phase
// decodes them: (mpx +- 2 mpx sin(2 pilot phase)) / 2, read through a Hann window that rejects
// the bands around 38 kHz.
void StereoToneAt(const std::vector<double>& mpx, const receiver::Pilot& pilot, std::size_t begin,
                  std::size_t end, double freq, double& left, double& right) {
  const auto len = static_cast<double>(end - begin);
  cd sum = 0, diff = 0;
  double wsum = 0;
  receiver::Phasor window(1.0, len, 0, 0), tone(-freq, pilot.rate, 0, begin);
  receiver::Phasor ref(2 * pilot.frequency, pilot.rate, 2 * pilot.phase0, begin);
  for (std::size_t n = begin; n < end; ++n, window.Next(), tone.Next(), ref.Next()) {
    const double w = 0.5 - 0.5 * (*window).real();
    const cd mix = w * mpx[n] * *tone;
    sum += mix;
    diff += 2 * (*ref).imag() * mix;
    wsum += w;
  }
  left = std::abs(sum + diff) / wsum;
  right = std::abs(sum - diff) / wsum;
}

void MeasureStereo(const std::vector<double>& dev, double rate, std::size_t begin, std::size_t end,
                   const Spectrum& spectrum, const receiver::Pilot& pilot,
                   const std::optional<double>& monoTone_Hz, StereoMeasurement& st) {
  st.present = true;
  st.pilot_Hz = pilot.frequency;
  st.pilotDeviation_Hz = pilot.deviation;
  st.pilotPhaseJitterDeg = pilot.phaseRmsDeg;
  st.phase38Deg = MeasurePhase38(dev, pilot, begin, end);
  // The tones of left and right: the two strongest lines of L + R below 15 kHz.
  double a1 = 0, a2 = 0;
  const double f1 = StrongestLine(spectrum, 10, 15000, true, a1);
  Spectrum rest = spectrum;
  for (std::size_t k = 0; k < rest.amplitude.size(); ++k) {
    if (std::abs(static_cast<double>(k) * rest.binWidth_Hz - f1) < 5 * rest.binWidth_Hz) {
      rest.amplitude[k] = 0;
    }
  }
  const double f2 = StrongestLine(rest, 10, 15000, true, a2);
  std::vector<double> tones;
  // The strongest is the tone of L + R measured already, when there is one.
  if (a1 > 20) {
    tones.push_back(monoTone_Hz ? *monoTone_Hz
                                : receiver::MeasurePilot(dev, rate, f1, begin, end).frequency);
  }
  if (a2 > 20 && a2 > a1 / 100) {
    tones.push_back(receiver::MeasurePilot(dev, rate, f2, begin, end).frequency);
  }
  double bestL = 0, bestR = 0, leakL = 0, leakR = 0;  // leak: the other channel at that tone
  for (const double f : tones) {
    double l = 0, r = 0;
    StereoToneAt(dev, pilot, begin, end, f, l, r);
    if (l > bestL) bestL = l, leakL = r, st.left.tone_Hz = f;
    if (r > bestR) bestR = r, leakR = l, st.right.tone_Hz = f;
  }
  if (st.left.tone_Hz) st.left.level_Hz = bestL;
  if (st.right.tone_Hz) st.right.level_Hz = bestR;
  // One channel is silent when its strongest tone is 20 dB or more below the other's.
  if (bestL > 0 && bestR < bestL / 10) {
    st.silentChannel = "right";
    st.separation_dB = 20 * std::log10(bestL / std::max(leakL, 1e-9));
    st.right = ChannelTone{};
  } else if (bestR > 0 && bestL < bestR / 10) {
    st.silentChannel = "left";
    st.separation_dB = 20 * std::log10(bestR / std::max(leakR, 1e-9));
    st.left = ChannelTone{};
  }
}

}  // namespace

AnalyseStatus Analyse(const IqRecording& rec, Measurement& m, std::string& why) {
  m = Measurement{};
  m.rate_Hz = rec.rate;
  m.seconds = static_cast<double>(rec.i.size()) / rec.rate;
  const std::size_t size = rec.i.size();
  if (size < static_cast<std::size_t>(rec.rate) / 20) {
    why = "less than 50 ms of signal";
    return AnalyseStatus::NotFm;
  }
  const receiver::IqCalibration cal = receiver::EstimateCalibration(rec, 0, size);
  if (!(cal.ampI > 1 && cal.ampQ > 1 && std::isfinite(cal.phaseDeg))) {
    why = "the I/Q points do not trace an ellipse (silence, or no carrier offset nor modulation)";
    return AnalyseStatus::NotFm;
  }
  std::vector<std::size_t> weak;
  MeasureCalibration(rec, m.iq, cal, weak);
  if (m.iq.envelopeRms > 0.2) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "the envelope varies by %.0f %% rms after the I/Q correction; FM keeps it "
                  "constant",
                  100 * m.iq.envelopeRms);
    why = text;
    return AnalyseStatus::NotFm;
  }
  std::vector<double> dev = receiver::Demodulate(rec, cal);
  const std::size_t end = dev.size();
  // Hann-weighted, so that a modulating tone cut off at the span's ends leaves no bias.
  const double kWeak = 1e300;
  for (const std::size_t n : weak) {
    if (n > 0) dev[n - 1] = kWeak;
    if (n < end) dev[n] = kWeak;
  }
  double wsum = 0, fsum = 0;
  receiver::Phasor window(1.0, static_cast<double>(end), 0, 0);
  for (std::size_t n = 0; n < end; ++n, window.Next()) {
    const double w = dev[n] == kWeak ? 0 : 1 - (*window).real();
    wsum += w;
    fsum += w * (dev[n] == kWeak ? 0 : dev[n]);
  }
  m.carrierOffset_Hz = fsum / wsum;
  for (double& v : dev) v = v == kWeak ? 0 : v - m.carrierOffset_Hz;
  EqualiseDemodulator(dev);
  double peak = 0, sq = 0;
  for (const double v : dev) {
    peak = std::max(peak, std::abs(v));
    sq += v * v;
  }
  const double rate = rec.rate;
  m.fm.peakDeviation_Hz = peak;
  const double power = sq / static_cast<double>(end);
  m.fm.rmsDeviation_Hz = std::sqrt(power);
  m.fm.mpxPower_dBr = 10 * std::log10(power / (19000.0 * 19000.0 / 2));

  const Spectrum spectrum = AmplitudeSpectrum(dev, 0, end, rate);
  // The tones, the pilot and the stereo figures from the middle ten seconds at most: more
  // adds no precision that matters, only time (RDS and the deviation take the whole span).
  const std::size_t most = static_cast<std::size_t>(kToneSeconds * rate);
  const std::size_t tb = end > most ? (end - most) / 2 : 0, te = end > most ? tb + most : end;
  receiver::Pilot pilot;
  if (rate >= kStereoMinRate_Hz) {
    double amp = 0;
    const double at = StrongestLine(spectrum, kPilotNominal_Hz - kPilotSearch_Hz,
                                    kPilotNominal_Hz + kPilotSearch_Hz, false, amp);
    if (amp > kMinPilot_Hz) {
      pilot = receiver::MeasurePilot(dev, rate, at, tb, te);
      m.stereo.present = pilot.phaseRmsDeg < 10 && pilot.deviation > kMinPilot_Hz;
    }
  }
  // The modulating tone: anywhere below 60 kHz without stereo, in L + R with it.
  double amp = 0;
  const double hi = m.stereo.present ? 15000 : std::min(60000.0, 0.45 * rate);
  const double at = StrongestLine(spectrum, 10, hi, m.stereo.present, amp);
  if (amp > 20 && amp > 0.05 * peak) {
    const receiver::Pilot tone = receiver::MeasurePilot(dev, rate, at, tb, te);
    m.fm.tone_Hz = tone.frequency;
    m.fm.toneDeviation_Hz = tone.deviation;
  }
  if (m.stereo.present) {
    MeasureStereo(dev, rate, tb, te, spectrum, pilot, m.fm.tone_Hz, m.stereo);
    const receiver::RdsSignal rds = receiver::DemodulateRds(dev, pilot, 0, end);
    m.rds.frames = receiver::FrameBlocks(rds.bits);
    m.rds.content = receiver::DecodeGroups(m.rds.frames);
    m.rds.present = m.rds.frames.synced && m.rds.content.groupsDecoded > 0;
    m.rds.deviation_Hz = rds.peakDeviation;
    m.rds.phaseDeg = Half(rds.carrierPhaseDeg);
  }
  return AnalyseStatus::Ok;
}

}  // namespace kelvane::analysis
