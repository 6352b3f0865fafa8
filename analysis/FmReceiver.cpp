// SPDX-License-Identifier: GPL-3.0-or-later
// The FM stereo and RDS receiver that judges I/Q recordings from the outside.
#include "FmReceiver.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

#include "Phasor.h"

namespace kelvane::receiver {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2 * kPi;

std::uint32_t Le32(const char* p) {
  std::uint32_t v = 0;
  for (int k = 3; k >= 0; --k) v = v << 8 | static_cast<std::uint8_t>(p[k]);
  return v;
}

std::uint16_t Le16(const char* p) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(p[0]) |
                                    static_cast<std::uint8_t>(p[1]) << 8);
}

// Solves the n x n system a x = b in place (Gaussian elimination, partial pivoting).
template <std::size_t N>
std::array<double, N> Solve(std::array<std::array<double, N>, N> a, std::array<double, N> b) {
  for (std::size_t col = 0; col < N; ++col) {
    std::size_t pivot = col;
    for (std::size_t r = col + 1; r < N; ++r) {
      if (std::abs(a[r][col]) > std::abs(a[pivot][col])) pivot = r;
    }
    std::swap(a[col], a[pivot]);
    std::swap(b[col], b[pivot]);
    for (std::size_t r = col + 1; r < N; ++r) {
      const double f = a[r][col] / a[col][col];
      for (std::size_t c = col; c < N; ++c) a[r][c] -= f * a[col][c];
      b[r] -= f * b[col];
    }
  }
  std::array<double, N> x{};
  for (std::size_t r = N; r-- > 0;) {
    double s = b[r];
    for (std::size_t c = r + 1; c < N; ++c) s -= a[r][c] * x[c];
    x[r] = s / a[r][r];
  }
  return x;
}

// Low-pass FIR: a Blackman-windowed sinc with unity gain at 0 Hz.
std::vector<double> LowPass(int taps, double cutoff, double rate) {
  std::vector<double> h(static_cast<std::size_t>(taps));
  const double mid = (taps - 1) / 2.0;
  double sum = 0;
  for (int k = 0; k < taps; ++k) {
    const double t = k - mid;
    const double sinc =
        t == 0 ? 2 * cutoff / rate : std::sin(kTwoPi * cutoff / rate * t) / (kPi * t);
    const double w = 0.42 - 0.5 * std::cos(kTwoPi * k / (taps - 1)) +
                     0.08 * std::cos(2 * kTwoPi * k / (taps - 1));
    h[static_cast<std::size_t>(k)] = sinc * w;
    sum += sinc * w;
  }
  for (double& v : h) v /= sum;
  return h;
}

// One output of the low-pass h on the complex signal (re[k], im[k]), in four interleaved sums.
std::complex<double> FirAt(const std::vector<double>& h, const double* re, const double* im) {
  double r[4] = {}, i[4] = {};
  std::size_t k = 0;
  for (; k + 4 <= h.size(); k += 4) {
    for (std::size_t u = 0; u < 4; ++u) {
      r[u] += h[k + u] * re[k + u];
      i[u] += h[k + u] * im[k + u];
    }
  }
  for (; k < h.size(); ++k) r[0] += h[k] * re[k], i[0] += h[k] * im[k];
  return {(r[0] + r[1]) + (r[2] + r[3]), (i[0] + i[1]) + (i[2] + i[3])};
}

}  // namespace

bool ReadIqWav(const std::string& path, IqRecording& out, std::string& error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    error = "cannot open " + path;
    return false;
  }
  const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) {
    error = "not a WAV file";
    return false;
  }
  bool haveFormat = false;
  std::size_t at = 12;
  while (at + 8 <= bytes.size()) {
    const std::string id = bytes.substr(at, 4);
    const std::size_t size = Le32(bytes.data() + at + 4);
    const std::size_t body = at + 8;
    if (id == "fmt " && size >= 16 && body + 16 <= bytes.size()) {
      const char* p = bytes.data() + body;
      if (Le16(p) != 1 || Le16(p + 2) != 2 || Le16(p + 14) != 16) {
        error = "not 16-bit stereo PCM";
        return false;
      }
      out.rate = static_cast<int>(Le32(p + 4));
      haveFormat = true;
    } else if (id == "data") {
      if (!haveFormat) break;
      const std::size_t frames = std::min(size, bytes.size() - body) / 4;
      out.i.resize(frames);
      out.q.resize(frames);
      for (std::size_t n = 0; n < frames; ++n) {
        const char* p = bytes.data() + body + 4 * n;
        out.i[n] = static_cast<std::int16_t>(Le16(p));
        out.q[n] = static_cast<std::int16_t>(Le16(p + 2));
      }
      return true;
    }
    at = body + size + (size & 1);
  }
  error = "no format or data chunk";
  return false;
}

IqCalibration EstimateCalibration(const IqRecording& rec, std::size_t begin, std::size_t end) {
  const auto count = static_cast<double>(end - begin);
  double mi = 0, mq = 0;
  for (std::size_t n = begin; n < end; ++n) mi += rec.i[n], mq += rec.q[n];
  mi /= count;
  mq /= count;
  double var = 0;
  for (std::size_t n = begin; n < end; ++n) {
    var += (rec.i[n] - mi) * (rec.i[n] - mi) + (rec.q[n] - mq) * (rec.q[n] - mq);
  }
  const double scale = std::sqrt(var / count);  // same scale on both axes keeps the ratio
  // Conic a x^2 + b xy + c y^2 + d x + e y = 1 by least squares.
  std::array<std::array<double, 5>, 5> ata{};
  std::array<double, 5> atb{};
  for (std::size_t n = begin; n < end; ++n) {
    const double x = (rec.i[n] - mi) / scale, y = (rec.q[n] - mq) / scale;
    const double row[5] = {x * x, x * y, y * y, x, y};
    for (int r = 0; r < 5; ++r) {
      atb[static_cast<std::size_t>(r)] += row[r];
      for (int c = 0; c < 5; ++c) {
        ata[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] += row[r] * row[c];
      }
    }
  }
  const auto k = Solve(ata, atb);
  const double a = k[0], b = k[1], c = k[2], d = k[3], e = k[4];
  // Centre: the gradient of the conic vanishes there.
  const auto centre = Solve<2>({{{2 * a, b}, {b, 2 * c}}}, {-d, -e});
  const double xc = centre[0], yc = centre[1];
  const double norm = 1 + a * xc * xc + b * xc * yc + c * yc * yc;
  // About the centre: x^2 / ampI^2 + y^2 / ampQ^2 + 2 sin(p) xy / (ampI ampQ) = cos^2(p).
  const double an = a / norm, bn = b / norm, cn = c / norm;
  const double sinP = bn / (2 * std::sqrt(an * cn));
  const double cos2 = 1 - sinP * sinP;
  IqCalibration cal;
  cal.dcI = mi + xc * scale;
  cal.dcQ = mq + yc * scale;
  cal.ampI = scale / std::sqrt(an * cos2);
  cal.ampQ = scale / std::sqrt(cn * cos2);
  cal.phaseDeg = std::asin(sinP) * 180 / kPi;
  return cal;
}

std::vector<double> Demodulate(const IqRecording& rec, const IqCalibration& cal) {
  const double p = cal.phaseDeg * kPi / 180;
  const double sinP = std::sin(p), cosP = std::cos(p);
  const auto phasor = [&](std::size_t n) {
    const double s = (rec.i[n] - cal.dcI) / cal.ampI;                      // sin(phi)
    const double c = ((rec.q[n] - cal.dcQ) / cal.ampQ + s * sinP) / cosP;  // cos(phi)
    return std::complex<double>(c, s);
  };
  std::vector<double> f;
  if (rec.i.size() < 2) return f;
  f.reserve(rec.i.size() - 1);
  std::complex<double> prev = phasor(0);
  for (std::size_t n = 1; n < rec.i.size(); ++n) {
    const std::complex<double> cur = phasor(n);
    f.push_back(std::arg(cur * std::conj(prev)) * rec.rate / kTwoPi);
    prev = cur;
  }
  return f;
}

std::complex<double> ToneAt(const std::vector<double>& x, std::size_t begin, std::size_t end,
                            double freq, double rate) {
  const auto len = static_cast<double>(end - begin);
  std::complex<double> acc = 0;
  double wsum = 0;
  Phasor window(1.0, len, 0, 0), mix(-freq, rate, 0, begin);
  for (std::size_t n = begin; n < end; ++n, window.Next(), mix.Next()) {
    const double w = 0.5 - 0.5 * (*window).real();
    acc += w * x[n] * *mix;
    wsum += w;
  }
  return 2.0 * acc / wsum;
}

double Mean(const std::vector<double>& x, std::size_t begin, std::size_t end) {
  double s = 0;
  for (std::size_t n = begin; n < end; ++n) s += x[n];
  return s / static_cast<double>(end - begin);
}

double Pilot::PhaseAt(double n) const {
  return phase0 + kTwoPi * frequency / rate * n;
}

Pilot MeasurePilot(const std::vector<double>& mpx, double rate, double nominal, std::size_t begin,
                   std::size_t end) {
  const auto block = static_cast<std::size_t>(rate / 100);  // 10 ms readings
  Pilot p;
  p.rate = rate;
  double freq = nominal;
  // Two passes: the second mixes at the first pass's estimate, so the readings hardly turn.
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<double> t, ph, wt;
    double last = 0, turns = 0;
    for (std::size_t b0 = begin; b0 + block <= end; b0 += block) {
      std::complex<double> acc = 0;
      Phasor mix(-freq, rate, 0, b0);
      for (std::size_t n = b0; n < b0 + block; ++n, mix.Next()) acc += mpx[n] * *mix;
      double a = std::arg(acc);
      if (!ph.empty()) {
        while (a + turns - last > kPi) turns -= kTwoPi;
        while (a + turns - last < -kPi) turns += kTwoPi;
      }
      last = a + turns;
      ph.push_back(last);
      wt.push_back(std::norm(acc));
      t.push_back(static_cast<double>(b0) + (static_cast<double>(block) - 1) / 2);
    }
    // Straight line through the phase readings, each weighted by its power (a tone that is
    // off for a while leaves readings of noise): its slope is the frequency error.
    double m = 0, st = 0, sp = 0, stt = 0, stp = 0;
    for (std::size_t k = 0; k < t.size(); ++k) {
      m += wt[k], st += wt[k] * t[k], sp += wt[k] * ph[k];
      stt += wt[k] * t[k] * t[k], stp += wt[k] * t[k] * ph[k];
    }
    const double slope = (m * stp - st * sp) / (m * stt - st * st);
    const double icpt = (sp - slope * st) / m;
    double sq = 0;
    for (std::size_t k = 0; k < t.size(); ++k) {
      const double r = ph[k] - (icpt + slope * t[k]);
      sq += wt[k] * r * r;
    }
    p.phaseRmsDeg = std::sqrt(sq / m) * 180 / kPi;
    freq += slope * rate / kTwoPi;
  }
  p.frequency = freq;
  // Amplitude and phase over the whole span at the final frequency (whole-span mixing).
  std::complex<double> acc = 0;
  Phasor mix(-freq, rate, 0, begin);
  for (std::size_t n = begin; n < end; ++n, mix.Next()) acc += mpx[n] * *mix;
  acc /= static_cast<double>(end - begin);
  p.deviation = 2 * std::abs(acc);
  // d sin(w n + p0) mixed down leaves (d / 2) e^{j (p0 - pi/2)}.
  p.phase0 = std::arg(acc) + kPi / 2;
  return p;
}

StereoChannels DecodeStereo(const std::vector<double>& mpx, const Pilot& pilot, std::size_t begin,
                            std::size_t end) {
  StereoChannels out;
  out.left.assign(mpx.size(), 0.0);
  out.right.assign(mpx.size(), 0.0);
  Phasor ref(2 * pilot.frequency, pilot.rate, 2 * pilot.phase0, begin);  // 2 x pilot phase
  for (std::size_t n = begin; n < end; ++n, ref.Next()) {
    const double sum = mpx[n];                       // L + R
    const double diff = 2 * mpx[n] * (*ref).imag();  // L - R, plus images far above audio
    out.left[n] = (sum + diff) / 2;
    out.right[n] = (sum - diff) / 2;
  }
  return out;
}

const std::uint16_t kOffsetWords[kOffsetCount] = {0x0FC, 0x198, 0x168, 0x350, 0x1B4};

std::uint16_t Syndrome(std::uint32_t block) {
  constexpr std::uint32_t kGenerator = 0x5B9;  // x^10 + x^8 + x^7 + x^5 + x^4 + x^3 + 1
  std::uint32_t r = block & 0x3FFFFFF;
  for (int bit = 25; bit >= 10; --bit) {
    if (r >> bit & 1) r ^= kGenerator << (bit - 10);
  }
  return static_cast<std::uint16_t>(r);
}

std::uint16_t Checkword(std::uint16_t info) {
  return Syndrome(static_cast<std::uint32_t>(info) << 10);
}

namespace {

int OffsetOf(std::uint16_t syndrome) {
  for (int k = 0; k < kOffsetCount; ++k) {
    if (kOffsetWords[k] == syndrome) return k;
  }
  return -1;
}

// Block position in a group (0..3) of an offset.
int PositionOf(int offset) {
  return offset == kOffsetA ? 0 : offset == kOffsetB ? 1 : offset == kOffsetD ? 3 : 2;
}

std::uint32_t BlockAt(const std::vector<std::uint8_t>& bits, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t k = 0; k < 26; ++k) v = v << 1 | bits[at + k];
  return v;
}

}  // namespace

RdsFrames FrameBlocks(const std::vector<std::uint8_t>& bits) {
  RdsFrames f;
  if (bits.size() < 52) return f;
  int position = -1;
  for (std::size_t at = 0; at + 52 <= bits.size() && position < 0; ++at) {
    const int first = OffsetOf(Syndrome(BlockAt(bits, at)));
    const int second = OffsetOf(Syndrome(BlockAt(bits, at + 26)));
    if (first < 0 || second < 0) continue;
    if (PositionOf(second) == (PositionOf(first) + 1) % 4) {
      position = PositionOf(first);
      f.synced = true;
      f.syncBit = at;
    }
  }
  if (!f.synced) return f;
  RdsGroup group;
  bool inGroup = false;
  for (std::size_t at = f.syncBit; at + 26 <= bits.size(); at += 26) {
    const std::uint32_t word = BlockAt(bits, at);
    const std::uint16_t syndrome = Syndrome(word);
    bool ok = false;
    switch (position) {
      case 0:
        ok = syndrome == kOffsetWords[kOffsetA];
        break;
      case 1:
        ok = syndrome == kOffsetWords[kOffsetB];
        break;
      case 2:
        ok = syndrome == kOffsetWords[kOffsetC] || syndrome == kOffsetWords[kOffsetCPrime];
        group.cPrime = syndrome == kOffsetWords[kOffsetCPrime];
        break;
      default:
        ok = syndrome == kOffsetWords[kOffsetD];
        break;
    }
    ++f.blocksChecked;
    if (!ok) ++f.blockErrors;
    if (position == 0) {
      group = RdsGroup();
      group.startBit = at;
      inGroup = true;
    }
    if (inGroup) {
      group.blocks[position] = static_cast<std::uint16_t>(word >> 10);
      group.valid[position] = ok;
      if (position == 3) f.groups.push_back(group);
    }
    position = (position + 1) % 4;
  }
  return f;
}

namespace {

void DecodeBasicTuning(const RdsGroup& g, RdsContent& c) {
  const std::uint16_t b = g.blocks[1];
  const int segment = b & 3;
  c.segments.push_back(segment);
  c.ta.push_back(b >> 4 & 1);
  c.ms.push_back(b >> 3 & 1);
  c.di[static_cast<std::size_t>(segment)] = b >> 2 & 1;  // segment 0 carries d3, 3 carries d0
  c.ps[static_cast<std::size_t>(2 * segment)] = static_cast<char>(g.blocks[3] >> 8);
  c.ps[static_cast<std::size_t>(2 * segment + 1)] = static_cast<char>(g.blocks[3] & 0xFF);
  if (b >> 11 & 1) return;  // version B carries the PI again in block 3
  for (const int code : {g.blocks[2] >> 8, g.blocks[2] & 0xFF}) {
    if (code >= 225 && code <= 249) {
      c.afCount = code - 224;
      c.af.clear();
    } else if (code >= 1 && code <= 204 && c.afCount > static_cast<int>(c.af.size())) {
      c.af.push_back(code);
    }
  }
}

void DecodeRadioText(const RdsGroup& g, RdsContent& c) {
  const int flag = g.blocks[1] >> 4 & 1;
  if (c.rtFlag >= 0 && flag != c.rtFlag) c.rt[static_cast<std::size_t>(flag)].assign(64, '\0');
  c.rtFlag = flag;
  std::string& rt = c.rt[static_cast<std::size_t>(flag)];
  const auto at = static_cast<std::size_t>(4 * (g.blocks[1] & 0xF));
  rt[at] = static_cast<char>(g.blocks[2] >> 8);
  rt[at + 1] = static_cast<char>(g.blocks[2] & 0xFF);
  rt[at + 2] = static_cast<char>(g.blocks[3] >> 8);
  rt[at + 3] = static_cast<char>(g.blocks[3] & 0xFF);
}

void DecodeClockTime(const RdsGroup& g, RdsContent& c) {
  RdsClockTime t;
  t.group = c.piValues.size() - 1;
  t.mjd = (g.blocks[1] & 3) << 15 | g.blocks[2] >> 1;
  t.hour = (g.blocks[2] & 1) << 4 | g.blocks[3] >> 12;
  t.minute = g.blocks[3] >> 6 & 0x3F;
  t.offsetHalfHours = (g.blocks[3] & 0x1F) * (g.blocks[3] >> 5 & 1 ? -1 : 1);
  c.clockTimes.push_back(t);
}

}  // namespace

RdsContent DecodeGroups(const RdsFrames& frames) {
  RdsContent c;
  for (const RdsGroup& g : frames.groups) {
    if (!(g.valid[0] && g.valid[1] && g.valid[2] && g.valid[3])) continue;
    ++c.groupsDecoded;
    const std::uint16_t b = g.blocks[1];
    const int type = b >> 12, version = b >> 11 & 1;
    c.startBits.push_back(g.startBit);
    c.piValues.push_back(g.blocks[0]);
    c.groupTypes.push_back(type);
    c.versions.push_back(version);
    c.tp.push_back(b >> 10 & 1);
    c.pty.push_back(b >> 5 & 0x1F);
    c.addresses.push_back(b & 0xF);
    c.block3.push_back(g.blocks[2]);
    if (type == 0) DecodeBasicTuning(g, c);
    if (type == 2 && version == 0) DecodeRadioText(g, c);
    if (type == 4 && version == 0) DecodeClockTime(g, c);
  }
  return c;
}

bool CompleteRadioText(const std::string& buffer, std::string* text) {
  std::size_t end = 0;
  while (end < buffer.size() && buffer[end] != '\r') {
    if (buffer[end] == '\0') return false;
    ++end;
  }
  *text = buffer.substr(0, end);
  return true;
}

RdsSignal DemodulateRds(const std::vector<double>& mpx, const Pilot& pilot, std::size_t begin,
                        std::size_t end) {
  RdsSignal out;
  const double rate = pilot.rate;
  // 321 taps and a decimation by 8 at 192000 Hz; the same span of time at any other rate.
  // At 192000 Hz: a 31-tap stage down to 48000 Hz (it keeps what would alias onto the RDS band
  // away), then 81 taps of 4.5 kHz low-pass and a decimation by 2; the same spans of time at
  // other rates, or one stage where the decimation is odd. The RDS spectrum reaches 2.4 kHz
  // either side of 57 kHz.
  const double scale = rate / 192000;
  const auto kDecimation = static_cast<std::size_t>(std::max(1.0, std::round(8 * scale)));
  const bool twoStages = kDecimation % 2 == 0;
  const std::size_t d1 = twoStages ? kDecimation / 2 : kDecimation;
  const std::vector<double> h1 =
      twoStages ? LowPass(static_cast<int>(std::round(15 * scale)) * 2 + 1, 20000, rate)
                : LowPass(static_cast<int>(std::round(160 * scale)) * 2 + 1, 4500, rate);
  const std::vector<double> h2 =
      LowPass(static_cast<int>(std::round(160 * scale / static_cast<double>(d1))) * 2 + 1, 4500,
              rate / static_cast<double>(d1));
  const std::size_t half1 = h1.size() / 2, half2 = twoStages ? h2.size() / 2 : 0;
  // Output j sits at input sample begin + half + j * kDecimation.
  const std::size_t half = half1 + d1 * half2;
  // Mix down with 3 x pilot phase, low-pass and decimate. The mixing goes a stretch at a time
  // into reused buffers (a whole recording as complex samples would be large).
  const double dc = Mean(mpx, begin, end);
  const std::size_t total = end - begin;
  std::vector<std::complex<double>> mid;
  constexpr std::size_t kStretch = 8192;  // outputs per stretch
  std::vector<double> xr, xi;
  for (std::size_t c0 = half1; c0 + half1 < total; c0 += kStretch * d1) {
    const std::size_t limit = std::min(c0 + kStretch * d1, total - half1);
    const std::size_t cLast = c0 + (limit - 1 - c0) / d1 * d1;
    const std::size_t from = c0 - half1, to = cLast + half1 + 1;
    xr.resize(to - from);
    xi.resize(to - from);
    Phasor mix(-3 * pilot.frequency, rate, -3 * pilot.phase0, begin + from);
    for (std::size_t n = from; n < to; ++n, mix.Next()) {
      const std::complex<double> v = (mpx[begin + n] - dc) * *mix;
      xr[n - from] = v.real();
      xi[n - from] = v.imag();
    }
    for (std::size_t c = c0; c <= cLast; c += d1) {
      mid.push_back(FirAt(h1, &xr[c - half1 - from], &xi[c - half1 - from]));
    }
  }
  std::vector<std::complex<double>> base;
  if (!twoStages) {
    base.swap(mid);
  } else {
    xr.resize(mid.size());
    xi.resize(mid.size());
    for (std::size_t m = 0; m < mid.size(); ++m) xr[m] = mid[m].real(), xi[m] = mid[m].imag();
    for (std::size_t c = half2; c + half2 < mid.size(); c += 2) {
      base.push_back(FirAt(h2, &xr[c - half2], &xi[c - half2]));
    }
  }
  if (base.size() < 64) return out;
  // BPSK: the square of the baseband turns at twice the carrier phase, whatever the data.
  std::complex<double> sq = 0;
  for (const auto& v : base) sq += v * v;
  const double psi = std::arg(sq) / 2;
  std::vector<double> r(base.size());
  double peak = 0;
  for (std::size_t j = 0; j < base.size(); ++j) {
    r[j] = 2 * (base[j] * std::polar(1.0, -psi)).real();  // the subcarrier's amplitude, Hz
    peak = std::max(peak, 2 * std::abs(base[j]));
  }
  out.peakDeviation = peak;
  // (R / 2) e^{j (rho - pi/2)} is what a subcarrier R sin(3 phi + rho) leaves.
  double rho = (psi + kPi / 2) * 180 / kPi;
  rho = std::remainder(rho, 180.0);
  out.carrierPhaseDeg = rho;

  // Running integral of r, read between sample positions by linear interpolation.
  std::vector<double> prefix(r.size() + 1, 0.0);
  for (std::size_t j = 0; j < r.size(); ++j) prefix[j + 1] = prefix[j] + r[j];
  const auto integral = [&](double pos) {
    const auto i = static_cast<std::size_t>(pos);
    const double frac = pos - static_cast<double>(i);
    return prefix[i] + frac * (prefix[i + 1] - prefix[i]);
  };
  // The bit clock is pilot / 16: bit k starts where the pilot has run 16 k + tau cycles.
  const double samplesPerCycle = rate / pilot.frequency / kDecimation;
  const double firstSample = static_cast<double>(begin + half);
  const double cycleAtFirst = pilot.PhaseAt(firstSample) / kTwoPi;
  const double last = static_cast<double>(r.size() - 1);
  const auto symbols = [&](double tau, std::vector<double>* s, std::vector<double>* starts) {
    // Position (decimated samples) where the pilot completes `cycle` cycles.
    const auto pos = [&](double cycle) { return (cycle - cycleAtFirst) * samplesPerCycle; };
    double metric = 0;
    const double k0 = std::ceil((cycleAtFirst - tau) / 16);
    for (double k = k0;; ++k) {
      const double a = pos(16 * k + tau), m = pos(16 * k + tau + 8), b = pos(16 * k + tau + 16);
      if (a < 0) continue;
      if (b >= last) break;
      const double v = (integral(m) - integral(a)) - (integral(b) - integral(m));
      metric += std::abs(v);
      if (s) s->push_back(v);
      if (starts) starts->push_back(firstSample + a * static_cast<double>(kDecimation));
    }
    return metric;
  };
  double bestTau = 0, best = -1;
  for (int step = 0; step < 64; ++step) {
    const double tau = step * 16.0 / 64;
    const double metric = symbols(tau, nullptr, nullptr);
    if (metric > best) best = metric, bestTau = tau;
  }
  std::vector<double> s, starts;
  symbols(bestTau, &s, &starts);
  out.symbols = static_cast<int>(s.size());
  double minAbs = 1e300, sumAbs = 0;
  for (double v : s) minAbs = std::min(minAbs, std::abs(v)), sumAbs += std::abs(v);
  out.eyeOpening = s.empty() ? 0 : minAbs / (sumAbs / static_cast<double>(s.size()));
  // Differential decoding: a data 1 is a change of symbol polarity.
  for (std::size_t k = 1; k < s.size(); ++k) {
    out.bits.push_back(static_cast<std::uint8_t>((s[k] > 0) != (s[k - 1] > 0)));
    out.bitStarts.push_back(starts[k]);
  }
  return out;
}

}  // namespace kelvane::receiver
