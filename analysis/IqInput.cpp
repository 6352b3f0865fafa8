// SPDX-License-Identifier: GPL-3.0-or-later
// Reading I/Q recordings and bringing wide ones down to the working rate.
#include "IqInput.h"

#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <vector>

namespace kelvane::analysis {
namespace {

constexpr std::size_t kChunkFrames = 65536;

bool EndsWith(const std::string& s, const std::string& tail) {
  if (s.size() < tail.size()) return false;
  for (std::size_t k = 0; k < tail.size(); ++k) {
    char c = s[s.size() - tail.size() + k];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != tail[k]) return false;
  }
  return true;
}

std::string RateText(double rate) {
  char text[64];
  std::snprintf(text, sizeof text, "%.0f Hz", rate);
  return text;
}

// The sample types of raw data, each with its scale to 16-bit sample counts.
enum class Sample { I16, F32, I8, U8 };

std::size_t SampleBytes(Sample s) {
  return s == Sample::I16 ? 2 : s == Sample::F32 ? 4 : 1;
}

void ToCounts(Sample s, const unsigned char* in, std::size_t samples, float* out) {
  for (std::size_t k = 0; k < samples; ++k) {
    switch (s) {
      case Sample::I16: {
        std::int16_t v;
        std::memcpy(&v, in + 2 * k, 2);
        out[k] = v;
        break;
      }
      case Sample::F32: {
        float v;
        std::memcpy(&v, in + 4 * k, 4);
        out[k] = v * 32768.0f;
        break;
      }
      case Sample::I8:
        out[k] = static_cast<float>(static_cast<std::int8_t>(in[k])) * 256.0f;
        break;
      case Sample::U8:
        out[k] = (static_cast<float>(in[k]) - 127.5f) * 256.0f;
        break;
    }
  }
}

// Frames [first, first + count) of a source, chunk by chunk, into the collector.
using ChunkReader = std::function<std::size_t(float* frames, std::size_t count)>;

bool Pump(const ChunkReader& read, std::size_t count, IqCollector& collector, std::string& error) {
  collector.Reserve(count);
  std::vector<float> chunk(2 * kChunkFrames);
  while (count > 0) {
    const std::size_t want = std::min(count, kChunkFrames);
    const std::size_t got = read(chunk.data(), want);
    if (got > 0 && !collector.Add(chunk.data(), got, error)) return false;
    if (got < want) break;
    count -= got;
  }
  return collector.Finish(error);
}

// The frames to read after --skip and --length, or false when nothing is left.
bool Window(std::size_t total, double rate, const IqReadOptions& o, std::size_t& first,
            std::size_t& count, IqFileInfo& info, const std::string& path, std::string& error) {
  info.inputRate_Hz = rate;
  info.fileSeconds = static_cast<double>(total) / rate;
  first = static_cast<std::size_t>(std::llround(o.skip_s * rate));
  if (first >= total) {
    char text[128];
    std::snprintf(text, sizeof text, ": --skip %g s leaves nothing of its %.3f s", o.skip_s,
                  info.fileSeconds);
    error = path + text;
    return false;
  }
  count = total - first;
  if (o.length_s > 0)
    count = std::min(count, static_cast<std::size_t>(std::llround(o.length_s * rate)));
  info.analysedSeconds = static_cast<double>(count) / rate;
  return true;
}

bool CheckRate(double rate, const std::string& path, std::string& error) {
  if (rate >= kMinRate_Hz && rate <= kMaxRate_Hz) return true;
  error = path + ": sample rate " + RateText(rate) + " is outside 44100 Hz .. 20 MS/s";
  return false;
}

bool ReadRaw(const std::string& dataPath, Sample sample, double rate, const IqReadOptions& o,
             receiver::IqRecording& out, IqFileInfo& info, std::string& error) {
  if (!CheckRate(rate, dataPath, error)) return false;
  struct stat st {};
  if (stat(dataPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "cannot read " + dataPath + ": " + (S_ISDIR(st.st_mode) ? "a folder" : "no such file");
    return false;
  }
  std::FILE* f = std::fopen(dataPath.c_str(), "rb");
  if (!f) {
    error = "cannot read " + dataPath + ": permission denied";
    return false;
  }
  const std::size_t frameBytes = 2 * SampleBytes(sample);
  const std::size_t total = static_cast<std::size_t>(st.st_size) / frameBytes;
  std::size_t first = 0, count = 0;
  bool ok = total > 0 || (error = dataPath + ": holds no I/Q frames", false);
  ok = ok && Window(total, rate, o, first, count, info, dataPath, error);
  if (ok && std::fseek(f, static_cast<long>(first * frameBytes), SEEK_SET) != 0) {
    error = "cannot seek in " + dataPath;
    ok = false;
  }
  if (ok) {
    std::vector<unsigned char> bytes(kChunkFrames * frameBytes);
    IqCollector collector(rate, out);
    const ChunkReader read = [&](float* frames, std::size_t n) {
      const std::size_t got = std::fread(bytes.data(), frameBytes, n, f);
      ToCounts(sample, bytes.data(), 2 * got, frames);
      return got;
    };
    ok = Pump(read, count, collector, error);
  }
  std::fclose(f);
  return ok;
}

bool ReadWav(const std::string& path, const IqReadOptions& o, receiver::IqRecording& out,
             IqFileInfo& info, std::string& error) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    error = "cannot read " + path + ": no such file";
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    error = "cannot read " + path + ": a folder";
    return false;
  }
  SF_INFO sfInfo{};
  SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &sfInfo);
  if (!sf) {
    error = "cannot read " + path + ": " + sf_strerror(nullptr);
    return false;
  }
  bool ok = true;
  if (sfInfo.channels != 2) {
    error = path + ": " + std::to_string(sfInfo.channels) + " channel" +
            (sfInfo.channels == 1 ? "" : "s") + "; an I/Q recording has two (I left, Q right)";
    ok = false;
  }
  ok = ok && CheckRate(sfInfo.samplerate, path, error);
  std::size_t first = 0, count = 0;
  ok = ok && Window(static_cast<std::size_t>(sfInfo.frames), sfInfo.samplerate, o, first, count,
                    info, path, error);
  if (ok && first > 0 && sf_seek(sf, static_cast<sf_count_t>(first), SEEK_SET) < 0) {
    error = "cannot seek in " + path;
    ok = false;
  }
  if (ok) {
    const int major = sfInfo.format & SF_FORMAT_TYPEMASK;
    info.container = major == SF_FORMAT_RF64  ? "RF64"
                     : major == SF_FORMAT_WAV ? "WAV"
                                              : "audio file";
    IqCollector collector(sfInfo.samplerate, out);
    const ChunkReader read = [&](float* frames, std::size_t n) {
      const sf_count_t got = sf_readf_float(sf, frames, static_cast<sf_count_t>(n));
      for (sf_count_t k = 0; k < 2 * got; ++k) frames[k] *= 32768.0f;
      return got > 0 ? static_cast<std::size_t>(got) : 0;
    };
    ok = Pump(read, count, collector, error);
    if (ok && sf_error(sf) != SF_ERR_NO_ERROR) {
      error = path + ": " + sf_strerror(sf);
      ok = false;
    }
  }
  sf_close(sf);
  return ok;
}

bool ReadSigMF(const std::string& path, const IqReadOptions& o, receiver::IqRecording& out,
               IqFileInfo& info, std::string& error) {
  std::string stem = path;
  for (const char* tail : {".sigmf-meta", ".sigmf-data", ".sigmf"}) {
    if (EndsWith(stem, tail)) {
      stem.resize(stem.size() - std::string(tail).size());
      break;
    }
  }
  const std::string metaPath = stem + ".sigmf-meta", dataPath = stem + ".sigmf-data";
  std::ifstream in(metaPath);
  if (!in) {
    error = "cannot read " + metaPath + ": a SigMF recording needs its metadata file";
    return false;
  }
  nlohmann::json meta;
  std::string type;
  double rate = 0;
  try {
    in >> meta;
    const auto& global = meta.at("global");
    type = global.at("core:datatype").get<std::string>();
    rate = global.at("core:sample_rate").get<double>();
  } catch (const std::exception& e) {
    error = metaPath + ": not SigMF metadata with core:datatype and core:sample_rate";
    return false;
  }
  static const std::pair<const char*, Sample> kTypes[] = {
      {"ci16_le", Sample::I16}, {"cf32_le", Sample::F32}, {"ci8", Sample::I8}, {"cu8", Sample::U8}};
  for (const auto& [name, sample] : kTypes) {
    if (type == name) {
      info.container = "SigMF " + type;
      return ReadRaw(dataPath, sample, rate, o, out, info, error);
    }
  }
  error = metaPath + ": datatype " + type + " is not one of ci16_le, cf32_le, ci8, cu8";
  return false;
}

}  // namespace

bool ParseIqFileFormat(const std::string& name, IqFileFormat& format) {
  static const std::pair<const char*, IqFileFormat> kNames[] = {{"wav", IqFileFormat::Wav},
                                                                {"sigmf", IqFileFormat::SigMF},
                                                                {"raw", IqFileFormat::Ci16},
                                                                {"ci16", IqFileFormat::Ci16},
                                                                {"cf32", IqFileFormat::Cf32}};
  for (const auto& [text, f] : kNames) {
    if (name == text) {
      format = f;
      return true;
    }
  }
  return false;
}

IqCollector::IqCollector(double inputRate_Hz, receiver::IqRecording& out)
    : out_(out), inputRate_Hz_(inputRate_Hz) {
  out_.i.clear();
  out_.q.clear();
  if (inputRate_Hz < kWideRate_Hz) {
    out_.rate = static_cast<int>(std::lround(inputRate_Hz));
    return;
  }
  out_.rate = kWorkingRate_Hz;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  soxr_error_t err = nullptr;
  soxr_ = soxr_create(inputRate_Hz, kWorkingRate_Hz, 2, &err, &io, &quality, nullptr);
  if (err) soxr_ = nullptr;
  bufferFrames_ = static_cast<std::size_t>(
      std::ceil(static_cast<double>(kChunkFrames) * kWorkingRate_Hz / inputRate_Hz) + 1024);
  buffer_ = std::make_unique<float[]>(2 * bufferFrames_);
}

void IqCollector::Reserve(std::size_t inputFrames) {
  const double ratio = soxr_ ? kWorkingRate_Hz / inputRate_Hz_ : 1.0;
  const auto frames = static_cast<std::size_t>(static_cast<double>(inputFrames) * ratio) + 16;
  out_.i.reserve(frames);
  out_.q.reserve(frames);
}

IqCollector::~IqCollector() {
  if (soxr_) soxr_delete(static_cast<soxr_t>(soxr_));
}

bool IqCollector::Add(const float* frames, std::size_t count, std::string& error) {
  if (!soxr_ && out_.rate == kWorkingRate_Hz) {
    error = "the rate converter could not be set up";
    return false;
  }
  if (!soxr_) {
    // Through a small buffer and insert: a resize would first zero what is written next.
    double i[256], q[256];
    for (std::size_t at = 0; at < count; at += 256) {
      const std::size_t n = std::min<std::size_t>(256, count - at);
      for (std::size_t k = 0; k < n; ++k) {
        i[k] = frames[2 * (at + k)];
        q[k] = frames[2 * (at + k) + 1];
      }
      out_.i.insert(out_.i.end(), i, i + n);
      out_.q.insert(out_.q.end(), q, q + n);
    }
    return true;
  }
  while (count > 0 || frames == nullptr) {
    const std::size_t take = std::min(count, kChunkFrames);
    std::size_t used = 0, made = 0;
    const soxr_error_t err = soxr_process(static_cast<soxr_t>(soxr_), frames, take, &used,
                                          buffer_.get(), bufferFrames_, &made);
    if (err) {
      error = std::string("rate conversion failed: ") + err;
      return false;
    }
    for (std::size_t k = 0; k < made; ++k) {
      out_.i.push_back(buffer_[2 * k]);
      out_.q.push_back(buffer_[2 * k + 1]);
    }
    if (frames == nullptr) {
      if (made == 0) break;
      continue;
    }
    frames += 2 * used;
    count -= used;
  }
  return true;
}

bool IqCollector::Finish(std::string& error) {
  return !soxr_ || Add(nullptr, 0, error);
}

bool ReadIqFile(const std::string& path, const IqReadOptions& options, receiver::IqRecording& out,
                IqFileInfo& info, std::string& error) {
  IqFileFormat format = options.format;
  if (format == IqFileFormat::Auto) {
    if (EndsWith(path, ".sigmf") || EndsWith(path, ".sigmf-data") ||
        EndsWith(path, ".sigmf-meta")) {
      format = IqFileFormat::SigMF;
    } else if (EndsWith(path, ".raw") || EndsWith(path, ".ci16") || EndsWith(path, ".iq")) {
      format = IqFileFormat::Ci16;
    } else if (EndsWith(path, ".cf32") || EndsWith(path, ".cfile")) {
      format = IqFileFormat::Cf32;
    } else {
      format = IqFileFormat::Wav;
    }
  }
  const bool raw = format == IqFileFormat::Ci16 || format == IqFileFormat::Cf32;
  if (raw && options.rate_Hz <= 0) {
    error = path + ": raw " + (format == IqFileFormat::Ci16 ? "ci16" : "cf32") +
            " frames carry no sample rate; give it with --rate HZ";
    return false;
  }
  switch (format) {
    case IqFileFormat::SigMF:
      return ReadSigMF(path, options, out, info, error);
    case IqFileFormat::Ci16:
      info.container = "raw ci16";
      return ReadRaw(path, Sample::I16, options.rate_Hz, options, out, info, error);
    case IqFileFormat::Cf32:
      info.container = "raw cf32";
      return ReadRaw(path, Sample::F32, options.rate_Hz, options, out, info, error);
    default:
      return ReadWav(path, options, out, info, error);
  }
}

}  // namespace kelvane::analysis
